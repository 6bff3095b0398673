// The data module's rules that need no server: connection strings, the
// classification of server errors, the countdown and the entries' guards.

#include <gtest/gtest.h>

#include <cstdlib>

#include "common/IniFile.h"
#include "common/db/FirebirdError.h"
#include "console/ControleMain.h"
#include "console/MDados.h"
#include "tests/support/PastaTemporaria.h"

TEST(MontaCaminhoBD, Casos) {
    struct Caso {
        const char* ini;
        const char* nome;
        const char* servidor;
        const char* conexao;
    } casos[] = {
        {"[BD]\nServer=\\\\SRV\n", "VERUZADU", "SRV", "SRV:VERUZADU"},
        {"[BD]\nServer=\\SRV\nAlias=GRV\n", "VERUZADU", "SRV", "SRV:GRV"},
        // An Alias key present but empty gives the server and the colon alone.
        {"[BD]\nServer=\\\\SRV\nAlias=\n", "VERUZADU", "SRV", "SRV:"},
        {"[BD]\nServer=srv/3051\n", "VERUZADU", "srv/3051", "srv/3051:VERUZADU"},
        // No Server key: this computer's name.
        {"", "VERUZADU", "MAQUINA", "MAQUINA:VERUZADU"},
        // A blank server is this computer's server, for every database.
        {"[BD]\nServer=\"   \"\n", "VERUZADU", "   ", "127.0.0.1:VERUZADU"},
        {"[BD]\nServer=\n", "GRVPAB007", "", "127.0.0.1:/dados/GRVPAB007.FDB"},
        // A unit: its file in the main database's folder, or AdvPath.
        {"[BD]\nServer=\\\\SRV\n", "GRVPAB007", "SRV", "SRV:/dados/GRVPAB007.FDB"},
        {"[BD]\nServer=\\\\SRV\nAdvPath=/outro/u7.fdb\n", "GRVPAB007", "SRV", "SRV:/outro/u7.fdb"},
        // With AliasGRVPABX: by alias, the database name when no Alias key.
        {"[BD]\nServer=\\\\SRV\nAliasGRVPABX=1\n", "GRVPAB007", "SRV", "SRV:GRVPAB007"},
        {"[BD]\nServer=\\\\SRV\nAliasGRVPABX=1\nAlias=X\n", "GRVPAB007", "SRV", "SRV:X"},
    };
    PastaTemporaria pasta;
    for (const Caso& c : casos) {
        Grava(pasta / "VERUZADU.INI", c.ini);
        const CaminhoBD r =
            MontaCaminhoBD(IniFile(pasta / "VERUZADU.INI"), c.nome, "/dados/", "MAQUINA");
        EXPECT_EQ(r.servidor, c.servidor) << c.ini;
        EXPECT_EQ(r.conexao, c.conexao) << c.ini;
    }
    EXPECT_EQ(RemoveBarrasServidor("\\\\\\SRV"), "\\SRV");
}

TEST(ClassificacaoErros, SoErrosDeConexaoSaoPerda) {
    struct Caso {
        std::intptr_t codigo;
        bool perdida;
    } casos[] = {
        {335544721, true},   // network error
        {335544726, true},   // read error
        {335544727, true},   // write error
        {335544741, true},   // lost database connection
        {335544648, true},   // connection lost
        {335544528, true},   // database shut down
        {335544856, true},   // attachment shut down (killed)
        {335544665, false},  // duplicate key
        {335544349, false},  // duplicate in unique index
        {335544472, false},  // login refused
        {335544321, false},  // over-long text
        {335544351, false},  // refused structure change
        {335544569, false},  // syntax error
    };
    for (const Caso& c : casos) {
        EXPECT_EQ(FirebirdError({c.codigo}, "x").ConexaoPerdida(), c.perdida) << c.codigo;
        // Anywhere in the status vector, not only first.
        EXPECT_EQ(FirebirdError({335544569, c.codigo}, "x").ConexaoPerdida(), c.perdida)
            << c.codigo;
    }
}

TEST(ControleMain, ContagemRegressiva) {
    PastaTemporaria pasta;
    ::setenv("VERUZADU_HOME", pasta.Caminho().c_str(), 1);
    const std::string prefixo =
        "Conexão com o banco de dados foi perdida. Reconexão será tentada em ";
    EXPECT_EQ(TextoContagem(0), prefixo + "60 segundos");
    EXPECT_EQ(TextoContagem(1), prefixo + "59 segundos");
    EXPECT_EQ(TextoContagem(59), prefixo + "1 segundos");
    EXPECT_EQ(TextoContagem(60), prefixo + "0 segundos");
    EXPECT_EQ(TextoContagem(61), prefixo + "0 segundos");
    EXPECT_EQ(TextoContagem(500), prefixo + "0 segundos");
    ::unsetenv("VERUZADU_HOME");
}

TEST(ControleMain, GuardasENiveis) {
    struct Caso {
        const char* componente;
        bool guarda;
        int nivel;
    } casos[] = {
        {"btnGravacoes", false, 2},
        {"btnUsuarios", true, 1},
        {"btnContatos", true, 2},
        {"Centrais1", true, 1},
        {"Armazenamento1", true, 1},
        {"Emaildealertas1", true, 1},
        {"Histricoatividades1", true, 1},
        {"Apagarregistros1", false, 1},
        {"btnEstadoVeruzadu", true, 0},
        {"Estadoveruzadu1", true, 0},
        {"Sobre1", false, 0},
        {"Ajuda1", false, 0},
    };
    for (const Caso& c : casos) {
        const RegraAcao* r = RegraDe(c.componente);
        ASSERT_NE(r, nullptr) << c.componente;
        EXPECT_EQ(r->guarda, c.guarda) << c.componente;
        EXPECT_EQ(r->nivel, c.nivel) << c.componente;
    }
    EXPECT_EQ(RegraDe("naoExiste"), nullptr);
}
