#pragma once
// The simulated unit's FTP server (tools/pabx-sim/ftp-server.py, pyftpdlib)
// started for one test over a folder of its own, with the options a test asks
// for; stopped (and reaped) when the object goes. The user and password reach
// it through its environment only.

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "common/Processos.h"

// Writes a test file, making its folders.
inline void GravaTeste(const std::filesystem::path& arquivo, std::string_view conteudo) {
    std::filesystem::create_directories(arquivo.parent_path());
    std::ofstream(arquivo, std::ios::binary) << conteudo;
}

class ServidorFTPTeste final {
  public:
    ServidorFTPTeste(const std::filesystem::path& raiz, const std::filesystem::path& trabalho,
                     const std::vector<std::string>& opcoes = {}, std::string usuario = "norvika",
                     std::string senha = "s3nh@-ftp-teste")
        : usuario_(std::move(usuario)), senha_(std::move(senha)) {
        std::filesystem::create_directories(trabalho);
        const auto arquivoPorta = trabalho / "ftp.port";
        std::filesystem::remove(arquivoPorta);
        std::vector<std::string> args = {"/usr/bin/python3", FTP_SERVER_PY,        "127.0.0.1", "0",
                                         raiz.string(),      arquivoPorta.string()};
        args.insert(args.end(), opcoes.begin(), opcoes.end());
        OpcoesProcesso op;
        op.ambiente = {"PABXSIM_FTP_USER=" + usuario_, "PABXSIM_FTP_PASSWORD=" + senha_};
        op.saida = trabalho / "ftp.out";
        processo_ = ProcessoFilho(args, op);
        if (!processo_.Iniciado()) throw std::runtime_error("ftp-server.py did not start");
        const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < limite) {
            std::ifstream f(arquivoPorta);
            if (f >> porta_ && porta_ > 0) return;
            int status = 0;
            if (processo_.Terminou(status)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        throw std::runtime_error("ftp-server.py did not come up");
    }
    ~ServidorFTPTeste() {
        processo_.Sinaliza(SIGTERM);
        int status = 0;
        if (!processo_.Aguarda(std::chrono::seconds(5), status)) processo_.Termina();
    }
    ServidorFTPTeste(const ServidorFTPTeste&) = delete;
    ServidorFTPTeste& operator=(const ServidorFTPTeste&) = delete;

    int Porta() const { return porta_; }
    int Pid() const { return processo_.Pid(); }
    const std::string& Usuario() const { return usuario_; }
    const std::string& Senha() const { return senha_; }

  private:
    std::string usuario_, senha_;
    int porta_ = 0;
    ProcessoFilho processo_;
};
