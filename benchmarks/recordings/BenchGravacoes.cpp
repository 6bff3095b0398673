// Recordings searches on a busy unit: 27,400 recordings a day over June 2024
// (822,000 rows, no audio; 80 extensions, 50 of them in two groups), 20,000
// contacts in the main database (half of them with two phones) and a fifth of
// the recordings linked to one, their number being the contact's. Figures,
// each side against the other in interleaved pairs (benchmarks/Intercalado.h):
//
//   day      one day's search through LISTAGRV, fetched to its end, beside a
//            plain ordered SELECT of the same rows (goal: under 200 ms);
//   page     the recordings window's first page of the month for an
//            administrator, beside the plain call of its first window
//            (goal: under 150 ms);
//   operator the same first page for an operator who may see two extensions
//            and a name, beside the administrator's (goal: under 150 ms);
//   month    the whole month read through the window's list, beside the plain
//            SELECT * FROM LISTAGRV(?, ?) of the month (goal: at most 1.5x).
//
// Arguments name the figures to run (default: all). The filled databases are
// kept in $VERUZADU_BENCH_CACHE (a folder the server can write, e.g. one
// under the build folder; default $VERUZADU_FB_DATA) and reused. LISTAGRV
// is installed from the current text at each start; VERUZADU_BENCH_LISTAGRV
// names another procedure script to install over it (to measure an earlier
// text). Run it with benchmarks/run (server variables as for the tests).

#include <unistd.h>

#include <QCoreApplication>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "benchmarks/Intercalado.h"
#include "common/db/Esquema.h"
#include "common/db/Firebird.h"
#include "common/db/Instalacao.h"
#include "common/db/Script.h"
#include "console/Gravacoes.h"
#include "console/MDados.h"
#include "console/Mensageiro.h"

namespace {

constexpr int PorDia = 27'400;
constexpr int Dias = 30;
constexpr int Gravacoes = PorDia * Dias;
constexpr int Contatos = 20'000;
const char* const Alias = "VERUZADU_BENCH_MOVIMENTADA";
const DataHora InicioMes{2024, 6, 1, 0, 0, 0, 0};
const DataHora FimMes{2024, 6, 30, 23, 59, 59, 0};
const DataHora InicioDia{2024, 6, 10, 0, 0, 0, 0};
const DataHora FimDia{2024, 6, 10, 23, 59, 59, 0};

class SemMensagens final : public Mensageiro {
  public:
    RespostaMensagem Mostra(TipoMensagem, const std::string& texto) override {
        std::cerr << "message: " << texto << '\n';
        return RespostaMensagem::Ok;
    }
};

struct Ambiente {
    OpcoesInstalacao o;
    SemMensagens mensagens;
    std::unique_ptr<MDados> dados;
    std::filesystem::path home;

    ParametrosConexao Unidade() const {
        return {MontaStringConexao(o.servidor, o.porta,
                                   (o.pastaDados / NomeArquivoBancoPABX(1)).string()),
                o.usuario, o.senha};
    }
    ParametrosConexao Principal() const {
        return {MontaStringConexao(o.servidor, o.porta, Alias), o.usuario, o.senha};
    }
};

std::string Env(const char* n) {
    const char* v = std::getenv(n);
    return v ? v : "";
}

std::int64_t Conta(Attachment& att, const char* sql) {
    Transaction tr(att, true);
    Statement st(tr, sql);
    auto c = st.Abre();
    c.Proxima();
    return c.GetBigInt(0);
}

void Preenche(Ambiente& a) {
    Attachment principal = Attachment::Conecta(a.Principal());
    Attachment unidade = Attachment::Conecta(a.Unidade());
    if (Conta(unidade, "SELECT COUNT(*) FROM GRAVACAO") == Gravacoes &&
        Conta(principal, "SELECT COUNT(*) FROM CLIENTE") == Contatos)
        return;
    std::cerr << "filling " << Contatos << " contacts and " << Gravacoes
              << " recordings (kept for later runs)...\n";
    principal.Executa("DELETE FROM TELEFONE");
    principal.Executa("DELETE FROM CLIENTE");
    principal.Executa("DELETE FROM GRPRAMAL");
    principal.Executa("DELETE FROM GRUPO");
    principal.Executa("INSERT INTO GRUPO VALUES (1, 'Vendas')");
    principal.Executa("INSERT INTO GRUPO VALUES (2, 'Suporte')");
    principal.Executa("EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 50) DO BEGIN "
                      "INSERT INTO GRPRAMAL VALUES (1 + MOD(:I, 2), CAST(300 + :I AS VARCHAR(30)), "
                      "'Ramal ' || :I, 1); I = I + 1; END END");
    // Contact c has the number 4899 + c in 6 digits; even contacts a second one.
    principal.Executa(
        "EXECUTE BLOCK AS DECLARE I INTEGER = 1; BEGIN WHILE (I <= " + std::to_string(Contatos) +
        ") DO BEGIN INSERT INTO CLIENTE (CLI_CODIGO, CLI_DESCRICAO, CLI_IDENTIFICADOR) VALUES "
        "(:I, 'Contato ' || :I, LPAD(:I, 11, '0')); "
        "INSERT INTO TELEFONE (CLI_CODIGO, TEL_NUMERO, TEL_TIPO) VALUES (:I, '4899' || LPAD(:I, 6, "
        "'0'), 1); "
        "IF (MOD(:I, 2) = 0) THEN INSERT INTO TELEFONE (CLI_CODIGO, TEL_NUMERO, TEL_TIPO) VALUES "
        "(:I, '4898' || LPAD(:I, 6, '0'), 0); I = I + 1; END END");
    unidade.Executa("DELETE FROM GRAVACAO");
    // One recording every 86400 / 27400 s from June 1st; every fifth linked to
    // a contact spread over the whole register, called on its number.
    const std::string passo = std::to_string(86400.0 / PorDia);
    for (int bloco = 0; bloco < Gravacoes; bloco += 100'000)
        unidade.Executa(
            "EXECUTE BLOCK AS DECLARE I INTEGER = " + std::to_string(bloco) +
            "; DECLARE C INTEGER; BEGIN WHILE (I < " +
            std::to_string(std::min(bloco + 100'000, Gravacoes)) +
            ") DO BEGIN C = IIF(MOD(:I, 5) = 0, 1 + MOD(CAST(:I / 5 AS BIGINT) * 7919, " +
            std::to_string(Contatos) +
            "), 0); INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_RAMGRAVADO, GRV_DESTINO, "
            "GRV_DATARG, GRV_DATAGRV, GRV_IDFILE, GRV_TPLIGA, GRV_DURACAO, GRV_TEMAUDIO, "
            "CLI_CODIGO) "
            "VALUES (:I + 1, 1, CAST(300 + MOD(:I, 80) AS VARCHAR(20)), "
            "IIF(:C = 0, '4830' || :I, '4899' || LPAD(:C, 6, '0')), "
            "'NOW', TIMESTAMP '2024-06-01 00:00:00' + CAST(:I AS DOUBLE PRECISION) * " +
            passo +
            " / 86400, 'GR\\X\\R' || :I || '.WAV', MOD(:I, 3), 60, 1, :C); I = I + 1; END END");
    unidade.Executa("SET STATISTICS INDEX IX_GRAVACAO_DATAGRV");
}

std::string LeArquivo(const std::string& c) {
    std::ifstream in(c, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

Ambiente& Prepara() {
    static Ambiente a;
    const std::string cache =
        Env("VERUZADU_BENCH_CACHE").empty() ? Env("VERUZADU_FB_DATA") : Env("VERUZADU_BENCH_CACHE");
    if (cache.empty()) throw std::runtime_error("VERUZADU_FB_* not set");
    a.o.servidor = Env("VERUZADU_FB_HOST").empty() ? "localhost" : Env("VERUZADU_FB_HOST");
    a.o.porta = Env("VERUZADU_FB_PORT").empty() ? 0 : std::stoi(Env("VERUZADU_FB_PORT"));
    a.o.adminUsuario = Env("VERUZADU_FB_USER").empty() ? "SYSDBA" : Env("VERUZADU_FB_USER");
    a.o.adminSenha = Env("VERUZADU_FB_PASSWORD");
    a.o.pastaDados = std::filesystem::path(cache) / "bench-movimentada";
    a.o.alias = Alias;
    a.o.unidades = {1};
    std::filesystem::create_directories(a.o.pastaDados);
    std::filesystem::permissions(a.o.pastaDados, std::filesystem::perms::all);
    const std::string antigo = CaminhoDoAlias(a.o.arquivoAliases, Alias);
    if (!antigo.empty() && std::filesystem::path(antigo).parent_path() != a.o.pastaDados)
        RemoveAlias(a.o.arquivoAliases, Alias);
    InstalaBancos(a.o);
    Preenche(a);
    {
        Attachment unidade = Attachment::Conecta(a.Unidade());
        ExecutaScript(unidade, "SET TERM ^ ;\n" +
                                   ScriptLISTAGRV(std::string("localhost:") + Alias) +
                                   "\nSET TERM ; ^\n");
        const std::string outra = Env("VERUZADU_BENCH_LISTAGRV");
        if (!outra.empty()) {
            std::cerr << "LISTAGRV from " << outra << '\n';
            std::string texto = LeArquivo(outra);
            const std::string alvo = std::string("localhost:") + Alias;
            for (std::size_t p = 0;
                 (p = texto.find("'localhost:VERUZADU'", p)) != std::string::npos; p += alvo.size())
                texto.replace(p + 1, 18, alvo);
            ExecutaScript(unidade, "SET TERM ^ ;\n" + texto + "\nSET TERM ; ^\n");
        }
    }
    a.home =
        std::filesystem::temp_directory_path() / ("bench-recordings-" + std::to_string(::getpid()));
    std::filesystem::create_directories(a.home);
    std::ofstream(a.home / "VERUZADU.INI")
        << "[BD]\nServer=\\\\" << a.o.servidor
        << (a.o.porta ? "/" + std::to_string(a.o.porta) : std::string()) << "\nAlias=" << Alias
        << "\n";
    ::setenv("VERUZADU_HOME", a.home.c_str(), 1);
    a.dados = std::make_unique<MDados>(a.mensagens);
    std::string erro;
    if (!a.dados->ConectaBancoDados(erro)) throw std::runtime_error(erro);
    a.dados->ConectaBasePABX(1);
    return a;
}

std::int64_t Le(Ambiente& a, const std::string& sql, const DataHora& ini, const DataHora& fim) {
    std::int64_t linhas = 0;
    a.dados->ExecutaPABX([&](Transaction& tr) {
        Statement st(tr, sql);
        st.SetTimestamp(0, ini).SetTimestamp(1, fim);
        auto c = st.Abre();
        while (c.Proxima()) {
            volatile int codigo = c.GetInt(0);
            (void)codigo;
            ++linhas;
        }
    });
    return linhas;
}

FiltroGravacoes Mes() {
    FiltroGravacoes f;
    f.inicio = InicioMes;
    f.fim = FimMes;
    return f;
}

bool Pedida(int argc, char** argv, const char* nome) {
    if (argc < 2) return true;
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == nome) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    using namespace intercalado;
    try {
        Ambiente& a = Prepara();
        const VisaoUsuario admin{true, {}};
        const VisaoUsuario operador{false, {"301", "Ramal 1", "302"}};
        std::size_t linhas = 0;
        auto pagina = [&](const VisaoUsuario& v) {
            ModeloGravacoes m(*a.dados);
            if (!m.Pesquisa(Mes(), v)) throw std::runtime_error("search failed");
            linhas = m.Linhas().size();
        };

        if (Pedida(argc, argv, "day")) {
            std::int64_t n = 0;
            Compara("busy unit: one day's search (LISTAGRV, 27,400 recordings, contacts linked)",
                    {"LISTAGRV of the day",
                     {},
                     [&] { n = Le(a, "SELECT * FROM LISTAGRV(?, ?)", InicioDia, FimDia); }},
                    {"plain ordered SELECT of the day's rows",
                     {},
                     [&] {
                         Le(a,
                            "SELECT * FROM GRAVACAO WHERE GRV_DATAGRV >= ? AND GRV_DATAGRV <= ? "
                            "ORDER BY GRV_DATAGRV, GRV_CODIGO",
                            InicioDia, FimDia);
                     }},
                    {Meta::MsNoMaximo, 200});
            std::printf("  rows: %lld\n", static_cast<long long>(n));
        }
        if (Pedida(argc, argv, "page")) {
            const DataHora ini =
                DataHoraDeSegundos(SegundosDesdeEpoca(FimMes) - ModeloGravacoes::JanelaInicial);
            Compara("busy unit: console's first page of a month, administrator (contacts linked)",
                    {"recordings list, first page", {}, [&] { pagina(admin); }},
                    {"plain call of its first window",
                     {},
                     [&] { Le(a, "SELECT * FROM LISTAGRV(?, ?)", ini, FimMes); }},
                    {Meta::MsNoMaximo, 150});
            std::printf("  rows: %zu\n", linhas);
        }
        if (Pedida(argc, argv, "operator")) {
            Compara(
                "busy unit: console's first page of a month, operator of 2 extensions and a name",
                {"operator's first page", {}, [&] { pagina(operador); }},
                {"administrator's first page", {}, [&] { pagina(admin); }},
                {Meta::MsNoMaximo, 150});
            std::printf("  rows: %zu\n", linhas);
        }
        if (Pedida(argc, argv, "month")) {
            std::int64_t n = 0;
            Compara("busy unit: recordings window, whole month / plain call",
                    {"recordings list, whole month",
                     {},
                     [&] {
                         ModeloGravacoes m(*a.dados);
                         if (!m.Pesquisa(Mes(), admin)) throw std::runtime_error("search failed");
                         while (m.canFetchMore({})) m.fetchMore({});
                         linhas = m.Linhas().size();
                     }},
                    {"plain SELECT * FROM LISTAGRV of the month",
                     {},
                     [&] { n = Le(a, "SELECT * FROM LISTAGRV(?, ?)", InicioMes, FimMes); }},
                    {Meta::RazaoNoMaximo, 1.5});
            std::printf("  rows: %zu (plain call %lld)\n", linhas, static_cast<long long>(n));
        }
        a.dados->Desconecta();
        std::filesystem::remove_all(a.home);
    } catch (const std::exception& e) {
        std::cerr << "bench_recordings: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
