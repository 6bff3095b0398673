#include "console/InstanciaUnica.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/Configuracao.h"

namespace {

std::string PastaRuntime(const std::string& dada) {
    if (!dada.empty()) return dada;
    if (const char* r = std::getenv("XDG_RUNTIME_DIR"); r && *r && ::access(r, W_OK) == 0) return r;
    return "/tmp";
}

}  // namespace

std::string InstanciaUnica::ChavePadrao() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ChaveDe(exe.string(), PastaPrograma());
}

std::string InstanciaUnica::ChaveDe(const std::string& executavel,
                                    const std::string& pastaPrograma) {
    const std::string base = executavel + "\n" + pastaPrograma;
    return QCryptographicHash::hash(QByteArray::fromStdString(base), QCryptographicHash::Sha256)
        .toHex()
        .left(24)
        .toStdString();
}

InstanciaUnica::InstanciaUnica(const std::string& chave, const std::string& pastaRuntime,
                               QObject* pai)
    : QObject(pai) {
    const std::string pasta = PastaRuntime(pastaRuntime);
    nome_ = pasta + "/veruzadu-" + std::to_string(::getuid()) + "-" + chave + ".sock";
    arquivoTrava_ = pasta + "/veruzadu-" + std::to_string(::getuid()) + "-" + chave + ".lock";
    const int fd = ::open(arquivoTrava_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        erroTrava_ = arquivoTrava_ + ": " + std::strerror(errno);
        return;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK) erroTrava_ = arquivoTrava_ + ": " + std::strerror(errno);
        ::close(fd);
        return;
    }
    fd_ = fd;
    // Under the lock no other instance listens: a socket file left is a dead one's.
    QLocalServer::removeServer(QString::fromStdString(nome_));
    servidor_ = std::make_unique<QLocalServer>();
    servidor_->setSocketOptions(QLocalServer::UserAccessOption);
    if (servidor_->listen(QString::fromStdString(nome_))) {
        connect(servidor_.get(), &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket* s = servidor_->nextPendingConnection()) {
                connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
                s->disconnectFromServer();
                if (AoPedirAtivacao) AoPedirAtivacao();
            }
        });
    }
}

InstanciaUnica::~InstanciaUnica() {
    if (servidor_) servidor_->close();
    servidor_.reset();
    if (fd_ >= 0) ::close(fd_);
}

bool InstanciaUnica::AtivaPrimeira(int limiteMs) {
    QElapsedTimer relogio;
    relogio.start();
    // The first instance may be starting up and not listen yet: try a few times.
    while (relogio.elapsed() < limiteMs) {
        QLocalSocket s;
        s.connectToServer(QString::fromStdString(nome_));
        if (s.waitForConnected(
                std::max<int>(100, limiteMs - static_cast<int>(relogio.elapsed())))) {
            s.write("ativa\n");
            s.waitForBytesWritten(500);
            s.disconnectFromServer();
            return true;
        }
        QThread::msleep(100);
    }
    return false;
}
