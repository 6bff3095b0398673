#include "tools/pabx-probe/Sonda.h"

#include <chrono>
#include <thread>

#include "common/pabx/PABX.h"

namespace {
// Waits until one of the two texts is not empty (or the link's limit passes).
bool AguardaUm(TPABX& pabx, EventoPABX& evento, const TextoStatus& a, const TextoStatus& b) {
    const auto prazo = std::chrono::steady_clock::now() + std::chrono::seconds(pabx.FTempoLimite);
    while (a.Vazio() && b.Vazio()) {
        if (std::chrono::steady_clock::now() >= prazo) return false;
        evento.Aguarda(std::chrono::milliseconds(50));
    }
    return true;
}

const char* TipoAgenda(const TPABX& pabx) {
    if (pabx.FAgendaViaCTRL) return "XML";
    return pabx.FAgendaLonga ? "longa" : "curta";
}
}  // namespace

int ExecutaSonda(const OpcoesSonda& opcoes, std::ostream& saida, std::ostream& erros) {
    EventoPABX evento;
    TPABX pabx;
    pabx.FEvento = &evento;
    pabx.FEnderecoIP = opcoes.host;
    pabx.FPorta = static_cast<std::uint16_t>(opcoes.porta);
    pabx.FSenha = opcoes.senha;
    if (opcoes.tempoLimite > 0) pabx.FTempoLimite = opcoes.tempoLimite;
    if (!opcoes.pastaTrace.empty()) {
        pabx.FPastaPABX = opcoes.pastaTrace;
        if (pabx.FPastaPABX.back() != '/') pabx.FPastaPABX += '/';
        pabx.FTrace = true;
    }
    auto falha = [&](const std::string& mensagem) {
        erros << mensagem << "\n";
        pabx.Desconecta();
        return 2;
    };
    // Each PROG read: send, then wait for its "OK".
    auto leitura = [&](bool enviado) {
        return enviado && pabx.AguardaResposta() && pabx.FStatusPROG == "OK";
    };

    pabx.Conecta();
    pabx.AguardaResposta();
    if (pabx.FEstadoLink != elConectado) {
        const std::string motivo = pabx.ErroConexao();
        return falha("Falha ao conectar PABX " + opcoes.host + ":" + std::to_string(opcoes.porta) +
                     (motivo.empty() ? std::string(" (sem resposta)") : " (" + motivo + ")"));
    }

    // Unlike a download run, wait for the login's own acknowledgement (the
    // connection's "OK" is cleared first), and tell a refused password apart.
    pabx.FStatusPROG.Esvazia();
    if (!pabx.EnviaLogin()) return falha("Falha ao enviar login");
    if (!AguardaUm(pabx, evento, pabx.FStatusPROG, pabx.FStatusCTRL))
        return falha("Resposta ao login falhou");
    if (!(pabx.FStatusPROG == "OK")) {
        const std::string ctrl = pabx.FStatusCTRL.Le();
        return falha("Login recusado: " + (ctrl.empty() ? pabx.FStatusPROG.Le() : ctrl));
    }

    if (!leitura(pabx.PedeVersao()) || !leitura(pabx.PedeRelease()))
        return falha("Falha ao ler a versão");
    saida << "Versão: " << pabx.FVersao << "\n";
    if (!leitura(pabx.PedeParametros())) return falha("Falha ao ler os parâmetros");
    saida << "Modelo: " << pabx.FModelo << "\n";
    saida << "Agenda: " << TipoAgenda(pabx) << "\n";

    if (!pabx.PedeVolumeSDCard()) return falha("Resposta solicitação SDCard falhou");
    if (!pabx.AguardaStatus(pabx.FStatusCTRL) || !(pabx.FStatusCTRL == "OK"))
        return falha("Volume SDCard não suportado: " + pabx.FStatusCTRL.Le());
    const TVolumeSDCard volume = pabx.VolumeSDCard();
    saida << "SD card: total " << volume.Total << ", livre " << volume.Livre << ", usado "
          << volume.Usado << "\n";

    if (!leitura(pabx.PedeNomesDNS())) return falha("Falha ao ler os nomes DNS");
    if (!leitura(pabx.PedeIndicesDNS())) return falha("Falha ao ler os índices DNS");
    if (!leitura(pabx.PedeAgenda())) return falha("Falha ao ler a agenda");
    for (int numero : {1000, 3000}) {
        const int fim = numero == 1000 ? 1899 : 3999;
        for (int n = numero; n <= fim; ++n) {
            const TRamalPABX& r = pabx.FRamais[static_cast<std::size_t>(TPABX::IndiceRamal(n))];
            if (r.NomeDNS.empty() && r.Nome.empty()) continue;
            saida << "Ramal: " << n << ";" << r.NomeDNS << ";" << r.Nome << "\n";
        }
    }
    pabx.Desconecta();
    return 0;
}
