// Arbitrary bytes through the receiver and every reply handler. The first
// byte picks the pending request and the agenda mode, the second the size of
// the reads the rest is cut into.
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/pabx/PABX.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dados, std::size_t tamanho) {
    if (tamanho < 2) return 0;
    TPABX pabx;
    pabx.DefineEnvio([](const std::uint8_t*, std::size_t, std::string&) { return true; });
    const std::uint8_t escolha = dados[0];
    const std::size_t fatia = std::size_t{dados[1]} * 64 + 1;
    pabx.FAgendaViaCTRL = (escolha & 0x80) != 0;
    switch (escolha & 0x0F) {
        case 0: pabx.EnviaLogin(); break;
        case 1: pabx.PedeVersao(); break;
        case 2: pabx.PedeRelease(); break;
        case 3: pabx.PedeParametros(); break;
        case 4: pabx.PedeNomesDNS(); break;
        case 5: pabx.PedeIndicesDNS(); break;
        case 6: pabx.PedeAgenda(); break;
        case 7: pabx.PedeCTRL(26); break;
        case 8: pabx.PedeVolumeSDCard(); break;
        case 9: pabx.PedeAcessoGravacoes(true); break;
        default: pabx.PedeRemocaoArquivo("A", "B", "R0001.WAV"); break;
    }
    for (std::size_t i = 2; i < tamanho; i += fatia) {
        const std::size_t n = std::min(fatia, tamanho - i);
        pabx.TCPRecebeu({dados + i, n});
    }
    (void)pabx.BuscaRamalPorNome(pabx.NomeDNS(0));
    return 0;
}
