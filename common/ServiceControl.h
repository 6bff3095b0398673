#pragma once
// Control of the recording service from the console and from scripts: query,
// start and stop. Two backends: systemd (unit ServicoVeruzaduQuv) where systemd
// runs, and a pid file in the program folder elsewhere (and in tests).
// Not thread-safe: one caller at a time.

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/Processos.h"

enum class EstadoServico { NaoInstalado, Parado, Iniciando, Executando, Parando };

const char* NomeEstadoServico(EstadoServico e);

inline constexpr const char* kNomeServico = "ServicoVeruzaduQuv";
inline constexpr const char* kNomeExibicaoServico = "Serviço de Gravação Quv";
// The service writes its pid here (in its program folder) while it runs.
inline constexpr const char* kArquivoPid = "pelmoran.pid";

class ServiceControl {
  public:
    virtual ~ServiceControl() = default;
    virtual EstadoServico Consulta() = 0;
    // Both return false with the reason in `erro`.
    virtual bool Inicia(std::string& erro) = 0;
    virtual bool Para(std::string& erro) = 0;
};

class ServiceControlSystemd final : public ServiceControl {
  public:
    explicit ServiceControlSystemd(std::string unidade = kNomeServico);
    EstadoServico Consulta() override;
    bool Inicia(std::string& erro) override;
    bool Para(std::string& erro) override;

  private:
    std::string unidade_;
};

// Starts `executavel` detached with VERUZADU_HOME = pastaPrograma and finds it
// again through the pid file the service keeps in that folder.
class ServiceControlPidFile final : public ServiceControl {
  public:
    ServiceControlPidFile(std::filesystem::path executavel, std::filesystem::path pastaPrograma,
                          std::chrono::milliseconds limiteInicio = std::chrono::seconds(30),
                          std::chrono::milliseconds limiteParada = std::chrono::minutes(10));
    ~ServiceControlPidFile() override;
    EstadoServico Consulta() override;
    bool Inicia(std::string& erro) override;
    bool Para(std::string& erro) override;
    // Exit code of the service this object started and saw end in Para; -1
    // when it was not ours, or it died of a signal.
    int CodigoSaida() const { return codigoSaida_; }

  private:
    int PidAtivo();
    void ColheFilho();

    std::filesystem::path executavel_;
    std::filesystem::path pasta_;
    std::chrono::milliseconds limiteInicio_;
    std::chrono::milliseconds limiteParada_;
    ProcessoFilho filho_;  // a service this object started and has not reaped yet
    int codigoSaida_ = -1;
};

// systemd where it runs (/run/systemd/system), else the pid file.
std::unique_ptr<ServiceControl> CriaServiceControl(const std::filesystem::path& executavel,
                                                   const std::filesystem::path& pastaPrograma);

// One service per program folder: the running service holds an exclusive
// lock on this file for its whole life (service/InstanciaServico.h) and
// writes its pid beside it.
inline constexpr const char* kArquivoTrava = "pelmoran.lock";

// The pid written in the file, 0 when there is none or it is unreadable.
int LeArquivoPid(const std::filesystem::path& pasta);
// The process holding the instance lock of that folder (seen from another
// process), 0 when none does.
int PidDonoTrava(const std::filesystem::path& pasta);
// The pid of the pid file when that process holds the instance lock and runs
// the service's program; 0 otherwise (a stale or foreign pid is never
// reported, so never signalled).
int PidServicoEmExecucao(const std::filesystem::path& pasta);
