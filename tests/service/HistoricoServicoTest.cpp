#include "service/HistoricoServico.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "tests/support/BancoServicoTeste.h"

namespace {

struct Linha {
    int codigo, operacao, usuario;
    std::string nomeUsuario, detalhe;
    bool temData;
};

std::vector<Linha> LeHistorico(const BancoServicoTeste& b) {
    Attachment att = b.Conecta();
    Transaction tr(att, true);
    Statement st(tr, "SELECT LOG_CODIGO, LOG_OPERACAO, USR_CODIGO, LOG_USUARIO, LOG_DETALHES, "
                     "LOG_DATARG FROM LOGHISTORY ORDER BY LOG_CODIGO");
    Cursor c = st.Abre();
    std::vector<Linha> linhas;
    while (c.Proxima())
        linhas.push_back(
            {c.GetInt(0), c.GetInt(1), c.GetInt(2), c.GetText(3), c.GetText(4), !c.IsNull(5)});
    return linhas;
}

}  // namespace

TEST(HistoricoServico, DetalheSemParentesesCortadoEmCentoEVinte) {
    EXPECT_EQ(DetalheHistorico("GERDOWNPABX: falha (\"SELECT\" (x)) [y]"),
              "GERDOWNPABX: falha \"SELECT\" x [y]");
    EXPECT_EQ(DetalheHistorico(std::string(200, 'a')), std::string(120, 'a'));
    EXPECT_EQ(DetalheHistorico("(" + std::string(119, 'b') + ")é"), std::string(119, 'b') + "é");
    EXPECT_EQ(DetalheHistorico("seta → fim"), "seta ? fim");
}

// A level-4 line goes from the log through the queue into LOGHISTORY with its
// quote kept, its round brackets gone and its length cut.
TEST(HistoricoServico, LinhaDeErroViraLinhaDoHistorico) {
    BancoServicoTeste b("historico");
    EXIGE_BANCO(b);
    PastaTemporaria pasta;
    LogServico log(pasta.Caminho());
    auto fila = std::make_shared<FilaMensagens>();
    log.DefineMascara(LogSempre | LogErro);
    log.DefineFilaLogBD(fila);
    BancoServico banco(log, b.Parametros());
    HistoricoServico historico(banco);

    const std::string texto =
        "GERDOWNPABX: can't (\"INSERT INTO DWNHISTORY\" [x]) " + std::string(150, 'z');
    log.Log(LogErro, false, texto);
    log.Log(LogInfo, false, "informacao nao entra");  // not in the mask
    ASSERT_EQ(fila->Quantidade(), 1u);
    EXPECT_TRUE(historico.GravaLogEmBancoDados(*fila));
    EXPECT_EQ(fila->Quantidade(), 0u);
    EXPECT_FALSE(historico.GravaLogEmBancoDados(*fila));
    EXPECT_EQ(historico.GravaMensagemLogBD(Operacao::ServicoIniciado, ""),
              ResultadoHistorico::Gravado);

    const auto linhas = LeHistorico(b);
    ASSERT_EQ(linhas.size(), 2u);
    EXPECT_EQ(linhas[0].codigo, 1);
    EXPECT_EQ(linhas[0].operacao, 104);
    EXPECT_EQ(linhas[0].usuario, 65535);
    EXPECT_EQ(linhas[0].nomeUsuario, "");
    EXPECT_TRUE(linhas[0].temData);
    const std::string esperado =
        ("GERDOWNPABX: can't \"INSERT INTO DWNHISTORY\" [x] " + std::string(150, 'z'))
            .substr(0, 120);
    EXPECT_EQ(linhas[0].detalhe, esperado);
    EXPECT_EQ(linhas[1].codigo, 2);
    EXPECT_EQ(linhas[1].operacao, 101);
    EXPECT_EQ(linhas[1].detalhe, "");
}

// Two writers that compute the same next code: the loser reads again and
// retries, so every row is kept.
TEST(HistoricoServico, DoisEscritoresMantemSuasLinhas) {
    BancoServicoTeste b("concorrentes");
    EXIGE_BANCO(b);
    PastaTemporaria pasta;
    LogServico log(pasta.Caminho());
    log.DefineMascara(31);
    BancoServico banco(log, b.Parametros());
    constexpr int porEscritor = 120;
    std::vector<std::thread> ts;
    std::atomic<int> falhas{0};
    for (int e = 0; e < 2; ++e)
        ts.emplace_back([&, e] {
            HistoricoServico historico(banco);
            for (int i = 0; i < porEscritor; ++i)
                if (historico.GravaMensagemLogBD(104, "escritor " + std::to_string(e) + " linha " +
                                                          std::to_string(i)) !=
                    ResultadoHistorico::Gravado)
                    ++falhas;
        });
    for (auto& t : ts) t.join();
    EXPECT_EQ(falhas.load(), 0);
    const auto linhas = LeHistorico(b);
    ASSERT_EQ(linhas.size(), 2u * porEscritor);
    std::set<std::string> textos;
    for (std::size_t i = 0; i < linhas.size(); ++i) {
        EXPECT_EQ(linhas[i].codigo, static_cast<int>(i) + 1);
        textos.insert(linhas[i].detalhe);
    }
    EXPECT_EQ(textos.size(), 2u * porEscritor);
}

// While the server cannot be reached the rows wait in order at the head of
// the queue, attempts are spaced out, and the writer's own failure lines never
// join the queue; once the server is back every row is written, in order.
TEST(HistoricoServico, LinhasSobrevivemABancoParado) {
    BancoServicoTeste b("parado");
    EXIGE_BANCO(b);
    PastaTemporaria pasta;
    LogServico log(pasta.Caminho());
    auto fila = std::make_shared<FilaMensagens>();
    log.DefineMascara(31);
    log.DefineFilaLogBD(fila);
    BancoServico banco(log, ParametrosInalcancaveis(b.Parametros(), b.arquivo));
    auto agora = std::chrono::steady_clock::time_point{} + std::chrono::hours(1);
    HistoricoServico historico(banco, [&] { return agora; });

    for (int i = 0; i < 3; ++i) log.Log(LogErro, false, "erro " + std::to_string(i));
    ASSERT_EQ(fila->Quantidade(), 3u);

    EXPECT_FALSE(historico.GravaLogEmBancoDados(*fila));
    EXPECT_TRUE(historico.EmEspera());
    EXPECT_FALSE(historico.GravaLogEmBancoDados(*fila));  // waiting: no attempt
    agora += std::chrono::seconds(1);
    EXPECT_FALSE(historico.GravaLogEmBancoDados(*fila));  // second failure, waits 2 s
    agora += std::chrono::seconds(1);
    EXPECT_TRUE(historico.EmEspera());
    EXPECT_EQ(fila->Quantidade(), 3u);
    EXPECT_EQ(fila->Primeiro()->FTexto, "erro 0");
    const std::string registro = LeTudo(log.ArquivoDoMes(Agora()));
    std::size_t falhas = 0;
    for (auto p = registro.find("INSLOGBD: "); p != std::string::npos;
         p = registro.find("INSLOGBD: ", p + 1))
        ++falhas;
    EXPECT_EQ(falhas, 2u);

    banco.DefineParametros(b.Parametros());
    agora += std::chrono::seconds(1);
    while (fila->Quantidade() > 0) ASSERT_TRUE(historico.GravaLogEmBancoDados(*fila));
    EXPECT_FALSE(historico.EmEspera());
    const auto linhas = LeHistorico(b);
    ASSERT_EQ(linhas.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(linhas[i].detalhe, "erro " + std::to_string(i));
}
