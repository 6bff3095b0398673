#include "service/AlertaEmail.h"

#include <gtest/gtest.h>

#include <atomic>

TEST(AlertaEmail, QueuesOnlyEnabledCategoriesWithSomethingToSend) {
    std::atomic<int> ativas{AlertaFalha};
    AlertasEmail alertas([&] { return ativas.load(); });
    auto fila = std::make_shared<FilaEmails>();
    alertas.DefineFila(fila);

    alertas.EnfileiraAlertaEmail(AlertaCapacidade, nullptr, "disco");  // category off
    alertas.EnfileiraAlertaEmail(AlertaFalha, nullptr, "");            // nothing to send
    EXPECT_EQ(alertas.ContagemFilaEmails(), 0u);

    const std::vector<std::string> linhas{"a", "b"};
    alertas.EnfileiraAlertaEmail(AlertaFalha, &linhas, "ignored");
    alertas.EnfileiraAlertaEmail(AlertaFalha, nullptr, "texto");
    ASSERT_EQ(fila->Quantidade(), 2u);
    auto primeiro = fila->RetiraPrimeiro();
    EXPECT_EQ(primeiro->FCategoria, AlertaFalha);
    EXPECT_EQ(primeiro->FLinhas, linhas);
    EXPECT_EQ(fila->RetiraPrimeiro()->FLinhas, std::vector<std::string>{"texto"});

    // Once released, queuing does nothing.
    alertas.DefineFila(nullptr);
    ativas = AlertaFalha | AlertaCapacidade;
    alertas.EnfileiraAlertaEmail(AlertaCapacidade, nullptr, "x");
    EXPECT_EQ(alertas.ContagemFilaEmails(), 0u);
    EXPECT_EQ(fila->Quantidade(), 0u);
}
