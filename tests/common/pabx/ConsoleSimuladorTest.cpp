// The console's link against the simulated unit over TCP: the login awaited
// on its CTRL result, a write acknowledged and stored, a refused write
// answered at once.
#include <gtest/gtest.h>

#include <chrono>

#include "common/pabx/PABX.h"
#include "tools/pabx-sim/Simulator.h"

namespace {
using namespace std::chrono;

bool Espera(const TextoStatus& s, int segundos = 30) {
    const auto fim = steady_clock::now() + seconds(segundos);
    while (s.Vazio() && steady_clock::now() < fim) std::this_thread::sleep_for(milliseconds(5));
    return !s.Vazio();
}
}  // namespace

TEST(PABXConsoleSimulador, ProgramaERecusa) {
    pabxsim::Scenario cenario;
    cenario.password = "77";
    pabxsim::Simulator sim(cenario);
    sim.Start();
    TPABX pabx(ModoPABX::Console);
    pabx.FEnderecoIP = "127.0.0.1";
    pabx.FPorta = sim.Port();
    pabx.FSenha = "77";
    pabx.Conecta();
    ASSERT_TRUE(Espera(pabx.FStatusPROG));
    ASSERT_EQ(pabx.FStatusPROG.Le(), "OK");
    ASSERT_TRUE(pabx.EnviaLogin());
    ASSERT_TRUE(Espera(pabx.FStatusCTRL));
    ASSERT_EQ(pabx.FStatusCTRL.Le(), "OK");

    ASSERT_TRUE(pabx.GravaParametroRamal(1005, 0x0107));
    ASSERT_TRUE(Espera(pabx.FStatusPROG));
    EXPECT_EQ(pabx.FStatusPROG.Le(), "OK");
    ASSERT_TRUE(pabx.GravaListaRamal(1005, {"1001", "3002"}));
    ASSERT_TRUE(Espera(pabx.FStatusPROG));
    EXPECT_EQ(sim.unit().ExtensionWord(1005), 0x0107);
    EXPECT_EQ(sim.unit().ExtensionList(1005), (std::vector<uint16_t>{1001, 3002}));

    ASSERT_TRUE(pabx.PedeParametroRamal(1005));
    ASSERT_TRUE(Espera(pabx.FStatusPROG));
    EXPECT_EQ(pabx.RespostaRamal().Dados, (std::vector<std::uint8_t>{0x07, 0x01, 0, 0}));

    sim.AddFault("write:*/9 refuse");
    const auto antes = steady_clock::now();
    ASSERT_TRUE(pabx.GravaParametroRamal(1006, 1));
    ASSERT_TRUE(Espera(pabx.FStatusPROG));
    EXPECT_EQ(pabx.FStatusPROG.Le(), "Negado");
    EXPECT_LT(steady_clock::now() - antes, seconds(5))
        << "the refusal ends the wait, not a time-out";
    EXPECT_EQ(sim.unit().ExtensionWord(1006), 0);
    pabx.Desconecta();
}
