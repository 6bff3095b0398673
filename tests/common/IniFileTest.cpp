#include "common/IniFile.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>
#include <vector>

#include "tests/support/PastaTemporaria.h"

namespace {

const char* const kArquivo = "; comment line\r\n"
                             "[BD]\r\n"
                             "Server = \\\\SRV01 \r\n"
                             "Vazio=\r\n"
                             "Aspas=\"  com brancos  \"\r\n"
                             "Numero=  42\r\n"
                             "Negativo=-7\r\n"
                             "Mais=+3\r\n"
                             "Lixo=12abc\r\n"
                             "Hex=0x10\r\n"
                             "Grande=99999999999\r\n"
                             "Dois=2\r\n"
                             "Zero=0\r\n"
                             "Igual=a=b\r\n"
                             "Repetida=primeira\r\n"
                             "repetida=segunda\r\n"
                             "semigual\r\n"
                             "[veruzadu]\r\n"
                             "PABXTimeOut=45\r\n";

TEST(IniFile, ReadsWithProfileRules) {
    PastaTemporaria pasta;
    Grava(pasta / "VERUZADU.INI", kArquivo);
    const IniFile ini(pasta / "VERUZADU.INI");

    struct {
        const char *secao, *chave, *texto;  // ReadString with default "def"
        int inteiro;                        // ReadInteger with default -1
        bool booleano;                      // ReadBool with default true
    } casos[] = {
        {"BD", "Server", "\\\\SRV01", -1, true},
        {"bd", "SERVER", "\\\\SRV01", -1, true},  // case of section and key ignored
        {"BD", "Vazio", "", -1, true},            // present but empty: empty, not the default
        {"BD", "Aspas", "  com brancos  ", -1, true},
        {"BD", "Numero", "42", 42, true},
        {"BD", "Negativo", "-7", -7, true},
        {"BD", "Mais", "+3", 3, true},
        {"BD", "Lixo", "12abc", -1, true},  // not an integer: default
        {"BD", "Hex", "0x10", -1, true},
        {"BD", "Grande", "99999999999", -1, true},  // out of range: default
        {"BD", "Dois", "2", 2, true},               // any non-zero number is true
        {"BD", "Zero", "0", 0, false},
        {"BD", "Igual", "a=b", -1, true},          // only the first '=' splits
        {"BD", "Repetida", "primeira", -1, true},  // the first of repeated keys
        {"BD", "semigual", "def", -1, true},       // a line without '=' is no key
        {"BD", "Falta", "def", -1, true},
        {"Falta", "Server", "def", -1, true},
        {"VERUZADU", "pabxtimeout", "45", 45, true},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(std::string(c.secao) + "/" + c.chave);
        EXPECT_EQ(ini.ReadString(c.secao, c.chave, "def"), c.texto);
        EXPECT_EQ(ini.ReadInteger(c.secao, c.chave, -1), c.inteiro);
        EXPECT_EQ(ini.ReadBool(c.secao, c.chave, true), c.booleano);
    }
    EXPECT_FALSE(ini.ReadBool("BD", "Falta", false));
    EXPECT_TRUE(ini.SectionExists("bd"));
    EXPECT_FALSE(ini.SectionExists("Outra"));
    EXPECT_TRUE(ini.ValueExists("BD", "VAZIO"));
    EXPECT_FALSE(ini.ValueExists("BD", "semigual"));
    EXPECT_EQ(
        ini.ReadSection("bd"),
        (std::vector<std::string>{"Server", "Vazio", "Aspas", "Numero", "Negativo", "Mais", "Lixo",
                                  "Hex", "Grande", "Dois", "Zero", "Igual", "Repetida"}));
}

TEST(IniFile, MissingFileGivesDefaultsAndFirstWriteCreatesIt) {
    PastaTemporaria pasta;
    IniFile ini(pasta / "NOVO.INI");
    EXPECT_EQ(ini.ReadString("A", "B", "x"), "x");
    EXPECT_EQ(ini.ReadInteger("A", "B", 5), 5);
    EXPECT_TRUE(ini.ReadSection("A").empty());
    EXPECT_TRUE(ini.DeleteKey("A", "B"));
    EXPECT_FALSE(std::filesystem::exists(pasta / "NOVO.INI"));

    ASSERT_TRUE(ini.WriteBool("A", "Sim", true));
    ASSERT_TRUE(ini.WriteBool("A", "Nao", false));
    ASSERT_TRUE(ini.WriteInteger("B", "N", -12));
    EXPECT_EQ(LeTudo(pasta / "NOVO.INI"), "[A]\nSim=1\nNao=0\n\n[B]\nN=-12\n");
}

TEST(IniFile, WritesKeepEverythingElseAndTheLineEnds) {
    PastaTemporaria pasta;
    Grava(pasta / "X.INI", "; keep me\r\n[BD]\r\nServer=A\r\n\r\n[Log]\r\nInfo=1\r\n");
    IniFile ini(pasta / "X.INI");

    ASSERT_TRUE(ini.WriteString("bd", "SERVER", "B"));     // replaces, whatever the case
    ASSERT_TRUE(ini.WriteString("BD", "Alias", "GRV"));    // new key at the end of its section
    ASSERT_TRUE(ini.WriteString("Log", "X", "a\r\nY=1"));  // no key injected by line breaks
    EXPECT_EQ(LeTudo(pasta / "X.INI"),
              "; keep me\r\n[BD]\r\nSERVER=B\r\nAlias=GRV\r\n\r\n[Log]\r\nInfo=1\r\nX=a  Y=1\r\n");
    EXPECT_FALSE(ini.ValueExists("Log", "Y"));

    ASSERT_TRUE(ini.DeleteKey("BD", "server"));
    ASSERT_TRUE(ini.EraseSection("LOG"));
    EXPECT_EQ(LeTudo(pasta / "X.INI"), "; keep me\r\n[BD]\r\nAlias=GRV\r\n\r\n");
    EXPECT_FALSE(ini.WriteString("", "k", "v"));
}

TEST(IniFile, FindsTheFileWithoutRegardToCase) {
    PastaTemporaria pasta;
    Grava(pasta / "veruzadu.ini", "[BD]\nServer=S\n");
    EXPECT_EQ(ProcuraArquivoSemCaixa(pasta.Caminho(), "VERUZADU.INI"), pasta / "veruzadu.ini");
    EXPECT_EQ(ProcuraArquivoSemCaixa(pasta.Caminho(), "OUTRO.INI"), std::nullopt);
    EXPECT_EQ(ArquivoSemCaixa(pasta.Caminho(), "Veruzadu.LNG"), pasta / "Veruzadu.LNG");

    IniFile ini(pasta / "VERUZADU.INI");
    EXPECT_EQ(ini.ReadString("BD", "Server", ""), "S");
    ASSERT_TRUE(ini.WriteString("BD", "Alias", "A"));
    // The write went into the existing file, not a second spelling of it.
    EXPECT_FALSE(std::filesystem::exists(pasta / "VERUZADU.INI"));
    EXPECT_EQ(IniFile(pasta / "veruzadu.ini").ReadString("bd", "alias", ""), "A");

    // An exact spelling wins over the others.
    Grava(pasta / "VERUZADU.INI", "[BD]\nServer=EXATO\n");
    EXPECT_EQ(ini.ReadString("BD", "Server", ""), "EXATO");
}

TEST(IniFile, WritesThroughALinkToTheTarget) {
    PastaTemporaria pasta;
    Grava(pasta / "etc/veruzadu.ini", "[BD]\nServer=A\n");
    std::filesystem::create_symlink(pasta / "etc/veruzadu.ini", pasta / "VERUZADU.INI");
    IniFile ini(pasta / "VERUZADU.INI");
    ASSERT_TRUE(ini.WriteString("BD", "Server", "B"));
    EXPECT_TRUE(std::filesystem::is_symlink(pasta / "VERUZADU.INI"));
    EXPECT_EQ(LeTudo(pasta / "etc/veruzadu.ini"), "[BD]\nServer=B\n");
}

// A file that is there but cannot be read is never taken for an empty one: a
// write would otherwise replace it with a file holding only the new key.
TEST(IniFile, WriteFailsAndKeepsAFileItCannotRead) {
    PastaTemporaria pasta;
    std::error_code ec;
    // A folder where the file should be: open succeeds, read fails (EISDIR).
    std::filesystem::create_directories(pasta / "PASTA.INI/dentro");
    IniFile pastaNoLugar(pasta / "PASTA.INI");
    EXPECT_FALSE(pastaNoLugar.WriteString("BD", "Server", "novo"));
    EXPECT_FALSE(pastaNoLugar.DeleteKey("BD", "Server"));
    EXPECT_TRUE(std::filesystem::is_directory(pasta / "PASTA.INI/dentro"));

    // The same behind a link, as an installer may keep the file elsewhere.
    std::filesystem::create_directory_symlink(pasta / "PASTA.INI", pasta / "LINK.INI", ec);
    ASSERT_FALSE(ec);
    IniFile link(pasta / "LINK.INI");
    EXPECT_FALSE(link.WriteString("BD", "Server", "novo"));
    EXPECT_TRUE(std::filesystem::is_symlink(pasta / "LINK.INI"));
    EXPECT_TRUE(std::filesystem::is_directory(pasta / "PASTA.INI/dentro"));

    // An unreadable file (root reads every file, so only a user sees EACCES).
    if (::geteuid() != 0) {
        const auto arquivo = pasta / "VERUZADU.INI";
        Grava(arquivo, "[BD]\nServer=A\nAlias=VERUZADU\n");
        std::filesystem::permissions(arquivo, std::filesystem::perms::none);
        IniFile ini(arquivo);
        EXPECT_FALSE(ini.WriteString("Log", "Info", "1"));
        EXPECT_EQ(errno, EACCES);
        std::filesystem::permissions(arquivo, std::filesystem::perms::owner_read);
        EXPECT_EQ(ini.ReadString("BD", "Alias", ""), "VERUZADU");
        EXPECT_EQ(ini.ReadString("Log", "Info", "-"), "-");
    }
}

TEST(IniFile, ConcurrentWritersInThreadsAndAnotherProcessLoseNoKey) {
    PastaTemporaria pasta;
    const auto arquivo = pasta / "VERUZADU.INI";
    ASSERT_TRUE(IniFile(arquivo).WriteString("Fixa", "Sentinela", "ok"));
    constexpr int kChaves = 150, kThreads = 4;

    // The second process starts before any thread of ours exists.
    const pid_t filho = ::fork();
    ASSERT_GE(filho, 0);
    if (filho == 0) {
        IniFile ini(arquivo);
        bool ok = true;
        for (int i = 0; i < kChaves; ++i)
            ok = ini.WriteInteger("Processo", "K" + std::to_string(i), i) && ok;
        ::_exit(ok ? 0 : 1);
    }

    std::atomic<bool> fim{false};
    std::atomic<int> leiturasRuins{0};
    std::thread leitor([&] {
        // A reader must always see a whole file: the sentinel never vanishes.
        const IniFile ini(arquivo);
        while (!fim)
            if (ini.ReadString("Fixa", "Sentinela", "") != "ok") ++leiturasRuins;
    });
    std::vector<std::thread> escritores;
    for (int t = 0; t < kThreads; ++t)
        escritores.emplace_back([&, t] {
            IniFile ini(arquivo);
            for (int i = 0; i < kChaves; ++i)
                EXPECT_TRUE(ini.WriteString("T" + std::to_string(t), "K" + std::to_string(i),
                                            std::to_string(t * 1000 + i)));
        });
    for (auto& e : escritores) e.join();
    int status = 0;
    ASSERT_EQ(::waitpid(filho, &status, 0), filho);
    fim = true;
    leitor.join();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(leiturasRuins, 0);

    const IniFile ini(arquivo);
    EXPECT_EQ(ini.ReadSection("Processo").size(), static_cast<size_t>(kChaves));
    for (int i = 0; i < kChaves; ++i) {
        EXPECT_EQ(ini.ReadInteger("Processo", "K" + std::to_string(i), -1), i);
        for (int t = 0; t < kThreads; ++t)
            EXPECT_EQ(ini.ReadInteger("T" + std::to_string(t), "K" + std::to_string(i), -1),
                      t * 1000 + i);
    }
    // No temporary file is left behind.
    int arquivos = 0;
    for (const auto& e : std::filesystem::directory_iterator(pasta.Caminho())) {
        const auto nome = e.path().filename().string();
        arquivos += nome.rfind(".VERUZADU.INI.", 0) == 0 && nome != ".VERUZADU.INI.lock";
    }
    EXPECT_EQ(arquivos, 0);
}

}  // namespace
