// A unit's settings set up a link on their own: against the simulated unit,
// without a run around them.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/Configuracao.h"
#include "common/pabx/TracePABX.h"
#include "service/download/UnidadePABX.h"
#include "tests/support/PastaTemporaria.h"
#include "tools/pabx-sim/Simulator.h"

namespace {

bool TemTrace(const std::filesystem::path& pasta) {
    return std::filesystem::exists(pasta / NomeArquivoTrace(Agora()));
}

}  // namespace

TEST(UnidadePABX, LinkPreparadoAlcancaAUnidadeComSenhaETraceDaUnidade) {
    struct Caso {
        const char* senha;
        std::uint16_t mascara;
        bool atende, trace;
    };
    for (const Caso c : {Caso{"4321", LogSempre, true, false},
                         Caso{"4321", static_cast<std::uint16_t>(LogSempre | LogPABX), true, true},
                         Caso{"9999", LogSempre, false, false}}) {
        SCOPED_TRACE(std::string(c.senha) + " mascara " + std::to_string(c.mascara));
        pabxsim::Scenario cenario;
        cenario.password = "4321";
        cenario.sdTotal = 1000;
        cenario.sdFree = 300;
        cenario.sdUsed = 700;
        pabxsim::Simulator sim(cenario);
        sim.Start();
        PastaTemporaria pasta;

        UnidadePABX u;
        u.PastaPABX = pasta.Caminho().string() + "/";
        u.MascaraLog = c.mascara;
        u.KELVEnderIP = "127.0.0.1";
        u.KELVPorta = sim.Port();
        u.KELVSenha = c.senha;
        u.ModoUSB = 1;
        u.RaizUSB = "/media/usb/";
        u.CaminhoUSB = "/media/usb/norvika/audiorec";
        u.EsperaUSB = 3;

        EventoPABX evento;
        TPABX pabx;
        pabx.FTempoLimite = 5;
        PreparaLink(pabx, u, &evento);
        EXPECT_EQ(pabx.FEvento, &evento);
        EXPECT_EQ(pabx.FModoUSB, 1);
        EXPECT_EQ(pabx.FRaizUSB, u.RaizUSB);
        EXPECT_EQ(pabx.FPastaUSB, u.CaminhoUSB);
        EXPECT_EQ(pabx.FEsperaUSB, 3);
        EXPECT_FALSE(pabx.FUsaSocks);

        std::string mensagem;
        EXPECT_EQ(pabx.VerificaSDCard(mensagem), c.atende) << mensagem;
        if (c.atende) {
            EXPECT_EQ(pabx.FVolumeSDCard.Total, 1000);
            EXPECT_EQ(pabx.FVolumeSDCard.Usado, 700);
        }
        pabx.Desconecta();
        EXPECT_EQ(TemTrace(pasta.Caminho()), c.trace);
    }
}
