#include "common/ServiceControl.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "common/Processos.h"

namespace {

// Runs a program and returns its exit code, with what it printed in `saida`;
// -1 when it could not be started or did not exit by itself.
int ExecutaComSaida(const std::vector<std::string>& args, std::string& saida) {
    char modelo[] = "/tmp/veruzadu-saida.XXXXXX";
    const int fd = mkstemp(modelo);
    if (fd < 0) return -1;
    close(fd);
    OpcoesProcesso opcoes;
    opcoes.saida = modelo;
    const ResultadoProcesso r = ExecutaProcesso(args, opcoes);
    {
        std::ifstream f(modelo);
        saida.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    unlink(modelo);
    return r.iniciado && r.sinal == 0 && !r.tempoEsgotado ? r.codigoSaida : -1;
}

bool ProcessoVivo(int pid) { return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM); }

std::filesystem::path CaminhoPid(const std::filesystem::path& pasta) { return pasta / kArquivoPid; }

std::filesystem::path CaminhoTrava(const std::filesystem::path& pasta) {
    return pasta / kArquivoTrava;
}

// Whether the process runs the service's program (its executable's name).
bool ExecutaPelmoran(int pid) {
    std::error_code ec;
    std::string exe =
        std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec).string();
    if (ec) return false;
    // A program replaced on disk while it runs (a rebuild, an upgrade).
    const std::string apagado = " (deleted)";
    if (exe.size() > apagado.size() && exe.ends_with(apagado))
        exe.resize(exe.size() - apagado.size());
    return std::filesystem::path(exe).filename() == "pelmoran";
}

}  // namespace

const char* NomeEstadoServico(EstadoServico e) {
    switch (e) {
        case EstadoServico::NaoInstalado: return "não instalado";
        case EstadoServico::Parado: return "parado";
        case EstadoServico::Iniciando: return "iniciando";
        case EstadoServico::Executando: return "em execução";
        case EstadoServico::Parando: return "parando";
    }
    return "";
}

// ---- pid file kept by the service ----

int LeArquivoPid(const std::filesystem::path& pasta) {
    std::ifstream f(CaminhoPid(pasta));
    long pid = 0;
    if (!(f >> pid) || pid <= 0 || pid > 0x7fffffff) return 0;
    return static_cast<int>(pid);
}

int PidDonoTrava(const std::filesystem::path& pasta) {
    const int fd = open(CaminhoTrava(pasta).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    struct flock l {};
    l.l_type = F_WRLCK;
    l.l_whence = SEEK_SET;
    const int r = fcntl(fd, F_GETLK, &l);
    close(fd);
    if (r != 0 || l.l_type == F_UNLCK) return 0;
    return l.l_pid;
}

int PidServicoEmExecucao(const std::filesystem::path& pasta) {
    const int pid = LeArquivoPid(pasta);
    if (pid == 0 || PidDonoTrava(pasta) != pid) return 0;
    return ExecutaPelmoran(pid) ? pid : 0;
}

// ---- systemd ----

ServiceControlSystemd::ServiceControlSystemd(std::string unidade) : unidade_(std::move(unidade)) {}

EstadoServico ServiceControlSystemd::Consulta() {
    std::string saida;
    if (ExecutaComSaida(
            {"systemctl", "show", unidade_ + ".service", "-p", "LoadState", "-p", "ActiveState"},
            saida) != 0)
        return EstadoServico::Parado;
    if (saida.find("LoadState=not-found") != std::string::npos) return EstadoServico::NaoInstalado;
    if (saida.find("ActiveState=active") != std::string::npos ||
        saida.find("ActiveState=reloading") != std::string::npos)
        return EstadoServico::Executando;
    if (saida.find("ActiveState=activating") != std::string::npos) return EstadoServico::Iniciando;
    if (saida.find("ActiveState=deactivating") != std::string::npos) return EstadoServico::Parando;
    return EstadoServico::Parado;
}

bool ServiceControlSystemd::Inicia(std::string& erro) {
    std::string saida;
    if (ExecutaComSaida({"systemctl", "start", unidade_ + ".service"}, saida) == 0) return true;
    erro = "Não foi possível iniciar o serviço " + unidade_;
    return false;
}

bool ServiceControlSystemd::Para(std::string& erro) {
    std::string saida;
    if (ExecutaComSaida({"systemctl", "stop", unidade_ + ".service"}, saida) == 0) return true;
    erro = "Não foi possível parar o serviço " + unidade_;
    return false;
}

// ---- pid file ----

ServiceControlPidFile::ServiceControlPidFile(std::filesystem::path executavel,
                                             std::filesystem::path pastaPrograma,
                                             std::chrono::milliseconds limiteInicio,
                                             std::chrono::milliseconds limiteParada)
    : executavel_(std::move(executavel)), pasta_(std::move(pastaPrograma)),
      limiteInicio_(limiteInicio), limiteParada_(limiteParada) {}

// The service outlives the object that started it.
ServiceControlPidFile::~ServiceControlPidFile() { filho_.Solta(); }

void ServiceControlPidFile::ColheFilho() {
    int status = 0;
    filho_.Terminou(status);
}

int ServiceControlPidFile::PidAtivo() {
    ColheFilho();
    // Only a pid that holds the folder's instance lock and runs the service's
    // program counts: a stale file (a reused pid) is never signalled.
    return PidServicoEmExecucao(pasta_);
}

EstadoServico ServiceControlPidFile::Consulta() {
    if (access(executavel_.c_str(), X_OK) != 0) return EstadoServico::NaoInstalado;
    if (PidAtivo() != 0) return EstadoServico::Executando;
    if (filho_.Pid() > 0 && ProcessoVivo(filho_.Pid())) return EstadoServico::Iniciando;
    return EstadoServico::Parado;
}

bool ServiceControlPidFile::Inicia(std::string& erro) {
    if (access(executavel_.c_str(), X_OK) != 0) {
        erro = "Serviço não instalado: " + executavel_.string();
        return false;
    }
    if (PidAtivo() != 0) return true;

    const std::string exe = executavel_.string();
    OpcoesProcesso opcoes;
    opcoes.ambiente = {"VERUZADU_HOME=" + pasta_.string()};
    opcoes.saida = "/dev/null";
    opcoes.novaSessao = true;
    // One started earlier that never wrote its pid file keeps running.
    filho_.Solta();
    // A bare name means the file in the current folder, never one in PATH.
    filho_ = ProcessoFilho({exe.find('/') == std::string::npos ? "./" + exe : exe}, opcoes);
    if (!filho_.Iniciado()) {
        erro = "Não foi possível iniciar " + exe + ": " + std::strerror(filho_.Erro());
        return false;
    }
    const int pid = filho_.Pid();

    const auto prazo = std::chrono::steady_clock::now() + limiteInicio_;
    while (std::chrono::steady_clock::now() < prazo) {
        if (LeArquivoPid(pasta_) == pid) return true;
        int status = 0;
        if (filho_.Terminou(status)) {
            erro = "O serviço terminou ao iniciar (código " +
                   std::to_string(status != ProcessoFilho::StatusPerdido && WIFEXITED(status)
                                      ? WEXITSTATUS(status)
                                      : -1) +
                   ")";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    erro = "O serviço não respondeu ao iniciar";
    return false;
}

bool ServiceControlPidFile::Para(std::string& erro) {
    codigoSaida_ = -1;
    const int pid = PidAtivo();
    if (pid == 0) return true;
    if (kill(pid, SIGTERM) != 0) {
        erro = "Não foi possível parar o serviço: " + std::string(std::strerror(errno));
        return false;
    }
    const auto prazo = std::chrono::steady_clock::now() + limiteParada_;
    while (std::chrono::steady_clock::now() < prazo) {
        int status = 0;
        if (pid == filho_.Pid()) {
            if (filho_.Terminou(status)) {
                if (status != ProcessoFilho::StatusPerdido && WIFEXITED(status))
                    codigoSaida_ = WEXITSTATUS(status);
                return true;
            }
        } else if (!ProcessoVivo(pid)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    erro = "O serviço não parou no tempo limite";
    return false;
}

std::unique_ptr<ServiceControl> CriaServiceControl(const std::filesystem::path& executavel,
                                                   const std::filesystem::path& pastaPrograma) {
    std::error_code ec;
    if (std::filesystem::is_directory("/run/systemd/system", ec))
        return std::make_unique<ServiceControlSystemd>();
    return std::make_unique<ServiceControlPidFile>(executavel, pastaPrograma);
}
