#include "console/ProgramacaoRamal.h"

#include "common/pabx/RespostaLogin.h"

EstadoProgramacao::EstadoProgramacao(TPABX& pabx, std::vector<EntradaProgramacao> fila,
                                     std::vector<std::string> autorizados, Relogio relogio)
    : TempoLimite(pabx.FTempoLimite), pabx_(pabx), fila_(std::move(fila)),
      autorizados_(std::move(autorizados)), relogio_(std::move(relogio)), inicio_(relogio_()) {}

std::string EstadoProgramacao::MensagemFim(std::uint8_t marca) {
    switch (marca) {
        case MarcaTempo + ppAguardaConexao:
        case MarcaTempo + ppAguardaLogin:
        case MarcaRecusa + ppAguardaConexao:  // a refused connection is told like a silent one
            return "Não foi possível conectar com KELV";
        case MarcaTempo + ppAguardaPalavra: return "Sem resposta ao envio da programação da porta";
        case MarcaTempo + ppAguardaLista: return "Sem resposta ao envio da programação de gravação";
        case MarcaTempo + ppAguardaListaRamais:
            return "Sem resposta ao envio da lista de ramais da gravação";
        case MarcaNaoEnviado + ppGravaPalavra:
            return "Não foi possível enviar programação da porta";
        case MarcaNaoEnviado + ppGravaLista:
            return "Não foi possível enviar programação de gravação";
        case MarcaNaoEnviado + ppGravaListaRamais:
            return "Não foi possível enviar lista de ramais da gravação";
        case MarcaRecusa + ppAguardaLogin: return "Login recusado";
        case MarcaRecusa + ppAguardaPalavra: return "Envio de programação de porta recusado";
        case MarcaRecusa + ppAguardaLista: return "Envio de programação de gravação recusado";
        case MarcaRecusa + ppAguardaListaRamais:
            return "Envio de programação de lista de ramais recusado";
        default: return {};
    }
}

bool EstadoProgramacao::AguardaPROG(std::uint8_t proximo) {
    const std::string status = pabx_.FStatusPROG.Le();
    if (status.empty()) return false;
    if (status == "OK")
        estado_ = proximo;
    else  // the unit refused the write, or the link failed
        Marca(static_cast<std::uint8_t>(MarcaRecusa + Estado()));
    return true;
}

PassoProgramacao EstadoProgramacao::ProximaEntrada() {
    if (fila_.empty()) return ppGravaListaRamais;
    atual_ = std::move(fila_.front());
    fila_.erase(fila_.begin());
    return ppGravaPalavra;
}

bool EstadoProgramacao::Verifica() {
    const std::uint8_t passo = Estado();
    if (passo >= MarcaTempo) return false;
    if (passo % 2 == 0) return true;
    // The answer first, so one that came just before the limit still counts.
    switch (passo) {
        case ppAguardaConexao: {
            const std::string prog = pabx_.FStatusPROG.Le();
            const std::string ctrl = pabx_.FStatusCTRL.Le();
            if (prog == "OK" || ctrl == "OK") {
                estado_ = ppLogin;
                return true;
            }
            if (!prog.empty() || !ctrl.empty()) {
                Marca(MarcaRecusa + ppAguardaConexao);
                return false;
            }
            break;
        }
        case ppAguardaLogin:
            switch (AvaliaRespostaLogin(pabx_.FStatusPROG.Le(), pabx_.FStatusCTRL.Le())) {
                case RespostaLogin::Aceito: estado_ = ProximaEntrada(); return true;
                case RespostaLogin::Recusado: Marca(MarcaRecusa + ppAguardaLogin); return false;
                case RespostaLogin::Aguardando: break;
            }
            break;
        case ppAguardaPalavra:
        case ppAguardaLista:
            if (AguardaPROG(static_cast<std::uint8_t>(passo + 1))) return !Terminou();
            break;
        case ppAguardaListaRamais:
            if (AguardaPROG(ppAguardaListaRamais)) {
                if (Terminou()) return false;
                estado_ = fila_.empty() ? ppConclui : ProximaEntrada();
                return true;
            }
            break;
        default: return false;
    }
    if (relogio_() - inicio_ >= std::chrono::seconds(TempoLimite))
        Marca(static_cast<std::uint8_t>(MarcaTempo + passo));
    return false;
}

void EstadoProgramacao::Envia() {
    const std::uint8_t passo = Estado();
    if (passo >= MarcaTempo || passo % 2 != 0) return;
    bool enviado = true;
    switch (passo) {
        case ppConecta: pabx_.Conecta(); break;
        case ppLogin:
            // The connection's own "OK" must not pass for the login's answer.
            pabx_.FStatusPROG.Esvazia();
            enviado = pabx_.EnviaLogin();
            break;
        case ppGravaPalavra:
            enviado = pabx_.GravaParametroRamal(atual_.numero, atual_.palavra);
            break;
        case ppGravaLista: enviado = pabx_.GravaListaRamal(atual_.numero, autorizados_); break;
        case ppGravaListaRamais: enviado = pabx_.GravaListaRamais(); break;
        case ppConclui: Marca(MarcaProgramado); return;
        default: return;
    }
    if (!enviado) {
        // A login that cannot go out is a link that is gone.
        Marca(static_cast<std::uint8_t>(passo == ppLogin ? MarcaTempo + ppAguardaLogin
                                                         : MarcaNaoEnviado + passo));
        return;
    }
    inicio_ = relogio_();
    estado_ = static_cast<std::uint8_t>(passo + 1);
}
