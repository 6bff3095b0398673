#include "console/audio/DispositivoAlsa.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

namespace {
// How long the device may go without taking a frame (or ending a drain
// beyond what it still holds) before the playback fails.
constexpr auto LimiteSemResposta = std::chrono::seconds(5);
}  // namespace

DispositivoAlsa::DispositivoAlsa(std::string nome, int latenciaMs)
    : nome_(nome.empty() ? "default" : std::move(nome)), latenciaMs_(std::max(latenciaMs, 10)) {}

DispositivoAlsa::~DispositivoAlsa() {
    if (pcm_) snd_pcm_close(pcm_);
}

void DispositivoAlsa::Falha(const std::string& passo, int codigo) const {
    throw ErroAudio("Dispositivo de áudio \"" + nome_ + "\": " + passo + ": " +
                    snd_strerror(codigo));
}

void DispositivoAlsa::Abre(const FormatoAudio& formato) {
    if (pcm_) {
        snd_pcm_close(pcm_);
        pcm_ = nullptr;
    }
    int r = snd_pcm_open(&pcm_, nome_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (r < 0) {
        pcm_ = nullptr;
        Falha("não foi possível abrir", r);
    }
    formato_ = formato;
    r = snd_pcm_set_params(pcm_, formato.bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE,
                           SND_PCM_ACCESS_RW_INTERLEAVED, static_cast<unsigned>(formato.canais),
                           static_cast<unsigned>(formato.taxa), 1,
                           static_cast<unsigned>(latenciaMs_) * 1000u);
    if (r < 0) Falha("formato recusado", r);
    snd_pcm_uframes_t buffer = 0, periodo = 0;
    r = snd_pcm_get_params(pcm_, &buffer, &periodo);
    if (r < 0) Falha("parâmetros", r);
    // Handed over by halves of the buffer, as the buffer is refilled.
    periodo_ = std::max<std::size_t>(buffer / 2, 1);
}

void DispositivoAlsa::Escreve(const std::uint8_t* dados, std::size_t quadros) {
    const std::size_t bq = static_cast<std::size_t>(formato_.BytesPorQuadro());
    auto limite = std::chrono::steady_clock::now() + LimiteSemResposta;
    while (quadros > 0) {
        const snd_pcm_sframes_t r = snd_pcm_writei(pcm_, dados, quadros);
        if (r == -EAGAIN || r == -EINTR) {
            // The buffer is full: wait for room, never for good.
            if (std::chrono::steady_clock::now() > limite) Falha("sem resposta", -ETIMEDOUT);
            snd_pcm_wait(pcm_, 100);
            continue;
        }
        if (r < 0) {
            if (r == -EPIPE) ++underruns_;
            const int rec = snd_pcm_recover(pcm_, static_cast<int>(r), 1);
            if (rec < 0) Falha("erro de escrita", rec);
            continue;
        }
        dados += static_cast<std::size_t>(r) * bq;
        quadros -= static_cast<std::size_t>(r);
        limite = std::chrono::steady_clock::now() + LimiteSemResposta;
    }
}

std::size_t DispositivoAlsa::Atraso() {
    snd_pcm_sframes_t atraso = 0;
    if (snd_pcm_delay(pcm_, &atraso) < 0 || atraso < 0) return 0;
    return static_cast<std::size_t>(atraso);
}

void DispositivoAlsa::Drena() {
    // What the device holds plays for its own time; past that, and a margin,
    // the drain has failed.
    const auto taxa = static_cast<std::size_t>(std::max(formato_.taxa, 1));
    const auto limite = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(Atraso() * 1000 / taxa) + LimiteSemResposta;
    int r = snd_pcm_drain(pcm_);
    while (r == -EAGAIN || snd_pcm_state(pcm_) == SND_PCM_STATE_DRAINING) {
        if (std::chrono::steady_clock::now() > limite) Falha("sem resposta", -ETIMEDOUT);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        r = 0;
    }
    if (r == -EPIPE)
        ++underruns_;  // ran dry while draining: everything was heard
    else if (r < 0)
        Falha("erro ao concluir a reprodução", r);
}

void DispositivoAlsa::Descarta() {
    snd_pcm_drop(pcm_);
    snd_pcm_prepare(pcm_);
}
