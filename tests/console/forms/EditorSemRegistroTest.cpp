// The register editors open only over a record they could read: a contact,
// group or user removed by another console after the list was read opens no
// editor (its Ok would write blanks over the record) and says why.

#include <QDialog>
#include <QTimer>

#include "CadastroTeste.h"
#include "common/IniFile.h"
#include "console/forms/FormClientes.h"
#include "console/forms/FormGrupos.h"
#include "console/forms/FormUsuarios.h"

TEST_F(BaseCadastro, EditorDeRegistroQueNaoCarregaNaoAbre) {
    p.Ini().WriteString("Veruzadu", "DDD", "48");
    {
        Attachment att = p.Principal();
        att.Executa("DELETE FROM TELEFONE");
        att.Executa("DELETE FROM CLIENTE");
        att.Executa("INSERT INTO GRUPO (GRP_CODIGO, GRP_DESCRICAO) VALUES (71, 'Vendas')");
        InsereUsuario(att, 72, "Bia", "bia", 2, "Vendas");
        att.Executa("INSERT INTO CLIENTE (CLI_CODIGO, CLI_DESCRICAO) VALUES (73, 'Gama')");
    }
    FormGrupos grupos(ctx);
    FormUsuarios usuarios(ctx, grupos);
    FormClientes clientes(ctx);
    struct Caso {
        const char* editor;
        std::function<void()> lista, editar;
        std::string apaga, mensagem;
    } casos[] = {
        {"FormEdGrupo", [&] { grupos.CarregaItens(71); }, [&] { grupos.BtnEditarClick(); },
         "DELETE FROM GRUPO WHERE GRP_CODIGO = 71", "Grupo não encontrado"},
        {"FormEdUsuario", [&] { usuarios.CarregaItens(72); }, [&] { usuarios.BtnEditarClick(); },
         "DELETE FROM USUARIO WHERE USR_CODIGO = 72", "Usuário não encontrado"},
        {"FormEdCliente", [&] { clientes.CarregaItens(73); }, [&] { clientes.BtnEditarClick(); },
         "DELETE FROM CLIENTE WHERE CLI_CODIGO = 73", "Contato não encontrado"},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.editor);
        c.lista();
        {
            Attachment att = p.Principal();
            att.Executa(c.apaga);
        }
        const auto caixas = ctx.mensagens.Mostradas().size();
        ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
        bool abriu = false;
        const QString nome = c.editor;
        QTimer::singleShot(0, [&abriu, nome] {
            if (auto* d = qobject_cast<QDialog*>(JanelaVisivel(nome))) {
                abriu = true;
                d->reject();
            }
        });
        c.editar();
        QApplication::processEvents();
        EXPECT_FALSE(abriu) << "the editor opened blank";
        ASSERT_EQ(ctx.mensagens.Mostradas().size(), caixas + 1);
        EXPECT_EQ(ctx.mensagens.Mostradas().back().caption, "Erro");
        EXPECT_EQ(ctx.mensagens.Mostradas().back().texto.toStdString(), c.mensagem);
    }
}
