// Reading upgrade packages: what a release makes is read whole; anything a
// hostile or damaged package may hold refuses the whole package.

#include <gtest/gtest.h>

#include "PacoteTeste.h"
#include "console/PacoteScripts.h"

TEST(PacoteScripts, PacoteDeReleaseLidoInteiro) {
    PastaTemporaria d;
    ASSERT_TRUE(
        FazPacoteRelease(d / "scripts1.gkp", {{"quv_2.sql", "SELECT 1 FROM RDB$DATABASE;\n"},
                                              {"grvest_1.sql", "-- ação\n"},
                                              {"grvpab_1.sql", "\n"}}));
    const PacoteScripts p = LePacoteScripts(d / "scripts1.gkp");
    EXPECT_EQ(p.versao, "1.0.0");
    ASSERT_EQ(p.scripts.size(), 3u);
    std::map<std::string, TipoScript> tipos;
    for (const auto& s : p.scripts) tipos[s.nome] = s.tipo;
    EXPECT_EQ(tipos["quv_2.sql"], TipoScript::Principal);
    EXPECT_EQ(tipos["grvest_1.sql"], TipoScript::Estrutura);
    EXPECT_EQ(tipos["grvpab_1.sql"], TipoScript::Unidade);
    for (const auto& s : p.scripts) EXPECT_EQ(s.sha256, Sha256Hex(s.texto));
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(PacoteScripts, PacotesHostisRecusadosInteiros) {
    const EntradaTeste manifesto{"PACOTE.INI", 'f', ManifestoTeste};
    const EntradaTeste script{"quv_1.sql", 'f', "SELECT 1 FROM RDB$DATABASE;\n"};
    struct Caso {
        const char* nome;
        std::vector<EntradaTeste> entradas;
        std::string entrada;  // the entry the refusal names ("" = the package)
    } casos[] = {
        {"dot-dot", {manifesto, {"../x.sql", 'f', "x"}}, "../x.sql"},
        {"absolute", {manifesto, {"/tmp/quv_1.sql", 'f', "x"}}, "/tmp/quv_1.sql"},
        {"symlink", {manifesto, {"quv_1.sql", 'l', "VERUZADU.INI"}}, "quv_1.sql"},
        {"hard link", {manifesto, script, {"quv_2.sql", 'h', "quv_1.sql"}}, "quv_2.sql"},
        {"ini entry", {manifesto, {"VERUZADU.INI", 'f', "[BD]\n"}}, "VERUZADU.INI"},
        {"upper case", {manifesto, {"QUV_1.sql", 'f', "x"}}, "QUV_1.sql"},
        {"folder", {manifesto, {"quv_d.sql", 'd', ""}}, "quv_d.sql/"},
        {"duplicate", {manifesto, script, script}, "quv_1.sql"},
        {"latin-1", {manifesto, {"quv_1.sql", 'f', "-- a\xe7\xe3o\n"}}, "quv_1.sql"},
        {"no manifest", {script}, "PACOTE.INI"},
        {"format 2",
         {{"PACOTE.INI", 'f', "[Pacote]\nFormato=2\nVersao=1.0.0\n"}, script},
         "PACOTE.INI"},
        {"1 GB of zeros", {manifesto, {"quv_1.sql", 'z', "1073741824"}}, ""},
        {"entry over its cap", {manifesto, {"quv_1.sql", 'z', "17000000"}}, "quv_1.sql"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        PastaTemporaria d;
        ASSERT_TRUE(FazPacote(d / "scripts1.gkp", c.entradas));
        try {
            LePacoteScripts(d / "scripts1.gkp");
            ADD_FAILURE() << "accepted";
        } catch (const PacoteRecusado& e) {
            EXPECT_EQ(e.entrada, c.entrada) << e.what();
        }
        // Nothing was unpacked anywhere.
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(d.Caminho()), {}), 1);
    }
}

TEST(PacoteScripts, ArquivosQueNaoSaoTarGzRecusados) {
    PastaTemporaria d;
    ASSERT_TRUE(FazPacoteRelease(d / "bom.gkp", {{"quv_1.sql", std::string(200000, 'x') + "\n"}}));
    const std::string bom = LeTudo(d / "bom.gkp");
    ASSERT_TRUE(FazPacote(d / "tar.gkp", {{"PACOTE.INI", 'f', ManifestoTeste}}, false));
    const std::string zip = "PK\x03\x04" + std::string(60, '\0');
    struct Caso {
        const char* nome;
        std::string conteudo;
    } casos[] = {
        {"text", "quv_1.sql\nSELECT 1;\n"},
        {"zip", zip},
        {"cut gzip", bom.substr(0, bom.size() / 2)},
        {"bad crc",
         bom.substr(0, bom.size() - 8) + std::string("\0\0\0\0", 4) + bom.substr(bom.size() - 4)},
        {"plain tar", LeTudo(d / "tar.gkp")},
        {"empty", ""},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        Grava(d / "x.gkp", c.conteudo);
        EXPECT_THROW(LePacoteScripts(d / "x.gkp"), PacoteRecusado);
    }
}

TEST(PacoteScripts, NomesEOrdemDosPacotes) {
    PastaTemporaria d;
    for (const char* n : {"scripts2.gkp", "scripts10.gkp", "scripts1.gkp", "Scripts1.gkp",
                          "scripts1.GKP", ".scripts1.gkp", "scripts1.gkp.recusado", "scriptsB.gkp"})
        Grava(d / n, "x");
    std::filesystem::create_directory(d / "scripts3.gkp");
    std::filesystem::create_symlink(d / "scripts1.gkp", d / "scripts4.gkp");
    std::vector<std::string> nomes;
    for (const auto& p : ListaPacotes(d.Caminho(), NomePacoteScripts))
        nomes.push_back(p.filename());
    EXPECT_EQ(nomes, (std::vector<std::string>{"scripts1.gkp", "scripts10.gkp", "scripts2.gkp",
                                               "scriptsB.gkp"}));

    EXPECT_EQ(TipoDoScript("quv_.sql"), TipoScript::Principal);
    EXPECT_EQ(TipoDoScript("grvest.sql"), TipoScript::Estrutura);
    EXPECT_EQ(TipoDoScript("grvpab.sql"), TipoScript::Nenhum);
    EXPECT_EQ(TipoDoScript("quv_1.SQL"), TipoScript::Nenhum);
}

TEST(PacoteScripts, VersoesEUtf8) {
    EXPECT_LT(ComparaVersoes("1.0.9", "1.0.10"), 0);
    EXPECT_EQ(ComparaVersoes("1.0", "1.0.0"), 0);
    EXPECT_GT(ComparaVersoes("2", "1.9.9"), 0);
    EXPECT_TRUE(TextoUtf8Valido("ação €"));
    EXPECT_FALSE(TextoUtf8Valido("a\xe7\xe3o"));
    EXPECT_FALSE(TextoUtf8Valido("\xc0\xaf"));      // overlong "/"
    EXPECT_FALSE(TextoUtf8Valido("\xed\xa0\x80"));  // surrogate
    EXPECT_FALSE(TextoUtf8Valido("a\xe2\x82"));     // cut
}
