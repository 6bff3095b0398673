// The console tests' main: the offscreen QApplication every window test
// needs, made before any test runs (no display is ever used).
//
// A box that no test answers would wait for a click that never comes: one
// left open for a minute fails the running test with its text and is closed,
// so the run goes on.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <cstdlib>
#include <map>

#include "common/Configuracao.h"

namespace {

void VigiaCaixasEsquecidas() {
    struct Aberta {
        QPointer<QMessageBox> caixa;
        std::chrono::steady_clock::time_point desde;
    };
    static std::map<const QMessageBox*, Aberta> abertas;
    auto* vigia = new QTimer(qApp);
    QObject::connect(vigia, &QTimer::timeout, [] {
        const auto agora = std::chrono::steady_clock::now();
        for (auto it = abertas.begin(); it != abertas.end();)
            it = it->second.caixa && it->second.caixa->isVisible() ? std::next(it)
                                                                   : abertas.erase(it);
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* caixa = qobject_cast<QMessageBox*>(w);
            if (!caixa || !caixa->isVisible()) continue;
            const auto [it, nova] = abertas.try_emplace(caixa, Aberta{caixa, agora});
            if (nova || agora - it->second.desde < std::chrono::minutes(1)) continue;
            ADD_FAILURE() << "a message box nobody answered: " << caixa->windowTitle().toStdString()
                          << ": " << caixa->text().toStdString();
            abertas.erase(it);
            caixa->reject();
        }
    });
    vigia->start(1000);
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    VigiaCaixasEsquecidas();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
