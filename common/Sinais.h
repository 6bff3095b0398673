#pragma once
// Stop signals for programs that use the Firebird client library. The library
// installs its own SIGTERM/SIGINT handler, after which a process no longer
// stops when told; so every program blocks SIGTERM, SIGINT and SIGHUP first
// thing in main (before any thread starts and before any Firebird call, so
// every thread inherits the mask) and takes them synchronously instead.

#include <chrono>

// Blocks SIGTERM, SIGINT and SIGHUP in the calling thread. Call it first in main.
void BloqueiaSinaisParada();

// Waits up to `limite` for one of them; returns its number, or 0 when none came.
int AguardaSinalParada(std::chrono::milliseconds limite);

// A descriptor that becomes readable when one of them arrives, for poll loops
// and Qt socket notifiers. Owns the descriptor.
class DescritorSinais final {
  public:
    DescritorSinais();
    DescritorSinais(const DescritorSinais&) = delete;
    DescritorSinais& operator=(const DescritorSinais&) = delete;
    ~DescritorSinais();

    int Descritor() const { return fd_; }
    // Takes one pending signal; returns its number, or 0 when none is pending.
    int Le();

  private:
    int fd_ = -1;
};
