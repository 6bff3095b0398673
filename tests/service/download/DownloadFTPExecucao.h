#pragma once
// One download run object for a test: its service log, database settings,
// alert queue and a clock the test moves, in a folder of the test's own.
// The run is used from the test's thread (its members are called directly,
// the thread body is never started).

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>

#include "service/download/PABXDownloadFTP.h"

// A clock the test sets, or drives with a function (a window that ends once
// a given file has arrived, say).
class RelogioCaminhada final : public Relogio {
  public:
    DataHora Agora() const override {
        std::lock_guard t(trava_);
        return funcao_ ? funcao_() : agora_;
    }
    void Define(DataHora d) {
        std::lock_guard t(trava_);
        agora_ = d;
        funcao_ = {};
    }
    void Define(std::function<DataHora()> f) {
        std::lock_guard t(trava_);
        funcao_ = std::move(f);
    }

  private:
    mutable std::mutex trava_;
    DataHora agora_{2024, 3, 5, 10, 0, 0, 0};
    std::function<DataHora()> funcao_;
};

struct ExecucaoFTPTeste {
    explicit ExecucaoFTPTeste(const std::filesystem::path& pasta, ParametrosBDServico bd = {},
                              std::shared_ptr<ConfiguracaoServico> configuracao = nullptr)
        : log(pasta), banco(log, std::move(bd)), alertas([] { return 3; }),
          config(configuracao ? std::move(configuracao) : std::make_shared<ConfiguracaoServico>()) {
        log.DefineMascara(0xFF);
        fila = std::make_shared<FilaEmails>();
        alertas.DefineFila(fila);
    }
    // A run for unit `codigo` with its working folder `pastaPABX`.
    std::unique_ptr<TPABXDownloadFTP> Cria(int codigo, const std::filesystem::path& pastaPABX) {
        auto r = std::make_unique<TPABXDownloadFTP>(
            codigo, AmbienteDownload{log, banco, alertas, relogio, {}}, config);
        std::filesystem::create_directories(pastaPABX);
        r->PastaPABX = pastaPABX.string() + "/";
        r->InicioPeriodo = DataHora{2024, 3, 5, 0, 0, 0, 0};
        r->FimPeriodo = DataHora{2024, 3, 5, 23, 59, 0, 0};
        r->DescricaoPABX = "Unidade de teste";
        r->PausaReconexaoFTP = std::chrono::milliseconds(100);
        return r;
    }

    LogServico log;
    BancoServico banco;
    AlertasEmail alertas;
    std::shared_ptr<FilaEmails> fila;
    RelogioCaminhada relogio;
    std::shared_ptr<ConfiguracaoServico> config;
};
