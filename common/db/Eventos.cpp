#include "common/db/Eventos.h"

#include "common/db/FirebirdInterno.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

using namespace Firebird;

// Target of the client library's callback. It lives as long as anyone holds a
// reference: the listener, and the client library while a callback may come.
class EventListener::Retorno final : public IEventCallbackImpl<Retorno, CheckStatusWrapper> {
  public:
    explicit Retorno(unsigned short tamanho) : resultado(tamanho, 0) {}

    void addRef() { ++refs_; }
    int release() {
        if (--refs_ == 0) {
            delete this;
            return 0;
        }
        return 1;
    }

    void eventCallbackFunction(unsigned length, const ISC_UCHAR* events) {
        // A request that is cancelled, or released after it fired, is
        // answered with an empty callback: nothing to count.
        if (length == 0 || events == nullptr) return;
        {
            std::lock_guard<std::mutex> lock(mtx);
            std::memcpy(resultado.data(), events, std::min<std::size_t>(length, resultado.size()));
            chegou = true;
        }
        cv.notify_one();
    }

    std::mutex mtx;  // guards the fields below
    std::condition_variable cv;
    std::vector<unsigned char> resultado;
    bool chegou = false;
    bool parar = false;

  private:
    std::atomic<int> refs_{1};
};

EventListener::EventListener(Attachment& att, std::vector<std::string> nomes)
    : att_(att.Interface()), nomes_(std::move(nomes)) {
    if (!att_) throw FirebirdError({}, "EventListener: not attached");
    if (nomes_.empty() || nomes_.size() > 15)
        throw FirebirdError({}, "EventListener: between 1 and 15 event names");
    // The event parameter block: a version byte, then per name its length,
    // the name and a 32-bit count (little-endian) that the server compares
    // with its own. isc_event_counts reads the same layout.
    bufferEventos_.push_back(1);  // EPB_version1
    for (const std::string& n : nomes_) {
        if (n.empty() || n.size() > 255)
            throw FirebirdError({}, "EventListener: invalid event name");
        bufferEventos_.push_back(static_cast<unsigned char>(n.size()));
        bufferEventos_.insert(bufferEventos_.end(), n.begin(), n.end());
        bufferEventos_.insert(bufferEventos_.end(), 4, 0);
    }
    bufferResultado_ = bufferEventos_;
    tamanho_ = static_cast<unsigned short>(bufferEventos_.size());
    // Without its descriptor a poll loop would never wake: refuse to start.
    fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd_ < 0)
        throw FirebirdError({}, std::string("EventListener: eventfd: ") + std::strerror(errno));
    retorno_ = new Retorno(tamanho_);
    bool linhaDeBase = false;
    try {
        Enfileira();
        // The server answers a new request at once with its current counts:
        // that answer is the baseline, not news. Take it before returning, so
        // that a post made after construction can never be folded into it.
        {
            std::unique_lock<std::mutex> lock(retorno_->mtx);
            linhaDeBase = retorno_->cv.wait_for(lock, std::chrono::seconds(10),
                                                [this] { return retorno_->chegou; });
            if (linhaDeBase) {
                retorno_->chegou = false;
                std::memcpy(bufferResultado_.data(), retorno_->resultado.data(), tamanho_);
            }
        }
        if (linhaDeBase) {
            ISC_ULONG contagens[ISC_STATUS_LENGTH] = {};
            isc_event_counts(contagens, static_cast<short>(tamanho_), bufferEventos_.data(),
                             bufferResultado_.data());
            Enfileira();
        }
    } catch (...) {
        Cancela();
        retorno_->release();
        ::close(fd_);
        throw;
    }
    trabalhador_ = std::thread([this, linhaDeBase] { Trabalha(!linhaDeBase); });
}

EventListener::~EventListener() {
    {
        std::lock_guard<std::mutex> lock(retorno_->mtx);
        retorno_->parar = true;
    }
    retorno_->cv.notify_one();
    if (trabalhador_.joinable()) trabalhador_.join();
    Cancela();
    retorno_->release();
    ::close(fd_);
}

void EventListener::Cancela() {
    if (!eventos_) return;
    fbinterno::Status st;
    eventos_->cancel(st.Ptr());
    if (st.Falhou()) eventos_->release();
    eventos_ = nullptr;
}

void EventListener::Enfileira() {
    fbinterno::Status st;
    if (eventos_) {
        // Already fired: only our reference is left to drop.
        eventos_->release();
        eventos_ = nullptr;
    }
    eventos_ = att_->queEvents(st.Ptr(), retorno_, tamanho_, bufferEventos_.data());
    st.Verifica();
}

void EventListener::Trabalha(bool primeiro) {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(retorno_->mtx);
            retorno_->cv.wait(lock, [this] { return retorno_->chegou || retorno_->parar; });
            if (retorno_->parar) return;
            retorno_->chegou = false;
            std::memcpy(bufferResultado_.data(), retorno_->resultado.data(), tamanho_);
        }
        ISC_ULONG contagens[ISC_STATUS_LENGTH] = {};
        isc_event_counts(contagens, static_cast<short>(tamanho_), bufferEventos_.data(),
                         bufferResultado_.data());
        if (!primeiro) {
            bool algum = false;
            {
                std::lock_guard<std::mutex> lock(mtxPendentes_);
                for (std::size_t i = 0; i < nomes_.size(); ++i) {
                    if (contagens[i] > 0) {
                        pendentes_[nomes_[i]] += contagens[i];
                        algum = true;
                    }
                }
                // Under the lock, so Toma never drains the descriptor before
                // the counts it stands for are in the map.
                if (algum) {
                    const std::uint64_t um = 1;
                    [[maybe_unused]] auto r = ::write(fd_, &um, sizeof um);
                }
            }
            if (algum) cvPendentes_.notify_all();
        }
        primeiro = false;
        try {
            Enfileira();
        } catch (const FirebirdError&) {
            interrompido_ = true;
            cvPendentes_.notify_all();
            return;
        }
    }
}

std::map<std::string, unsigned long> EventListener::Toma() {
    std::map<std::string, unsigned long> r;
    std::lock_guard<std::mutex> lock(mtxPendentes_);
    r.swap(pendentes_);
    std::uint64_t lixo;
    [[maybe_unused]] auto n = ::read(fd_, &lixo, sizeof lixo);
    return r;
}

std::map<std::string, unsigned long> EventListener::Aguarda(std::chrono::milliseconds limite) {
    {
        std::unique_lock<std::mutex> lock(mtxPendentes_);
        cvPendentes_.wait_for(lock, limite,
                              [this] { return !pendentes_.empty() || interrompido_.load(); });
    }
    return Toma();
}
