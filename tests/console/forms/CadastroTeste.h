#pragma once
// What the groups and users tests share: a scratch installation with units 1
// and 2 (unit 1's extensions 201, 202 "Recepção", 203; unit 2's 201), a
// console context connected to it, readers of what the database ended with,
// and a trigger that makes any history row whose detail is "FALHA" fail, so
// a save or a removal breaks at its last statement.

#include <string>
#include <utility>
#include <vector>

#include "tests/console/TesteConsole.h"
#include "console/forms/ContextoConsole.h"

inline void InsereRamal(Attachment& unidade, int pabx, const std::string& numero,
                        const std::string& nome) {
    Transaction tr(unidade);
    Statement st(tr, "INSERT INTO DNSPABX (PAB_CODIGO, DNS_NUMERO, DNS_NOME) VALUES (?, ?, ?)");
    st.SetInt(0, pabx).SetText(1, numero).SetText(2, nome);
    st.Executa();
    tr.Commit();
}

inline void InsereUsuario(Attachment& att, int codigo, const std::string& nome,
                          const std::string& login, int perfil, const std::string& grupo = "") {
    Transaction tr(att);
    Statement st(tr, "INSERT INTO USUARIO (USR_CODIGO, USR_NOME, USR_LOGIN, USR_SENHA, USR_PERFIL, "
                     "USR_GRUPO) VALUES (?, ?, ?, '', ?, ?)");
    st.SetInt(0, codigo).SetText(1, nome).SetText(2, login).SetInt(3, perfil).SetText(4, grupo);
    st.Executa();
    tr.Commit();
}

struct BaseCadastro : ::testing::Test {
    ProgramaTeste p{"cadastro", {1, 2}};
    ContextoConsole ctx;

    void SetUp() override {
        if (!p.Pronta()) GTEST_SKIP() << "no test server (run through scripts/test)";
        Attachment att = p.Principal();
        for (const char* sql :
             {"DELETE FROM GRPRAMAL", "DELETE FROM GRUPO", "DELETE FROM USUARIO",
              "DELETE FROM LOGHISTORY",
              // No PABX answers for these units: their names are never flagged
              // for a refresh.
              "UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_DNSUPDATE) "
              "VALUES (1, 'Matriz', 0) MATCHING (PAB_CODIGO)",
              "UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_DNSUPDATE) "
              "VALUES (2, 'Norte', 0) MATCHING (PAB_CODIGO)"})
            att.Executa(sql);
        Attachment u1 = p.Unidade(1);
        u1.Executa("DELETE FROM DNSPABX");
        InsereRamal(u1, 1, "201", "201");
        InsereRamal(u1, 1, "202", "Recepção");
        InsereRamal(u1, 1, "203", "");
        Attachment u2 = p.Unidade(2);
        u2.Executa("DELETE FROM DNSPABX");
        InsereRamal(u2, 2, "201", "");
        {
            // Installations are kept between the tests of one process: the
            // failing trigger exists in every one, switched off.
            Attachment admin = p.Admin();
            admin.Executa("CREATE OR ALTER EXCEPTION ERRO_TESTE 'falha de teste'");
            admin.Executa(
                "CREATE OR ALTER TRIGGER LOGHISTORY_FALHA FOR LOGHISTORY INACTIVE BEFORE INSERT "
                "AS BEGIN IF (NEW.LOG_DETALHES = 'FALHA') THEN EXCEPTION ERRO_TESTE; END");
        }
        std::string erro;
        ASSERT_TRUE(ctx.dados.ConectaBancoDados(erro)) << erro;
        ctx.UsuarioCodigo = 900;
        ctx.UsuarioNome = "Responsável";
    }

    // A history row whose detail is "FALHA" is refused by the server.
    void FalhaNoHistorico() {
        Attachment admin = p.Admin();
        admin.Executa("ALTER TRIGGER LOGHISTORY_FALHA ACTIVE");
    }

    std::vector<std::string> Coluna(const std::string& sql) {
        Attachment att = p.Principal();
        Transaction tr(att);
        Statement st(tr, sql);
        auto c = st.Abre();
        std::vector<std::string> r;
        while (c.Proxima()) r.push_back(c.IsNull(0) ? "<null>" : c.GetText(0));
        return r;
    }
    int Conta(const std::string& sql) {
        auto r = Coluna(sql);
        return r.empty() ? -1 : std::stoi(r.front());
    }
    // "operation detail" of every history row, in order.
    std::vector<std::string> Historico() {
        return Coluna(
            "SELECT LOG_OPERACAO || ' ' || LOG_DETALHES FROM LOGHISTORY ORDER BY LOG_CODIGO");
    }
    // "unit:number:name" of every GRPRAMAL row of the group.
    std::vector<std::string> Ramais(int grupo) {
        return Coluna("SELECT PAB_CODIGO || ':' || RML_RAMAL || ':' || COALESCE(RML_NOME, '') "
                      "FROM GRPRAMAL WHERE GRP_CODIGO = " +
                      std::to_string(grupo) + " ORDER BY PAB_CODIGO, RML_RAMAL");
    }
    QString UltimaMensagem() const {
        const auto& m = ctx.mensagens.Mostradas();
        return m.empty() ? QString() : m.back().texto;
    }
};
