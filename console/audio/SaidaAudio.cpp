#include "console/audio/SaidaAudio.h"

#include <QMetaObject>
#include <algorithm>
#include <chrono>
#include <vector>

namespace {
// How long the opening of the device may take before the run gives up.
constexpr auto LimiteAbertura = std::chrono::seconds(15);
}  // namespace

SaidaAudio::SaidaAudio(FabricaDispositivo fabrica, QObject* pai)
    : QObject(pai), fabrica_(std::move(fabrica)) {}

SaidaAudio::~SaidaAudio() {
    Para(true);
}

void SaidaAudio::Junta() {
    if (thread_.joinable()) thread_.join();
}

void SaidaAudio::Entrega(std::uint64_t execucao, std::function<void()> acao) {
    QMetaObject::invokeMethod(
        this,
        [this, execucao, acao = std::move(acao)] {
            if (execucao_.load() == execucao) acao();
        },
        Qt::QueuedConnection);
}

void SaidaAudio::Executa(std::unique_ptr<LeitorAudio> leitor) {
    if (estado_.load() != Estado::Ocioso) throw ErroAudio("A saída de áudio está ocupada");
    if (!leitor) throw ErroAudio("Nenhum arquivo de áudio para reproduzir");
    Junta();  // the previous playback's thread has ended already
    const std::uint64_t execucao = ++execucao_;
    {
        std::lock_guard lk(mutex_);
        parar_ = pausar_ = false;
        saltos_.clear();
        aberturaEstado_ = 0;
        aberturaErro_.clear();
        estado_ = Estado::Tocando;
    }
    tocados_ = 0;
    underruns_ = 0;
    taxa_ = leitor->Formato().taxa;
    thread_ = std::thread(&SaidaAudio::Toca, this, execucao, std::move(leitor));

    std::unique_lock lk(mutex_);
    if (!cv_.wait_for(lk, LimiteAbertura, [this] { return aberturaEstado_ != 0; })) {
        parar_ = true;
        lk.unlock();
        ++execucao_;
        Junta();
        throw ErroAudio("O dispositivo de áudio não respondeu");
    }
    if (aberturaEstado_ == 2) {
        const std::string erro = aberturaErro_;
        lk.unlock();
        ++execucao_;
        Junta();
        throw ErroAudio(erro);
    }
}

void SaidaAudio::Para(bool espera) {
    {
        std::lock_guard lk(mutex_);
        parar_ = true;
    }
    cv_.notify_all();
    if (espera) {
        ++execucao_;  // what the playback still delivers is dropped
        Junta();
    }
}

void SaidaAudio::Pausa() {
    {
        std::lock_guard lk(mutex_);
        if (estado_.load() != Estado::Tocando) return;
        pausar_ = true;
        estado_ = Estado::Pausado;
    }
    cv_.notify_all();
}

void SaidaAudio::Continua() {
    {
        std::lock_guard lk(mutex_);
        if (estado_.load() != Estado::Pausado) return;
        pausar_ = false;
        estado_ = Estado::Tocando;
    }
    cv_.notify_all();
}

void SaidaAudio::Salta(int milesimos) {
    {
        std::lock_guard lk(mutex_);
        if (estado_.load() == Estado::Ocioso) return;
        saltos_.push_back({true, milesimos});
    }
    cv_.notify_all();
}

void SaidaAudio::Posiciona(std::uint64_t amostra) {
    {
        std::lock_guard lk(mutex_);
        if (estado_.load() == Estado::Ocioso) return;
        saltos_.push_back({false, static_cast<std::int64_t>(amostra)});
    }
    cv_.notify_all();
}

int SaidaAudio::TempoDecorrido() const {
    const auto taxa = static_cast<std::uint64_t>(taxa_.load());
    return taxa ? static_cast<int>((tocados_.load() + taxa / 2) / taxa) : 0;
}

void SaidaAudio::AplicaSalto(LeitorAudio& leitor, DispositivoAudio* disp) {
    // Where the listener is: what was read minus what the device still holds.
    std::uint64_t ouvido = leitor.Posicao();
    if (disp) {
        ouvido -= std::min<std::uint64_t>(disp->Atraso(), ouvido);
        disp->Descarta();
    }
    const auto total = static_cast<std::int64_t>(leitor.TotalAmostras());
    auto novo = static_cast<std::int64_t>(ouvido);
    for (const Salto& s : saltos_) {
        novo = s.relativo ? novo + s.valor * total / 1000 : s.valor;
        novo = std::clamp<std::int64_t>(novo, 0, total);
    }
    saltos_.clear();
    leitor.Posiciona(static_cast<std::uint64_t>(novo));
    tocados_ = static_cast<std::uint64_t>(novo);
}

void SaidaAudio::Toca(std::uint64_t execucao, std::unique_ptr<LeitorAudio> leitor) {
    std::unique_ptr<DispositivoAudio> disp;
    try {
        disp = fabrica_();
        if (!disp) throw ErroAudio("Nenhum dispositivo de áudio");
        disp->Abre(leitor->Formato());
    } catch (const std::exception& e) {
        disp.reset();
        leitor.reset();
        {
            std::lock_guard lk(mutex_);
            aberturaEstado_ = 2;
            aberturaErro_ = e.what();
            estado_ = Estado::Ocioso;
        }
        cv_.notify_all();
        return;
    }
    {
        std::lock_guard lk(mutex_);
        aberturaEstado_ = 1;
    }
    cv_.notify_all();

    const std::size_t bq = static_cast<std::size_t>(leitor->Formato().BytesPorQuadro());
    const std::size_t periodo = std::max<std::size_t>(disp->QuadrosPorPeriodo(), 1);
    const std::uint64_t total = leitor->TotalAmostras();
    std::vector<std::uint8_t> buffer(periodo * bq);
    int ultimoPercentual = -1;
    std::string erro;
    try {
        for (;;) {
            {
                std::unique_lock lk(mutex_);
                if (parar_) break;
                if (pausar_) {
                    // Nothing of the device's buffer is lost: the reader goes
                    // back to the first frame not heard.
                    std::uint64_t ouvido = leitor->Posicao();
                    ouvido -= std::min<std::uint64_t>(disp->Atraso(), ouvido);
                    disp->Descarta();
                    leitor->Posiciona(ouvido);
                    tocados_ = ouvido;
                    while (pausar_ && !parar_) {
                        cv_.wait_for(lk, std::chrono::milliseconds(200));
                        if (!saltos_.empty()) AplicaSalto(*leitor, nullptr);
                    }
                    if (parar_) break;
                }
                if (!saltos_.empty()) AplicaSalto(*leitor, disp.get());
            }
            const std::size_t n = leitor->Le(buffer.data(), periodo);
            if (n == 0) {
                disp->Drena();
                tocados_ = total;
                break;
            }
            disp->Escreve(buffer.data(), n);
            std::uint64_t ouvido = leitor->Posicao();
            ouvido -= std::min<std::uint64_t>(disp->Atraso(), ouvido);
            tocados_ = ouvido;
            underruns_ = disp->Underruns();
            const int percentual = total ? static_cast<int>(ouvido * 100 / total) : 100;
            if (percentual != ultimoPercentual) {
                ultimoPercentual = percentual;
                Entrega(execucao, [this, percentual] {
                    if (AoProgredir) AoProgredir(percentual);
                });
            }
        }
        {
            std::lock_guard lk(mutex_);
            if (parar_) disp->Descarta();
        }
    } catch (const std::exception& e) {
        erro = e.what();
    }
    underruns_ = disp->Underruns();
    disp.reset();
    leitor.reset();
    {
        std::lock_guard lk(mutex_);
        estado_ = Estado::Ocioso;
    }
    if (!erro.empty())
        Entrega(execucao, [this, erro] {
            if (AoErro) AoErro(erro);
        });
    Entrega(execucao, [this] {
        if (AoTerminar) AoTerminar();
    });
}
