#pragma once
// The console as main() builds it, for window tests: the context with a
// login seam that counts its calls (and can open a dialog of its own), the
// main window, and helpers to kill the console's main connection.

#include <QDialog>

#include "tests/console/TesteConsole.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/FormMain.h"

// The console as main() builds it, with a login seam that counts its calls.
struct Console {
    explicit Console(RelogioTeste* relogio = nullptr)
        : ctx(relogio ? relogio->Funcao() : std::function<DataHora()>(Agora)) {
        ctx.ExecutaLogin = [this](QWidget* pai) { return Login(pai); };
        ctx.dados.VerificaAtualizacaoBD = [this] { ++conexoes; };
    }
    ResultadoLogin Login(QWidget* pai) {
        ++logins;
        if (loginComDialogo) {
            QDialog d(pai);
            d.setObjectName("DialogoLogin");
            // Only the loss closes it in these tests.
            if (d.exec() != QDialog::Accepted) return ResultadoLogin::Interrompido;
        }
        ctx.UsuarioNome = "teste" + std::to_string(logins);
        ctx.UsuarioCodigo = 1;
        ctx.UsuarioPerfil = 1;
        return ResultadoLogin::Entrou;
    }
    bool Conectado() const {
        return ctx.dados.EstadoConexao() == ::Conectado && !main->Inicializando() &&
               !main->SequenciaPendente();
    }
    void Mostra() {
        main = std::make_unique<FormMain>(ctx);
        main->show();
    }
    // The main connection's id on the server, for killing it.
    std::int64_t IdConexao() {
        std::int64_t id = 0;
        ctx.dados.Executa([&](Transaction& tr) {
            Statement st(tr, "SELECT CURRENT_CONNECTION FROM RDB$DATABASE");
            auto c = st.Abre();
            if (c.Proxima()) id = c.GetBigInt(0);
        });
        return id;
    }
    int Contagem(const QString& texto) const {
        int n = 0;
        for (const auto& m : ctx.mensagens.Mostradas()) n += m.texto == texto;
        return n;
    }

    ContextoConsole ctx;
    std::unique_ptr<FormMain> main;
    int logins = 0;
    int conexoes = 0;
    bool loginComDialogo = false;
};

inline void Derruba(const ProgramaTeste& p, std::int64_t id) {
    Attachment admin = p.Admin();
    Transaction tr(admin);
    Statement st(tr, "DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = ?");
    st.SetBigInt(0, id);
    st.Executa();
    tr.Commit();
}

// Kills the console's main connection and lets a window's next statement find it out.
inline void PerdeConexao(const ProgramaTeste& p, Console& c) {
    Derruba(p, c.IdConexao());
    c.ctx.ExecutaBD([](Transaction& tr) { tr.Executa("UPDATE CONTROLE SET CRL_COMPBD = 0"); });
}

inline const QString AvisoPerda = "Conexão com o banco de dados foi perdida";
