#pragma once
// One running console per executable and program folder. The first start
// takes an flock on a file in the user's runtime folder, named from a hash of
// the executable's path and the program folder, and listens on a local socket
// of the same name; a later start finds the lock held, asks the first one
// over the socket to show its window, and ends. The kernel drops the lock when
// a process dies (kill -9 included), and the next first start removes the
// dead one's socket under the lock, so a crash never blocks the next start.
//
// Main thread only (the socket is a QLocalServer; its signal arrives on the
// thread that owns this object). Throws nothing.

#include <QObject>
#include <functional>
#include <memory>
#include <string>

class QLocalServer;

class InstanciaUnica final : public QObject {
  public:
    // `chave` names the instance: ChavePadrao() in the program, anything in
    // tests. `pastaRuntime` empty: $XDG_RUNTIME_DIR, else /tmp.
    explicit InstanciaUnica(const std::string& chave, const std::string& pastaRuntime = {},
                            QObject* pai = nullptr);
    ~InstanciaUnica() override;
    InstanciaUnica(const InstanciaUnica&) = delete;
    InstanciaUnica& operator=(const InstanciaUnica&) = delete;

    // True when this process is the first: it holds the lock and listens.
    bool Primeira() const { return fd_ >= 0; }
    // Why the lock file could not be opened or locked ("" when it was, or
    // when another instance holds it): such a start is no second instance.
    const std::string& ErroTrava() const { return erroTrava_; }
    // From a later start: asks the first instance to show itself, waiting at
    // most `limiteMs`. True when it got the request.
    bool AtivaPrimeira(int limiteMs = 3000);

    // The executable's path and the program folder, hashed.
    static std::string ChavePadrao();
    static std::string ChaveDe(const std::string& executavel, const std::string& pastaPrograma);
    const std::string& NomeServidor() const { return nome_; }

    // Called when a later start asked this one to show its window.
    std::function<void()> AoPedirAtivacao;

  private:
    std::string nome_;
    std::string arquivoTrava_;
    std::string erroTrava_;
    int fd_ = -1;
    std::unique_ptr<QLocalServer> servidor_;
};
