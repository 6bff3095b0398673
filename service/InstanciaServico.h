#pragma once
// The running service's own instance: one service per program folder. It
// holds an exclusive lock on the folder's lock file for its whole life, taken
// before any database work; the lock goes with the process, however it ends,
// so a stale file never blocks a start. The pid file is written under the
// lock, for the pid-file backend of common/ServiceControl.h, which reads both
// from other processes.

#include <filesystem>
#include <string>

// Owned by pelmoran's main; not thread-safe.
class TravaInstancia final {
  public:
    TravaInstancia() = default;
    ~TravaInstancia();
    TravaInstancia(const TravaInstancia&) = delete;
    TravaInstancia& operator=(const TravaInstancia&) = delete;
    // False with the reason in `erro` (another service holds it, or the file
    // cannot be opened).
    bool Adquire(const std::filesystem::path& pasta, std::string& erro);

  private:
    int fd_ = -1;
};

// The one wording of the second-instance refusal.
std::string TextoJaEmExecucao(int pid);

// Pid file kept by the running service (the caller holds the instance lock);
// false with the reason in `erro`. Remove deletes it only if it is ours.
bool GravaArquivoPid(const std::filesystem::path& pasta, std::string& erro);
void RemoveArquivoPid(const std::filesystem::path& pasta);
