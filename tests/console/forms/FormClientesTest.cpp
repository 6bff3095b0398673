// The contact windows as a user drives them, offscreen against the real
// server: the area-code question (cancelled, then the empty item), a new
// contact typed in with its phones (digits only, widths, a number twice in
// the grid refused), edited (last phone removed) and deleted.

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>

#include "tests/console/ContatosTeste.h"
#include "console/forms/FormClientes.h"
#include "console/forms/FormEdCliente.h"

namespace {

// Runs `acao` once the box queued before it was recorded: the dialog's own
// box comes from its event loop, after it shows.
void DepoisDaCaixa(ContextoConsole& c, std::size_t caixas, const std::function<void()>& acao) {
    EXPECT_TRUE(EsperaAte([&] { return c.mensagens.Mostradas().size() >= caixas; }));
    acao();
}

}  // namespace

TEST_F(BaseContatos, JanelasDeContatoPeloUsuario) {
    ContextoConsole tela;
    std::string erro;
    ASSERT_TRUE(tela.dados.ConectaBancoDados(erro)) << erro;
    tela.UsuarioCodigo = 1;
    tela.UsuarioNome = "Administrador";
    FormClientes f(tela);
    f.show();
    f.CarregaItens(0);
    EXPECT_FALSE(f.btnEditar->isEnabled());

    // No area code yet: the dialog (with its box), cancelled: nothing opens.
    tela.mensagens.ProximaResposta(RespostaMensagem::Ok);
    auto ddd1 = AoAbrir("FormEdDDD", [&](QWidget* w) {
        auto* d = static_cast<FormEdDDD*>(w);
        EXPECT_EQ(d->cbDDD->currentText(), "48");
        DepoisDaCaixa(tela, 1, [&] { d->btnCancelar->click(); });
    });
    f.BtnNovoClick();
    EXPECT_TRUE(*ddd1);
    EXPECT_EQ(tela.mensagens.Mostradas().at(0).texto,
              "Informe o código DDD da localidade de instalação do veruzadu.");
    EXPECT_EQ(p.Ini().ReadString("Veruzadu", "DDD", "-"), "-");

    // The empty item: "00" stored, then the editor.
    tela.mensagens.ProximaResposta(RespostaMensagem::Ok);
    tela.mensagens.ProximaResposta(RespostaMensagem::Ok);
    AoAbrir("FormEdDDD", [&](QWidget* w) {
        auto* d = static_cast<FormEdDDD*>(w);
        DepoisDaCaixa(tela, 2, [&] {
            d->cbDDD->setCurrentIndex(0);
            d->btnOk->click();
        });
    });
    auto editor = AoAbrir("FormEdCliente", [&](QWidget* w) {
        auto* e = static_cast<FormEdCliente*>(w);
        QTest::keyClicks(e->edCliente, "Contato Tela");
        QTest::keyClicks(e->edCNPJ, "12a3-4");
        QTest::keyClicks(e->edEndereco, QString(41, 'R'));
        EXPECT_FALSE(e->btnApagar->isEnabled());
        for (int vez = 0; vez < 2; ++vez) {
            AoAbrir("FormEdFone", [&](QWidget* fw) {
                auto* fone = static_cast<FormEdFone*>(fw);
                QTest::keyClicks(fone->edFone, "48 3333-4444");
                fone->cbTipoFone->setCurrentIndex(1);
                fone->BtnOk->click();
            });
            e->btnNovo->click();
        }
        EXPECT_EQ(e->GridFones->rowCount(), 1);
        EXPECT_EQ(e->GridFones->item(0, 0)->text(), "4833334444");
        e->BtnOk->click();
    });
    f.BtnNovoClick();
    ASSERT_TRUE(*editor);
    EXPECT_EQ(p.Ini().ReadString("Veruzadu", "DDD", "-"), "00");
    EXPECT_EQ(f.DDDLocal, "");
    EXPECT_EQ(tela.mensagens.Mostradas().back().texto,
              "Número 4833334444 já está na lista de telefones do contato");
    EXPECT_EQ(Coluna("SELECT CLI_IDENTIFICADOR || '|' || CLI_ENDERECO FROM CLIENTE"),
              (std::vector<std::string>{"1234|" + std::string(40, 'R')}));
    EXPECT_EQ(Coluna("SELECT TEL_NUMERO || '/' || TEL_TIPO FROM TELEFONE"),
              (std::vector<std::string>{"4833334444/1"}));
    ASSERT_EQ(f.Quantidade, 1);
    EXPECT_EQ(f.GridItens->item(0, 1)->text(), "Contato Tela");
    EXPECT_TRUE(f.btnEditar->isEnabled());

    // Edited: its last phone removed (the row emptied), then saved.
    f.GridItens->setCurrentCell(0, 1);
    tela.mensagens.ProximaResposta(RespostaMensagem::Sim);
    AoAbrir("FormEdCliente", [&](QWidget* w) {
        auto* e = static_cast<FormEdCliente*>(w);
        EXPECT_EQ(e->edCliente->text(), "Contato Tela");
        e->GridFones->setCurrentCell(0, 0);
        e->btnApagar->click();
        EXPECT_EQ(e->GridFones->rowCount(), 1);
        EXPECT_FALSE(e->btnApagar->isEnabled());
        e->edCliente->setText("Contato Novo");
        e->BtnOk->click();
    });
    f.BtnEditarClick();
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM TELEFONE"), 0);
    EXPECT_EQ(f.GridItens->item(0, 1)->text(), "Contato Novo");

    // Deleted.
    f.GridItens->setCurrentCell(0, 1);
    tela.mensagens.ProximaResposta(RespostaMensagem::Sim);
    f.BtnApagarClick();
    EXPECT_EQ(tela.mensagens.Mostradas().back().texto, "Confirma exclusão de Contato Novo ?");
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM CLIENTE"), 0);
    EXPECT_EQ(Historico(),
              (std::vector<std::string>{"14:Contato Tela", "16:Contato Tela", "15:Contato Novo"}));
    f.close();
}
