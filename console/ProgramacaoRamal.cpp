#include "console/ProgramacaoRamal.h"

EstadoProgramacao::EstadoProgramacao(TPABX& pabx, std::vector<EntradaProgramacao> fila,
                                     std::vector<std::string> autorizados, Relogio relogio)
    : TempoLimite(pabx.FTempoLimite), pabx_(pabx), fila_(std::move(fila)),
      autorizados_(std::move(autorizados)), relogio_(std::move(relogio)), inicio_(relogio_()) {}

std::string EstadoProgramacao::MensagemFim(std::uint8_t marca) {
    switch (marca) {
        case MarcaTempo + 1:
        case MarcaTempo + 3:
        case MarcaRecusa + 1:  // a refused connection is told like a silent one
            return "Não foi possível conectar com KELV";
        case MarcaTempo + 5: return "Sem resposta ao envio da programação da porta";
        case MarcaTempo + 7: return "Sem resposta ao envio da programação de gravação";
        case MarcaTempo + 9: return "Sem resposta ao envio da lista de ramais da gravação";
        case MarcaNaoEnviado + 4: return "Não foi possível enviar programação da porta";
        case MarcaNaoEnviado + 6: return "Não foi possível enviar programação de gravação";
        case MarcaNaoEnviado + 8: return "Não foi possível enviar lista de ramais da gravação";
        case MarcaRecusa + 3: return "Login recusado";
        case MarcaRecusa + 5: return "Envio de programação de porta recusado";
        case MarcaRecusa + 7: return "Envio de programação de gravação recusado";
        case MarcaRecusa + 9: return "Envio de programação de lista de ramais recusado";
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

std::uint8_t EstadoProgramacao::ProximaEntrada() {
    if (fila_.empty()) return 8;
    atual_ = std::move(fila_.front());
    fila_.erase(fila_.begin());
    return 4;
}

bool EstadoProgramacao::Verifica() {
    const std::uint8_t passo = Estado();
    if (passo >= MarcaTempo) return false;
    if (passo % 2 == 0) return true;
    // The answer first, so one that came just before the limit still counts.
    switch (passo) {
        case 1: {
            const std::string prog = pabx_.FStatusPROG.Le();
            const std::string ctrl = pabx_.FStatusCTRL.Le();
            if (prog == "OK" || ctrl == "OK") {
                estado_ = 2;
                return true;
            }
            if (!prog.empty() || !ctrl.empty()) {
                Marca(MarcaRecusa + 1);
                return false;
            }
            break;
        }
        case 3: {
            // The login's own CTRL result: the PROG status still holds the
            // connection's "OK" and says nothing about the password.
            const std::string ctrl = pabx_.FStatusCTRL.Le();
            const std::string prog = pabx_.FStatusPROG.Le();
            if (ctrl == "OK") {
                estado_ = ProximaEntrada();
                return true;
            }
            if (!ctrl.empty() || (!prog.empty() && prog != "OK")) {
                Marca(MarcaRecusa + 3);
                return false;
            }
            break;
        }
        case 5:
        case 7:
            if (AguardaPROG(static_cast<std::uint8_t>(passo + 1))) return !Terminou();
            break;
        case 9:
            if (AguardaPROG(9)) {
                if (Terminou()) return false;
                estado_ = fila_.empty() ? 10 : ProximaEntrada();
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
        case 0: pabx_.Conecta(); break;
        case 2: enviado = pabx_.EnviaLogin(); break;
        case 4: enviado = pabx_.GravaParametroRamal(atual_.numero, atual_.palavra); break;
        case 6: enviado = pabx_.GravaListaRamal(atual_.numero, autorizados_); break;
        case 8: enviado = pabx_.GravaListaRamais(); break;
        case 10: Marca(MarcaProgramado); return;
        default: return;
    }
    if (!enviado) {
        // A login that cannot go out is a link that is gone.
        Marca(static_cast<std::uint8_t>(passo == 2 ? MarcaTempo + 3 : MarcaNaoEnviado + passo));
        return;
    }
    inicio_ = relogio_();
    estado_ = static_cast<std::uint8_t>(passo + 1);
}
