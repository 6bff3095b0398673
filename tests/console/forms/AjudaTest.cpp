// The help: every context the console opens has its page, in the tree and
// beside the built program, and every help button (and F1 in a window
// without one) opens its own window's page.

#include <QAction>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <set>

#include "ConsoleTeste.h"
#include "tests/console/TesteConsole.h"
#include "console/PaginasAjuda.h"
#include "console/forms/AbreAjuda.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/FormApagaReg.h"
#include "console/forms/FormCentrais.h"
#include "console/forms/FormCfgRamais.h"
#include "console/forms/FormClientes.h"
#include "console/forms/FormConfig.h"
#include "console/forms/FormGravacoes.h"
#include "console/forms/FormGrupos.h"
#include "console/forms/FormHistorico.h"
#include "console/forms/FormMain.h"
#include "console/forms/FormStatus.h"
#include "console/forms/FormUsuarios.h"

namespace fs = std::filesystem;

TEST(Ajuda, CadaContextoTemSuaPagina) {
    const fs::path fonte = fs::path(VERUZADU_SOURCE_DIR) / "console" / "ajuda";
    const fs::path instalada = fs::path(VERUZADU_EXE).parent_path() / "ajuda";
    std::set<std::string> arquivos;
    std::set<int> contextos;
    const std::string indice = LeTudo(fonte / "index.html");
    for (const PaginaAjuda& p : PaginasAjuda()) {
        SCOPED_TRACE(p.arquivo);
        EXPECT_TRUE(arquivos.insert(p.arquivo).second);
        EXPECT_TRUE(contextos.insert(static_cast<int>(p.contexto)).second);
        for (const fs::path& pasta : {fonte, instalada}) {
            const std::string texto = LeTudo(pasta / p.arquivo);
            ASSERT_FALSE(texto.empty()) << (pasta / p.arquivo);
            EXPECT_NE(texto.find("<html lang=\"pt-BR\">"), std::string::npos);
            EXPECT_NE(texto.find(std::string("<title>") + p.titulo + "</title>"),
                      std::string::npos);
            EXPECT_NE(texto.find("<meta charset=\"utf-8\">"), std::string::npos);
        }
        // The main window's page leads to every other.
        if (p.contexto != ContextoAjuda::Principal) {
            EXPECT_NE(indice.find(std::string("href=\"") + p.arquivo + "\""), std::string::npos);
        }
    }
    EXPECT_EQ(contextos.size(), 13u);
}

TEST(Ajuda, BotoesEF1AbremAPaginaDaJanela) {
    ProgramaTeste p("ajuda");
    EXIGE_SERVIDOR(p.inst);
    // The pages as installed with the program, in its folder.
    fs::copy(fs::path(VERUZADU_SOURCE_DIR) / "console" / "ajuda", p.pasta / "ajuda");
    Console c;
    c.Mostra();
    ASSERT_TRUE(EsperaAte([&] { return c.Conectado() && c.logins == 1; }));
    std::vector<fs::path> abertas;
    const auto antes = MostraPaginaAjuda;
    MostraPaginaAjuda = [&](const fs::path& pagina) { abertas.push_back(pagina); };
    const auto Abriu = [&](ContextoAjuda contexto) {
        const bool ok =
            abertas.size() == 1 && abertas[0] == p.pasta / "ajuda" / PaginaDe(contexto).arquivo;
        abertas.clear();
        return ok;
    };

    c.main->pmAjuda->findChild<QAction*>("Ajuda1")->trigger();
    EXPECT_TRUE(Abriu(ContextoAjuda::Principal));
    struct Botao {
        QWidget* janela;
        ContextoAjuda contexto;
    } botoes[] = {
        {c.ctx.formApagaReg.get(), ContextoAjuda::Apagamento},
        {c.ctx.formCentrais.get(), ContextoAjuda::Centrais},
        {c.ctx.formCfgRamais.get(), ContextoAjuda::Permissoes},
        {c.ctx.formGrupos.get(), ContextoAjuda::Grupos},
        {c.ctx.formUsuarios.get(), ContextoAjuda::Usuarios},
        {c.ctx.formClientes.get(), ContextoAjuda::Contatos},
        {c.ctx.formHistorico.get(), ContextoAjuda::Historico},
    };
    for (const Botao& b : botoes) {
        SCOPED_TRACE(b.janela->objectName().toStdString());
        auto* ajuda = b.janela->findChild<QPushButton*>("btnAjuda");
        ASSERT_NE(ajuda, nullptr);
        ajuda->setEnabled(true);
        ajuda->click();
        EXPECT_TRUE(Abriu(b.contexto));
    }

    // F1 in the windows, those without a help button included.
    struct Janela {
        QWidget* janela;
        ContextoAjuda contexto;
    } janelas[] = {
        {c.main.get(), ContextoAjuda::Principal},
        {c.ctx.formGravacoes.get(), ContextoAjuda::Gravacoes},
        {c.ctx.formStatus.get(), ContextoAjuda::Estado},
        {c.ctx.formConfig.get(), ContextoAjuda::Configuracao},
        {c.ctx.formApagaReg.get(), ContextoAjuda::Apagamento},
    };
    for (const Janela& j : janelas) {
        SCOPED_TRACE(j.janela->objectName().toStdString());
        QTest::keyClick(j.janela, Qt::Key_F1);
        EXPECT_TRUE(Abriu(j.contexto));
    }
    EXPECT_EQ(ContextoDaJanela("FormEdCentral"), ContextoAjuda::EdicaoCentral);
    EXPECT_EQ(ContextoDaJanela("EscolheArquivo"), ContextoAjuda::ArquivosContatos);

    // A page that is not installed is named in an error box.
    fs::remove(p.pasta / "ajuda" / "historico.html");
    c.ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    AbreAjuda(ContextoAjuda::Historico, c.ctx.mensagens);
    EXPECT_TRUE(abertas.empty());
    ASSERT_FALSE(c.ctx.mensagens.Mostradas().empty());
    EXPECT_EQ(c.ctx.mensagens.Mostradas().back().texto,
              "Página de ajuda não encontrada: historico.html");
    MostraPaginaAjuda = antes;
}
