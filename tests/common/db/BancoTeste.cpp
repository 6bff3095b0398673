#include "BancoTeste.h"

#include <atomic>
#include <cstdlib>
#include <unistd.h>

void BancoTeste::SetUp() {
    auto s = ServidorTeste::DoAmbiente();
    if (!s)
        SEM_SERVIDOR_TESTE()
            << "VERUZADU_FB_* not set: run through scripts/test, which starts Firebird";
    servidor_ = *s;
    static std::atomic<int> contador{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    arquivo_ = servidor_.pasta + "/" + info->name() + "-" + std::to_string(getpid()) + "-" +
               std::to_string(contador++) + ".fdb";
    params_ = servidor_.Parametros(arquivo_);
    db_.emplace(Attachment::Cria(params_));
}

void BancoTeste::TearDown() {
    if (db_) {
        try {
            db_->ApagaBanco();
        } catch (const FirebirdError& e) {
            ADD_FAILURE() << "drop failed: " << e.what();
        }
        db_.reset();
    }
}
