#include "service/VerificaSDCard.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <thread>

#include "service/AlertaEmail.h"
#include "tests/support/BancoServicoTeste.h"
#include "tools/pabx-sim/Simulator.h"

namespace {

constexpr int kCodigo = 7;

// A unit registered in a main database of its own, the service objects the
// check uses, and a simulated unit to ask.
struct Ambiente {
    BancoServicoTeste db{"sdcard"};
    PastaTemporaria pasta;
    LogServico log{pasta.Caminho()};
    std::unique_ptr<BancoServico> banco;
    int categorias = 3;
    AlertasEmail alertas{[this] { return categorias; }};
    std::shared_ptr<FilaEmails> fila = std::make_shared<FilaEmails>();
    std::unique_ptr<pabxsim::Simulator> sim;

    Ambiente() {
        if (!db.Pronto()) return;
        log.DefineMascara(31);
        banco = std::make_unique<BancoServico>(log, db.Parametros());
        alertas.DefineFila(fila);
        db.Executa({"INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_ULTVERIFSDC) "
                    "VALUES (7, 'Filial Sul', '2020-01-01 00:00:00')"});
    }
    ContextoSDCard Contexto(int dias = 7) { return ContextoSDCard{*banco, alertas, dias}; }

    void IniciaUnidade(std::int64_t total, std::int64_t livre, std::int64_t usado) {
        pabxsim::Scenario cenario;
        cenario.password = "4321";
        cenario.sdTotal = total;
        cenario.sdFree = livre;
        cenario.sdUsed = usado;
        sim = std::make_unique<pabxsim::Simulator>(cenario);
        sim->Start();
    }

    DadosVerificaSDCard Dados(std::uint16_t porta, std::uint16_t mascara = 31) const {
        DadosVerificaSDCard d;
        d.CodigoPABX = kCodigo;
        d.MascaraLog = mascara;
        d.DescricaoPABX = "Filial Sul";
        d.PastaPABX = (pasta.Caminho() / "PABX007").string() + "/";
        d.KELVEnderIP = "127.0.0.1";
        d.KELVPorta = porta;
        d.KELVSenha = "4321";
        return d;
    }

    // Runs one check to its end, as the main loop would.
    void Verifica(const DadosVerificaSDCard& dados) {
        TPABXVerificaSDCard t(dados, Contexto());
        t.Resume();
        ASSERT_TRUE(t.AguardaFim(std::chrono::seconds(120)));
        ASSERT_TRUE(t.Encerra(std::chrono::seconds(10)));
        EXPECT_EQ(t.EstadoThread(), 2);
    }

    struct Linha {
        bool nuloTotal = true;
        std::int64_t total = 0, livre = 0, usado = 0;
        DataHora verificacao, alerta;
    };
    Linha LeLinha() const {
        Attachment att = db.Conecta();
        Transaction tr(att, true);
        Statement st(tr, "SELECT PAB_SDCARDTOTAL, PAB_SDCARDFREE, PAB_SDCARDUSED, PAB_ULTVERIFSDC, "
                         "PAB_ULTALERTSDC FROM PABX WHERE PAB_CODIGO = ?");
        st.SetInt(0, kCodigo);
        Cursor c = st.Abre();
        Linha l;
        if (c.Proxima()) {
            l.nuloTotal = c.IsNull(0);
            l.total = c.GetBigInt(0);
            l.livre = c.GetBigInt(1);
            l.usado = c.GetBigInt(2);
            l.verificacao = c.GetTimestamp(3);
            l.alerta = c.GetTimestamp(4);
        }
        return l;
    }
    DataHora HoraServidor() const {
        Attachment att = db.Conecta();
        Transaction tr(att, true);
        Statement st(tr, "SELECT CURRENT_TIMESTAMP FROM RDB$DATABASE");
        Cursor c = st.Abre();
        c.Proxima();
        return c.GetTimestamp(0);
    }
    std::vector<std::string> Alertas() {
        std::vector<std::string> r;
        while (auto m = fila->RetiraPrimeiro()) {
            EXPECT_EQ(m->FCategoria, AlertaCapacidade);
            for (auto& l : m->FLinhas) r.push_back(l);
        }
        return r;
    }
    std::string LogUnidade() const {
        return LeTudo(pasta.Caminho() / "PABX007" /
                      ("SDCard" + FormataDataHora(Agora(), "yyyymm") + ".LOG"));
    }
    std::string LogServicoTexto() const { return LeTudo(log.ArquivoDoMes(Agora())); }
};

const std::string kTextoAlerta =
    "Alerta: ultrapassado 80% da capacidade do SDCard da central 007 - Filial Sul";

// A port on which nothing listens: bound, never listening, then closed.
std::uint16_t PortaFechada() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(fd);
    return ntohs(a.sin_port);
}

}  // namespace

TEST(VerificaSDCard, LimiarDeOitentaPorCentoEmInteiros) {
    constexpr auto max = std::numeric_limits<std::int64_t>::max();
    struct Caso {
        std::int64_t total, usado;
        bool cheio;
    } casos[] = {{1000, 799, false}, {1000, 800, true}, {100000, 79999, false},
                 {3, 3, true},       {0, 0, false},     {0, 5, false},
                 {-10, -9, false},   {max, max, true},  {max, max / 5 * 4, false},
                 {max, -1, false}};
    for (const auto& c : casos) {
        SCOPED_TRACE(std::to_string(c.total) + " " + std::to_string(c.usado));
        EXPECT_EQ(SDCardCheio(TVolumeSDCard{c.total, 0, c.usado}), c.cheio);
    }
}

TEST(VerificaSDCard, OcupacaoDoCartaoNaLinhaEAlertaEspacadoPorDias) {
    struct Caso {
        const char* nome;
        std::int64_t total, usado;
        const char* ultimoAlerta;  // SQL for the stored last alert, or null
        bool alerta;
    } casos[] = {
        {"79 %", 1'000'000, 790'000, nullptr, false},
        {"80 %, sem alerta anterior", 1'000'000, 800'000, nullptr, true},
        {"80 %, alerta 6 dias atrás", 1'000'000, 800'000, "DATEADD(-6 DAY TO CURRENT_TIMESTAMP)",
         false},
        {"80 %, alerta 7 dias atrás", 1'000'000, 800'000, "DATEADD(-7 DAY TO CURRENT_TIMESTAMP)",
         true},
        {"total 0", 0, 0, nullptr, false},
        {"valores extremos", std::numeric_limits<std::int64_t>::max(),
         std::numeric_limits<std::int64_t>::max(), nullptr, true},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        Ambiente a;
        EXIGE_BANCO(a.db);
        if (c.ultimoAlerta)
            a.db.Executa({std::string("UPDATE PABX SET PAB_ULTALERTSDC = ") + c.ultimoAlerta});
        const DataHora alertaAntes = a.LeLinha().alerta;
        a.IniciaUnidade(c.total, c.total - c.usado, c.usado);
        const DataHora antes = a.HoraServidor();
        a.Verifica(a.Dados(a.sim->Port()));

        const auto l = a.LeLinha();
        EXPECT_FALSE(l.nuloTotal);
        EXPECT_EQ(l.total, c.total);
        EXPECT_EQ(l.livre, c.total - c.usado);
        EXPECT_EQ(l.usado, c.usado);
        EXPECT_GE(SegundosDesdeEpoca(l.verificacao), SegundosDesdeEpoca(antes) - 1);
        const auto alertas = a.Alertas();
        if (c.alerta) {
            EXPECT_GE(SegundosDesdeEpoca(l.alerta), SegundosDesdeEpoca(antes) - 1);
            EXPECT_EQ(alertas, std::vector<std::string>{kTextoAlerta});
        } else {
            EXPECT_EQ(l.alerta, alertaAntes);
            EXPECT_TRUE(alertas.empty());
        }
        const std::string registro = a.LogUnidade();
        for (const std::string& linha : std::vector<std::string>{
                 "Verificando SDCard", "Conectando: 127.0.0.1:" + std::to_string(a.sim->Port()),
                 "Volume SDCard", "Total: " + std::to_string(c.total),
                 "Usado: " + std::to_string(c.usado), "Tratando volume SDCard"})
            EXPECT_NE(registro.find("  " + linha + "\r\n"), std::string::npos) << linha;
    }
}

TEST(VerificaSDCard, UnidadeSemVolumeMoveSoAHoraDaVerificacao) {
    struct Caso {
        const char* nome;
        const char* falha;  // fault rule of the unit, or null
        bool senhaErrada;
        bool semUnidade;                  // nothing listens on the port
        int timeOut;                      // PABXTimeOut, seconds
        std::vector<std::string> textos;  // the link's result in the unit's log
    } casos[] = {
        {"cartão ausente", "sdcard refuse=5", false, false, 30, {"Volume SDCard não suportado"}},
        {"sem resposta ao volume",
         "sdcard noreply",
         false,
         false,
         2,
         {"Volume SDCard não suportado"}},
        // Which step of the link notices the refused login is the link's own
        // business; the check only records what it says.
        {"senha errada",
         nullptr,
         true,
         false,
         2,
         {"Resposta ao login falhou", "Volume SDCard não suportado"}},
        {"ninguém escuta", nullptr, false, true, 30, {"Falha ao conectar PABX"}},
    };
    const int timeOutAntes = PABXTimeOut;
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        PABXTimeOut = c.timeOut;
        Ambiente a;
        EXIGE_BANCO(a.db);
        a.IniciaUnidade(1000, 0, 1000);
        if (c.falha) a.sim->AddFault(c.falha);
        auto dados = a.Dados(c.semUnidade ? PortaFechada() : a.sim->Port());
        if (c.senhaErrada) dados.KELVSenha = "9999";
        a.Verifica(dados);

        const auto l = a.LeLinha();
        EXPECT_TRUE(l.nuloTotal);
        EXPECT_GT(l.verificacao.ano, 2020);
        EXPECT_TRUE(l.alerta.Vazia());
        EXPECT_TRUE(a.Alertas().empty());
        const std::string registro = a.LogUnidade();
        EXPECT_TRUE(std::any_of(c.textos.begin(), c.textos.end(), [&](const std::string& t) {
            return registro.size() >= t.size() + 4 &&
                   registro.compare(registro.size() - t.size() - 2, t.size() + 2, t + "\r\n") == 0;
        })) << registro;
    }
    PABXTimeOut = timeOutAntes;
}

TEST(VerificaSDCard, SemBitDoSDCardNaoHaLogDaUnidade) {
    Ambiente a;
    EXIGE_BANCO(a.db);
    a.IniciaUnidade(1000, 500, 500);
    a.Verifica(a.Dados(a.sim->Port(), 1 | 2 | 4));
    EXPECT_FALSE(std::filesystem::exists(a.pasta.Caminho() / "PABX007"));
    EXPECT_EQ(a.LeLinha().usado, 500);
}

TEST(VerificaSDCard, LeituraDaSessaoDeDownloadNuncaAlerta) {
    Ambiente a;
    EXIGE_BANCO(a.db);
    ASSERT_TRUE(
        BDAtualizaSDCard(a.Contexto(), false, kCodigo, "Filial Sul", TVolumeSDCard{1000, 50, 950}));
    const auto l = a.LeLinha();
    EXPECT_EQ(l.usado, 950);
    EXPECT_TRUE(l.alerta.Vazia());
    EXPECT_TRUE(a.Alertas().empty());
}

TEST(VerificaSDCard, AlertaSoComACategoriaDeCapacidadeLigada) {
    for (int categorias : {0, 1, 2, 3}) {
        SCOPED_TRACE(categorias);
        Ambiente a;
        EXIGE_BANCO(a.db);
        a.categorias = categorias;
        ASSERT_TRUE(BDAtualizaSDCard(a.Contexto(), true, kCodigo, "Filial Sul",
                                     TVolumeSDCard{1000, 100, 900}));
        // The row records the alert either way: the alert is due once per period.
        EXPECT_FALSE(a.LeLinha().alerta.Vazia());
        EXPECT_EQ(a.Alertas().size(), (categorias & 1) ? 1u : 0u);
    }
}

TEST(VerificaSDCard, EscritorConcorrenteDaLinhaNaoCustaAAtualizacao) {
    Ambiente a;
    EXIGE_BANCO(a.db);
    // A console edits the unit's row and commits while the check waits for it.
    Attachment outro = a.db.Conecta();
    auto tr = std::make_unique<Transaction>(outro);
    tr->Executa("UPDATE PABX SET PAB_DESCRICAO = 'Filial Sul 2' WHERE PAB_CODIGO = 7");
    bool ok = false;
    std::thread verificacao([&] {
        ok = BDAtualizaSDCard(a.Contexto(), true, kCodigo, "Filial Sul",
                              TVolumeSDCard{1000, 100, 900});
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    tr->Commit();
    verificacao.join();
    EXPECT_TRUE(ok);
    const auto l = a.LeLinha();
    EXPECT_EQ(l.usado, 900);
    EXPECT_FALSE(l.alerta.Vazia());
    EXPECT_EQ(a.Alertas().size(), 1u);
    EXPECT_EQ(a.LogServicoTexto().find("UPDSDCard"), std::string::npos);
}

TEST(VerificaSDCard, ErrosDoBancoNoLogDoServico) {
    Ambiente a;
    EXIGE_BANCO(a.db);
    BancoServico inalcancavel(a.log, ParametrosInalcancaveis(a.db.Parametros(), a.db.arquivo));
    const ContextoSDCard ctx{inalcancavel, a.alertas, 7};
    EXPECT_FALSE(BDAtualizaSDCard(ctx, true, kCodigo, "Filial Sul", TVolumeSDCard{1000, 0, 1000}));
    EXPECT_FALSE(BDRegistraVerificacaoSDCard(ctx, kCodigo));
    const std::string registro = a.LogServicoTexto();
    EXPECT_NE(registro.find("  UPDSDCard: "), std::string::npos);
    EXPECT_NE(registro.find("  UPDTentaSDCard: "), std::string::npos);
    EXPECT_TRUE(a.Alertas().empty());
}
