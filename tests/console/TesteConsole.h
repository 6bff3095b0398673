#pragma once
// What the console's tests share:
//  - ProgramaTeste (tests/support): a scratch installation per test with its
//    own program folder;
//  - EsperaAte / EsperaJanela: bounded waits that keep the event loop running;
//  - AoAbrir: acts on a named window as soon as it shows (for modal windows,
//    whose exec() would otherwise block the test);
//  - RelogioTeste: the clock handed to the console, moved by the test.
//
// Waits are generous (the machine is shared); a wait that runs out fails the
// test with the window's name instead of hanging.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <QtTest/QTest>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "tests/support/ProgramaTeste.h"

inline constexpr int EsperaPadraoMs = 30000;

// Runs the event loop until `condicao` holds or `limiteMs` passes.
inline bool EsperaAte(const std::function<bool()>& condicao, int limiteMs = EsperaPadraoMs) {
    QElapsedTimer t;
    t.start();
    while (!condicao()) {
        if (t.elapsed() > limiteMs) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// The visible top-level window with that object name, or nullptr.
inline QWidget* JanelaVisivel(const QString& nome) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->objectName() == nome) return w;
    return nullptr;
}

inline QWidget* EsperaJanela(const QString& nome, int limiteMs = EsperaPadraoMs) {
    QWidget* achada = nullptr;
    EsperaAte([&] { return (achada = JanelaVisivel(nome)) != nullptr; }, limiteMs);
    return achada;
}

// Once a window named `nome` is visible, runs `acao` on it (from the event
// loop, so also inside a modal exec()). The returned flag tells it ran.
inline std::shared_ptr<bool> AoAbrir(const QString& nome, std::function<void(QWidget*)> acao,
                                     int limiteMs = EsperaPadraoMs) {
    auto feito = std::make_shared<bool>(false);
    auto* timer = new QTimer;
    auto relogio = std::make_shared<QElapsedTimer>();
    relogio->start();
    QObject::connect(timer, &QTimer::timeout, [=] {
        if (QWidget* w = JanelaVisivel(nome)) {
            timer->stop();
            timer->deleteLater();
            *feito = true;
            acao(w);
        } else if (relogio->elapsed() > limiteMs) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "window " << nome.toStdString() << " never showed";
        }
    });
    timer->start(20);
    return feito;
}

// Clicks the message box's button (QMessageBox::Ok, Yes, No).
inline void Responde(QWidget* caixa, QMessageBox::StandardButton botao) {
    auto* box = qobject_cast<QMessageBox*>(caixa);
    ASSERT_NE(box, nullptr);
    QAbstractButton* b = box->button(botao);
    ASSERT_NE(b, nullptr);
    b->click();
}

inline QString TextoCaixa(QWidget* caixa) {
    auto* box = qobject_cast<QMessageBox*>(caixa);
    return box ? box->text() : QString();
}

// A clock the test moves.
struct RelogioTeste {
    DataHora agora{2026, 3, 10, 9, 0, 0, 0};
    void Avanca(long long segundos) { agora = SomaSegundos(agora, segundos); }
    std::function<DataHora()> Funcao() {
        return [this] { return agora; };
    }
};

// The visible message box whose text starts with `prefixo`, or nullptr.
inline QWidget* CaixaVisivel(const QString& prefixo) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<QMessageBox*>(w);
            b && b->isVisible() && b->text().startsWith(prefixo))
            return w;
    return nullptr;
}

// AoAbrir for a message box by the start of its text.
inline std::shared_ptr<bool> AoAbrirCaixa(const QString& prefixo,
                                          std::function<void(QWidget*)> acao,
                                          int limiteMs = EsperaPadraoMs) {
    auto feito = std::make_shared<bool>(false);
    auto* timer = new QTimer;
    auto relogio = std::make_shared<QElapsedTimer>();
    relogio->start();
    QObject::connect(timer, &QTimer::timeout, [=] {
        if (QWidget* w = CaixaVisivel(prefixo)) {
            timer->stop();
            timer->deleteLater();
            *feito = true;
            acao(w);
        } else if (relogio->elapsed() > limiteMs) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "message box " << prefixo.toStdString() << " never showed";
        }
    });
    timer->start(20);
    return feito;
}
