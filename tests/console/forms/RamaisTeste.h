#pragma once
// What the extension windows' tests share: a scratch installation with unit 1
// whose PABX row points at a simulated unit (PABXTimeOut 1 s), the console's
// context connected to both databases, and readers of the unit's tables.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/console/TesteConsole.h"
#include "common/CifraTexto.h"
#include "console/forms/ContextoConsole.h"
#include "tools/pabx-sim/Simulator.h"

// Four configured extensions: 1001 (word 0x8047, list 1002 and 3001), 1002
// (bit 9, list 1001), 1003 (nothing programmed, no directory entry) and
// 3001 (0x0038, empty list), listed among two numbers that are no
// extensions. Directory names are the numbers; the agenda gives the long
// names.
inline pabxsim::Scenario CenarioRamais(const std::string& modelo = "NORVIKA") {
    pabxsim::Scenario s;
    s.password = "4321";
    s.model = modelo;
    s.dnsNames = {{false, "1001"}, {false, "1002"}, {false, "3001"}, {true, "1004"}};
    s.dnsIndexes = {{2, 1001, 0}, {2, 1002, 1}, {45, 3001, 2}, {2, 1004, 3}};
    s.agenda = {{1001, "Rec", "Recepção d'Ana"}, {1002, "Ven", "Vendas"}, {3001, "Pt", "Portaria"}};
    // 999 and 4000 are no extensions: skipped (and logged), never asked for.
    s.extensionList = {1001, 999, 1002, 1003, 4000, 3001};
    s.extensionParams = {{1001, 0x8047}, {1002, 0x0200}, {3001, 0x0038}};
    s.extensionLists = {{1001, {1002, 3001}}, {1002, {1001}}, {3001, {}}};
    return s;
}

struct BaseRamais : ::testing::Test {
    ProgramaTeste p{"ramais", {1}};
    std::unique_ptr<pabxsim::Simulator> sim;
    std::unique_ptr<ContextoConsole> ctx;
    // Answers every message box (not the questions) as a user reading it
    // would; Mostradas() keeps what was said.
    QTimer leitor;

    void SetUp() override {
        if (!p.Pronta()) GTEST_SKIP() << "no test server (run through scripts/test)";
        QObject::connect(&leitor, &QTimer::timeout, [] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* b = qobject_cast<QMessageBox*>(w);
                    b && b->isVisible() && b->button(QMessageBox::Ok))
                    b->button(QMessageBox::Ok)->click();
        });
        leitor.start(20);
        p.Ini().WriteInteger("Veruzadu", "PABXTimeOut", 1);
        ctx = std::make_unique<ContextoConsole>();
        std::string erro;
        ASSERT_TRUE(ctx->dados.ConectaBancoDados(erro)) << erro;
        ctx->UsuarioCodigo = 1;
        ctx->UsuarioNome = "Administrador";
        ctx->dados.ConectaBasePABX(1);
    }
    void TearDown() override {
        ctx.reset();
        sim.reset();
        // The installation is the process's: leave it as it was found.
        if (gatilho) {
            Attachment att = p.Unidade(1, true);
            att.Executa("DROP TRIGGER TESTE_DNS");
            att.Executa("DROP EXCEPTION TESTE_RECUSA");
        }
    }
    bool gatilho = false;

    // Starts the unit and points unit 1's row at it (flag PAB_DNSUPDATE 1).
    void IniciaPABX(const pabxsim::Scenario& s = CenarioRamais()) {
        pabxsim::SimulatorOptions o;
        o.keepFrames = true;
        sim = std::make_unique<pabxsim::Simulator>(s, o);
        sim->Start();
        ApontaPara(sim->Port(), s.password);
    }
    void ApontaPara(int porta, const std::string& senha) {
        Attachment att = p.Principal();
        Transaction tr(att);
        Statement st(tr, "UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_KELVENDERIP, "
                         "PAB_KELVPORTA, PAB_KELVSENHA, PAB_DNSUPDATE) VALUES (1, 'Matriz', "
                         "'127.0.0.1', ?, ?, 1) MATCHING (PAB_CODIGO)");
        st.SetInt(0, porta).SetText(1, CriptografaTexto(senha));
        st.Executa();
        tr.Commit();
    }

    // Rows of a statement as "a|b|c" texts (NULL as "<null>").
    std::vector<std::string> Linhas(bool principal, const std::string& sql) {
        Attachment att = principal ? p.Principal() : p.Unidade(1);
        Transaction tr(att, true);
        Statement st(tr, sql);
        auto c = st.Abre();
        std::vector<std::string> r;
        while (c.Proxima()) {
            std::string l;
            for (unsigned i = 0; i < c.NumeroColunas(); ++i) {
                if (i) l += "|";
                l += c.IsNull(i) ? "<null>" : c.GetText(i);
            }
            r.push_back(l);
        }
        return r;
    }
    // Everything a read-out may change, to compare before and after.
    std::vector<std::string> Estado() {
        std::vector<std::string> e;
        for (const char* sql :
             {"SELECT DNS_INDICE, DNS_NUMERO, DNS_NOME FROM DNSPABX ORDER BY 1",
              "SELECT RML_RAMAL, RML_INDICEDNS, RML_PERMISSAO FROM RMLPERMISS ORDER BY 1",
              "SELECT RML_RAMAL, RML_RMLGRVDNS, RML_RMLGRAVA FROM RAMALGRAVA ORDER BY 1, 2"})
            for (auto& l : Linhas(false, sql)) e.push_back(l);
        for (const char* sql : {"SELECT RML_RAMAL, RML_NOME FROM GRPRAMAL ORDER BY 1",
                                "SELECT PAB_DNSUPDATE FROM PABX WHERE PAB_CODIGO = 1"})
            for (auto& l : Linhas(true, sql)) e.push_back(l);
        return e;
    }
    // Known rows in every table a read-out touches, and a group holding 1001.
    void EstadoInicial() {
        {
            Attachment att = p.Unidade(1);
            Transaction tr(att);
            tr.Executa("DELETE FROM DNSPABX");
            tr.Executa("DELETE FROM RMLPERMISS");
            tr.Executa("DELETE FROM RAMALGRAVA");
            tr.Executa("INSERT INTO DNSPABX VALUES (1, 1001, '1001', 'Antigo')");
            tr.Executa(
                "INSERT INTO RMLPERMISS (PAB_CODIGO, RML_RAMAL, RML_INDICEDNS, RML_PERMISSAO) "
                "VALUES (1, 'Antigo', 1001, 1)");
            tr.Executa(
                "INSERT INTO RAMALGRAVA (PAB_CODIGO, RML_RAMAL, RML_RMLGRVDNS, RML_RMLGRAVA) "
                "VALUES (1, 'Antigo', 1009, 'Outro')");
            tr.Commit();
        }
        Attachment att = p.Principal();
        Transaction tr(att);
        tr.Executa("DELETE FROM GRPRAMAL");
        tr.Executa(
            "UPDATE OR INSERT INTO GRUPO (GRP_CODIGO, GRP_DESCRICAO) VALUES (1, 'G') MATCHING "
            "(GRP_CODIGO)");
        tr.Executa(
            "INSERT INTO GRPRAMAL (GRP_CODIGO, RML_RAMAL, RML_NOME, PAB_CODIGO) VALUES (1, '1001', "
            "'Antigo', 1)");
        tr.Commit();
    }
    // A trigger that refuses every new directory row of the unit.
    void FalhaNoDiretorio() {
        gatilho = true;
        Attachment att = p.Unidade(1, true);
        att.Executa("CREATE EXCEPTION TESTE_RECUSA 'recusado pelo teste'");
        att.Executa(
            "CREATE TRIGGER TESTE_DNS FOR DNSPABX BEFORE INSERT AS BEGIN EXCEPTION TESTE_RECUSA; "
            "END");
    }
    std::vector<std::string> Mensagens() const {
        std::vector<std::string> m;
        for (const auto& x : ctx->mensagens.Mostradas()) m.push_back(x.texto.toStdString());
        return m;
    }
};
