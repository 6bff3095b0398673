#include "console/LeituraRamais.h"

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
        case 1:
        case 3: return "Não foi possível conectar com KELV";
        case 5: return "Sem resposta ao pedido de parâmetros";
        case 7: return "Sem resposta ao pedido de nomes de ramais";
        case 9: return "Sem resposta ao pedido de indice de ramais";
        case 11: return "Sem resposta ao pedido de agenda";
        case 13: return "Sem resposta ao pedido de lista de ramais";
        case 15: return "Sem resposta ao pedido de programação da porta";
        case 17: return "Sem resposta ao pedido de programação de gravação";
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
    if (passo % 2 == 0) return passo <= 18;
    // A wait step: its answer first, so one that came just before the limit
    // still counts.
    switch (passo) {
        case 1: {
            const std::string prog = pabx_.FStatusPROG.Le();
            const std::string ctrl = pabx_.FStatusCTRL.Le();
            if (prog == "OK" || ctrl == "OK") {
                estado_ = 2;
                return true;
            }
            // A refused connection is told like one that never answered.
            if (!prog.empty() || !ctrl.empty()) {
                Marca(MarcaFalha + 1);
                return false;
            }
            break;
        }
        case 3: {
            const std::string ctrl = pabx_.FStatusCTRL.Le();
            const std::string prog = pabx_.FStatusPROG.Le();
            if (ctrl == "OK") {
                estado_ = 4;
                return true;
            }
            if (!ctrl.empty() || (!prog.empty() && prog != "OK")) {
                Marca(MarcaFalha + 3);
                return false;
            }
            break;
        }
        case 5:
            if (AguardaPROG(6)) {
                // The model is known once its reply is in (the status hands
                // it over); an agenda over CTRL needs no DNS blocks.
                if (!Terminou() && pabx_.FAgendaViaCTRL) estado_ = 10;
                return !Terminou();
            }
            break;
        case 7:
        case 9:
        case 15:
        case 17:
            if (AguardaPROG(static_cast<std::uint8_t>(passo + 1))) return !Terminou();
            break;
        case 11:
            if (AguardaPROG(12)) {
                if (!Terminou() && soNomes_) {
                    resultado_.ramais = pabx_.Ramais();
                    Marca(MarcaConcluido);
                }
                return !Terminou();
            }
            break;
        case 13:
            if (AguardaPROG(14)) {
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
    const int limite = passo == 1 ? TempoLimiteConexao : TempoLimite;
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
    estado_ = 14;
}

void EstadoLeitura::Envia() {
    const std::uint8_t passo = Estado();
    if (passo >= MarcaFalha || passo % 2 != 0) return;
    bool enviado = true;
    std::uint8_t proximo = static_cast<std::uint8_t>(passo + 1);
    switch (passo) {
        case 0: pabx_.Conecta(); break;
        case 2: enviado = pabx_.EnviaLogin(); break;
        case 4: enviado = pabx_.PedeParametros(); break;
        case 6: enviado = pabx_.PedeNomesDNS(); break;
        case 8: enviado = pabx_.PedeIndicesDNS(); break;
        case 10: enviado = pabx_.PedeAgenda(); break;
        case 12:
            resultado_.ramais = pabx_.Ramais();
            enviado = pabx_.PedeListaRamais();
            break;
        case 14: enviado = pabx_.PedeParametroRamal(ramalAtual_); break;
        case 16: {
            // The word of the extension asked for, or no answer at all.
            const TRespostaRamal r = pabx_.RespostaRamal();
            if (r.Bloco != ramalAtual_ || r.Indice != IndiceParametroRamal || r.Dados.size() < 2) {
                Marca(MarcaFalha + 15);
                return;
            }
            ConfigRamalPABX& c = resultado_.configuracao[ramalAtual_];
            c.permissao = LePalavra(r.Dados.data());
            enviado = pabx_.PedeListaRamal(ramalAtual_);
            break;
        }
        case 18: {
            const TRespostaRamal r = pabx_.RespostaRamal();
            if (r.Bloco != ramalAtual_ || r.Indice != IndiceListaRamal) {
                Marca(MarcaFalha + 17);
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
