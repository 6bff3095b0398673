#include "console/LeituraRamais.h"

#include "common/pabx/RespostaLogin.h"

#include <algorithm>
#include <charconv>

EstadoLeitura::EstadoLeitura(TPABX& pabx, bool soNomes, Relogio relogio)
    : TempoLimite(pabx.FTempoLimite), TempoLimiteConexao(pabx.FTempoLimite), pabx_(pabx),
      soNomes_(soNomes), relogio_(std::move(relogio)), inicio_(relogio_()) {}

std::string EstadoLeitura::MensagemFim(std::uint8_t marca) {
    // The read-out's marks: 0x80 + a wait step (steps run to 18, so the
    // marks reach 0x92), 0xB0 done. A request that could not be sent is
    // marked as its wait step: the link is gone either way.
    if (marca < MarcaFalha || marca == MarcaConcluido) return {};
    switch (marca - MarcaFalha) {
        case plAguardaConexao:
        case plAguardaLogin: return "Não foi possível conectar com KELV";
        case plAguardaParametros: return "Sem resposta ao pedido de parâmetros";
        case plAguardaNomesDNS: return "Sem resposta ao pedido de nomes de ramais";
        case plAguardaIndicesDNS: return "Sem resposta ao pedido de indice de ramais";
        case plAguardaAgenda: return "Sem resposta ao pedido de agenda";
        case plAguardaListaRamais: return "Sem resposta ao pedido de lista de ramais";
        case plAguardaPalavraRamal: return "Sem resposta ao pedido de programação da porta";
        case plAguardaListaRamal: return "Sem resposta ao pedido de programação de gravação";
        default: return {};
    }
}

bool EstadoLeitura::AguardaPROG(std::uint8_t proximo) {
    const std::string status = pabx_.FStatusPROG.Le();
    if (status.empty()) return false;
    if (status == "OK")
        estado_ = proximo;
    else  // "NOK" (the link failed or closed) or a refusal of the request
        Marca(static_cast<std::uint8_t>(MarcaFalha + Estado()));
    return true;
}

bool EstadoLeitura::Verifica() {
    const std::uint8_t passo = Estado();
    if (passo >= MarcaFalha) return false;
    if (passo % 2 == 0) return passo <= plGuardaListaRamal;
    // A wait step: its answer first, so one that came just before the limit
    // still counts.
    switch (passo) {
        case plAguardaConexao: {
            const std::string prog = pabx_.FStatusPROG.Le();
            const std::string ctrl = pabx_.FStatusCTRL.Le();
            if (prog == "OK" || ctrl == "OK") {
                estado_ = plLogin;
                return true;
            }
            // A refused connection is told like one that never answered.
            if (!prog.empty() || !ctrl.empty()) {
                Marca(MarcaFalha + plAguardaConexao);
                return false;
            }
            break;
        }
        case plAguardaLogin:
            switch (AvaliaRespostaLogin(pabx_.FStatusPROG.Le(), pabx_.FStatusCTRL.Le())) {
                case RespostaLogin::Aceito: estado_ = plPedeParametros; return true;
                case RespostaLogin::Recusado: Marca(MarcaFalha + plAguardaLogin); return false;
                case RespostaLogin::Aguardando: break;
            }
            break;
        case plAguardaParametros:
            if (AguardaPROG(plPedeNomesDNS)) {
                // The model is known once its reply is in (the status hands
                // it over); an agenda over CTRL needs no DNS blocks.
                if (!Terminou() && pabx_.FAgendaViaCTRL) estado_ = plPedeAgenda;
                return !Terminou();
            }
            break;
        case plAguardaNomesDNS:
        case plAguardaIndicesDNS:
        case plAguardaPalavraRamal:
        case plAguardaListaRamal:
            if (AguardaPROG(static_cast<std::uint8_t>(passo + 1))) return !Terminou();
            break;
        case plAguardaAgenda:
            if (AguardaPROG(plPedeListaRamais)) {
                if (!Terminou() && soNomes_) {
                    resultado_.ramais = pabx_.Ramais();
                    Marca(MarcaConcluido);
                }
                return !Terminou();
            }
            break;
        case plAguardaListaRamais:
            if (AguardaPROG(plPedePalavraRamal)) {
                if (Terminou()) return false;
                pendentes_.clear();
                for (const std::string& texto : pabx_.ListaRamais()) {
                    int numero = 0;
                    const auto [fim, erro] =
                        std::from_chars(texto.data(), texto.data() + texto.size(), numero);
                    if (erro != std::errc() || fim != texto.data() + texto.size() ||
                        !TPABX::RamalValido(numero)) {
                        if (Registra)
                            Registra("Lista de ramais do PABX: " + texto +
                                     " não é um ramal; ignorado");
                        continue;
                    }
                    pendentes_.push_back(numero);
                }
                progressoMaximo_ = static_cast<int>(pendentes_.size());
                ProximoRamal();
                return !Terminou();
            }
            break;
        default: return false;
    }
    const int limite = passo == plAguardaConexao ? TempoLimiteConexao : TempoLimite;
    if (relogio_() - inicio_ >= std::chrono::seconds(limite))
        Marca(static_cast<std::uint8_t>(MarcaFalha + passo));
    return false;
}

void EstadoLeitura::ProximoRamal() {
    if (pendentes_.empty()) {
        Marca(MarcaConcluido);
        return;
    }
    ramalAtual_ = pendentes_.front();
    pendentes_.erase(pendentes_.begin());
    estado_ = plPedePalavraRamal;
}

void EstadoLeitura::Envia() {
    const std::uint8_t passo = Estado();
    if (passo >= MarcaFalha || passo % 2 != 0) return;
    bool enviado = true;
    std::uint8_t proximo = static_cast<std::uint8_t>(passo + 1);
    switch (passo) {
        case plConecta: pabx_.Conecta(); break;
        case plLogin:
            // The connection's own "OK" must not pass for the login's answer.
            pabx_.FStatusPROG.Esvazia();
            enviado = pabx_.EnviaLogin();
            break;
        case plPedeParametros: enviado = pabx_.PedeParametros(); break;
        case plPedeNomesDNS: enviado = pabx_.PedeNomesDNS(); break;
        case plPedeIndicesDNS: enviado = pabx_.PedeIndicesDNS(); break;
        case plPedeAgenda: enviado = pabx_.PedeAgenda(); break;
        case plPedeListaRamais:
            resultado_.ramais = pabx_.Ramais();
            enviado = pabx_.PedeListaRamais();
            break;
        case plPedePalavraRamal: enviado = pabx_.PedeParametroRamal(ramalAtual_); break;
        case plPedeListaRamal: {
            // The word of the extension asked for, or no answer at all.
            const TRespostaRamal r = pabx_.RespostaRamal();
            if (r.Bloco != ramalAtual_ || r.Indice != IndiceParametroRamal || r.Dados.size() < 2) {
                Marca(MarcaFalha + plAguardaPalavraRamal);
                return;
            }
            ConfigRamalPABX& c = resultado_.configuracao[ramalAtual_];
            c.permissao = LePalavra(r.Dados.data());
            enviado = pabx_.PedeListaRamal(ramalAtual_);
            break;
        }
        case plGuardaListaRamal: {
            const TRespostaRamal r = pabx_.RespostaRamal();
            if (r.Bloco != ramalAtual_ || r.Indice != IndiceListaRamal) {
                Marca(MarcaFalha + plAguardaListaRamal);
                return;
            }
            ConfigRamalPABX& c = resultado_.configuracao[ramalAtual_];
            c.lista.clear();
            for (std::size_t o = 0; o + 2 <= r.Dados.size(); o += 2)
                if (const std::uint16_t m = LePalavra(&r.Dados[o]); m != 0) c.lista.push_back(m);
            ++progresso_;
            ProximoRamal();
            return;
        }
        default: return;
    }
    if (!enviado) {
        Marca(static_cast<std::uint8_t>(MarcaFalha + passo + 1));
        return;
    }
    inicio_ = relogio_();
    estado_ = proximo;
}
