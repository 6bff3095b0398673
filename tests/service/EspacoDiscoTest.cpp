#include "service/EspacoDisco.h"

#include <gtest/gtest.h>

#include <limits>

#include "common/Processos.h"
#include "service/AlertaEmail.h"
#include "service/LogServico.h"
#include "tests/support/PastaTemporaria.h"

namespace {

// The file system as the test wants it.
class DiscoFalso final : public ConsultaDisco {
  public:
    std::optional<TamanhoDisco> tamanho;
    std::optional<TamanhoDisco> Consulta(const std::string&) const override { return tamanho; }
};

struct Ambiente {
    PastaTemporaria pasta;
    DataHora agora{2026, 3, 10, 8, 0, 0, 0};
    LogServico log{pasta.Caminho(), [this] { return agora; }};
    AlertasEmail alertas{[] { return 1; }};
    std::shared_ptr<FilaEmails> fila = std::make_shared<FilaEmails>();
    DiscoFalso disco;
    VerificacaoDisco verificacao{log, alertas, disco};

    Ambiente() {
        log.DefineMascara(1 | 2 | 4);
        alertas.DefineFila(fila);
    }
    void Tamanho(std::uint64_t livre, std::uint64_t total) {
        disco.tamanho = TamanhoDisco{livre, total, "/srv/dados"};
    }
    // Lines written since the last call.
    std::vector<std::string> Linhas() {
        std::vector<std::string> r;
        const std::string texto = LeTudo(log.ArquivoDoMes(agora));
        std::size_t i = lido;
        while (i < texto.size()) {
            const std::size_t fim = texto.find("\r\n", i);
            r.push_back(texto.substr(i + 23, fim - i - 23));  // after "dd/mm/yy hh:nn:ss zzz  "
            i = fim + 2;
        }
        lido = texto.size();
        return r;
    }
    std::size_t lido = 0;
};

constexpr std::uint64_t MiB = 1048576;

}  // namespace

TEST(EspacoDisco, LinhaEAlertaAbaixoDeUmQuintoLivreUmAlertaPorDia) {
    Ambiente a;
    const std::string baixo = "Alerta de pouco espaço em disco na unidade /srv/dados: Espaço "
                              "livre: 199 Mb do total de: 1000 Mb";

    a.Tamanho(199 * MiB, 1000 * MiB);  // 19.9 %
    a.verificacao.VerificaEspacoLivreEmDisco("/srv/dados/veruzadu");
    EXPECT_EQ(a.Linhas(), (std::vector<std::string>{"Verificando espaço em disco", baixo}));
    ASSERT_EQ(a.fila->Quantidade(), 1u);
    auto m = a.fila->RetiraPrimeiro();
    EXPECT_EQ(m->FCategoria, AlertaCapacidade);
    EXPECT_EQ(m->FLinhas, std::vector<std::string>{baixo});

    // 23 hours later: the line again, no mail.
    a.agora = SomaSegundos(a.agora, 23 * 3600);
    a.verificacao.VerificaEspacoLivreEmDisco("/srv/dados/veruzadu");
    EXPECT_EQ(a.Linhas(), (std::vector<std::string>{"Verificando espaço em disco", baixo}));
    EXPECT_EQ(a.fila->Quantidade(), 0u);

    // 24 hours after the alert: mailed again.
    a.agora = SomaSegundos(a.agora, 3600);
    a.verificacao.VerificaEspacoLivreEmDisco("/srv/dados/veruzadu");
    EXPECT_EQ(a.Linhas().size(), 2u);
    EXPECT_EQ(a.fila->Quantidade(), 1u);
    EXPECT_EQ(a.verificacao.UltimoAlertaDisco(), a.agora);
}

TEST(EspacoDisco, SemAlertaComUmQuintoLivreTotalZeroOuPastaAusente) {
    struct Caso {
        const char* nome;
        std::optional<TamanhoDisco> tamanho;
        std::vector<std::string> linhas;
    } casos[] = {
        {"20.0 %", TamanhoDisco{200 * MiB, 1000 * MiB, "/"}, {"Verificando espaço em disco"}},
        {"metade", TamanhoDisco{500, 1000, "/"}, {"Verificando espaço em disco"}},
        {"total 0",
         TamanhoDisco{0, 0, "/mnt/x"},
         {"Verificando espaço em disco", "Ver disk: Tamanho total do disco é zero (/mnt/x)"}},
        {"pasta fora deste computador", std::nullopt, {"Verificando espaço em disco"}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        Ambiente a;
        a.disco.tamanho = c.tamanho;
        a.verificacao.VerificaEspacoLivreEmDisco("/srv");
        EXPECT_EQ(a.Linhas(), c.linhas);
        EXPECT_EQ(a.fila->Quantidade(), 0u);
    }
}

TEST(EspacoDisco, LimiarEmInteirosSemEstouro) {
    constexpr auto max = std::numeric_limits<std::uint64_t>::max();
    EXPECT_TRUE(PoucoEspacoLivre(199, 1000));
    EXPECT_FALSE(PoucoEspacoLivre(200, 1000));
    EXPECT_FALSE(PoucoEspacoLivre(0, 0));
    EXPECT_TRUE(PoucoEspacoLivre(0, 1));
    // 2^64 - 1 is a multiple of 5: max / 5 is exactly a fifth.
    EXPECT_TRUE(PoucoEspacoLivre(max / 5 - 1, max));
    EXPECT_FALSE(PoucoEspacoLivre(max / 5, max));
    EXPECT_FALSE(PoucoEspacoLivre(max, max));
}

TEST(EspacoDisco, ConsultaLocalDaPastaESeuPontoDeMontagem) {
    PastaTemporaria pasta;
    const ConsultaDiscoLocal local;
    const auto t = local.Consulta(pasta.Caminho().string());
    ASSERT_TRUE(t.has_value());
    EXPECT_GT(t->Total, 0u);
    EXPECT_LE(t->Livre, t->Total);
    const std::string canonica = std::filesystem::canonical(pasta.Caminho()).string();
    EXPECT_EQ(canonica.rfind(t->Raiz, 0), 0u) << t->Raiz;
    EXPECT_FALSE(local.Consulta((pasta.Caminho() / "nao-existe").string()).has_value());
    EXPECT_FALSE(local.Consulta("").has_value());
    // /proc is a file system of its own: its mount point is itself.
    const auto proc = local.Consulta("/proc/self");
    if (proc) {
        EXPECT_EQ(proc->Raiz, "/proc");
    }
}

TEST(EspacoDisco, ServidorDoBancoNesteComputador) {
    for (const char* local :
         {"", "localhost", "LOCALHOST/3051", "127.0.0.1", "127.0.0.1/3050", "::1"})
        EXPECT_TRUE(ServidorNesteComputador(local)) << local;
    const std::string nome = NomeComputador();
    if (!nome.empty()) {
        EXPECT_TRUE(ServidorNesteComputador("\\\\" + nome));
        std::string minusculo = nome;
        for (auto& c : minusculo)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(ServidorNesteComputador(minusculo + "/3050"));
    }
    for (const auto& ip : ListaIPs()) EXPECT_TRUE(ServidorNesteComputador(ip)) << ip;
    EXPECT_FALSE(ServidorNesteComputador("192.0.2.77"));
    EXPECT_FALSE(ServidorNesteComputador("servidor-remoto.example"));
}
