#include "console/audio/DispositivoAlsa.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>

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
    int r = snd_pcm_open(&pcm_, nome_.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
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
    while (quadros > 0) {
        const snd_pcm_sframes_t r = snd_pcm_writei(pcm_, dados, quadros);
        if (r == -EAGAIN || r == -EINTR) continue;
        if (r < 0) {
            if (r == -EPIPE) ++underruns_;
            const int rec = snd_pcm_recover(pcm_, static_cast<int>(r), 1);
            if (rec < 0) Falha("erro de escrita", rec);
            continue;
        }
        dados += static_cast<std::size_t>(r) * bq;
        quadros -= static_cast<std::size_t>(r);
    }
}

std::size_t DispositivoAlsa::Atraso() {
    snd_pcm_sframes_t atraso = 0;
    if (snd_pcm_delay(pcm_, &atraso) < 0 || atraso < 0) return 0;
    return static_cast<std::size_t>(atraso);
}

void DispositivoAlsa::Drena() {
    const int r = snd_pcm_drain(pcm_);
    if (r == -EPIPE)
        ++underruns_;  // ran dry while draining: everything was heard
    else if (r < 0)
        Falha("erro ao concluir a reprodução", r);
}

void DispositivoAlsa::Descarta() {
    snd_pcm_drop(pcm_);
    snd_pcm_prepare(pcm_);
}
