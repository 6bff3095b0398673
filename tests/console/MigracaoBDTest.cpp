// The migration of the previous version's single database, against the real
// server, gbak and service: the whole migration through its window, the
// refusals (someone else attached, a service that will not stop), failures
// half-way (a failing migration script, gbak failing at its last restore or
// at a backup) that leave the live databases as they were and are offered
// again, and the answer "No".

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "MensageiroTeste.h"
#include "PacoteTeste.h"
#include "TesteConsole.h"
#include "common/db/Esquema.h"
#include "common/db/Script.h"
#include "console/AtualizacaoBD.h"
#include "console/MDados.h"
#include "console/MigracaoBD.h"
#include "console/PacoteScripts.h"
#include "console/RegistroMigracao.h"
#include "console/forms/FormUpGrade.h"
#include "console/forms/TrabalhoComProgresso.h"
#include "common/ServiceControl.h"

namespace fs = std::filesystem;

namespace {

// Count and one digest over every recording's code and audio.
struct Resumo {
    int quantidade = -1;
    std::string digest;
    bool operator==(const Resumo&) const = default;
};

Resumo LeResumo(Attachment att) {
    Resumo r{0, {}};
    std::string tudo;
    Transaction tr(att);
    Statement st(tr, "SELECT GRV_CODIGO, GRV_BINDADOS FROM GRAVACAO ORDER BY GRV_CODIGO");
    auto c = st.Abre();
    while (c.Proxima()) {
        ++r.quantidade;
        tudo += c.GetText(0) + ":" + Sha256Hex(c.ReadBlob(1)) + ";";
    }
    r.digest = Sha256Hex(tudo);
    return r;
}

void InsereGravacoes(Attachment& att, int primeiro, int n, int pabx, std::size_t tamanho) {
    Transaction tr(att);
    for (int i = primeiro; i < primeiro + n; ++i) {
        std::string audio(tamanho, '\0');
        for (std::size_t k = 0; k < audio.size(); ++k) audio[k] = char((k * 31 + i * 7) & 0xff);
        Statement st(tr, "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE, "
                         "GRV_BINDADOS) VALUES (?, ?, ?, ?, ?)");
        st.SetInt(0, i)
            .SetInt(1, pabx)
            .SetTimestamp(2, DataHora{2019, 5, 1, 10, 0, 0, 0})
            .SetText(3, "R" + std::to_string(i) + ".WAV")
            .SetBlob(4, audio);
        st.Executa();
    }
    tr.Commit();
}

bool Tabela(Attachment att, const std::string& nome) {
    Transaction tr(att);
    return TabelaExiste(tr, nome);
}

// Online (not left shut down by the migration).
bool EmLinha(Attachment att) {
    Transaction tr(att);
    Statement st(tr, "SELECT MON$SHUTDOWN_MODE FROM MON$DATABASE");
    auto c = st.Abre();
    return c.Proxima() && c.GetInt(0) == 0;
}

int Ledger(Attachment att) {
    Transaction tr(att);
    if (!TabelaExiste(tr, "ATUALIZACAO")) return 0;
    Statement st(tr, "SELECT COUNT(*) FROM ATUALIZACAO WHERE ATU_PACOTE = 'Veruzadu.udb'");
    auto c = st.Abre();
    return c.Proxima() ? c.GetInt(0) : -1;
}

const std::vector<std::pair<std::string, std::string>> ScriptsMigracao = {
    {"quv_mig1.sql", "CREATE TABLE MIGRADA_PRINCIPAL (MP INTEGER);\n"},
    {"grvpab_mig1.sql", "CREATE TABLE MIGRADA_UNIDADE (MU INTEGER);\n"},
};

// An installation with unit 1, an old single database of `n` recordings
// beside it, [BD] UPD set and the migration package in the program folder.
int ProximaBase() {
    static int n = 0;
    return ++n;
}

struct BaseMigracao : ::testing::Test {
    ProgramaTeste p{"migra" + std::to_string(ProximaBase()), {1}};
    int gravacoesAntigas = 40;

    std::string Dados(const std::string& nome) const {
        return (p.inst.opcoes.pastaDados / nome).string();
    }
    Attachment Conecta(const std::string& nome) const {
        return Attachment::Conecta(
            {p.inst.srv.Conexao(Dados(nome)), p.inst.opcoes.usuario, p.inst.opcoes.senha});
    }
    bool Existe(const std::string& nome) const {
        try {
            Conecta(nome).Desconecta();
            return true;
        } catch (const FirebirdError&) {
            return false;
        }
    }
    void SetUp() override {
        if (!p.Pronta()) return;
        Attachment antiga = Attachment::Cria({p.inst.srv.Conexao(Dados("VERUZADU.FDB")),
                                              p.inst.opcoes.usuario, p.inst.opcoes.senha});
        ExecutaScript(antiga, ScriptBancoPrincipal());
        InsereGravacoes(antiga, 1, gravacoesAntigas, 1, 20000);
        antiga.Desconecta();
        {
            Attachment principal = p.Principal();
            InsereGravacoes(principal, 900, 3, 1, 100);
        }
        {
            Attachment unidade = p.Unidade(1);
            InsereGravacoes(unidade, 800, 2, 1, 100);
        }
        p.Ini().WriteBool("BD", "UPD", true);
        ASSERT_TRUE(FazPacoteRelease(p.pasta / "Veruzadu.udb", ScriptsMigracao));
    }
    void TearDown() override {
        if (!p.Pronta()) return;
        for (const char* n : {"VERUZADU.FDB", "VERUZADU_OLD.FDB"}) try {
                Conecta(n).ApagaBanco();
            } catch (const FirebirdError&) {
            }
    }
    // A fake gbak in its own folder that fails its runs with `chave` whose
    // arguments mention `trecho`, and hands every other run to the real one.
    void GbakFalhando(const std::string& chave, const std::string& trecho) {
        const fs::path pasta = p.pasta / "fbbin";
        fs::create_directories(pasta);
        Grava(pasta / "gbak",
              "#!/bin/sh\nc=0; t=0\nfor a in \"$@\"; do\n  [ \"$a\" = \"" + chave +
                  "\" ] && c=1\n  case \"$a\" in *" + trecho +
                  "*) t=1;; esac\ndone\nif [ $c = 1 ] && [ $t = 1 ]; then echo 'gbak: ERROR: falha "
                  "simulada' >&2; exit 1; fi\nexec /usr/bin/gbak \"$@\"\n");
        fs::permissions(pasta / "gbak", fs::perms::owner_all);
        p.Ini().WriteString("Firebird", "Bin", pasta.string());
    }
    std::vector<std::string> Backups() const {
        std::vector<std::string> v;
        for (const auto& e : fs::directory_iterator(p.pasta.Caminho()))
            if (e.path().extension() == ".gbk") v.push_back(e.path().filename().string());
        std::sort(v.begin(), v.end());
        return v;
    }
    std::string Log() const { return LeTudo(ArquivoLogUpgrade()); }
};

// The console's connection with the upgrade step; answers the offer with `resposta`.
struct Console {
    MensageiroTeste msg;
    MDados dados{msg};
    AtualizacaoBD atualizacao{dados, msg};
    explicit Console(RespostaMensagem resposta = RespostaMensagem::Sim) {
        msg.respostas.push_back(resposta);
        dados.VerificaAtualizacaoBD = [this] { atualizacao.VerificaAtualizacaoBD(); };
        dados.AntesDeConectar = [this] { atualizacao.RecuperaMigracao(); };
    }
    void Conecta() {
        std::string erro;
        ASSERT_TRUE(dados.ConectaBancoDados(erro)) << erro;
    }
    bool Perguntou() const {
        for (const auto& [tipo, texto] : msg.mostradas)
            if (tipo == TipoMensagem::Confirmacao &&
                texto.find("versão anterior") != std::string::npos)
                return true;
        return false;
    }
};

// A service that will not stop: the real one cannot be made to refuse.
struct ServicoTeimoso final : ServiceControl {
    EstadoServico Consulta() override { return EstadoServico::Executando; }
    bool Inicia(std::string&) override { return true; }
    bool Para(std::string& erro) override {
        erro = "recusado";
        return false;
    }
};

}  // namespace

TEST_F(BaseMigracao, MigraPelaJanelaComOServicoParadoEReiniciado) {
    EXIGE_SERVIDOR(p.inst);
    const Resumo antiga = LeResumo(Conecta("VERUZADU.FDB"));
    ASSERT_EQ(antiga.quantidade, gravacoesAntigas);

    // The real service runs (attached to the main database) and is stopped around it.
    // Started apart from this process, as a real service is (a child of ours
    // would stay a zombie after its stop, never seen as gone).
    ServiceControlPidFile servico(PELMORAN_EXE, p.pasta.Caminho());
    const std::string inicia = "VERUZADU_HOME='" + p.pasta.Caminho().string() + "' setsid '" +
                               PELMORAN_EXE + "' >/dev/null 2>&1 &";
    ASSERT_EQ(std::system(inicia.c_str()), 0);
    ASSERT_TRUE(EsperaAte([&] { return servico.Consulta() == EstadoServico::Executando; }));
    std::string erro;

    Console c;
    c.atualizacao.ControleServico = [&] {
        return std::make_unique<ServiceControlPidFile>(PELMORAN_EXE, p.pasta.Caminho());
    };
    std::string textoFinal;
    bool okAntesDoFim = true;
    c.atualizacao.MostraUpGrade = [&](MigracaoBD& m) {
        FormUpGrade f(&m);
        bool primeira = true;
        QTimer olha;
        QObject::connect(&olha, &QTimer::timeout, [&] {
            if (!f.isVisible()) return;
            if (primeira) {
                // btnOk stays off while it runs; Escape does not close it.
                primeira = false;
                okAntesDoFim = f.btnOk->isEnabled();
                QTest::keyClick(&f, Qt::Key_Escape);
            }
            if (f.Terminou()) {
                olha.stop();
                textoFinal = f.LabelUpgrade->text().toStdString();
                f.btnOk->click();
            }
        });
        olha.start(20);
        f.exec();
    };
    c.Conecta();
    EXPECT_TRUE(c.Perguntou());
    EXPECT_FALSE(okAntesDoFim);
    EXPECT_EQ(textoFinal, "Operação concluída!") << Log();

    // Main and unit 1 hold the old database's recordings, brought up to date.
    EXPECT_EQ(LeResumo(p.Principal()), antiga);
    EXPECT_EQ(LeResumo(p.Unidade(1)), antiga);
    EXPECT_TRUE(Tabela(p.Principal(), "MIGRADA_PRINCIPAL"));
    EXPECT_FALSE(Tabela(p.Principal(), "MIGRADA_UNIDADE"));
    EXPECT_TRUE(Tabela(p.Unidade(1), "MIGRADA_UNIDADE"));
    EXPECT_EQ(Ledger(p.Principal()), 1);
    EXPECT_EQ(Ledger(p.Unidade(1)), 1);
    EXPECT_TRUE(EmLinha(p.Principal()));
    EXPECT_TRUE(EmLinha(p.Unidade(1)));
    // The old one under its new name only; no working database left.
    EXPECT_FALSE(Existe("VERUZADU.FDB"));
    EXPECT_EQ(LeResumo(Conecta("VERUZADU_OLD.FDB")), antiga);
    EXPECT_FALSE(Existe("QUVVERUZADU_MIGRACAO.FDB"));
    EXPECT_FALSE(Existe("GRVPAB001_MIGRACAO.FDB"));
    EXPECT_FALSE(p.Ini().ReadBool("BD", "UPD", true));
    EXPECT_TRUE(fs::exists(p.pasta / "Veruzadu.udb"));
    for (const auto& e : fs::directory_iterator(p.pasta.Caminho()))
        EXPECT_NE(e.path().filename().string().rfind("backup", 0), 0u) << e.path();
    // Every replaced database backed up and kept.
    const auto b = Backups();
    // The migrated databases went to the live names straight, without files.
    ASSERT_EQ(b.size(), 3u) << ::testing::PrintToString(b);
    EXPECT_EQ(b[0].rfind("GRVPAB001_2", 0), 0u);
    EXPECT_EQ(b[1].rfind("QUVVERUZADU_", 0), 0u);
    EXPECT_EQ(b[2].rfind("VERUZADU_", 0), 0u);
    EXPECT_NE(Log().find(b[1]), std::string::npos);
    // The service runs again, on the migrated databases.
    EXPECT_EQ(servico.Consulta(), EstadoServico::Executando);
    EXPECT_TRUE(servico.Para(erro)) << erro;

    // The next connection neither asks again nor touches anything.
    Console outra;
    outra.Conecta();
    EXPECT_FALSE(outra.Perguntou());
    EXPECT_EQ(LeResumo(p.Unidade(1)), antiga);
}

TEST_F(BaseMigracao, RecusadaComOutraConexaoOuServicoQueNaoPara) {
    EXIGE_SERVIDOR(p.inst);
    const Resumo principal = LeResumo(p.Principal());
    const Resumo unidade = LeResumo(p.Unidade(1));
    const Resumo antiga = LeResumo(Conecta("VERUZADU.FDB"));
    struct Caso {
        const char* nome;
        std::function<std::optional<Attachment>()> outro;
        bool servicoTeimoso;
    };
    const std::vector<Caso> casos = {
        {"antiga", [&] { return std::optional(Conecta("VERUZADU.FDB")); }, false},
        {"principal", [&] { return std::optional(p.Principal()); }, false},
        {"unidade 1", [&] { return std::optional(p.Unidade(1)); }, false},
        {"servico", [] { return std::optional<Attachment>(); }, true},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nome);
        auto outro = caso.outro();
        Console c;
        if (caso.servicoTeimoso)
            c.atualizacao.ControleServico = [] { return std::make_unique<ServicoTeimoso>(); };
        c.Conecta();
        EXPECT_TRUE(c.Perguntou());
        EXPECT_NE(Log().find("Migração recusada"), std::string::npos) << Log();
        outro.reset();
        EXPECT_EQ(LeResumo(p.Principal()), principal);
        EXPECT_EQ(LeResumo(p.Unidade(1)), unidade);
        EXPECT_EQ(LeResumo(Conecta("VERUZADU.FDB")), antiga);
        EXPECT_FALSE(Existe("VERUZADU_OLD.FDB"));
        EXPECT_TRUE(p.Ini().ReadBool("BD", "UPD", false));
        EXPECT_TRUE(Backups().empty());
        fs::remove(ArquivoLogUpgrade());
    }
}

TEST_F(BaseMigracao, FalhaNoMeioDeixaTudoComoEstavaEOfereceDeNovo) {
    EXIGE_SERVIDOR(p.inst);
    const Resumo principal = LeResumo(p.Principal());
    const Resumo unidade = LeResumo(p.Unidade(1));
    const Resumo antiga = LeResumo(Conecta("VERUZADU.FDB"));
    struct Caso {
        const char* nome;
        std::function<void()> prepara;
        const char* passo;
    };
    const std::vector<Caso> casos = {
        {"script da migração falha",
         [&] {
             ASSERT_TRUE(FazPacoteRelease(
                 p.pasta / "Veruzadu.udb",
                 {{"quv_mig1.sql", "CREATE TABLE MIGRADA_PRINCIPAL (MP INTEGER);\n"
                                   "ALTER TABLE TABELA_QUE_NAO_EXISTE ADD X INTEGER;\n"}}));
         },
         "Falha ao atualizar estrutura da base de dados"},
        {"gbak falha na última restauração", [&] { GbakFalhando("-c", "stdin"); },
         "Falha ao restaurar base de dados QuvVeruzadu"},
        {"gbak falha no backup da antiga", [&] { GbakFalhando("-b", "VERUZADU.FDB"); },
         "Falha ao realizar backup da base de dados QuvVeruzadu"},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nome);
        caso.prepara();
        Console c;
        c.Conecta();
        EXPECT_TRUE(c.Perguntou());
        EXPECT_NE(Log().find(caso.passo), std::string::npos) << Log();
        EXPECT_EQ(LeResumo(p.Principal()), principal);
        EXPECT_EQ(LeResumo(p.Unidade(1)), unidade);
        EXPECT_TRUE(EmLinha(p.Principal()));
        EXPECT_TRUE(EmLinha(p.Unidade(1)));
        EXPECT_FALSE(Tabela(p.Principal(), "MIGRADA_PRINCIPAL"));
        EXPECT_EQ(LeResumo(Conecta("VERUZADU.FDB")), antiga);
        EXPECT_FALSE(Existe("VERUZADU_OLD.FDB"));
        EXPECT_FALSE(Existe("QUVVERUZADU_MIGRACAO.FDB"));
        EXPECT_FALSE(Existe("GRVPAB001_MIGRACAO.FDB"));
        EXPECT_TRUE(p.Ini().ReadBool("BD", "UPD", false));
        for (const auto& b : Backups()) EXPECT_EQ(b.find(".parcial"), std::string::npos) << b;
        // Put right for the next case.
        p.Ini().WriteString("Firebird", "Bin", "");
        ASSERT_TRUE(FazPacoteRelease(p.pasta / "Veruzadu.udb", ScriptsMigracao));
        fs::remove(ArquivoLogUpgrade());
    }

    // Offered again, the second try completes.
    Console c;
    c.Conecta();
    EXPECT_TRUE(c.Perguntou());
    EXPECT_EQ(LeResumo(p.Unidade(1)), antiga) << Log();
    EXPECT_EQ(LeResumo(p.Principal()), antiga);
    EXPECT_FALSE(p.Ini().ReadBool("BD", "UPD", true));
}

// The swap fails and so does putting the main database back from its kept
// backup: the recovery record stays and the service stays stopped, so the
// next start puts the database back before connecting, starts the service
// again and offers the migration once more.
TEST_F(BaseMigracao, DevolucaoQueFalhaMantemORegistroEOServicoParado) {
    EXIGE_SERVIDOR(p.inst);
    const Resumo principal = LeResumo(p.Principal());
    ServiceControlPidFile servico(PELMORAN_EXE, p.pasta.Caminho());
    const std::string inicia = "VERUZADU_HOME='" + p.pasta.Caminho().string() + "' setsid '" +
                               PELMORAN_EXE + "' >/dev/null 2>&1 &";
    ASSERT_EQ(std::system(inicia.c_str()), 0);
    ASSERT_TRUE(EsperaAte([&] { return servico.Consulta() == EstadoServico::Executando; }));
    auto controle = [&] {
        return std::make_unique<ServiceControlPidFile>(PELMORAN_EXE, p.pasta.Caminho());
    };
    // The migrated copy and the main database's put-back both fail.
    GbakFalhando("-c", "stdin*|*QUVVERUZADU_2");
    {
        Console c;
        c.atualizacao.ControleServico = controle;
        std::string erro;
        c.dados.ConectaBancoDados(erro);
        EXPECT_TRUE(c.Perguntou());
    }
    EXPECT_NE(Log().find("não pôde ser devolvida"), std::string::npos) << Log();
    EXPECT_TRUE(fs::exists(ArquivoRegistroMigracao())) << "nothing left to recover from";
    EXPECT_NE(servico.Consulta(), EstadoServico::Executando) << "restarted without its database";

    // The next start: the database back first, then the offer again.
    p.Ini().WriteString("Firebird", "Bin", "");
    Console outra(RespostaMensagem::Nao);
    outra.atualizacao.ControleServico = controle;
    outra.Conecta();
    EXPECT_FALSE(fs::exists(ArquivoRegistroMigracao()));
    EXPECT_EQ(LeResumo(p.Principal()), principal);
    EXPECT_TRUE(outra.Perguntou());
    EXPECT_TRUE(EsperaAte([&] { return servico.Consulta() == EstadoServico::Executando; }));
    std::string erro;
    EXPECT_TRUE(servico.Para(erro)) << erro;
}

TEST_F(BaseMigracao, NaoRenomeiaEMantemOOldExistente) {
    EXIGE_SERVIDOR(p.inst);
    const Resumo principal = LeResumo(p.Principal());
    const Resumo antiga = LeResumo(Conecta("VERUZADU.FDB"));
    // A VERUZADU_OLD.FDB of an earlier run is kept.
    {
        Attachment velha = Attachment::Cria({p.inst.srv.Conexao(Dados("VERUZADU_OLD.FDB")),
                                             p.inst.opcoes.usuario, p.inst.opcoes.senha});
        velha.Executa("CREATE TABLE GRAVACAO (GRV_CODIGO INTEGER, GRV_BINDADOS BLOB)");
    }
    Console c(RespostaMensagem::Nao);
    c.Conecta();
    EXPECT_TRUE(c.Perguntou());
    EXPECT_FALSE(Existe("VERUZADU.FDB"));
    EXPECT_EQ(LeResumo(Conecta("VERUZADU_OLD.FDB")).quantidade, 0);
    // The old one went to a dated name beside it.
    std::string datada;
    for (const auto& e : fs::directory_iterator(p.inst.opcoes.pastaDados))
        if (e.path().filename().string().rfind("VERUZADU_OLD_", 0) == 0)
            datada = e.path().filename().string();
    ASSERT_FALSE(datada.empty()) << Log();
    EXPECT_EQ(LeResumo(Conecta(datada)), antiga);
    Conecta(datada).ApagaBanco();
    EXPECT_EQ(LeResumo(p.Principal()), principal);
    EXPECT_FALSE(p.Ini().ReadBool("BD", "UPD", true));

    Console outra;
    outra.Conecta();
    EXPECT_FALSE(outra.Perguntou());
}

TEST(MigracaoBD, SemBaseAnteriorAConexaoAplicaOsPacotes) {
    ProgramaTeste p("migsem", {1});
    EXIGE_SERVIDOR(p.inst);
    p.Ini().WriteBool("BD", "UPD", true);
    ASSERT_TRUE(FazPacoteRelease(p.pasta / "scripts1.gkp",
                                 {{"quv_1.sql", "CREATE TABLE SEM_ANTIGA (X INTEGER);\n"}}));
    Console c;
    c.Conecta();
    EXPECT_FALSE(c.Perguntou());
    EXPECT_TRUE(Tabela(p.Principal(), "SEM_ANTIGA"));
    EXPECT_FALSE(fs::exists(p.pasta / "scripts1.gkp"));
}

// A console killed (SIGKILL) at a chosen point of the migration: the next
// start puts the live databases right, offers the migration again (unless
// the live databases already held the migrated ones) and the second one
// completes with every recording of the old database.
struct MorteMigracao : BaseMigracao, ::testing::WithParamInterface<const char*> {};

TEST_P(MorteMigracao, ProximoInicioRecuperaEMigraDeNovo) {
    EXIGE_SERVIDOR(p.inst);
    const std::string ponto = GetParam();
    const Resumo antiga = LeResumo(Conecta("VERUZADU.FDB"));

    const pid_t filho = ::fork();
    ASSERT_GE(filho, 0);
    if (filho == 0) {
        ::setenv("VERUZADU_MIGRACAO_MORTE", ponto.c_str(), 1);
        {
            Console c;
            std::string erro;
            c.dados.ConectaBancoDados(erro);
        }
        ::_exit(3);  // the point was never reached
    }
    int status = 0;
    const auto limite = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (::waitpid(filho, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > limite) {
            ::kill(filho, SIGKILL);
            ::waitpid(filho, &status, 0);
            FAIL() << "a migração não chegou a " << ponto;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << Log();
    ASSERT_TRUE(fs::exists(ArquivoRegistroMigracao()));
    if (ponto == "desligadas") {
        EXPECT_FALSE(EmLinha(p.Principal()));
    }
    if (ponto == "apagadas") {
        EXPECT_THROW(p.Principal(), FirebirdError);
    }

    const bool migrada = ponto == "migradas";
    Console c;
    // The recovery keeps the window answering: its progress window shows and
    // the event loop runs while the databases are put back.
    c.atualizacao.ExecutaLongo = [](const std::string& texto,
                                    const std::function<void()>& trabalho) {
        ExecutaComProgresso(nullptr, texto, trabalho);
    };
    bool progresso = false;
    QTimer relogio;
    QObject::connect(&relogio, &QTimer::timeout,
                     [&] { progresso = progresso || JanelaVisivel("FormProgresso") != nullptr; });
    relogio.start(5);
    c.Conecta();
    relogio.stop();
    EXPECT_TRUE(progresso);
    EXPECT_FALSE(fs::exists(ArquivoRegistroMigracao())) << Log();
    EXPECT_NE(Log().find("Migração interrompida recuperada"), std::string::npos) << Log();
    EXPECT_EQ(c.Perguntou(), !migrada);
    EXPECT_EQ(LeResumo(p.Principal()), antiga) << Log();
    EXPECT_EQ(LeResumo(p.Unidade(1)), antiga);
    EXPECT_TRUE(Tabela(p.Principal(), "MIGRADA_PRINCIPAL"));
    EXPECT_TRUE(EmLinha(p.Principal()));
    EXPECT_TRUE(EmLinha(p.Unidade(1)));
    EXPECT_FALSE(Existe("QUVVERUZADU_MIGRACAO.FDB"));
    EXPECT_FALSE(Existe("GRVPAB001_MIGRACAO.FDB"));
    EXPECT_FALSE(p.Ini().ReadBool("BD", "UPD", true));
    // The old database is never lost: moved when migrated again, else kept.
    EXPECT_EQ(LeResumo(Conecta(migrada ? "VERUZADU.FDB" : "VERUZADU_OLD.FDB")), antiga);
    if (migrada) {
        EXPECT_FALSE(Existe("VERUZADU_OLD.FDB"));
    }
    for (const auto& b : Backups()) EXPECT_EQ(b.find(".parcial"), std::string::npos) << b;
}

INSTANTIATE_TEST_SUITE_P(Pontos, MorteMigracao,
                         ::testing::Values("desligadas", "restauradas", "apagadas", "migradas"));
