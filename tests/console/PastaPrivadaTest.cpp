// The console's private folder: where it is made, who may enter it, what
// emptying keeps, and that it is gone with the console, also when a signal
// ends it.

#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>

#include "TesteConsole.h"
#include "common/Processos.h"
#include "console/PastaPrivada.h"

namespace fs = std::filesystem;

TEST(PastaPrivada, FeitaSobORuntimeComModo0700EsvaziadaERemovida) {
    PastaTemporaria runtime;
    ::setenv("XDG_RUNTIME_DIR", runtime.Caminho().c_str(), 1);
    fs::path caminho;
    {
        PastaPrivada a, b;
        caminho = a.Caminho();
        EXPECT_EQ(caminho.parent_path(), runtime.Caminho());
        EXPECT_TRUE(caminho.filename().string().starts_with("veruzadu-"));
        EXPECT_NE(b.Caminho(), caminho);  // two consoles never share one
        struct stat st {};
        ASSERT_EQ(::stat(caminho.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);

        Grava(caminho / "G1.WAV", "x");
        Grava(caminho / "sub" / "G2.OGG", "y");
        Grava(b.Caminho() / "G1.WAV", "z");
        a.Esvazia();
        EXPECT_TRUE(fs::is_directory(caminho));
        EXPECT_TRUE(fs::is_empty(caminho));
        EXPECT_EQ(LeTudo(b.Caminho() / "G1.WAV"), "z");

        // Removed from outside: made again on the next use.
        fs::remove_all(caminho);
        EXPECT_TRUE(fs::is_directory(a.Caminho()));
        caminho = a.Caminho();
        Grava(caminho / "G3.WAV", "x");
    }
    EXPECT_FALSE(fs::exists(caminho));
    EXPECT_TRUE(fs::is_empty(runtime.Caminho()));

    ::unsetenv("XDG_RUNTIME_DIR");
    PastaPrivada c;
    EXPECT_EQ(c.Caminho().parent_path(), fs::temp_directory_path());
}

namespace {

std::vector<fs::path> PastasPrivadas(const fs::path& runtime) {
    std::vector<fs::path> r;
    for (const auto& e : fs::directory_iterator(runtime))
        if (e.is_directory() && e.path().filename().string().starts_with("veruzadu-"))
            r.push_back(e.path());
    return r;
}

}  // namespace

// The real program, waiting in a dialog (no server configured), is ended by
// SIGTERM: it closes the dialog, ends, and its private folder goes with it.
TEST(PastaPrivada, ConsoleEncerradoPorSigtermNaoDeixaAPasta) {
    PastaTemporaria runtime, home;
    Grava(home / "VERUZADU.INI", "[Log]\nServico=1\n");
    OpcoesProcesso o;
    o.ambiente = {"VERUZADU_HOME=" + home.Caminho().string(),
                  "XDG_RUNTIME_DIR=" + runtime.Caminho().string(), "QT_QPA_PLATFORM=offscreen"};
    o.saida = home / "saida.txt";
    ProcessoFilho console({VERUZADU_EXE}, o);
    ASSERT_TRUE(console.Iniciado());
    ASSERT_TRUE(EsperaAte([&] { return PastasPrivadas(runtime.Caminho()).size() == 1; }))
        << LeTudo(home / "saida.txt");
    const fs::path pasta = PastasPrivadas(runtime.Caminho()).front();
    Grava(pasta / "G1.WAV", "audio");
    int status = 0;
    EXPECT_FALSE(console.Aguarda(std::chrono::milliseconds(500), status)) << "ended by itself";
    ASSERT_EQ(::kill(console.Pid(), SIGTERM), 0);
    ASSERT_TRUE(console.Aguarda(std::chrono::seconds(30), status)) << "still running";
    EXPECT_TRUE(WIFEXITED(status)) << status;
    EXPECT_FALSE(fs::exists(pasta));
}
