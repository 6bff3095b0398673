#pragma once
// A fresh database on the test server for one test, dropped afterwards. The
// server and its credentials come from the VERUZADU_FB_* variables that
// scripts/test exports; without them the test is skipped.

#include "common/db/Firebird.h"
#include "tests/ServidorTeste.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

class BancoTeste : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    Attachment& Db() { return *db_; }
    Attachment NovaConexao() { return Attachment::Conecta(params_); }

    ServidorTeste servidor_;
    std::string arquivo_;  // server-side path
    ParametrosConexao params_;
    std::optional<Attachment> db_;
};

#define PRECISA_SERVIDOR()                                                                         \
    do {                                                                                           \
        if (!ServidorTeste::DoAmbiente())                                                          \
            SEM_SERVIDOR_TESTE()                                                                   \
                << "VERUZADU_FB_* not set: run through scripts/test, which starts Firebird";       \
    } while (0)
