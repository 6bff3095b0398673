#include "console/ClienteStatus.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include "console/PostaEm.h"
#include "common/Texto.h"
#include "common/Traducao.h"
#include "console/UtilConsole.h"

// The reader's side: created on the main thread, then touched only on the
// reader's thread (through queued calls to `contexto`).
struct TrabalhoStatus {
    QObject* contexto = nullptr;  // lives on the reader's thread
    QObject* receptor = nullptr;  // lives on the main thread
    std::unique_ptr<QTcpSocket> socket;
    std::unique_ptr<QTimer> limite;
    std::unique_ptr<status::LeitorLinhas> leitor;
    int conexao = 0;
    bool conectou = false;
    std::shared_ptr<std::atomic<bool>> recebeLog;
    std::shared_ptr<std::atomic<long long>> logsDescartados, linhasLongas;
    // Set by the client; run on the main thread through `receptor`.
    std::function<void(int)> conectado, fechado;
    std::function<void(int, std::string)> falhou;
    std::function<void(int, std::vector<status::Resposta>)> respostas;

    template <class F> void Posta(F f) { PostaEm(receptor, std::move(f)); }

    // `agora`: freed here (the thread is ending); else later, since this may
    // run inside one of the socket's own signals.
    void Fecha(bool agora = false) {
        if (limite) limite->stop();
        if (socket) {
            socket->disconnect();
            socket->abort();
            if (agora)
                socket.reset();
            else
                socket.release()->deleteLater();
        }
        conexao = 0;
        conectou = false;
    }

    void Le() {
        if (!socket) return;
        const QByteArray bytes = socket->readAll();
        if (bytes.isEmpty()) return;
        std::vector<std::string> linhas;
        const std::size_t antes = leitor->Descartadas();
        leitor->Recebe(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                       linhas);
        if (leitor->Descartadas() != antes) {
            *linhasLongas += static_cast<long long>(leitor->Descartadas() - antes);
            GravaLogConsole("Serviço Gravação Quv: linha acima de " +
                            std::to_string(leitor->Limite()) + " bytes descartada");
        }
        std::vector<status::Resposta> lote;
        for (const std::string& l : linhas) {
            status::Resposta r = status::InterpretaResposta(Latin1ParaUtf8(l));
            if (r.tipo == status::TipoResposta::Nenhuma) continue;
            if (r.tipo == status::TipoResposta::Log && !recebeLog->load()) {
                ++*logsDescartados;
                continue;
            }
            lote.push_back(std::move(r));
        }
        if (!lote.empty())
            Posta([f = respostas, n = conexao, lote = std::move(lote)] { f(n, lote); });
    }

    // The connection ended: a failure to open it, or the end of an open one.
    void Termina(const std::string& erro) {
        const int n = conexao;
        if (conectou) {
            Le();
            Posta([f = fechado, n] { f(n); });
        } else {
            Posta([f = falhou, n, erro] { f(n, erro); });
        }
        Fecha();
    }

    void Abre(int n, const QString& host, quint16 porta) {
        Fecha();
        conexao = n;
        leitor = std::make_unique<status::LeitorLinhas>(status::kLimiteLinhaResposta);
        socket = std::make_unique<QTcpSocket>();
        QTcpSocket* s = socket.get();
        QObject::connect(s, &QTcpSocket::connected, s, [this, n] {
            if (conexao != n) return;
            conectou = true;
            limite->stop();
            Posta([f = conectado, n] { f(n); });
        });
        QObject::connect(s, &QAbstractSocket::errorOccurred, s, [this, n, s] {
            if (conexao == n) Termina(s->errorString().toStdString());
        });
        QObject::connect(s, &QAbstractSocket::disconnected, s, [this, n] {
            if (conexao == n) Termina({});
        });
        QObject::connect(s, &QIODevice::readyRead, s, [this, n] {
            if (conexao == n) Le();
        });
        if (!limite) {
            limite = std::make_unique<QTimer>();
            limite->setSingleShot(true);
        }
        limite->disconnect();
        QObject::connect(limite.get(), &QTimer::timeout, limite.get(), [this, n] {
            if (conexao == n && !conectou) Termina(Traduz("Tempo de conexão esgotado"));
        });
        limite->start(ClienteStatus::kLimiteConexaoMs);
        s->connectToHost(host, porta, QIODevice::ReadWrite, QAbstractSocket::IPv4Protocol);
    }
};

ClienteStatus::ClienteStatus(Eventos eventos) : eventos_(std::move(eventos)) {
    receptor_ = std::make_unique<QObject>();
    thread_ = std::make_unique<QThread>();
    thread_->setObjectName("ClienteStatus");
    trabalho_ = std::make_shared<TrabalhoStatus>();
    TrabalhoStatus& t = *trabalho_;
    t.receptor = receptor_.get();
    t.contexto = new QObject;
    t.contexto->moveToThread(thread_.get());
    t.recebeLog = recebeLog_;
    t.logsDescartados = logsDescartados_;
    t.linhasLongas = linhasLongas_;
    // Only the connection open now gets through.
    t.conectado = [this](int n) {
        if (n != conexao_) return;
        conectado_ = true;
        if (eventos_.conectado) eventos_.conectado(n);
    };
    t.falhou = [this](int n, const std::string& erro) {
        if (n != conexao_) return;
        conexao_ = 0;
        conectado_ = false;
        if (eventos_.falhou) eventos_.falhou(n, erro);
    };
    t.fechado = [this](int n) {
        if (n != conexao_) return;
        conexao_ = 0;
        conectado_ = false;
        if (eventos_.fechado) eventos_.fechado(n);
    };
    t.respostas = [this](int n, const std::vector<status::Resposta>& r) {
        if (n == conexao_ && eventos_.respostas) eventos_.respostas(n, r);
    };
    thread_->start();
}

ClienteStatus::~ClienteStatus() {
    conexao_ = 0;
    QObject* contexto = trabalho_->contexto;
    PostaEm(contexto, [t = trabalho_] {
        t->Fecha(true);
        t->limite.reset();
        QThread::currentThread()->quit();
    });
    if (thread_->wait(QDeadlineTimer(10000))) {
        delete contexto;
        // Drops whatever the reader still had queued for the main thread.
        receptor_.reset();
        return;
    }
    // A reader that did not end in time still holds these: they are left
    // behind rather than freed under it.
    (void)receptor_.release();
    (void)thread_.release();
}

int ClienteStatus::Abre(const std::string& host, std::uint16_t porta) {
    const int n = ++ultimo_;
    conexao_ = n;
    conectado_ = false;
    PostaEm(trabalho_->contexto,
            [t = trabalho_, n, h = QString::fromStdString(host), porta] { t->Abre(n, h, porta); });
    return n;
}

void ClienteStatus::Fecha() {
    if (conexao_ == 0) return;
    const int n = conexao_;
    conexao_ = 0;
    conectado_ = false;
    PostaEm(trabalho_->contexto, [t = trabalho_, n] {
        if (t->conexao == n) t->Fecha();
    });
}

bool ClienteStatus::Envia(const std::string& bytes) {
    if (!Aberto()) return false;
    PostaEm(trabalho_->contexto,
            [t = trabalho_, n = conexao_, b = QByteArray::fromStdString(bytes)] {
                if (t->conexao == n && t->conectou && t->socket) t->socket->write(b);
            });
    return true;
}
