// The console tests' main: the offscreen QApplication every window test
// needs, made before any test runs (no display is ever used).

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "common/Configuracao.h"

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    DefinePrograma(Programa::Console);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
