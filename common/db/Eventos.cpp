#include "common/db/Eventos.h"

#include "common/db/FirebirdInterno.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>

using namespace Firebird;

// Target of the client library's callback. It lives as long as anyone holds a
// reference: the listener, and the client library while a callback may come.
class EventListener::Retorno final : public IEventCallbackImpl<Retorno, CheckStatusWrapper> {
public:
    explicit Retorno(unsigned short tamanho) : resultado(tamanho, 0) {}

    void addRef() { ++refs_; }
    int release()
    {
        if (--refs_ == 0) {
            delete this;
            return 0;
        }
        return 1;
    }

    void eventCallbackFunction(unsigned length, const ISC_UCHAR* events)
    {
        {
            std::lock_guard<std::mutex> lock(mtx);
            if (length == 0 || events == nullptr) {
                // Called without data when the events are cancelled or the
                // connection breaks.
                vazio = true;
            } else {
                std::memcpy(resultado.data(), events, std::min<std::size_t>(length, resultado.size()));
                vazio = false;
            }
            chegou = true;
        }
        cv.notify_one();
    }

    std::mutex mtx; // guards the fields below
    std::condition_variable cv;
    std::vector<unsigned char> resultado;
    bool chegou = false;
    bool vazio = false;
    bool parar = false;

private:
    std::atomic<int> refs_{1};
};

EventListener::EventListener(Attachment& att, std::vector<std::string> nomes) : att_(att), nomes_(std::move(nomes))
{
    if (nomes_.empty() || nomes_.size() > 15)
        throw FirebirdError({}, "EventListener: between 1 and 15 event names");
    std::vector<ISC_SCHAR*> ponteiros;
    for (std::string& n : nomes_)
        ponteiros.push_back(n.data());
    ISC_SCHAR* ev = nullptr;
    ISC_SCHAR* res = nullptr;
    tamanho_ = isc_event_block_a(&ev, &res, static_cast<ISC_USHORT>(ponteiros.size()), ponteiros.data());
    bufferEventos_ = reinterpret_cast<unsigned char*>(ev);
    bufferResultado_ = reinterpret_cast<unsigned char*>(res);
    fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    retorno_ = new Retorno(tamanho_);
    try {
        Enfileira();
    } catch (...) {
        retorno_->release();
        ::close(fd_);
        isc_free(reinterpret_cast<ISC_SCHAR*>(bufferEventos_));
        isc_free(reinterpret_cast<ISC_SCHAR*>(bufferResultado_));
        throw;
    }
    trabalhador_ = std::thread([this] { Trabalha(); });
}

EventListener::~EventListener()
{
    {
        std::lock_guard<std::mutex> lock(retorno_->mtx);
        retorno_->parar = true;
    }
    retorno_->cv.notify_one();
    if (trabalhador_.joinable())
        trabalhador_.join();
    if (eventos_) {
        fbinterno::Status st;
        eventos_->cancel(st.Ptr());
        if (st.Falhou())
            eventos_->release();
        eventos_ = nullptr;
    }
    retorno_->release();
    ::close(fd_);
    isc_free(reinterpret_cast<ISC_SCHAR*>(bufferEventos_));
    isc_free(reinterpret_cast<ISC_SCHAR*>(bufferResultado_));
}

void EventListener::Enfileira()
{
    fbinterno::Status st;
    if (eventos_) {
        // Already fired: only our reference is left to drop.
        eventos_->release();
        eventos_ = nullptr;
    }
    eventos_ = att_.Interface()->queEvents(st.Ptr(), retorno_, tamanho_, bufferEventos_);
    st.Verifica();
}

void EventListener::Trabalha()
{
    bool primeiro = true;
    for (;;) {
        bool vazio = false;
        {
            std::unique_lock<std::mutex> lock(retorno_->mtx);
            retorno_->cv.wait(lock, [this] { return retorno_->chegou || retorno_->parar; });
            if (retorno_->parar)
                return;
            retorno_->chegou = false;
            vazio = retorno_->vazio;
            if (!vazio)
                std::memcpy(bufferResultado_, retorno_->resultado.data(), tamanho_);
        }
        if (vazio) {
            interrompido_ = true;
            return;
        }
        ISC_ULONG contagens[ISC_STATUS_LENGTH] = {};
        isc_event_counts(contagens, static_cast<short>(tamanho_), bufferEventos_, bufferResultado_);
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
            if (algum)
                cvPendentes_.notify_all();
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

std::map<std::string, unsigned long> EventListener::Toma()
{
    std::map<std::string, unsigned long> r;
    std::lock_guard<std::mutex> lock(mtxPendentes_);
    r.swap(pendentes_);
    std::uint64_t lixo;
    [[maybe_unused]] auto n = ::read(fd_, &lixo, sizeof lixo);
    return r;
}

std::map<std::string, unsigned long> EventListener::Aguarda(std::chrono::milliseconds limite)
{
    {
        std::unique_lock<std::mutex> lock(mtxPendentes_);
        cvPendentes_.wait_for(lock, limite, [this] { return !pendentes_.empty() || interrompido_.load(); });
    }
    return Toma();
}
