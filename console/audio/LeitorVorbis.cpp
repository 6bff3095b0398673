#include "console/audio/LeitorVorbis.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>

struct LeitorVorbis::Arquivo {
    OggVorbis_File vf{};
    bool aberto = false;
    ~Arquivo() {
        if (aberto) ov_clear(&vf);
    }
};

namespace {

std::string TextoErroVorbis(int codigo) {
    switch (codigo) {
        case OV_EREAD: return "erro de leitura";
        case OV_ENOTVORBIS: return "não é Ogg Vorbis";
        case OV_EVERSION: return "versão de Vorbis não suportada";
        case OV_EBADHEADER: return "cabeçalho Vorbis inválido";
        case OV_EFAULT: return "falha interna do decodificador";
        case OV_EBADLINK: return "trecho corrompido";
        case OV_ENOSEEK: return "arquivo sem posicionamento";
        case OV_EINVAL: return "parâmetro inválido";
        default: return "erro " + std::to_string(codigo);
    }
}

}  // namespace

LeitorVorbis::LeitorVorbis(const std::filesystem::path& arquivo)
    : vf_(std::make_unique<Arquivo>()) {
    const int r = ov_fopen(arquivo.c_str(), &vf_->vf);
    if (r < 0) throw ErroAudio("Arquivo Ogg Vorbis inválido: " + TextoErroVorbis(r));
    vf_->aberto = true;
    const vorbis_info* info = ov_info(&vf_->vf, -1);
    if (!info || info->channels < 1 || info->channels > 8 || info->rate < 1000)
        throw ErroAudio("Arquivo Ogg Vorbis inválido: canais ou taxa de amostragem");
    for (int i = 0; i < ov_streams(&vf_->vf); ++i) {
        const vorbis_info* outro = ov_info(&vf_->vf, i);
        if (!outro || outro->channels != info->channels || outro->rate != info->rate)
            throw ErroAudio("Formato de áudio não suportado (Ogg Vorbis com formatos misturados)");
    }
    formato_ = {info->channels, static_cast<int>(info->rate), 16};
    const ogg_int64_t total = ov_pcm_total(&vf_->vf, -1);
    if (total < 0)
        throw ErroAudio("Arquivo Ogg Vorbis inválido: " + TextoErroVorbis(static_cast<int>(total)));
    total_ = static_cast<std::uint64_t>(total);
}

LeitorVorbis::~LeitorVorbis() = default;

std::size_t LeitorVorbis::Le(std::uint8_t* destino, std::size_t quadros) {
    const std::size_t bq = static_cast<std::size_t>(formato_.BytesPorQuadro());
    std::size_t feitos = 0;
    while (feitos < quadros) {
        const std::size_t bytes = std::min<std::size_t>((quadros - feitos) * bq, 1 << 20);
        int secao = 0;
        const long r = ov_read(&vf_->vf, reinterpret_cast<char*>(destino + feitos * bq),
                               static_cast<int>(bytes), 0, 2, 1, &secao);
        if (r == OV_HOLE) continue;  // a gap in the data: the decoder goes on after it
        if (r < 0)
            throw ErroAudio("Erro ao ler o arquivo de áudio: " +
                            TextoErroVorbis(static_cast<int>(r)));
        if (r == 0) break;
        feitos += static_cast<std::size_t>(r) / bq;
    }
    posicao_ += feitos;
    return feitos;
}

void LeitorVorbis::Posiciona(std::uint64_t amostra) {
    amostra = std::min(amostra, total_);
    const int r = ov_pcm_seek(&vf_->vf, static_cast<ogg_int64_t>(amostra));
    if (r < 0) throw ErroAudio("Erro ao posicionar o arquivo de áudio: " + TextoErroVorbis(r));
    posicao_ = amostra;
}
