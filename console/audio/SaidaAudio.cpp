#include "console/audio/SaidaAudio.h"

#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <vector>

#include "console/PostaEm.h"

SaidaAudio::SaidaAudio(FabricaDispositivo fabrica, QObject* pai)
    : QObject(pai), fabrica_(std::move(fabrica)), p_(std::make_shared<Partilha>()) {
    p_->dono = this;
}

SaidaAudio::~SaidaAudio() {
    Para(true);
    // A thread let go by Para holds its state still: it must not post here.
    std::lock_guard lk(p_->mutex);
    p_->dono = nullptr;
}

void SaidaAudio::Junta(std::chrono::milliseconds limite) {
    if (!thread_.joinable()) return;
    std::unique_lock lk(p_->mutex);
    if (p_->cv.wait_for(lk, limite, [this] { return p_->terminou; })) {
        lk.unlock();
        thread_.join();
        return;
    }
    // The device does not answer: the thread keeps its own state and ends
    // whenever the device lets it, delivering nothing; this output goes on
    // with a fresh state.
    p_->dono = nullptr;
    p_->parar = true;
    lk.unlock();
    p_->cv.notify_all();
    thread_.detach();
    p_ = std::make_shared<Partilha>();
    p_->dono = this;
}

void SaidaAudio::Entrega(Partilha& p, std::uint64_t execucao,
                         std::function<void(SaidaAudio&)> acao) {
    // Posted under the mutex: the output cannot let go (and be destroyed)
    // meanwhile, and a destroyed output's queued calls are dropped by Qt.
    std::lock_guard lk(p.mutex);
    SaidaAudio* dono = p.dono;
    if (!dono) return;
    PostaEm(dono, [dono, execucao, acao = std::move(acao)] {
        if (dono->execucao_.load() == execucao) acao(*dono);
    });
}

void SaidaAudio::Executa(std::unique_ptr<LeitorAudio> leitor) {
    if (p_->estado.load() != Estado::Ocioso) throw ErroAudio("A saída de áudio está ocupada");
    if (!leitor) throw ErroAudio("Nenhum arquivo de áudio para reproduzir");
    Junta(LimiteParada);  // the previous playback's thread has ended already
    const std::uint64_t execucao = ++execucao_;
    {
        std::lock_guard lk(p_->mutex);
        p_->parar = p_->pausar = false;
        p_->saltos.clear();
        p_->aberturaEstado = 0;
        p_->aberturaErro.clear();
        p_->terminou = false;
        p_->estado = Estado::Tocando;
    }
    p_->tocados = 0;
    p_->underruns = 0;
    p_->taxa = leitor->Formato().taxa;
    thread_ = std::thread(&SaidaAudio::Toca, p_, fabrica_, execucao, std::move(leitor));

    std::unique_lock lk(p_->mutex);
    if (!p_->cv.wait_for(lk, LimiteAbertura, [this] { return p_->aberturaEstado != 0; })) {
        p_->parar = true;
        lk.unlock();
        ++execucao_;
        Junta(LimiteParada);
        p_->estado = Estado::Ocioso;
        throw ErroAudio("O dispositivo de áudio não respondeu");
    }
    if (p_->aberturaEstado == 2) {
        const std::string erro = p_->aberturaErro;
        lk.unlock();
        ++execucao_;
        Junta(LimiteParada);
        throw ErroAudio(erro);
    }
}

void SaidaAudio::Para(bool espera) {
    {
        std::lock_guard lk(p_->mutex);
        p_->parar = true;
    }
    p_->cv.notify_all();
    if (espera) {
        ++execucao_;  // what the playback still delivers is dropped
        Junta(LimiteParada);
        p_->estado = Estado::Ocioso;
    }
}

void SaidaAudio::Pausa() {
    {
        std::lock_guard lk(p_->mutex);
        if (p_->estado.load() != Estado::Tocando) return;
        p_->pausar = true;
        p_->estado = Estado::Pausado;
    }
    p_->cv.notify_all();
}

void SaidaAudio::Continua() {
    {
        std::lock_guard lk(p_->mutex);
        if (p_->estado.load() != Estado::Pausado) return;
        p_->pausar = false;
        p_->estado = Estado::Tocando;
    }
    p_->cv.notify_all();
}

void SaidaAudio::Salta(int milesimos) {
    {
        std::lock_guard lk(p_->mutex);
        if (p_->estado.load() == Estado::Ocioso) return;
        p_->saltos.push_back({true, milesimos});
    }
    p_->cv.notify_all();
}

void SaidaAudio::Posiciona(std::uint64_t amostra) {
    {
        std::lock_guard lk(p_->mutex);
        if (p_->estado.load() == Estado::Ocioso) return;
        p_->saltos.push_back({false, static_cast<std::int64_t>(amostra)});
    }
    p_->cv.notify_all();
}

int SaidaAudio::TempoDecorrido() const {
    const auto taxa = static_cast<std::uint64_t>(p_->taxa.load());
    return taxa ? static_cast<int>((p_->tocados.load() + taxa / 2) / taxa) : 0;
}

void SaidaAudio::AplicaSalto(Partilha& p, LeitorAudio& leitor, DispositivoAudio* disp) {
    // Where the listener is: what was read minus what the device still holds.
    std::uint64_t ouvido = leitor.Posicao();
    if (disp) {
        ouvido -= std::min<std::uint64_t>(disp->Atraso(), ouvido);
        disp->Descarta();
    }
    const auto total = static_cast<std::int64_t>(leitor.TotalAmostras());
    auto novo = static_cast<std::int64_t>(ouvido);
    for (const Salto& s : p.saltos) {
        novo = s.relativo ? novo + s.valor * total / 1000 : s.valor;
        novo = std::clamp<std::int64_t>(novo, 0, total);
    }
    p.saltos.clear();
    leitor.Posiciona(static_cast<std::uint64_t>(novo));
    p.tocados = static_cast<std::uint64_t>(novo);
}

void SaidaAudio::Toca(std::shared_ptr<Partilha> ptr, FabricaDispositivo fabrica,
                      std::uint64_t execucao, std::unique_ptr<LeitorAudio> leitor) {
    Partilha& p = *ptr;
    const auto termina = [&p] {
        {
            std::lock_guard lk(p.mutex);
            p.estado = Estado::Ocioso;
            p.terminou = true;
        }
        p.cv.notify_all();
    };
    std::unique_ptr<DispositivoAudio> disp;
    try {
        disp = fabrica();
        if (!disp) throw ErroAudio("Nenhum dispositivo de áudio");
        disp->Abre(leitor->Formato());
    } catch (const std::exception& e) {
        disp.reset();
        leitor.reset();
        {
            std::lock_guard lk(p.mutex);
            p.aberturaEstado = 2;
            p.aberturaErro = e.what();
        }
        termina();
        return;
    }
    {
        std::lock_guard lk(p.mutex);
        p.aberturaEstado = 1;
    }
    p.cv.notify_all();

    const std::size_t bq = static_cast<std::size_t>(leitor->Formato().BytesPorQuadro());
    const std::size_t periodo = std::max<std::size_t>(disp->QuadrosPorPeriodo(), 1);
    const std::uint64_t total = leitor->TotalAmostras();
    std::vector<std::uint8_t> buffer(periodo * bq);
    int ultimoPercentual = -1;
    std::string erro;
    try {
        for (;;) {
            {
                std::unique_lock lk(p.mutex);
                if (p.parar) break;
                if (p.pausar) {
                    // Nothing of the device's buffer is lost: the reader goes
                    // back to the first frame not heard.
                    std::uint64_t ouvido = leitor->Posicao();
                    ouvido -= std::min<std::uint64_t>(disp->Atraso(), ouvido);
                    disp->Descarta();
                    leitor->Posiciona(ouvido);
                    p.tocados = ouvido;
                    while (p.pausar && !p.parar) {
                        p.cv.wait_for(lk, std::chrono::milliseconds(200));
                        if (!p.saltos.empty()) AplicaSalto(p, *leitor, nullptr);
                    }
                    if (p.parar) break;
                }
                if (!p.saltos.empty()) AplicaSalto(p, *leitor, disp.get());
            }
            const std::size_t n = leitor->Le(buffer.data(), periodo);
            if (n == 0) {
                disp->Drena();
                p.tocados = total;
                break;
            }
            disp->Escreve(buffer.data(), n);
            std::uint64_t ouvido = leitor->Posicao();
            ouvido -= std::min<std::uint64_t>(disp->Atraso(), ouvido);
            p.tocados = ouvido;
            p.underruns = disp->Underruns();
            const int percentual = total ? static_cast<int>(ouvido * 100 / total) : 100;
            if (percentual != ultimoPercentual) {
                ultimoPercentual = percentual;
                Entrega(p, execucao, [percentual](SaidaAudio& s) {
                    if (s.AoProgredir) s.AoProgredir(percentual);
                });
            }
        }
        {
            std::lock_guard lk(p.mutex);
            if (p.parar) disp->Descarta();
        }
    } catch (const std::exception& e) {
        erro = e.what();
    }
    p.underruns = disp->Underruns();
    disp.reset();
    leitor.reset();
    termina();
    if (!erro.empty())
        Entrega(p, execucao, [erro](SaidaAudio& s) {
            if (s.AoErro) s.AoErro(erro);
        });
    Entrega(p, execucao, [](SaidaAudio& s) {
        if (s.AoTerminar) s.AoTerminar();
    });
}
