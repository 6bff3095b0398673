// One console per executable and program folder: in process, and with the
// real program started twice.

#include <csignal>
#include <thread>

#include "TesteConsole.h"
#include "common/Processos.h"
#include "console/InstanciaUnica.h"
#include "console/UtilConsole.h"

TEST(InstanciaUnica, SegundaPedeAtivacaoDaPrimeira) {
    PastaTemporaria runtime;
    InstanciaUnica primeira("chave", runtime.Caminho().string());
    ASSERT_TRUE(primeira.Primeira());
    int ativacoes = 0;
    primeira.AoPedirAtivacao = [&] { ++ativacoes; };

    InstanciaUnica segunda("chave", runtime.Caminho().string());
    EXPECT_FALSE(segunda.Primeira());
    // The request is answered from the first one's event loop: run it aside.
    bool pedido = false;
    std::thread t(
        [&] { pedido = InstanciaUnica("chave", runtime.Caminho().string()).AtivaPrimeira(5000); });
    EXPECT_TRUE(EsperaAte([&] { return ativacoes == 1; }));
    t.join();
    EXPECT_TRUE(pedido);

    // Another key (another folder) is a first instance of its own.
    InstanciaUnica outra("outra", runtime.Caminho().string());
    EXPECT_TRUE(outra.Primeira());
}

TEST(InstanciaUnica, SoqueteAbandonadoNaoImpede) {
    PastaTemporaria runtime;
    std::string nome;
    {
        InstanciaUnica a("velha", runtime.Caminho().string());
        nome = a.NomeServidor();
    }
    // What a killed instance leaves: the socket file, no listener, no lock.
    Grava(nome, "");
    InstanciaUnica nova("velha", runtime.Caminho().string());
    ASSERT_TRUE(nova.Primeira());
    int ativacoes = 0;
    nova.AoPedirAtivacao = [&] { ++ativacoes; };
    std::thread t([&] { InstanciaUnica("velha", runtime.Caminho().string()).AtivaPrimeira(5000); });
    EXPECT_TRUE(EsperaAte([&] { return ativacoes == 1; }));
    t.join();
}

namespace {

OpcoesProcesso Ambiente(const PastaTemporaria& home, const PastaTemporaria& runtime) {
    OpcoesProcesso o;
    o.ambiente = {"VERUZADU_HOME=" + home.Caminho().string(),
                  "XDG_RUNTIME_DIR=" + runtime.Caminho().string(), "QT_QPA_PLATFORM=offscreen"};
    o.saida = home / "saida.txt";
    return o;
}

// Started and still running after a moment (it shows its server dialog).
bool Roda(ProcessoFilho& p) {
    int status = 0;
    return p.Iniciado() && !p.Aguarda(std::chrono::milliseconds(1500), status);
}

std::string LogDe(const PastaTemporaria& home) {
    const DataHora agora = Agora();
    return LeTudo(home / NomeLogConsole(agora.ano, agora.mes));
}

}  // namespace

TEST(InstanciaUnica, ProgramaIniciadoDuasVezes) {
    PastaTemporaria runtime, home, outraHome;
    // No server configured: the first start waits in its server dialog. With
    // the console log on, the activation leaves a line.
    Grava(home / "VERUZADU.INI", "[Log]\nServico=1\n");
    ProcessoFilho primeira({VERUZADU_EXE}, Ambiente(home, runtime));
    ASSERT_TRUE(Roda(primeira));
    // Its start-up sequence has run up to the server dialog (whose caption
    // goes through the language file) and so has read the log switch.
    ASSERT_TRUE(EsperaAte([&] {
        return LeTudo(home / "Veruzadu.LNG").find("Configuracaodaconexao") != std::string::npos;
    }));

    const auto inicio = std::chrono::steady_clock::now();
    OpcoesProcesso o = Ambiente(home, runtime);
    o.limite = std::chrono::seconds(20);
    o.saida = home / "segunda.txt";
    const ResultadoProcesso segunda = ExecutaProcesso({VERUZADU_EXE}, o);
    EXPECT_TRUE(segunda.Sucesso()) << segunda.codigoSaida << " " << LeTudo(home / "segunda.txt");
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(5));
    EXPECT_TRUE(EsperaAte([&] { return LogDe(home).find("Janela ativada") != std::string::npos; }))
        << LogDe(home);
    int status = 0;
    EXPECT_FALSE(primeira.Terminou(status)) << "the first instance ended";

    // Another program folder is another console.
    ProcessoFilho outra({VERUZADU_EXE}, Ambiente(outraHome, runtime));
    EXPECT_TRUE(Roda(outra));
    outra.Termina();

    // A first instance killed outright leaves nothing that blocks the next start.
    primeira.Sinaliza(SIGKILL);
    primeira.Aguarda(status);
    ProcessoFilho depois({VERUZADU_EXE}, Ambiente(home, runtime));
    EXPECT_TRUE(Roda(depois));
    const ResultadoProcesso mais = ExecutaProcesso({VERUZADU_EXE}, o);
    EXPECT_TRUE(mais.Sucesso());
    EXPECT_TRUE(Roda(depois)) << "the instance after the crash ended";
    depois.Termina();
}

// A lock file that cannot be opened is no other console: the start says why.
TEST(InstanciaUnica, TravaQueNaoAbreDizPorque) {
    PastaTemporaria runtime, home;
    // In process: no first instance, and the reason names the file.
    std::filesystem::create_directory(
        runtime / ("veruzadu-" + std::to_string(::getuid()) + "-bloqueada.lock"));
    InstanciaUnica bloqueada("bloqueada", runtime.Caminho().string());
    EXPECT_FALSE(bloqueada.Primeira());
    EXPECT_NE(bloqueada.ErroTrava().find("bloqueada.lock"), std::string::npos)
        << bloqueada.ErroTrava();
    InstanciaUnica livre("livre", runtime.Caminho().string());
    EXPECT_TRUE(livre.Primeira());
    EXPECT_EQ(livre.ErroTrava(), "");
    InstanciaUnica segunda("livre", runtime.Caminho().string());
    EXPECT_EQ(segunda.ErroTrava(), "") << "a lock held by another console is no error";

    // The program: the same lock file, taken by a folder.
    ::setenv("VERUZADU_HOME", home.Caminho().c_str(), 1);
    const std::string chave =
        InstanciaUnica::ChaveDe(std::filesystem::canonical(VERUZADU_EXE).string(), PastaPrograma());
    ::unsetenv("VERUZADU_HOME");
    std::filesystem::create_directory(
        runtime / ("veruzadu-" + std::to_string(::getuid()) + "-" + chave + ".lock"));
    ProcessoFilho p({VERUZADU_EXE}, Ambiente(home, runtime));
    ASSERT_TRUE(p.Iniciado());
    const auto saida = [&] { return LeTudo(home / "saida.txt"); };
    EXPECT_TRUE(EsperaAte([&] {
        return saida().find("Não foi possível abrir o arquivo de trava") != std::string::npos;
    })) << saida();
    // It waits on its error box, not ended as if another console ran.
    int status = 0;
    EXPECT_FALSE(p.Terminou(status));
    p.Termina();
}
