// veruzadu: the desktop console. One instance per executable and program
// folder; the main window runs the start-up sequence once shown.

#include "console/forms/ServicoMain.h"
#include "common/Configuracao.h"
#include <cstdio>
#include <filesystem>
#include <QApplication>
#include <QSocketNotifier>

#include "common/Configuracao.h"
#include "common/Sinais.h"
#include "console/InstanciaUnica.h"
#include "console/UtilConsole.h"
#include "console/forms/CaixaMensagem.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/FormMain.h"
#include "console/forms/TextoTela.h"

int main(int argc, char** argv) {
    BloqueiaSinaisParada();
    QApplication app(argc, argv);
    QApplication::setApplicationName("veruzadu");

    InstanciaUnica instancia(InstanciaUnica::ChavePadrao());
    if (!instancia.ErroTrava().empty()) {
        // Not another console: this one cannot tell, so it says why it ends.
        const std::string texto =
            Traduz("Não foi possível abrir o arquivo de trava") + "\n" + instancia.ErroTrava();
        std::fprintf(stderr, "%s\n", texto.c_str());
        GravaLogConsole(texto);
        CaixaMensagem().Mostra(TipoMensagem::Erro, texto);
        return 1;
    }
    if (!instancia.Primeira()) {
        // The running one shows itself; this start ends without a window.
        instancia.AtivaPrimeira();
        return 0;
    }
    QApplication::setApplicationDisplayName(Tr("Quv Veruzadu de Chamadas"));

    ContextoConsole ctx;
    FormMain principal(ctx);
    ctx.UsaLoginReal();
    {
        // The service beside this program, with the same program folder.
        const std::filesystem::path pelmoran =
            std::filesystem::path(QCoreApplication::applicationDirPath().toStdString()) /
            "pelmoran";
        const bool systemd = std::filesystem::exists("/run/systemd/system");
        InstalaServicoMain(ctx, CriaServiceControl(pelmoran, PastaPrograma()),
                           systemd ? "systemd" : "pidfile");
        ctx.atualizacao.ControleServico = [pelmoran] {
            return CriaServiceControl(pelmoran, PastaPrograma());
        };
    }
    instancia.AoPedirAtivacao = [&principal] {
        GravaLogConsole("Janela ativada por uma nova execução do programa");
        principal.Ativa();
    };

    // SIGTERM, SIGINT and SIGHUP close the window as the user would and end
    // the program, also from inside a dialog or a message box (whose own
    // loops then return at once), so what the windows own (the player's
    // private folder) is removed on the way out.
    DescritorSinais sinais;
    QSocketNotifier notificador(sinais.Descritor(), QSocketNotifier::Read);
    QObject::connect(&notificador, &QSocketNotifier::activated, &principal, [&] {
        sinais.Le();
        principal.EncerraPorSinal();
    });

    principal.show();
    return app.exec();
}
