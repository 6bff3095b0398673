#pragma once
// A plain FTP client over sockets for the benchmarks' yardsticks: one control
// connection to 127.0.0.1, binary mode, a passive data connection per file.
// It has none of libcurl's own waits, so a ratio against it measures the
// project's client. Every socket wait is bounded (30 s).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>

class FTPSimples {
  public:
    FTPSimples(int porta, const std::string& usuario, const std::string& senha) {
        ctrl_ = Conecta(porta);
        Resposta(220);
        Comando("USER " + usuario, 331);
        Comando("PASS " + senha, 230);
        Comando("TYPE I", 200);
    }
    ~FTPSimples() {
        try {
            Comando("QUIT", 221);
        } catch (...) {
        }
        ::close(ctrl_);
    }
    // STOR of a local file at `caminho` (relative to the login folder).
    void Envia(const std::filesystem::path& origem, const std::string& caminho) {
        // Folders once each, from the top.
        for (std::size_t p = caminho.find('/'); p != std::string::npos;
             p = caminho.find('/', p + 1)) {
            const std::string pasta = caminho.substr(0, p);
            if (feitas_.insert(pasta).second) Comando("MKD " + pasta, 0);
        }
        const int dados = Passivo();
        Escreve(ctrl_, "STOR " + caminho + "\r\n");
        const std::string inicio = Resposta(0);
        if (inicio.empty() || (inicio[0] != '1' && inicio[0] != '2')) {
            ::close(dados);
            throw std::runtime_error("STOR: " + inicio);
        }
        std::ifstream f(origem, std::ios::binary);
        char b[64 * 1024];
        while (f.read(b, sizeof b) || f.gcount() > 0)
            Escreve(dados, std::string_view(b, static_cast<std::size_t>(f.gcount())));
        ::close(dados);
        if (inicio[0] == '1') Resposta(226);
    }

    // RETR of `caminho` into a local file.
    void Baixa(const std::string& caminho, const std::filesystem::path& destino) {
        const int dados = Passivo();
        Escreve(ctrl_, "RETR " + caminho + "\r\n");
        const std::string inicio = Resposta(0);
        if (inicio.empty() || inicio[0] != '1') {
            ::close(dados);
            throw std::runtime_error("RETR: " + inicio);
        }
        std::ofstream f(destino, std::ios::binary);
        char b[64 * 1024];
        for (;;) {
            const ssize_t n = ::recv(dados, b, sizeof b, 0);
            if (n < 0) {
                ::close(dados);
                throw std::runtime_error("FTP data lost");
            }
            if (n == 0) break;
            f.write(b, n);
        }
        ::close(dados);
        Resposta(226);
    }

  private:
    int Passivo() {
        const std::string r = Comando("PASV", 227);
        int h1, h2, h3, h4, p1, p2;
        const auto a = r.find('(');
        if (a == std::string::npos ||
            std::sscanf(r.c_str() + a, "(%d,%d,%d,%d,%d,%d)", &h1, &h2, &h3, &h4, &p1, &p2) != 6)
            throw std::runtime_error("PASV: " + r);
        return Conecta(p1 * 256 + p2);
    }
    static int Conecta(int porta) {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in e{};
        e.sin_family = AF_INET;
        e.sin_port = htons(static_cast<std::uint16_t>(porta));
        e.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        timeval t{30, 0};
        ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &t, sizeof t);
        ::setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &t, sizeof t);
        if (::connect(s, reinterpret_cast<sockaddr*>(&e), sizeof e) != 0) {
            ::close(s);
            throw std::runtime_error("FTP connect failed");
        }
        return s;
    }
    static void Escreve(int s, std::string_view b) {
        while (!b.empty()) {
            const ssize_t n = ::send(s, b.data(), b.size(), MSG_NOSIGNAL);
            if (n <= 0) throw std::runtime_error("FTP send failed");
            b.remove_prefix(static_cast<std::size_t>(n));
        }
    }
    std::string Linha() {
        for (;;) {
            const auto p = buffer_.find("\r\n");
            if (p != std::string::npos) {
                std::string l = buffer_.substr(0, p);
                buffer_.erase(0, p + 2);
                return l;
            }
            char b[4096];
            const ssize_t n = ::recv(ctrl_, b, sizeof b, 0);
            if (n <= 0) throw std::runtime_error("FTP reply lost");
            buffer_.append(b, static_cast<std::size_t>(n));
        }
    }
    // The whole (possibly multi-line) reply; `codigo` 0 takes any.
    std::string Resposta(int codigo) {
        std::string l = Linha();
        if (l.size() >= 4 && l[3] == '-') {
            const std::string fim = l.substr(0, 3) + " ";
            while (l.compare(0, 4, fim) != 0) l = Linha();
        }
        if (codigo && std::atoi(l.c_str()) != codigo) throw std::runtime_error("FTP: " + l);
        return l;
    }
    std::string Comando(const std::string& c, int codigo) {
        Escreve(ctrl_, c + "\r\n");
        return Resposta(codigo);
    }

    int ctrl_ = -1;
    std::string buffer_;
    std::set<std::string> feitas_;
};
