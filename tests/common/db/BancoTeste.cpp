#include "BancoTeste.h"

#include <atomic>
#include <cstdlib>
#include <unistd.h>

std::optional<ServidorTeste> ServidorTeste::DoAmbiente()
{
    const char* host = std::getenv("VERUZADU_FB_HOST");
    const char* porta = std::getenv("VERUZADU_FB_PORT");
    const char* usuario = std::getenv("VERUZADU_FB_USER");
    const char* senha = std::getenv("VERUZADU_FB_PASSWORD");
    const char* pasta = std::getenv("VERUZADU_FB_DATA");
    if (!host || !usuario || !senha || !pasta || !*host || !*pasta)
        return std::nullopt;
    ServidorTeste s;
    s.host = host;
    s.porta = porta && *porta ? std::atoi(porta) : 3050;
    s.usuario = usuario;
    s.senha = senha;
    s.pasta = pasta;
    return s;
}

std::string ServidorTeste::Servidor() const
{
    return porta == 3050 ? host : host + "/" + std::to_string(porta);
}

std::string ServidorTeste::Conexao(const std::string& arquivo) const
{
    return MontaStringConexao(host, porta, arquivo);
}

ParametrosConexao ServidorTeste::Parametros(const std::string& arquivo) const
{
    return ParametrosConexao{Conexao(arquivo), usuario, senha};
}

void BancoTeste::SetUp()
{
    auto s = ServidorTeste::DoAmbiente();
    if (!s)
        GTEST_SKIP() << "VERUZADU_FB_* not set: run through scripts/test, which starts Firebird";
    servidor_ = *s;
    static std::atomic<int> contador{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    arquivo_ = servidor_.pasta + "/" + info->name() + "-" + std::to_string(getpid()) + "-" +
               std::to_string(contador++) + ".fdb";
    params_ = servidor_.Parametros(arquivo_);
    db_.emplace(Attachment::Cria(params_));
}

void BancoTeste::TearDown()
{
    if (db_) {
        try {
            db_->ApagaBanco();
        } catch (const FirebirdError& e) {
            ADD_FAILURE() << "drop failed: " << e.what();
        }
        db_.reset();
    }
}
