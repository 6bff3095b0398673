// The installer killed (SIGKILL) at points spread over its run, then run
// again: every time a complete, working installation, nothing half-built
// taken for installed. And an installation with a program user and password
// of its own, which the unit databases' cross-database statements must use.

#include "common/db/Esquema.h"
#include "common/db/Instalacao.h"
#include "tests/support/InstalacaoTeste.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Instalador {
    ServidorTeste srv;
    std::string alias;
    fs::path pasta;
    std::string aliases = "/etc/firebird/3.0/databases.conf";

    Instalador(const ServidorTeste& s, const std::string& nome) : srv(s) {
        alias = "VZT_" + nome + "_" + std::to_string(::getpid());
        pasta = fs::path(srv.pasta) / ("inst-" + nome + "-" + std::to_string(::getpid()));
        if (const char* a = std::getenv("VERUZADU_FB_ALIASES")) aliases = a;
        fs::create_directories(pasta);
        fs::permissions(pasta, fs::perms::all);  // the server writes there as user firebird
    }
    ~Instalador() {
        try {
            RemoveAliasParaTeste(aliases, alias);
        } catch (...) {
        }
    }

    // Starts veruzadu-install; the administrator's password goes through the
    // environment (VERUZADU_FB_PASSWORD, already set by scripts/test).
    pid_t Inicia() const {
        const std::string porta = std::to_string(srv.porta);
        std::vector<std::string> args = {VERUZADU_INSTALL_BIN,
                                         "--server",
                                         srv.host,
                                         "--port",
                                         porta,
                                         "--admin-user",
                                         srv.usuario,
                                         "--data",
                                         pasta.string(),
                                         "--aliases",
                                         aliases,
                                         "--alias",
                                         alias,
                                         "--unit",
                                         "1"};
        if (AliasesPorSudo(aliases))
            args.insert(args.begin(), {"sudo", "-n", "--preserve-env=VERUZADU_FB_PASSWORD"});
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setpgid(0, 0);  // sudo and the installer under it are killed together
            std::vector<char*> argv;
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            const int nulo = ::open("/dev/null", O_WRONLY);
            ::dup2(nulo, 1);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        return pid;
    }
    static int Espera(pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return status;
    }
};

// The program's user reaches the main database and unit 1, both with their
// tables, and nothing is left under a building name.
void VerificaCompleta(const Instalador& i) {
    const OpcoesInstalacao padrao;
    {
        Attachment att =
            Attachment::Conecta({i.srv.Conexao(i.alias), padrao.usuario, padrao.senha});
        Transaction tr(att, true);
        EXPECT_TRUE(TabelaExiste(tr, "PABX"));
        EXPECT_TRUE(TabelaExiste(tr, "USUARIO"));
    }
    for (int unidade : {0, 1}) {
        Attachment att =
            Attachment::Conecta({i.srv.Conexao((i.pasta / NomeArquivoBancoPABX(unidade)).string()),
                                 padrao.usuario, padrao.senha});
        Transaction tr(att, true);
        EXPECT_TRUE(TabelaExiste(tr, "GRAVACAO")) << unidade;
    }
    for (const auto& e : fs::directory_iterator(i.pasta))
        EXPECT_EQ(e.path().string().find(".instalando"), std::string::npos) << e.path();
}

TEST(InstalacaoInterrompida, MortaEmQualquerPontoECompletaNaExecucaoSeguinte) {
    auto srv = ServidorTeste::DoAmbiente();
    if (!srv || !std::getenv("VERUZADU_FB_PASSWORD"))
        SEM_SERVIDOR_TESTE() << "no test server (run through scripts/test)";
    // How long a whole run takes here, to spread the kills over it.
    std::chrono::milliseconds duracao{};
    {
        Instalador medida(*srv, "medida");
        const auto t0 = std::chrono::steady_clock::now();
        ASSERT_EQ(Instalador::Espera(medida.Inicia()), 0);
        duracao = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - t0);
        VerificaCompleta(medida);
    }
    for (int sexto = 0; sexto < 6; ++sexto) {
        SCOPED_TRACE("killed after " + std::to_string(sexto) + "/6 of a run");
        Instalador i(*srv, "morta" + std::to_string(sexto));
        const pid_t pid = i.Inicia();
        std::this_thread::sleep_for(duracao * sexto / 6);
        if (AliasesPorSudo(i.aliases))
            ExecutaEAguarda({"sudo", "-n", "kill", "-KILL", "--", "-" + std::to_string(pid)});
        else
            ::kill(-pid, SIGKILL);
        Instalador::Espera(pid);
        ASSERT_EQ(Instalador::Espera(i.Inicia()), 0);
        VerificaCompleta(i);
        // And a further run finds everything in place.
        ASSERT_EQ(Instalador::Espera(i.Inicia()), 0);
    }
}

TEST(InstalacaoInterrompida, UsuarioESenhaDoProgramaSaoOsDaInstalacao) {
    auto srv = ServidorTeste::DoAmbiente();
    if (!srv) SEM_SERVIDOR_TESTE() << "no test server (run through scripts/test)";
    OpcoesInstalacao o;
    o.servidor = srv->host;
    o.porta = srv->porta;
    o.adminUsuario = srv->usuario;
    o.adminSenha = srv->senha;
    o.usuario = "VZT_PROG_" + std::to_string(::getpid());
    o.senha = "Outra'Senha" + std::to_string(::getpid());
    o.alias = "VZT_PROPRIO_" + std::to_string(::getpid());
    o.pastaDados = fs::path(srv->pasta) / ("proprio-" + std::to_string(::getpid()));
    o.unidades = {1};
    if (const char* a = std::getenv("VERUZADU_FB_ALIASES")) o.arquivoAliases = a;
    fs::create_directories(o.pastaDados);
    fs::permissions(o.pastaDados, fs::perms::all);
    struct Limpa {
        const OpcoesInstalacao& o;
        const ServidorTeste& s;
        ~Limpa() {
            try {
                RemoveAliasParaTeste(o.arquivoAliases, o.alias);
                Attachment admin = Attachment::Conecta(
                    {s.Conexao((o.pastaDados / NomeArquivoBancoPABX(0)).string()), s.usuario,
                     s.senha});
                admin.Executa("DROP USER " + o.usuario);
            } catch (...) {
            }
        }
    } limpa{o, *srv};
    // Unit 1's PABX row is written through the main database as the program's
    // user: with the template's own credentials this would be refused.
    ASSERT_NO_THROW(InstalaParaTeste(o));
    Attachment unidade = Attachment::Conecta(
        {srv->Conexao((o.pastaDados / NomeArquivoBancoPABX(1)).string()), o.usuario, o.senha});
    Transaction tr(unidade, true);
    EXPECT_TRUE(TabelaExiste(tr, "GRAVACAO"));
    const std::string script = ScriptBancoPABX("localhost:" + o.alias, o.usuario, o.senha);
    EXPECT_EQ(script.find("lomfadrix"), std::string::npos);
    EXPECT_THROW(ScriptBancoPABX("localhost:X", "nome inválido", "s"), std::invalid_argument);
}

}  // namespace
