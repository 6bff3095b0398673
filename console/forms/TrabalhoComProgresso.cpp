#include "console/forms/TrabalhoComProgresso.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <atomic>
#include <exception>
#include <thread>

#include "console/PostaEm.h"
#include "console/forms/TextoTela.h"

void ExecutaComProgresso(QWidget* pai, const std::string& texto,
                         const std::function<void()>& trabalho) {
    std::atomic<bool> fim{false};
    std::exception_ptr erro;
    QProgressDialog janela(QString::fromStdString(texto), QString(), 0, 0, pai);
    janela.setObjectName("FormProgresso");
    janela.setWindowTitle(Tr("Aguarde"));
    janela.setCancelButton(nullptr);
    janela.setWindowModality(Qt::ApplicationModal);
    janela.setMinimumDuration(0);
    QEventLoop laco;
    std::thread trabalhador([&] {
        try {
            trabalho();
        } catch (...) {
            erro = std::current_exception();
        }
        fim = true;
        // Dropped if the loop has already gone.
        PostaEm(&laco, [&laco] { laco.quit(); });
    });
    janela.show();
    // The loop ends when the work has, or when the program is ending; the
    // worker is joined either way before anything here goes.
    if (!fim) laco.exec();
    trabalhador.join();
    janela.hide();
    if (erro) std::rethrow_exception(erro);
}
