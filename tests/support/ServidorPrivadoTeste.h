#pragma once
// A Firebird server of one test's own, for tests that stop and start their
// server while other runs keep using the machine's one: `scripts/firebird
// private-start` in a folder of its own under /tmp (the server's user must
// pass through it), on a free port of localhost, with a copy of the machine's
// security database (so the administrator's password is the test server's).
// Stopped and its folder removed at destruction. Used by the test's thread
// only; failures are reported through Pronto() and Erro(), never thrown.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "tests/support/ServidorTeste.h"
#include "common/Processos.h"

class ServidorPrivadoTeste {
  public:
    ServidorPrivadoTeste() {
        auto base = ServidorTeste::DoAmbiente();
        if (!base) {
            erro_ = "no test server in the environment";
            return;
        }
        std::string modelo = "/tmp/veruzadu-fbpriv.XXXXXX";
        if (!::mkdtemp(modelo.data())) {
            erro_ = "mkdtemp failed";
            return;
        }
        pasta_ = modelo;
        porta_ = PortaLivre();
        srv_ = *base;
        srv_.host = "localhost";
        srv_.porta = porta_;
        srv_.pasta = (pasta_ / "data").string();
        pronto_ = Inicia();
    }
    ~ServidorPrivadoTeste() {
        if (pasta_.empty()) return;
        Script({"private-stop", pasta_.string(), "--remove"});
        std::error_code ec;
        std::filesystem::remove_all(pasta_, ec);
        std::filesystem::remove(SaidaScript(), ec);
    }
    ServidorPrivadoTeste(const ServidorPrivadoTeste&) = delete;
    ServidorPrivadoTeste& operator=(const ServidorPrivadoTeste&) = delete;

    // Whether this machine lets the script give a server a mount namespace of
    // its own (root, or sudo without a password, and namespaces allowed): a
    // container without them cannot run such a server at all.
    static bool Possivel() {
        std::vector<std::string> linha = {"unshare", "-m", "--propagation", "private", "true"};
        if (::geteuid() != 0) linha.insert(linha.begin(), {"sudo", "-n"});
        OpcoesProcesso o;
        o.limite = std::chrono::seconds(30);
        o.saida = "/dev/null";
        return ExecutaProcesso(linha, o).Sucesso();
    }

    bool Pronto() const { return pronto_; }
    const std::string& Erro() const { return erro_; }
    // Where it listens, its data folder and the administrator's login.
    const ServidorTeste& Servidor() const { return srv_; }
    // The alias file it reads.
    std::filesystem::path Aliases() const { return pasta_ / "etc" / "databases.conf"; }

    // The server's own stop (SIGTERM to its pid, then SIGKILL if it lingers)
    // and a start on the same port and folder: its databases stay.
    bool Para() { return Script({"private-stop", pasta_.string()}); }
    bool Inicia() {
        if (Script({"private-start", pasta_.string(), std::to_string(porta_)})) return true;
        erro_ = "scripts/firebird private-start failed: " + LeSaida();
        return false;
    }

  private:
    static int PortaLivre() {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t n = sizeof a;
        int porta = 0;
        if (s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &n) == 0)
            porta = ntohs(a.sin_port);
        if (s >= 0) ::close(s);
        return porta;
    }
    bool Script(std::vector<std::string> args) {
        args.insert(args.begin(), {"bash", std::string(VERUZADU_SOURCE_DIR) + "/scripts/firebird"});
        OpcoesProcesso o;
        o.limite = std::chrono::seconds(90);
        o.saida = SaidaScript();
        return ExecutaProcesso(args, o).Sucesso();
    }
    std::filesystem::path SaidaScript() const {
        return std::filesystem::temp_directory_path() /
               ("veruzadu-fbpriv-" + std::to_string(::getpid()) + ".out");
    }
    std::string LeSaida() const {
        std::string s;
        if (FILE* f = std::fopen(SaidaScript().c_str(), "r")) {
            char buf[4096];
            for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s.append(buf, n);
            std::fclose(f);
        }
        return s;
    }

    std::filesystem::path pasta_;
    int porta_ = 0;
    ServidorTeste srv_;
    bool pronto_ = false;
    std::string erro_;
};
