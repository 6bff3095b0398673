#include "service/download/ConversaoAudio.h"

#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "common/ArquivoSaida.h"

namespace fs = std::filesystem;

namespace {

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
void Poe16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void Poe32(std::uint8_t* p, std::uint32_t v) {
    Poe16(p, v);
    Poe16(p + 2, v >> 16);
}

CabecalhoWAV Interpreta(const std::array<std::uint8_t, TamanhoCabecalhoWAV>& h,
                        std::uint64_t tamanhoArquivo, std::uint16_t formato) {
    auto tag = [&](std::size_t pos, const char* t) {
        return std::memcmp(h.data() + pos, t, 4) == 0;
    };
    CabecalhoWAV c;
    c.formato = U16(&h[20]);
    c.canais = U16(&h[22]);
    c.taxa = U32(&h[24]);
    c.taxaBytes = U32(&h[28]);
    c.alinhamento = U16(&h[32]);
    c.bits = U16(&h[34]);
    c.tamanhoDados = U32(&h[40]);
    const std::uint16_t bits = formato == 6 ? 8 : 16;
    if (!tag(0, "RIFF") || !tag(8, "WAVE") || !tag(12, "fmt ") || U32(&h[16]) != 16 ||
        !tag(36, "data"))
        throw std::runtime_error("Cabeçalho WAV não canônico");
    if (c.formato != formato || c.bits != bits)
        throw std::runtime_error("Formato WAV inesperado (" + std::to_string(c.formato) + ", " +
                                 std::to_string(c.bits) + " bits)");
    if (c.canais == 0 || c.canais > 8 || c.taxa == 0 || c.taxa > 192000)
        throw std::runtime_error("Canais ou taxa de amostragem inválidos");
    if (c.tamanhoDados > tamanhoArquivo - TamanhoCabecalhoWAV)
        throw std::runtime_error("Dados WAV além do fim do arquivo");
    return c;
}

}  // namespace

CabecalhoWAV LeCabecalhoWAV(const fs::path& arquivo, std::uint16_t formato) {
    ArquivoEntrada f(arquivo);
    if (f.Tamanho() < TamanhoCabecalhoWAV)
        throw std::runtime_error("Arquivo WAV menor que o cabeçalho");
    std::array<std::uint8_t, TamanhoCabecalhoWAV> h{};
    f.LeTudo(h.data(), h.size());
    return Interpreta(h, f.Tamanho(), formato);
}

void ConverteALawParaPCM(const fs::path& origem, const fs::path& destino,
                         const TabelaALaw& tabela) {
    ArquivoEntrada f(origem);
    if (f.Tamanho() < TamanhoCabecalhoWAV)
        throw std::runtime_error("Arquivo WAV menor que o cabeçalho");
    std::array<std::uint8_t, TamanhoCabecalhoWAV> h{};
    f.LeTudo(h.data(), h.size());
    const CabecalhoWAV c = Interpreta(h, f.Tamanho(), 6);
    if (c.tamanhoDados > 0x7FFFFFFFu - 36) throw std::runtime_error("Arquivo WAV grande demais");
    const std::uint64_t dados16 = 2ull * c.tamanhoDados;
    if (dados16 + 36 > 0xFFFFFFFFull) throw std::runtime_error("Arquivo WAV grande demais");
    Poe32(&h[4], static_cast<std::uint32_t>(dados16 + 36));
    Poe16(&h[20], 1);
    Poe32(&h[28], c.taxa * c.canais * 2u);
    Poe16(&h[32], static_cast<std::uint16_t>(c.canais * 2u));
    Poe16(&h[34], 16);
    Poe32(&h[40], static_cast<std::uint32_t>(dados16));

    ArquivoSaida saida(destino);
    saida.Escreve(h.data(), h.size());
    std::vector<std::uint8_t> alaw(64 * 1024), pcm(2 * alaw.size());
    std::uint64_t resta = c.tamanhoDados;
    while (resta > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(resta, alaw.size()));
        f.LeTudo(alaw.data(), n);
        tabela.ConverteParaPCM16LE({alaw.data(), n}, pcm.data());
        saida.Escreve(pcm.data(), 2 * n);
        resta -= n;
    }
    saida.Conclui();
}

std::int32_t DuracaoWAV(const fs::path& arquivo) {
    try {
        ArquivoEntrada f(arquivo);
        std::array<std::uint8_t, TamanhoCabecalhoWAV> h{};
        f.LeTudo(h.data(), h.size());
        const auto dados = static_cast<std::int32_t>(U32(&h[40]));
        const auto taxa = static_cast<std::int32_t>(U32(&h[28]));
        if (taxa == 0) return 0;
        return dados / taxa;
    } catch (const std::exception&) {
        return 0;
    }
}

namespace {

// The encoder's state, cleared in the reverse order of its creation.
struct EstadoVorbis {
    vorbis_info vi{};
    vorbis_comment vc{};
    vorbis_dsp_state vd{};
    vorbis_block vb{};
    ogg_stream_state os{};
    bool dsp = false, bloco = false, fluxo = false;
    EstadoVorbis() {
        vorbis_info_init(&vi);
        vorbis_comment_init(&vc);
    }
    ~EstadoVorbis() {
        if (fluxo) ogg_stream_clear(&os);
        if (bloco) vorbis_block_clear(&vb);
        if (dsp) vorbis_dsp_clear(&vd);
        vorbis_comment_clear(&vc);
        vorbis_info_clear(&vi);
    }
};

void EscrevePaginas(EstadoVorbis& e, ArquivoSaida& saida, bool forca) {
    ogg_page og;
    while (forca ? ogg_stream_flush(&e.os, &og) : ogg_stream_pageout(&e.os, &og)) {
        saida.Escreve(og.header, static_cast<std::size_t>(og.header_len));
        saida.Escreve(og.body, static_cast<std::size_t>(og.body_len));
    }
}

void Drena(EstadoVorbis& e, ArquivoSaida& saida) {
    while (vorbis_analysis_blockout(&e.vd, &e.vb) == 1) {
        vorbis_analysis(&e.vb, nullptr);
        vorbis_bitrate_addblock(&e.vb);
        ogg_packet op;
        while (vorbis_bitrate_flushpacket(&e.vd, &op)) {
            ogg_stream_packetin(&e.os, &op);
            EscrevePaginas(e, saida, false);
        }
    }
}

}  // namespace

void ConverteWAVParaOgg(const fs::path& origem, const fs::path& destino,
                        const ComentariosOgg& comentarios, float qualidade) {
    ArquivoEntrada f(origem);
    if (f.Tamanho() < TamanhoCabecalhoWAV)
        throw std::runtime_error("Arquivo WAV menor que o cabeçalho");
    std::array<std::uint8_t, TamanhoCabecalhoWAV> h{};
    f.LeTudo(h.data(), h.size());
    const CabecalhoWAV c = Interpreta(h, f.Tamanho(), 1);

    EstadoVorbis e;
    if (vorbis_encode_init_vbr(&e.vi, c.canais, static_cast<long>(c.taxa), qualidade) != 0)
        throw std::runtime_error("Codificador Vorbis recusou o formato");
    vorbis_comment_add_tag(&e.vc, "ALBUM", comentarios.album.c_str());
    vorbis_comment_add_tag(&e.vc, "ARTIST", comentarios.artista.c_str());
    vorbis_comment_add_tag(&e.vc, "TITLE", comentarios.titulo.c_str());
    vorbis_comment_add_tag(&e.vc, "DATE", comentarios.data.c_str());
    if (vorbis_analysis_init(&e.vd, &e.vi) != 0)
        throw std::runtime_error("Falha ao iniciar o codificador Vorbis");
    e.dsp = true;
    vorbis_block_init(&e.vd, &e.vb);
    e.bloco = true;
    // A fixed serial keeps the output of one input the same on every run.
    ogg_stream_init(&e.os, 0x56455255);
    e.fluxo = true;

    ArquivoSaida saida(destino);
    {
        ogg_packet cab, com, cod;
        vorbis_analysis_headerout(&e.vd, &e.vc, &cab, &com, &cod);
        ogg_stream_packetin(&e.os, &cab);
        ogg_stream_packetin(&e.os, &com);
        ogg_stream_packetin(&e.os, &cod);
        EscrevePaginas(e, saida, true);
    }
    const std::size_t quadro = 2u * c.canais;
    constexpr std::size_t QuadrosPorVez = 4096;
    std::vector<std::uint8_t> bytes(QuadrosPorVez * quadro);
    std::uint64_t resta = c.tamanhoDados / quadro;
    while (resta > 0) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(resta, QuadrosPorVez));
        f.LeTudo(bytes.data(), n * quadro);
        float** buf = vorbis_analysis_buffer(&e.vd, static_cast<int>(n));
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t k = 0; k < c.canais; ++k) {
                const auto* p = &bytes[i * quadro + 2 * k];
                buf[k][i] = static_cast<std::int16_t>(U16(p)) / 32768.0f;
            }
        vorbis_analysis_wrote(&e.vd, static_cast<int>(n));
        Drena(e, saida);
        resta -= n;
    }
    vorbis_analysis_wrote(&e.vd, 0);
    Drena(e, saida);
    EscrevePaginas(e, saida, true);
    saida.Conclui();
}
