#pragma once
// What the settings windows' tests share: the console connected as an
// administrator whose history rows are counted, and the CONFIG row read back
// as the server holds it.

#include <QAction>
#include <QMenu>

#include "ConsoleTeste.h"
#include "tests/console/TesteConsole.h"

struct ConsoleAdmin {
    explicit ConsoleAdmin(ProgramaTeste& p) : prog(p) {
        c.ctx.VerificaPermissao = [](int) { return true; };
        c.ctx.RegistraHistorico = [this](int op, const std::string& detalhe) {
            historico.emplace_back(op, detalhe);
            return true;
        };
        c.Mostra();
    }
    bool Pronto() {
        return EsperaAte([&] { return c.Conectado(); });
    }
    // Opens the window of a main-window entry; `acao` runs on it once shown.
    void Abre(const char* entrada, const QString& janela, std::function<void(QWidget*)> acao) {
        auto feito = AoAbrir(janela, std::move(acao));
        c.main->pmConfiguracao->findChild<QAction*>(entrada)->trigger();
        EXPECT_TRUE(*feito) << entrada;
    }
    // Every column of the CONFIG row as text (NULL as "<null>"), "" without a row.
    std::string LinhaConfig() {
        std::string r;
        Attachment a = prog.Principal();
        Transaction tr(a, true);
        Statement st(tr, "SELECT * FROM CONFIG");
        auto cur = st.Abre();
        if (!cur.Proxima()) return r;
        for (unsigned i = 0; i < cur.NumeroColunas(); ++i)
            r += cur.NomeColuna(i) + "=" + (cur.IsNull(i) ? "<null>" : cur.GetText(i)) + "\n";
        return r;
    }
    std::string Coluna(const std::string& nome) {
        Attachment a = prog.Principal();
        Transaction tr(a, true);
        Statement st(tr, "SELECT " + nome + " FROM CONFIG");
        auto cur = st.Abre();
        return cur.Proxima() && !cur.IsNull(0) ? cur.GetText(0) : "<null>";
    }
    // Runs as the administrator; also from inside a window's event handler,
    // so an error becomes a test failure instead of an exception through Qt.
    void Executa(const std::string& sql) {
        try {
            Attachment a = prog.Admin();
            Transaction tr(a);
            tr.Executa(sql);
            tr.Commit();
        } catch (const std::exception& e) {
            ADD_FAILURE() << sql << ": " << e.what();
        }
    }

    // The installation keeps CONFIG at one row; its guard is switched off
    // to take the row away.
    void ApagaLinhaConfig() {
        Executa("ALTER TRIGGER CONFIG_UMA_LINHA INACTIVE");
        Executa("DELETE FROM CONFIG");
    }
    // A window that must not open is closed again if it does (the test then
    // fails on its checks instead of hanging in its modal loop).
    void FechaSeAbrir(const QString& janela) {
        QTimer::singleShot(3000, c.main.get(), [janela] {
            if (auto* w = qobject_cast<QDialog*>(JanelaVisivel(janela))) w->reject();
        });
    }

    ProgramaTeste& prog;
    Console c;
    std::vector<std::pair<int, std::string>> historico;
};
