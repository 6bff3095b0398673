#include "service/InstalacaoServico.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "tests/support/PastaTemporaria.h"

TEST(InstalacaoServico, WritesAndRemovesTheUnit) {
    const PastaTemporaria pasta;
    OpcoesUnidadeServico o;
    o.pastaUnidades = pasta.Caminho();
    o.executavel = "/opt/veruzadu/pelmoran";
    o.pastaPrograma = "/var/lib/veruzadu dados/";
    std::istringstream entrada("n\n");
    std::ostringstream saida;
    ASSERT_EQ(InstalaServico(o, entrada, saida), 0) << saida.str();

    const std::string unidade = LeTudo(pasta / "ServicoVeruzaduQuv.service");
    EXPECT_NE(unidade.find("Description=Serviço de Gravação Quv\n"), std::string::npos);
    EXPECT_NE(unidade.find("ExecStart=\"/opt/veruzadu/pelmoran\"\n"), std::string::npos);
    EXPECT_NE(unidade.find("Environment=\"VERUZADU_HOME=/var/lib/veruzadu dados/\"\n"),
              std::string::npos);
    EXPECT_NE(unidade.find("Restart=on-failure\n"), std::string::npos);
    EXPECT_NE(unidade.find("TimeoutStopSec="), std::string::npos);
    // Without a database server on the machine the question was asked and
    // answered "no": the dependency stays.
    EXPECT_NE(unidade.find("Wants=network-online.target firebird3.0.service\n"), std::string::npos);
    EXPECT_NE(unidade.find("After=network-online.target firebird3.0.service\n"), std::string::npos);
    if (!FirebirdInstalado()) {
        EXPECT_NE(saida.str().find("Deseja remover esta verificação de dependência ?"),
                  std::string::npos);
    }

    std::ostringstream saida2;
    EXPECT_EQ(DesinstalaServico(o, saida2), 0);
    EXPECT_FALSE(std::filesystem::exists(pasta / "ServicoVeruzaduQuv.service"));
}

TEST(InstalacaoServico, UnitWithoutDatabaseDependency) {
    OpcoesUnidadeServico o;
    o.executavel = "/usr/bin/pelmoran";
    o.dependeFirebird = false;
    const std::string unidade = TextoUnidade(o);
    EXPECT_EQ(unidade.find("firebird"), std::string::npos);
    EXPECT_EQ(unidade.find("Environment="), std::string::npos);
    EXPECT_NE(unidade.find("Wants=network-online.target\n"), std::string::npos);
}

TEST(InstalacaoServico, ExecStartKeepsBlanksAndPercentSigns) {
    OpcoesUnidadeServico o;
    o.executavel = "/opt/grava 100%/pel\"moran";
    EXPECT_NE(TextoUnidade(o).find("ExecStart=\"/opt/grava 100%%/pel\\\"moran\"\n"),
              std::string::npos)
        << TextoUnidade(o);
}
