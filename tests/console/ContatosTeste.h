#pragma once
// What the contact tests share: a scratch installation with units 1 and 2
// (unit 1 registered, its database there), the console's context connected
// to it, and small readers of what the database ended with.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "TesteConsole.h"
#include "console/AgendaArquivo.h"
#include "console/Contatos.h"
#include "console/forms/ContextoConsole.h"

struct BaseContatos : ::testing::Test {
    ProgramaTeste p{"contatos", {1}};
    ContextoConsole ctx;
    AutorHistorico autor{1, "Administrador"};

    void SetUp() override {
        if (!p.Pronta()) GTEST_SKIP() << "no test server (run through scripts/test)";
        // The installation stays from one test to the next: start clean.
        {
            Attachment att = p.Admin();
            for (const char* t : {"TESTE_FONE", "TESTE_APAGA", "TESTE_CLIENTE"}) {
                try {
                    att.Executa(std::string("DROP TRIGGER ") + t);
                } catch (const FirebirdError&) {
                }
            }
            for (const char* sql :
                 {"DELETE FROM TELEFONE", "DELETE FROM CLIENTE", "DELETE FROM LOGHISTORY",
                  "DELETE FROM GRAVACAO", "DELETE FROM DOWNPABX", "DELETE FROM PABX"})
                att.Executa(sql);
            att.Executa("INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO) VALUES (1, 'Matriz')");
            Attachment u = p.Unidade(1, true);
            u.Executa("DELETE FROM GRAVACAO");
        }
        p.Ini().DeleteKey("Veruzadu", "DDD");
        std::string erro;
        ASSERT_TRUE(ctx.dados.ConectaBancoDados(erro)) << erro;
        {
            Attachment att = p.Admin();
            att.Executa("ALTER SEQUENCE GEN_CLI_ID RESTART WITH 0");
        }
        ctx.UsuarioCodigo = autor.codigo;
        ctx.UsuarioNome = autor.nome;
        // Boxes are answered without showing (recorded in Mostradas), so an
        // unexpected one fails the test instead of waiting for a click.
        for (int i = 0; i < 100; ++i) ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    }

    // The first column of every row of a query on the main database, as text.
    std::vector<std::string> Coluna(const std::string& sql) {
        Attachment att = p.Principal();
        Transaction tr(att);
        Statement st(tr, sql);
        auto c = st.Abre();
        std::vector<std::string> r;
        while (c.Proxima()) r.push_back(c.IsNull(0) ? "<null>" : c.GetText(0));
        return r;
    }
    int Conta(const std::string& sql) { return std::stoi(Coluna(sql).at(0)); }
    // LOGHISTORY as "operation:detail".
    std::vector<std::string> Historico() {
        return Coluna(
            "SELECT LOG_OPERACAO || ':' || LOG_DETALHES FROM LOGHISTORY ORDER BY LOG_CODIGO");
    }
    // A trigger that raises on a marked row ("falha de teste").
    void Falha(const std::string& nome, const std::string& tabela, const std::string& quando,
               const std::string& condicao) {
        Attachment att = p.Admin();
        try {
            att.Executa("CREATE EXCEPTION TESTE_FALHA 'falha de teste'");
        } catch (const FirebirdError&) {
        }
        att.Executa("CREATE TRIGGER " + nome + " FOR " + tabela + " " + quando +
                    " POSITION 0 AS BEGIN IF (" + condicao + ") THEN EXCEPTION TESTE_FALHA; END");
    }
    int Salva(ClienteAgenda c, const std::string& anterior = "") {
        if (!SalvaCliente(ctx.dados, ctx.mensagens, c, autor, anterior)) return 0;
        return c.codigo;
    }
    std::string UltimaMensagem() const {
        const auto& m = ctx.mensagens.Mostradas();
        return m.empty() ? std::string() : m.back().texto.toStdString();
    }
};

inline ClienteAgenda Contato(const std::string& nome, std::vector<FoneAgenda> fones = {}) {
    ClienteAgenda c;
    c.descricao = nome;
    c.fones = std::move(fones);
    return c;
}

inline std::string LeBytes(const std::filesystem::path& arquivo) {
    std::ifstream f(arquivo, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline void GravaBytes(const std::filesystem::path& arquivo, const std::string& bytes) {
    std::ofstream(arquivo, std::ios::binary) << bytes;
}
