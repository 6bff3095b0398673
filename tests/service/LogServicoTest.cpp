#include "service/LogServico.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <sstream>
#include <thread>

#include "tests/support/PastaTemporaria.h"

namespace {

struct RelogioFixo {
    DataHora agora;
    DataHora operator()() const { return agora; }
};

std::vector<std::string> Linhas(const std::string& conteudo) {
    std::vector<std::string> linhas;
    std::size_t inicio = 0;
    while (inicio < conteudo.size()) {
        const auto fim = conteudo.find("\r\n", inicio);
        if (fim == std::string::npos) {
            linhas.push_back(conteudo.substr(inicio) + "<sem CRLF>");
            break;
        }
        linhas.push_back(conteudo.substr(inicio, fim - inicio));
        inicio = fim + 2;
    }
    return linhas;
}

}  // namespace

TEST(LogServico, LinhaComDataDoisBrancosECRLF) {
    const DataHora quando{2024, 6, 5, 7, 8, 9, 10};
    EXPECT_EQ(LinhaLog(quando, "Iniciando"), "05/06/24 07:08:09 010  Iniciando\r\n");
    EXPECT_EQ(LinhaLog(quando, "a\r\nb\nc"), "05/06/24 07:08:09 010  a  b c\r\n");
}

// What each level does under each mask: written to the file, queued for the
// consoles (only while one is connected), queued as a history row with which
// operation code, and whether the main loop is woken.
TEST(LogServico, TabelaDaMascara) {
    struct Caso {
        std::uint16_t mascara;
        std::uint16_t nivel;
        bool console;
        bool conectado;
        bool escrito;
        bool paraConsole;
        int codigoHistorico;  // 0 = no row
    };
    const Caso casos[] = {
        {1, LogSempre, true, true, true, true, 0},
        {1, LogInfo, true, true, false, false, 0},
        {1, LogErro, true, true, false, false, 0},  // no [Log] key: errors vanish
        {1 | 4, LogErro, false, true, true, false, 104},
        {1 | 4, LogErro, true, true, true, true, 104},
        {1 | 2, LogInfo, true, false, true, false, 0},  // no console connected
        {1 | 2, LogInfo, true, true, true, true, 0},
        {1 | 8, LogPABX, false, true, true, false, 103},
        {1 | 16, LogSDCard, false, true, true, false, 103},
        {1 | 2 | 4, LogPABX, false, true, false, false, 0},
        {0, LogSempre, true, true, false, false, 0},  // before the start sets the mask
        {31, LogErro | LogInfo, false, true, true, false, 103},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE("mascara " + std::to_string(c.mascara) + " nivel " + std::to_string(c.nivel));
        PastaTemporaria pasta;
        LogServico log(pasta.Caminho(), RelogioFixo{{2024, 6, 15, 10, 0, 0, 0}});
        auto console = std::make_shared<FilaMensagens>();
        auto historico = std::make_shared<FilaMensagens>();
        int despertares = 0, avisosTimer = 0;
        log.DefineMascara(c.mascara);
        log.DefineFilaConsole(console);
        log.DefineFilaLogBD(historico);
        log.DefineDespertador([&] { ++despertares; });
        log.DefineAoEnfileirarConsole([&] { ++avisosTimer; });
        log.DefineConsoleConectado(c.conectado);

        log.Log(c.nivel, c.console, "GERDOWNPABX: falha (SELECT 1)");

        const auto arquivo = pasta.Caminho() / "GRV202406.LOG";
        EXPECT_EQ(std::filesystem::exists(arquivo), c.escrito);
        if (c.escrito) {
            EXPECT_EQ(LeTudo(arquivo), "15/06/24 10:00:00 000  GERDOWNPABX: falha (SELECT 1)\r\n");
        }
        EXPECT_EQ(despertares, c.escrito ? 1 : 0);
        ASSERT_EQ(console->Quantidade(), c.paraConsole ? 1u : 0u);
        EXPECT_EQ(avisosTimer, c.paraConsole ? 1 : 0);
        if (c.paraConsole) {
            EXPECT_EQ(console->Primeiro()->FTexto, "LOG;PABX000;GERDOWNPABX: falha (SELECT 1)");
        }
        ASSERT_EQ(historico->Quantidade(), c.codigoHistorico ? 1u : 0u);
        if (c.codigoHistorico) {
            EXPECT_EQ(historico->Primeiro()->FCodigo, c.codigoHistorico);
            EXPECT_EQ(historico->Primeiro()->FTexto, "GERDOWNPABX: falha (SELECT 1)");
        }
    }
}

TEST(LogServico, SemFilasNadaEnfileiraEOProprioErroDoGravadorNaoViraLinha) {
    PastaTemporaria pasta;
    LogServico log(pasta.Caminho(), RelogioFixo{{2024, 6, 15, 10, 0, 0, 0}});
    log.DefineMascara(31);
    log.DefineConsoleConectado(true);
    log.Log(LogErro, true, "antes das filas");  // file only

    auto historico = std::make_shared<FilaMensagens>();
    log.DefineFilaLogBD(historico);
    log.LogSemHistorico(LogErro, false, "INSLOGBD: sem servidor");
    EXPECT_EQ(historico->Quantidade(), 0u);
    log.DefineFilaLogBD(nullptr);
    log.Log(LogErro, false, "depois da parada");
    EXPECT_EQ(historico->Quantidade(), 0u);
    EXPECT_EQ(Linhas(LeTudo(pasta.Caminho() / "GRV202406.LOG")).size(), 3u);
}

TEST(LogServico, NovoMesNovoArquivoEArquivoExistenteEmOutraCaixa) {
    PastaTemporaria pasta;
    DataHora agora{2024, 6, 30, 23, 59, 59, 999};
    LogServico log(pasta.Caminho(), [&] { return agora; });
    log.DefineMascara(1);
    Grava(pasta.Caminho() / "grv202406.log", "antiga\r\n");
    log.Log(LogSempre, false, "junho");
    agora = {2024, 7, 1, 0, 0, 0, 0};
    log.Log(LogSempre, false, "julho");
    EXPECT_EQ(LeTudo(pasta.Caminho() / "grv202406.log"),
              "antiga\r\n30/06/24 23:59:59 999  junho\r\n");
    EXPECT_FALSE(std::filesystem::exists(pasta.Caminho() / "GRV202406.LOG"));
    EXPECT_EQ(LeTudo(pasta.Caminho() / "GRV202407.LOG"), "01/07/24 00:00:00 000  julho\r\n");
}

TEST(LogServico, ArquivoQueNaoAbrePerdeALinhaInteira) {
    PastaTemporaria pasta;
    LogServico log(pasta.Caminho() / "nao-existe", RelogioFixo{{2024, 6, 15, 10, 0, 0, 0}});
    auto historico = std::make_shared<FilaMensagens>();
    int despertares = 0;
    log.DefineMascara(31);
    log.DefineFilaLogBD(historico);
    log.DefineDespertador([&] { ++despertares; });
    log.Log(LogErro, false, "perdida");
    EXPECT_EQ(historico->Quantidade(), 0u);
    EXPECT_EQ(despertares, 0);
}

// 8 threads x 2,000 lines: every line whole, each thread's lines in its order,
// and the history queue in file order.
TEST(LogServico, OitoThreadsLinhasInteirasEEmOrdem) {
    PastaTemporaria pasta;
    LogServico log(pasta.Caminho());
    auto historico = std::make_shared<FilaMensagens>();
    log.DefineMascara(31);
    log.DefineFilaLogBD(historico);
    constexpr int threads = 8, linhas = 2000;
    std::vector<std::thread> ts;
    for (int t = 0; t < threads; ++t)
        ts.emplace_back([&, t] {
            for (int i = 0; i < linhas; ++i)
                log.Log(i % 2 ? LogErro : LogInfo, false,
                        "thread " + std::to_string(t) + " linha " + std::to_string(i) +
                            std::string(40, 'x'));
        });
    for (auto& t : ts) t.join();

    std::string conteudo;
    for (const auto& e : std::filesystem::directory_iterator(pasta.Caminho()))
        conteudo += LeTudo(e.path());  // a month boundary may split the run
    const auto lidas = Linhas(conteudo);
    ASSERT_EQ(lidas.size(), static_cast<std::size_t>(threads * linhas));
    std::vector<int> proxima(threads, 0);
    std::vector<std::string> erros;
    for (const auto& l : lidas) {
        ASSERT_GT(l.size(), 23u) << l;
        int t = -1, i = -1;
        char resto[64] = {};
        ASSERT_EQ(std::sscanf(l.c_str() + 23, "thread %d linha %d%63s", &t, &i, resto), 3) << l;
        ASSERT_EQ(std::string(resto), std::string(40, 'x')) << l;
        ASSERT_TRUE(t >= 0 && t < threads) << l;
        ASSERT_EQ(i, proxima[t]) << l;
        ++proxima[t];
        if (i % 2) erros.push_back(l.substr(23));
    }
    const auto fila = historico->RetiraTodos();
    ASSERT_EQ(fila.size(), erros.size());
    for (std::size_t k = 0; k < fila.size(); ++k) EXPECT_EQ(fila[k].FTexto, erros[k]);
}

TEST(LogServico, LimiteDaLimpeza) {
    EXPECT_EQ(LimiteLimpezaLog({2024, 6, 15}), "202405");
    EXPECT_EQ(LimiteLimpezaLog({2024, 3, 31}), "202402");
    EXPECT_EQ(LimiteLimpezaLog({2024, 1, 10}), "202312");
}

// Cleanup on 15/06/2024: only monthly service and console logs before May go;
// every other name survives, whatever it sorts like.
TEST(LogServico, LimpezaApagaSoLogsMensaisAntigos) {
    PastaTemporaria pasta;
    LogServico log(pasta.Caminho(), RelogioFixo{{2024, 6, 15, 12, 0, 0, 0}});
    log.DefineMascara(1 | 2);
    struct Caso {
        const char* nome;
        bool apagado;
    };
    const Caso casos[] = {
        {"GRV202404.LOG", true},      {"GRE202312.LOG", true},  {"grv202301.log", true},
        {"Gre202403.Log", true},      {"GRV202405.LOG", false}, {"GRV202406.LOG", false},
        {"GRE202405.LOG", false},     {"Veruzadu.log", false},  {"ABC.log", false},
        {"IMP202301.LOG", false},     {"GRV2024.LOG", false},   {"GRV20240A.LOG", false},
        {"GRV202301.LOG.bak", false}, {"GRV202301.TXT", false}, {"xGRV202301.LOG", false},
        {"VERUZADU.INI", false},
    };
    for (const auto& c : casos) Grava(pasta.Caminho() / c.nome, "x");
    std::filesystem::create_directory(pasta.Caminho() / "GRV202201.LOG");  // a folder stays

    EXPECT_EQ(log.RealizaLimpezaLog(), 4);
    for (const auto& c : casos)
        EXPECT_EQ(std::filesystem::exists(pasta.Caminho() / c.nome), !c.apagado) << c.nome;
    EXPECT_TRUE(std::filesystem::exists(pasta.Caminho() / "GRV202201.LOG"));
    EXPECT_EQ(log.UltimaLimpezaLog(), (DataHora{2024, 6, 15, 12, 0, 0, 0}));
    const std::string registro = LeTudo(pasta.Caminho() / "GRV202406.LOG");
    EXPECT_NE(registro.find("Removido log: " + (pasta.Caminho() / "GRV202404.LOG").string()),
              std::string::npos);
}
