#include "common/Sinais.h"

#include <pthread.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace {

sigset_t ConjuntoParada() {
    sigset_t s;
    sigemptyset(&s);
    sigaddset(&s, SIGTERM);
    sigaddset(&s, SIGINT);
    sigaddset(&s, SIGHUP);
    return s;
}

}  // namespace

void BloqueiaSinaisParada() {
    const sigset_t s = ConjuntoParada();
    if (const int e = pthread_sigmask(SIG_BLOCK, &s, nullptr); e != 0)
        throw std::system_error(e, std::generic_category(), "pthread_sigmask");
}

int AguardaSinalParada(std::chrono::milliseconds limite) {
    const sigset_t s = ConjuntoParada();
    // An interruption (another signal's handler) waits only what is left of
    // the limit, never the whole limit again.
    const auto fim =
        std::chrono::steady_clock::now() + std::max(limite, std::chrono::milliseconds(0));
    for (;;) {
        const auto resta = std::max(std::chrono::steady_clock::duration::zero(),
                                    fim - std::chrono::steady_clock::now());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(resta).count();
        timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        const int r = sigtimedwait(&s, nullptr, &ts);
        if (r > 0) return r;
        if (errno == EAGAIN) return 0;
        if (errno != EINTR) throw std::system_error(errno, std::generic_category(), "sigtimedwait");
    }
}

DescritorSinais::DescritorSinais() {
    const sigset_t s = ConjuntoParada();
    fd_ = signalfd(-1, &s, SFD_CLOEXEC | SFD_NONBLOCK);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "signalfd");
}

DescritorSinais::~DescritorSinais() {
    if (fd_ >= 0) ::close(fd_);
}

int DescritorSinais::Le() {
    signalfd_siginfo info{};
    const ssize_t n = ::read(fd_, &info, sizeof info);
    if (n != sizeof info) return 0;
    return static_cast<int>(info.ssi_signo);
}
