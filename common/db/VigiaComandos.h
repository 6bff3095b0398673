#pragma once
// Bounds how long a thread waits on the database server. Work run under a
// guard is watched by a thread of the object's own: once it runs past the
// limit the server is asked to cancel it (the waiting call then fails with
// the server's "operation was cancelled"); when the server does not answer
// that either within a few seconds more (a server or network gone silent),
// the connection's client side is closed and the call fails as a lost
// connection.
//
// Any thread may take a guard; a guard ends on the thread that took it. The
// watched connection is kept alive (referenced) while its guard lasts.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

namespace Firebird {
class IAttachment;
}

class VigiaComandos final {
    struct Entrada;

  public:
    // `limite`: how long work may run; `limiteFecha`: how long after the
    // cancel the connection is closed.
    explicit VigiaComandos(std::chrono::milliseconds limite,
                           std::chrono::milliseconds limiteFecha = std::chrono::seconds(5));
    ~VigiaComandos();
    VigiaComandos(const VigiaComandos&) = delete;
    VigiaComandos& operator=(const VigiaComandos&) = delete;

    void DefineLimite(std::chrono::milliseconds limite);

    class Guarda final {
      public:
        Guarda(Guarda&& o) noexcept : vigia_(o.vigia_), entrada_(std::move(o.entrada_)) {
            o.vigia_ = nullptr;
        }
        Guarda(const Guarda&) = delete;
        Guarda& operator=(const Guarda&) = delete;
        Guarda& operator=(Guarda&&) = delete;
        ~Guarda();
        // The limit passed while the work ran (it was cancelled, or its
        // connection closed).
        bool Disparou() const;

      private:
        friend class VigiaComandos;
        Guarda(VigiaComandos* v, std::shared_ptr<Entrada> e) : vigia_(v), entrada_(std::move(e)) {}
        VigiaComandos* vigia_;
        std::shared_ptr<Entrada> entrada_;
    };

    // Watches work on `att` from now until the guard ends. A null connection
    // gives a guard that watches nothing.
    [[nodiscard]] Guarda Vigia(Firebird::IAttachment* att);

  private:
    struct Entrada {
        Firebird::IAttachment* att = nullptr;
        std::chrono::steady_clock::time_point prazo;
        int estagio = 0;  // 0 watched, 1 cancel asked, 2 connection closed
    };
    void Roda();
    void Termina(const std::shared_ptr<Entrada>& e);

    std::mutex mutex_;
    std::condition_variable cv_;
    std::chrono::milliseconds limite_;
    std::chrono::milliseconds limiteFecha_;
    std::list<std::shared_ptr<Entrada>> entradas_;
    bool fim_ = false;
    std::thread thread_;
};
