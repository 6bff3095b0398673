// The one reading of a unit's answer to a login, shared by the service's
// download session and the console's read-out and programming steps.

#include <gtest/gtest.h>

#include "common/pabx/RespostaLogin.h"

TEST(RespostaLogin, TabelaDeRespostas) {
    struct Caso {
        const char* prog;
        const char* ctrl;
        RespostaLogin esperada;
    };
    const Caso casos[] = {
        {"", "", RespostaLogin::Aguardando},
        // The login block's acknowledgement comes before the CTRL result.
        {"OK", "", RespostaLogin::Aceito},
        {"", "OK", RespostaLogin::Aceito},
        {"OK", "OK", RespostaLogin::Aceito},
        // A wrong password: the CTRL result's text.
        {"", "Senha inválida", RespostaLogin::Recusado},
        // The link dropped while waiting.
        {"NOK", "", RespostaLogin::Recusado},
        {"NOK", "Senha inválida", RespostaLogin::Recusado},
    };
    for (const Caso& c : casos)
        EXPECT_EQ(AvaliaRespostaLogin(c.prog, c.ctrl), c.esperada)
            << "PROG '" << c.prog << "' CTRL '" << c.ctrl << "'";
}
