#pragma once
// A database of its own on the test server for one test, dropped at the end.
// The server and its administrator's login come from the VERUZADU_FB_*
// variables scripts/test exports (ServidorTeste); without them nothing is
// made and the test skips itself (EXIGE_BANCO, or the fixture BancoTeste).

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <initializer_list>
#include <optional>
#include <string>

#include "common/db/Firebird.h"
#include "common/db/Script.h"
#include "tests/support/ServidorTeste.h"

class BancoTemporario {
  public:
    // `nome` keeps the files of tests apart; `script`, when given, is run on
    // the new database.
    explicit BancoTemporario(const std::string& nome, const std::string& script = {}) {
        auto s = ServidorTeste::DoAmbiente();
        if (!s) return;
        srv = *s;
        static std::atomic<int> contador{0};
        arquivo = srv.pasta + "/" + nome + "-" + std::to_string(::getpid()) + "-" +
                  std::to_string(++contador) + ".fdb";
        conexao = srv.Parametros(arquivo);
        Attachment att = Attachment::Cria(conexao, "WIN1252");
        if (!script.empty()) ExecutaScript(att, script);
        att.Desconecta();
        pronto = true;
    }
    ~BancoTemporario() {
        if (!pronto) return;
        try {
            Apaga();
        } catch (...) {
        }
    }
    BancoTemporario(const BancoTemporario&) = delete;
    BancoTemporario& operator=(const BancoTemporario&) = delete;

    bool Pronto() const { return pronto; }
    Attachment Conecta() const { return Attachment::Conecta(conexao); }
    // Runs statements, each committed on its own.
    void Executa(std::initializer_list<std::string> sqls) const {
        Attachment att = Conecta();
        for (const auto& s : sqls) att.Executa(s);
        att.Desconecta();
    }
    // Drops it now; a failure (a connection still open) is thrown.
    void Apaga() {
        pronto = false;
        Conecta().ApagaBanco();
    }

    ServidorTeste srv;
    std::string arquivo;  // server-side path
    ParametrosConexao conexao;
    bool pronto = false;
};

#define EXIGE_BANCO(b)                                                                             \
    if (!(b).Pronto()) SEM_SERVIDOR_TESTE() << "no test server (run through scripts/test)"

// The same as a fixture: an empty database per test, named after it, with a
// connection (Db()) open while the test runs. A drop that fails at the end
// fails the test.
class BancoTeste : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ServidorTeste::DoAmbiente())
            SEM_SERVIDOR_TESTE()
                << "VERUZADU_FB_* not set: run through scripts/test, which starts Firebird";
        banco_.emplace(::testing::UnitTest::GetInstance()->current_test_info()->name());
        servidor_ = banco_->srv;
        arquivo_ = banco_->arquivo;
        params_ = banco_->conexao;
        db_.emplace(banco_->Conecta());
    }
    void TearDown() override {
        if (!db_) return;
        try {
            db_->ApagaBanco();
            banco_->pronto = false;
        } catch (const FirebirdError& e) {
            ADD_FAILURE() << "drop failed: " << e.what();
        }
        db_.reset();
    }
    Attachment& Db() { return *db_; }
    Attachment NovaConexao() { return Attachment::Conecta(params_); }

    ServidorTeste servidor_;
    std::string arquivo_;  // server-side path
    ParametrosConexao params_;
    std::optional<BancoTemporario> banco_;
    std::optional<Attachment> db_;
};
