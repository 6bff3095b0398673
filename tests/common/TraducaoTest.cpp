#include "common/Traducao.h"

#include "tests/support/PastaTemporaria.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

TEST(Traducao, KeyForms) {
    struct Caso {
        std::string texto, chave;
    } casos[] = {
        {"Erro em WAV", "ErroemWAV"},
        {"Conexão: OK!", "ConexaoOK"},
        {"&Sair", "Sair"},
        {" !\"&'()*+,-./:<=>?[]|ªº", ""},
        {"#$%;@\\^_`{}~", "#$%;@\\^_`{}~"},
        {"ÀÁÂÃÇÉÊÍÏÓÔÕÖÚÜ", "AAAACEEIIOOOOUU"},
        {"àáâãçéêíïóôõöúü", "aaaaceeiioooouu"},
        {"ÄÅÈËÌÎÒÙÛÑäåèëìîòùûñ", "ÄÅÈËÌÎÒÙÛÑäåèëìîòùûñ"},
        {"1º andar, £5 ±2", "1andar£5±2"},
        {"a\tb", "a\tb"},
        {"custo €5 → ok", "custo5ok"},  // no Latin-1 form: dropped like '?'
    };
    for (const auto& c : casos) EXPECT_EQ(RemoveAcentosESimbolos(c.texto), c.chave) << c.texto;
    EXPECT_EQ(RemoveAcento('\xE3'), 'a');
    EXPECT_EQ(RemoveAcento('\xD1'), '\xD1');
    EXPECT_EQ(RemoveAcento(U'ç'), U'c');
    EXPECT_EQ(RemoveAcento(U'ñ'), U'ñ');
    EXPECT_EQ(RemoveAcento(U'€'), U'€');
}

class TraducaoArquivo : public ::testing::Test {
  protected:
    PastaTemporaria pasta;
    std::filesystem::path lng = pasta / "Veruzadu.LNG";
};

TEST_F(TraducaoArquivo, MissingTextIsWrittenBackAsLatin1) {
    ArquivoLNG a(lng);
    EXPECT_TRUE(a.UsaLngOrigem());
    EXPECT_EQ(a.LinguaLNG(), "PTB");
    EXPECT_EQ(a.Traduz("Conexão: OK!"), "Conexão: OK!");
    EXPECT_EQ(a.Traduz("Conexão: OK!"), "Conexão: OK!");
    EXPECT_EQ(LeTudo(lng), "[Labels_PTB]\nLConexaoOK=Conex\xE3o: OK!\n");
    EXPECT_EQ(a.Traduz(""), "");
    EXPECT_EQ(a.TraduzLNG(""), "");
    EXPECT_EQ(LeTudo(lng), "[Labels_PTB]\nLConexaoOK=Conex\xE3o: OK!\n");
}

TEST_F(TraducaoArquivo, EmptyTextWritesNothing) {
    ArquivoLNG a(lng);
    EXPECT_EQ(a.Traduz(""), "");
    EXPECT_FALSE(std::filesystem::exists(lng));
}

TEST_F(TraducaoArquivo, TranslationsAmpersandsAndEmptyValues) {
    Grava(lng, "[Controle]\nLingua=ENGLISH\n[Labels_PTB]\nLSair=Nao\n"
               "[Labels_ENG]\nlsair=E&xit && go\nLAcao=A\xE7\xE3o feita\nLVazio=\n");
    ArquivoLNG a(lng);
    EXPECT_EQ(a.LinguaLNG(), "ENG");
    EXPECT_EQ(a.TraduzLNG("&Sair"), "E&xit && go");
    EXPECT_EQ(a.Traduz("Sair"), "Exit && go");
    EXPECT_EQ(a.Traduz("Ação"), "Ação feita");
    // Present but empty: "ST()" once, then filled with the text itself.
    EXPECT_EQ(a.Traduz("Vazio"), "ST(Vazio)");
    EXPECT_EQ(a.Traduz("Vazio"), "Vazio");
    EXPECT_EQ(ArquivoLNG(lng).Traduz("Vazio"), "Vazio");
    EXPECT_EQ(IniFile(lng).ReadString("Labels_ENG", "LVazio", "?"), "Vazio");
}

TEST_F(TraducaoArquivo, WithoutSourceLanguageMissingTextsAreMarked) {
    Grava(lng, "[Controle]\nLngOrigem=0\n");
    ArquivoLNG a(lng);
    EXPECT_FALSE(a.UsaLngOrigem());
    EXPECT_EQ(a.Traduz("Novo texto"), "LA(Novo texto)");
    EXPECT_EQ(a.Traduz("Novo texto"), "Novo texto");
    EXPECT_EQ(ArquivoLNG(lng).Traduz("Novo texto"), "Novo texto");
}

// Texts the INI rules would change (trimmed blanks, outer quotes, line breaks)
// come back unchanged from the file in a later run.
TEST_F(TraducaoArquivo, ValuesSurviveTheFile) {
    const std::string textos[] = {"Erro: ",           "  recuo",        "'citado'", "\"aspas\"",
                                  "Linha 1\nLinha 2", "Windows\r\nfim", "Só isso"};
    {
        ArquivoLNG a(lng);
        for (const auto& t : textos) EXPECT_EQ(a.TraduzLNG(t), t);
    }
    ArquivoLNG b(lng);
    for (const auto& t : textos) {
        const std::string esperado = t == "Windows\r\nfim" ? "Windows\nfim" : t;
        EXPECT_EQ(b.TraduzLNG(t), esperado);
    }
    EXPECT_EQ(LeTudo(lng).find('\r'), std::string::npos);
}

// Sixteen threads and a second process add texts to one file at once: every
// text ends up in the file exactly once with its own value.
TEST_F(TraducaoArquivo, ConcurrentWriteBackLosesNothing) {
    constexpr int kThreads = 16, kComuns = 20, kProprios = 20, kDoFilho = 60;
    auto texto = [](const std::string& prefixo, int i) {
        return prefixo + " nº " + std::to_string(i) + "!";
    };

    const pid_t filho = fork();
    ASSERT_GE(filho, 0);
    if (filho == 0) {
        ArquivoLNG outro(lng);
        bool ok = true;
        for (int i = 0; i < kDoFilho; ++i)
            ok &= outro.Traduz(texto("Processo", i)) == texto("Processo", i);
        for (int i = 0; i < kComuns; ++i)
            ok &= outro.Traduz(texto("Comum", i)) == texto("Comum", i);
        _exit(ok ? 0 : 1);
    }

    ArquivoLNG a(lng);
    std::vector<std::thread> threads;
    std::vector<int> erros(kThreads, 0);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kComuns; ++i) {
                erros[t] += a.Traduz(texto("Comum", i)) != texto("Comum", i);
                const std::string proprio = texto("Thread " + std::to_string(t) + " ação", i);
                erros[t] += a.Traduz(proprio) != proprio;
            }
        });
    for (auto& th : threads) th.join();
    int estado = 0;
    ASSERT_EQ(waitpid(filho, &estado, 0), filho);
    EXPECT_TRUE(WIFEXITED(estado) && WEXITSTATUS(estado) == 0);
    for (int e : erros) EXPECT_EQ(e, 0);

    const IniFile ini(lng);
    const auto chaves = ini.ReadSection("Labels_PTB");
    EXPECT_EQ(chaves.size(), static_cast<std::size_t>(kComuns + kThreads * kProprios + kDoFilho));
    ArquivoLNG releitura(lng);
    for (int i = 0; i < kDoFilho; ++i)
        EXPECT_EQ(releitura.Traduz(texto("Processo", i)), texto("Processo", i));
    // The file holds each value as Latin-1 under the key of the text.
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kProprios; ++i)
            EXPECT_EQ(
                ini.ReadString("Labels_PTB",
                               "LThread" + std::to_string(t) + "acaon" + std::to_string(i), "?"),
                "Thread " + std::to_string(t) + " a\xE7\xE3o n\xBA " + std::to_string(i) + "!");
}

TEST(Traducao, ProcessWideFileLivesInProgramFolder) {
    PastaTemporaria pasta;
    ASSERT_EQ(setenv("VERUZADU_HOME", pasta.Caminho().c_str(), 1), 0);
    EXPECT_EQ(Traduz(""), "");
    EXPECT_EQ(TraduzLNG("&Olá"), "&Olá");
    EXPECT_EQ(Traduz("&Olá"), "Olá");
    EXPECT_EQ(LeTudo(pasta / "Veruzadu.LNG"), "[Labels_PTB]\nLOla=&Ol\xE1\n");
    unsetenv("VERUZADU_HOME");
}
