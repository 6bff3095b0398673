// Backups and restores through the wrapper with the real gbak against the
// test server (VERUZADU_FB_*). Databases, server-side backups and
// server-side status files live in VERUZADU_FB_DATA, which the server's user
// owns; files gbak itself writes go to a private folder of each test.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/PastaTemporaria.h"
#include "tests/support/ServidorTeste.h"
#include "common/Arquivos.h"
#include "common/Processos.h"
#include "common/gbak/vekIbGbak.h"

namespace fs = std::filesystem;

namespace {

std::string Env(const char* nome) {
    const char* v = std::getenv(nome);
    return v ? v : "";
}

// Sets an environment variable for one scope.
class VariavelTemporaria final {
  public:
    VariavelTemporaria(const char* nome, const std::string& valor) : nome_(nome) {
        const char* antes = std::getenv(nome);
        if (antes) antes_ = antes;
        tinha_ = antes != nullptr;
        ::setenv(nome, valor.c_str(), 1);
    }
    ~VariavelTemporaria() {
        if (tinha_)
            ::setenv(nome_, antes_.c_str(), 1);
        else
            ::unsetenv(nome_);
    }
    VariavelTemporaria(const VariavelTemporaria&) = delete;
    VariavelTemporaria& operator=(const VariavelTemporaria&) = delete;

  private:
    const char* nome_;
    std::string antes_;
    bool tinha_ = false;
};

class GbakServidor : public ::testing::Test {
  protected:
    void SetUp() override {
        dados_ = Env("VERUZADU_FB_DATA");
        if (dados_.empty() || Env("VERUZADU_FB_PASSWORD").empty())
            SEM_SERVIDOR_TESTE() << "no test server (run through scripts/test)";
        servidor_ = Env("VERUZADU_FB_HOST");
        const std::string porta = Env("VERUZADU_FB_PORT");
        if (!porta.empty() && porta != "3050") servidor_ += "/" + porta;
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        prefixo_ = std::string("gbak-") + std::to_string(::getpid()) + "-" + info->name();
        const std::string raiz = Env("VERUZADU_TEST_TMP").empty()
                                     ? fs::temp_directory_path().string()
                                     : Env("VERUZADU_TEST_TMP");
        local_ = fs::path(raiz) / prefixo_;
        fs::create_directories(local_);
    }

    void TearDown() override {
        std::error_code ec;
        for (const auto& f : criados_) fs::remove(f, ec);
        if (!local_.empty()) fs::remove_all(local_, ec);
    }

    // A server-side path in the data folder, removed afterwards.
    std::string NoServidor(const std::string& nome) {
        const std::string p = dados_ + "/" + prefixo_ + "-" + nome;
        criados_.push_back(p);
        return p;
    }

    // Runs SQL through isql-fb (the password through its environment, not
    // its command line) and returns what it printed.
    std::string Isql(const std::string& banco, const std::string& sql) {
        const fs::path script = local_ / "script.sql";
        const fs::path saida = local_ / "isql.txt";
        std::ofstream(script) << sql;
        OpcoesProcesso o;
        o.saida = saida;
        o.ambiente = {"ISC_USER=" + Env("VERUZADU_FB_USER"),
                      "ISC_PASSWORD=" + Env("VERUZADU_FB_PASSWORD")};
        std::vector<std::string> args = {"isql-fb", "-q", "-i", script.string()};
        if (!banco.empty()) args.push_back(servidor_ + ":" + banco);
        const auto r = ExecutaProcesso(args, o);
        const std::string texto = LeTudo(saida);
        EXPECT_TRUE(r.Sucesso()) << texto;
        return texto;
    }

    // A small database: one table with two rows, one of them with a BLOB.
    std::string CriaBase(const std::string& nome) {
        const std::string banco = NoServidor(nome);
        Isql("",
             "create database '" + servidor_ + ":" + banco +
                 "' default character set WIN1252;\n"
                 "create table T (ID integer not null primary key, NOME varchar(30), DADOS blob);\n"
                 "insert into T values (1, 'um', null);\n"
                 "insert into T values (2, 'dois', 'conteudo do blob');\n"
                 "commit;\n");
        return banco;
    }

    // "PAGINA=<page size>;LINHAS=<rows>;BLOB=<blob of row 2>"
    std::string Estado(const std::string& banco) {
        const std::string texto = Isql(
            banco,
            "set heading off;\n"
            "select 'PAGINA=' || m.mon$page_size || ';LINHAS=' || (select count(*) from T) || "
            "';BLOB=' ||"
            " (select cast(DADOS as varchar(100)) from T where ID = 2) from mon$database m;\n");
        const auto pos = texto.find("PAGINA=");
        if (pos == std::string::npos) return texto;
        return texto.substr(pos, texto.find_first_of(" \r\n", pos) - pos);
    }

    void Conta(TvekIbGbak& g) {
        g.UserName = Env("VERUZADU_FB_USER");
        g.PassWord = Env("VERUZADU_FB_PASSWORD");
        g.Server = servidor_;
    }

    // A local backup of `banco` (read by gbak itself, not the server) in `copia`.
    void BackupLocal(const std::string& banco, const std::string& copia) {
        TvekIbGbak b;
        Conta(b);
        b.DataBaseFiles.Add().FileName = banco;
        b.BackupFiles.Add().FileName = copia;
        ASSERT_TRUE(b.Backup()) << b.Motivo();
    }

    std::string dados_;
    std::string servidor_;
    std::string prefixo_;
    fs::path local_;
    std::vector<std::string> criados_;
};

TEST_F(GbakServidor, BackupERestauracaoPeloGerenciadorDeServicos) {
    const std::string banco = CriaBase("origem.fdb");
    const std::string copia = NoServidor("copia.fbk");
    const std::string status = NoServidor("backup.txt");

    TvekIbGbak b;
    Conta(b);
    b.DataBaseFiles.Add().FileName = banco;
    b.BackupFiles.Add().FileName = copia;
    b.opBackup.Service = true;
    b.opBackup.StatutMessageFile = status;  // written by the server
    b.opBackup.Verbose = true;
    ASSERT_TRUE(b.Backup()) << b.Motivo();
    EXPECT_EQ(b.Motivo(), "");
    EXPECT_EQ(b.ExecApp().ExitCode(), 0);
    EXPECT_EQ(b.LinhaComando(), "-b -user \"" + Env("VERUZADU_FB_USER") +
                                    "\" -pas \"******\" -tra -y \"" + status + "\" -ver -ser \"" +
                                    servidor_ + ":service_mgr\" \"" + banco + "\" \"" + copia +
                                    "\"");
    EXPECT_NE(LeTudo(status).find("2 records written"), std::string::npos) << LeTudo(status);

    // ps4196 goes to the server as 4196, which it rounds up to 8192.
    const std::string restaurado = NoServidor("restaurado.fdb");
    TvekIbGbak r;
    Conta(r);
    r.RestoreFiles.Add().FileName = copia;
    r.DataBaseFiles.Add().FileName = restaurado;
    r.opRestore.Service = true;
    r.opRestore.SetPageSize(TPageSize::ps4196);
    ASSERT_TRUE(r.Restore()) << r.Motivo();
    EXPECT_NE(r.LinhaComando().find("-page 4196 "), std::string::npos);
    EXPECT_EQ(Estado(restaurado), "PAGINA=8192;LINHAS=2;BLOB=conteudo");
}

// Without the services manager gbak reads and writes the backup itself and
// reaches the database as "server:path".
TEST_F(GbakServidor, BackupLocalETamanhosDePaginaNaRestauracao) {
    const std::string banco = CriaBase("origem.fdb");
    const std::string copia = (local_ / "copia.fbk").string();
    BackupLocal(banco, copia);
    if (HasFatalFailure()) return;
    ASSERT_TRUE(fs::exists(copia));

    struct Caso {
        TPageSize pedido;
        int servidor;
    };
    // What Firebird 3 makes of each page size the line asks for.
    const Caso casos[] = {{TPageSize::psNone, 8192},
                          {TPageSize::ps1024, 4096},
                          {TPageSize::ps2048, 4096},
                          {TPageSize::ps4196, 8192},
                          {TPageSize::ps8192, 8192}};
    for (const Caso& c : casos) {
        const std::string alvo =
            NoServidor("pagina" + std::to_string(static_cast<int>(c.pedido)) + ".fdb");
        TvekIbGbak r;
        Conta(r);
        r.RestoreFiles.Add().FileName = copia;
        r.DataBaseFiles.Add().FileName = alvo;
        r.opRestore.SetPageSize(c.pedido);
        ASSERT_TRUE(r.Restore()) << r.Motivo();
        EXPECT_EQ(Estado(alvo), "PAGINA=" + std::to_string(c.servidor) + ";LINHAS=2;BLOB=conteudo")
            << static_cast<int>(c.pedido);
    }
}

// "-r o" replaces an existing database; the console's plain "-r" refuses it.
TEST_F(GbakServidor, SubstituicaoDeBaseExistente) {
    const std::string banco = CriaBase("origem.fdb");
    const std::string copia = (local_ / "copia.fbk").string();
    BackupLocal(banco, copia);
    if (HasFatalFailure()) return;
    Isql(banco, "delete from T;\ncommit;\n");

    TvekIbGbak console(VarianteGbak::Console);
    Conta(console);
    console.RestoreFiles.Add().FileName = copia;
    console.DataBaseFiles.Add().FileName = banco;
    console.opRestore.RestoreType = TRestoreType::rtReplace;
    EXPECT_FALSE(console.Restore(false));
    EXPECT_NE(console.Motivo().find("already exists"), std::string::npos) << console.Motivo();
    EXPECT_NE(console.ExecApp().ExitCode(), 0);

    TvekIbGbak r;
    Conta(r);
    r.RestoreFiles.Add().FileName = copia;
    r.DataBaseFiles.Add().FileName = banco;
    r.opRestore.RestoreType = TRestoreType::rtReplace;
    ASSERT_TRUE(r.Restore()) << r.Motivo();
    EXPECT_EQ(Estado(banco), "PAGINA=8192;LINHAS=2;BLOB=conteudo");
}

// While gbak runs, its command line (readable by every local user) holds no
// password; the password file is ours alone and gone afterwards. The backup
// goes into a FIFO, so gbak waits, deterministically, until the test has
// looked and starts reading.
TEST_F(GbakServidor, SenhaNuncaNaLinhaDeComando) {
    const std::string banco = CriaBase("origem.fdb");
    const fs::path temporaria = local_ / "tmp";
    fs::create_directories(temporaria);
    const VariavelTemporaria tmpdir("TMPDIR", temporaria.string());
    const fs::path fifo = local_ / "fifo.fbk";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    TvekIbGbak b;
    Conta(b);
    b.DataBaseFiles.Add().FileName = banco;
    b.BackupFiles.Add().FileName = fifo.string();
    bool olhou = false;
    std::string copia;
    b.ProcessaMensagens = [&] {
        if (olhou) return;
        olhou = true;
        const pid_t pid = b.ExecApp().ProcessId();
        const std::string linha = LeTudo("/proc/" + std::to_string(pid) + "/cmdline");
        EXPECT_NE(linha.find("-fetch_password"), std::string::npos);
        EXPECT_EQ(linha.find(b.PassWord), std::string::npos);

        std::vector<fs::path> pastas(fs::directory_iterator(temporaria), fs::directory_iterator{});
        ASSERT_EQ(pastas.size(), 1u);
        EXPECT_EQ(fs::status(pastas[0]).permissions() & fs::perms::all, fs::perms::owner_all);
        const fs::path senha = pastas[0] / "senha";
        EXPECT_EQ(fs::status(senha).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(LeTudo(senha), b.PassWord);
        EXPECT_NE(linha.find(senha.string()), std::string::npos);

        copia = LeTudo(fifo);  // lets gbak write, up to its end
    };
    ASSERT_TRUE(b.Backup()) << b.Motivo();
    EXPECT_TRUE(olhou);
    EXPECT_TRUE(fs::is_empty(temporaria));

    // What came through the FIFO is a complete backup.
    const fs::path arquivo = local_ / "copia.fbk";
    std::ofstream(arquivo, std::ios::binary) << copia;
    const std::string restaurado = NoServidor("restaurado.fdb");
    TvekIbGbak r;
    Conta(r);
    r.RestoreFiles.Add().FileName = arquivo.string();
    r.DataBaseFiles.Add().FileName = restaurado;
    ASSERT_TRUE(r.Restore()) << r.Motivo();
    EXPECT_EQ(Estado(restaurado), "PAGINA=8192;LINHAS=2;BLOB=conteudo");
    EXPECT_TRUE(fs::is_empty(temporaria));
}

TEST_F(GbakServidor, ArquivoDeStatusExistente) {
    const std::string banco = CriaBase("origem.fdb");
    const fs::path status = local_ / "status.txt";
    std::ofstream(status) << "antigo";

    TvekIbGbak b;
    Conta(b);
    b.DataBaseFiles.Add().FileName = banco;
    b.BackupFiles.Add().FileName = (local_ / "copia.fbk").string();
    b.opBackup.StatutMessageFile = status.string();
    try {
        b.Backup();
        ADD_FAILURE() << "no error for an existing status file";
    } catch (const GbakErro& e) {
        EXPECT_STREQ(e.what(), "Erro, a pasta já existe");
    }
    EXPECT_EQ(LeTudo(status), "antigo");
    EXPECT_EQ(b.ExecApp().ExitCode(), TVekExecApp::SemCodigo);  // gbak never started
    EXPECT_FALSE(fs::exists(local_ / "copia.fbk"));

    TvekIbGbak console(VarianteGbak::Console);
    Conta(console);
    console.DataBaseFiles.Add().FileName = banco;
    console.RestoreFiles.Add().FileName = (local_ / "copia.fbk").string();
    console.opRestore.StatutMessageFile = status.string();
    EXPECT_THROW(
        {
            try {
                console.Restore(true);
            } catch (const GbakErro& e) {
                EXPECT_STREQ(e.what(), "Erreur, le fichier Statut existe déjà sur le disque");
                throw;
            }
        },
        GbakErro);

    // With OverWriteStatFile the old file gives way to gbak's own.
    b.opBackup.OverWriteStatFile = true;
    b.opBackup.Verbose = true;
    ASSERT_TRUE(b.Backup()) << b.Motivo();
    const std::string novo = LeTudo(status);
    EXPECT_EQ(novo.find("antigo"), std::string::npos);
    EXPECT_NE(novo.find("2 records written"), std::string::npos) << novo;
}

TEST_F(GbakServidor, FalhasDoGbakDizemOMotivo) {
    const std::string banco = CriaBase("origem.fdb");
    struct Caso {
        const char* nome;
        bool gerenciador;
        std::string base;
        std::string senha;
        std::string motivo;
    };
    const std::string inexistente = dados_ + "/" + prefixo_ + "-nao-existe.fdb";
    const Caso casos[] = {
        {"base inexistente", false, inexistente, Env("VERUZADU_FB_PASSWORD"),
         "No such file or directory"},
        {"base inexistente, gerenciador", true, inexistente, Env("VERUZADU_FB_PASSWORD"),
         inexistente},
        {"senha errada", false, banco, "errada", "user name and password"},
    };
    for (const Caso& c : casos) {
        TvekIbGbak b;
        Conta(b);
        b.PassWord = c.senha;
        b.DataBaseFiles.Add().FileName = c.base;
        b.BackupFiles.Add().FileName =
            c.gerenciador ? NoServidor("x.fbk") : (local_ / "x.fbk").string();
        b.opBackup.Service = c.gerenciador;
        if (!c.gerenciador) b.opBackup.StatutMessageFile = (local_ / "status.txt").string();
        b.opBackup.OverWriteStatFile = true;
        EXPECT_FALSE(b.Backup()) << c.nome;
        EXPECT_EQ(b.ExecApp().ExitCode(), 1) << c.nome;
        EXPECT_EQ(b.Motivo().rfind("gbak terminou com código 1: ", 0), 0u)
            << c.nome << ": " << b.Motivo();
        EXPECT_NE(b.Motivo().find(c.motivo), std::string::npos) << c.nome << ": " << b.Motivo();
    }
}

// A backup piped into a restore: the copy is whole, and a failure of either
// end fails the pair (never a database made from a cut stream) without
// hanging the other end.
TEST_F(GbakServidor, BackupEncadeadoNaRestauracao) {
    const std::string banco = CriaBase("origem.fdb");
    const std::string existente = CriaBase("existente.fdb");
    const std::string inexistente = dados_ + "/" + prefixo_ + "-nao-existe.fdb";
    struct Caso {
        const char* nome;
        std::string origem;
        std::string destino;
        bool ok;
        std::string motivo;  // in the failing end's Motivo
    };
    const Caso casos[] = {
        {"copia", banco, NoServidor("copia.fdb"), true, ""},
        {"origem inexistente", inexistente, NoServidor("sem-origem.fdb"), false,
         "No such file or directory"},
        {"destino existente", banco, existente, false, "already exists"},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        TvekIbGbak b(VarianteGbak::Console), r(VarianteGbak::Console);
        Conta(b);
        Conta(r);
        b.DataBaseFiles.Add().FileName = c.origem;
        b.opBackup.GarbageCollect = true;
        b.opBackup.StatutMessageFile = (local_ / "status-b.txt").string();
        b.opBackup.Verbose = b.opBackup.OverWriteStatFile = true;
        r.DataBaseFiles.Add().FileName = c.destino;
        r.opRestore.StatutMessageFile = (local_ / "status-r.txt").string();
        r.opRestore.Verbose = r.opRestore.OverWriteStatFile = true;
        const bool ok = b.BackupRestore(r, true);
        EXPECT_EQ(ok, c.ok) << b.Motivo() << " / " << r.Motivo();
        EXPECT_NE(r.LinhaComando().find("\"stdin\""), std::string::npos) << r.LinhaComando();
        if (c.ok) {
            EXPECT_EQ(Estado(c.destino), Estado(c.origem));
            continue;
        }
        EXPECT_NE((b.Motivo() + r.Motivo()).find(c.motivo), std::string::npos)
            << b.Motivo() << " / " << r.Motivo();
        if (c.destino == existente)
            EXPECT_EQ(Estado(existente), Estado(banco));
        else
            EXPECT_FALSE(fs::exists(c.destino));
    }
}

TEST_F(GbakServidor, GbakAusente) {
    const std::string banco = CriaBase("origem.fdb");
    const fs::path vazia = local_ / "sem-gbak";
    fs::create_directories(vazia);

    TvekIbGbak b;
    Conta(b);
    b.gBakDirectory = vazia.string();
    b.DataBaseFiles.Add().FileName = banco;
    b.BackupFiles.Add().FileName = (local_ / "copia.fbk").string();
    b.CommandLineOnClipBoard = true;
    std::string area;
    b.AreaTransferencia = [&](const std::string& s) { area = s; };
    EXPECT_FALSE(b.Backup());
    EXPECT_EQ(b.Motivo(), "gbak não encontrado: " + vazia.string() + "/gbak");
    EXPECT_EQ(area, "gbak " + b.LinhaComando());
    EXPECT_EQ(b.ExecApp().Error(), TVekExecApp::ErroInicio);

    // The console's plain restore looks only in PATH.
    {
        const VariavelTemporaria path("PATH", vazia.string());
        TvekIbGbak c(VarianteGbak::Console);
        Conta(c);
        c.DataBaseFiles.Add().FileName = NoServidor("nova.fdb");
        c.RestoreFiles.Add().FileName = (local_ / "copia.fbk").string();
        c.CommandLineOnClipBoard = true;
        c.AreaTransferencia = [&](const std::string& s) { area = s; };
        EXPECT_FALSE(c.Restore(false));
        EXPECT_EQ(c.Motivo(), "gbak não encontrado: gbak (PATH)");
        EXPECT_EQ(area, "gBak " + c.LinhaComando());
        EXPECT_EQ(c.ExecApp().Error(), TVekExecApp::ErroInicio);
    }

    // Found again where the tools folder says, without any folder given.
    TvekIbGbak d;
    EXPECT_EQ(d.ProgramaGbak(), PastaBinFirebird() + "gbak");
}

}  // namespace
