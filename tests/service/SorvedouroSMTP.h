#pragma once
// The tests' mail sink (scripts/smtp-sink, aiosmtpd) as an object: one sink
// process per object in a private folder, stopped by its pid at the end; the
// mails it received in their readable form.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/PastaTemporaria.h"

inline const std::string kScript = std::string(VERUZADU_SOURCE_DIR) + "/scripts/smtp-sink";

// One sink process, stopped by its pid at the end.
class Sorvedouro {
  public:
    // comSenha: only user "alerta" with password "segredo" may authenticate.
    explicit Sorvedouro(const std::string& modo, bool comSenha = false) {
        if (comSenha) {
            ::setenv("SMTP_SINK_USER", "alerta", 1);
            ::setenv("SMTP_SINK_PASSWORD", "segredo", 1);
        }
        const std::string cmd = "'" + kScript + "' start '" + dir_.Caminho().string() +
                                "' --mode " + modo + " >/dev/null";
        ok_ = std::system(cmd.c_str()) == 0;
        ::unsetenv("SMTP_SINK_USER");
        ::unsetenv("SMTP_SINK_PASSWORD");
        if (ok_)
            porta_ =
                static_cast<std::uint16_t>(std::stoi(LeTudo(dir_.Caminho() / "smtp-sink.port")));
    }
    ~Sorvedouro() {
        const std::string cmd = "'" + kScript + "' stop '" + dir_.Caminho().string() + "'";
        [[maybe_unused]] const int r = std::system(cmd.c_str());
    }
    bool Ok() const { return ok_; }
    std::uint16_t Porta() const { return porta_; }
    std::string CA() const { return (dir_.Caminho() / "tls" / "ca.pem").string(); }
    // The readable form of every mail received, in order.
    std::vector<std::string> Mensagens() const {
        std::vector<std::filesystem::path> arquivos;
        for (const auto& e : std::filesystem::directory_iterator(dir_.Caminho() / "mail"))
            if (e.path().extension() == ".txt") arquivos.push_back(e.path());
        std::sort(arquivos.begin(), arquivos.end());
        std::vector<std::string> r;
        for (const auto& a : arquivos) r.push_back(LeTudo(a));
        return r;
    }

  private:
    PastaTemporaria dir_;
    bool ok_ = false;
    std::uint16_t porta_ = 0;
};

// The value of "Name: value" in a mail's readable form ("" when missing).
inline std::string Campo(const std::string& mensagem, const std::string& nome) {
    const std::string cabecalho = "\n" + mensagem.substr(0, mensagem.find("\n\n") + 1);
    const std::size_t p = cabecalho.find("\n" + nome + ": ");
    if (p == std::string::npos) return "";
    const std::size_t inicio = p + nome.size() + 3;
    return cabecalho.substr(inicio, cabecalho.find('\n', inicio) - inicio);
}
inline std::string Corpo(const std::string& mensagem) {
    return mensagem.substr(mensagem.find("\n\n") + 2);
}

// A loopback port on which nothing listens: bound, never listening, closed.
inline std::uint16_t PortaFechada() {
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

#define EXIGE_SORVEDOURO(s)                                                                        \
    if (!(s).Ok()) GTEST_FAIL() << "the SMTP sink did not start (python3-aiosmtpd, openssl)"
