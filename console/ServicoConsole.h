#pragma once
// The recording service as the console sees it: the state shown under the
// service picture, who may start and stop it, and a controller that reads
// the state once a second and starts or stops the service on a worker
// thread, so the window never waits on systemctl or on a slow stop.
//
// The state query needs no right: a console without rights still shows the
// real state. Start and stop need "may control the service": effective uid 0,
// or membership of the group [Veruzadu] GrupoServico (empty: root only).
// On systemd a non-root member also needs a polkit rule for that group;
// without one the refusal comes back as the failure's reason.

#include <QObject>
#include <QPointer>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/ServiceControl.h"

struct ExibicaoServico {
    std::string texto;   // translated label
    std::string figura;  // picture name
    bool iniciar = false;
    bool parar = false;
};
// Executando: "Em execução", only stop; NaoInstalado: "Não instalado", neither;
// anything else (starting and stopping included): "Parado", only start.
ExibicaoServico ExibeEstadoServico(EstadoServico e);

// May this process start and stop the service?
bool PodeControlarServico(unsigned uidEfetivo, const std::vector<std::string>& grupos,
                          const std::string& grupoServico);
// The names of the process's groups (effective, then supplementary).
std::vector<std::string> GruposDoProcesso();

// Owns the backend; the worker threads end before it does. Created, used and
// destroyed on the main thread; results come back to it through a receiver
// of its own, dropped once `contexto` (when given) is gone. The worker holds
// nothing that owns this object, so it is never the one to destroy it.
class ControleServicoConsole final {
  public:
    ControleServicoConsole(std::unique_ptr<ServiceControl> backend, QObject* contexto);
    ~ControleServicoConsole();
    ControleServicoConsole(const ControleServicoConsole&) = delete;
    ControleServicoConsole& operator=(const ControleServicoConsole&) = delete;

    // The last state read (NaoInstalado until the first reading).
    EstadoServico Estado() const { return estado_.load(); }
    bool Ocupado() const { return ocupado_->load(); }
    // Starts (true) or stops (false) on a worker; `fim`(ok, reason) runs on the
    // main thread. False (nothing done) while another start or stop runs.
    bool Executa(bool iniciar, std::function<void(bool ok, const std::string& erro)> fim);

  private:
    void Leitura();

    std::unique_ptr<ServiceControl> backend_;
    QPointer<QObject> contexto_;
    bool temContexto_ = false;
    // Lives on the main thread; the worker's result is queued to it.
    std::unique_ptr<QObject> receptor_ = std::make_unique<QObject>();
    // The caller's end of the running start or stop (main thread only).
    std::function<void(bool, const std::string&)> aoTerminar_;
    std::mutex travaBackend_;  // the backend takes one caller at a time
    std::atomic<EstadoServico> estado_{EstadoServico::NaoInstalado};
    // Shared with the queued result, which may arrive after this object is gone.
    std::shared_ptr<std::atomic<bool>> ocupado_ = std::make_shared<std::atomic<bool>>(false);
    std::mutex trava_;
    std::condition_variable cv_;
    bool fim_ = false;
    std::thread leitor_;
    std::thread trabalho_;
};
