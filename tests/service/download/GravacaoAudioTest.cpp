// The audio conversions, read back by sox as the independent reader.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>

#include "common/Processos.h"
#include "service/download/ConversaoAudio.h"
#include "tests/support/PastaTemporaria.h"
#include "tools/pabx-sim/Recordings.h"

namespace fs = std::filesystem;

namespace {

// Runs a sox tool and gives its output; fails the test when it does not exit with 0.
std::string Sox(const PastaTemporaria& pasta, std::vector<std::string> args) {
    const fs::path saida = pasta.Caminho() / "sox.out";
    OpcoesProcesso o;
    o.saida = saida;
    o.limite = std::chrono::minutes(2);
    const ResultadoProcesso r = ExecutaProcesso(args, o);
    EXPECT_TRUE(r.Sucesso()) << args[0] << " " << args[1] << ": " << LeTudo(saida);
    std::string s = LeTudo(saida);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

// An A-law WAV of `segundos` of a voice-like signal loud enough for a gain of 8 to clip.
void GravaALaw(const fs::path& arquivo, double segundos) {
    const auto n = static_cast<std::uint32_t>(segundos * 8000);
    pabxsim::Bytes h = pabxsim::ALawWavHeader(n);
    std::string bytes(h.begin(), h.end());
    std::mt19937 rng(5);
    std::normal_distribution<double> ruido(0, 300);
    for (std::uint32_t i = 0; i < n; ++i) {
        const double t = i / 8000.0;
        double v =
            9000 * std::sin(2 * M_PI * 440 * t) * (0.6 + 0.4 * std::sin(2 * M_PI * 0.5 * t)) +
            ruido(rng);
        bytes.push_back(static_cast<char>(
            pabxsim::LinearToALaw(static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0)))));
    }
    Grava(arquivo, bytes);
}

std::vector<std::int16_t> Amostras(const std::string& bruto) {
    std::vector<std::int16_t> a(bruto.size() / 2);
    std::memcpy(a.data(), bruto.data(), a.size() * 2);
    return a;
}

std::uint32_t U32(const std::string& s, std::size_t pos) {
    std::uint32_t v;
    std::memcpy(&v, s.data() + pos, 4);
    return v;
}
std::uint16_t U16(const std::string& s, std::size_t pos) {
    std::uint16_t v;
    std::memcpy(&v, s.data() + pos, 2);
    return v;
}

}  // namespace

TEST(GravacaoAudio, CopiaPCMEhADecodificacaoDoSoxVezesOGanhoCortada) {
    PastaTemporaria pasta;
    const fs::path alaw = pasta.Caminho() / "R0000001.WAV", pcm = pasta.Caminho() / "C0000001.WAV";
    GravaALaw(alaw, 10);
    ConverteALawParaPCM(alaw, pcm, TabelaALaw(8));

    // 80 000 A-law bytes: 160 000 PCM bytes behind a 16-bit header, 10 s.
    const std::string p = LeTudo(pcm);
    ASSERT_EQ(p.size(), 44u + 160000u);
    EXPECT_EQ(U32(p, 4), 160000u + 36u);
    EXPECT_EQ(U16(p, 20), 1);
    EXPECT_EQ(U16(p, 22), 1);
    EXPECT_EQ(U32(p, 24), 8000u);
    EXPECT_EQ(U32(p, 28), 16000u);
    EXPECT_EQ(U16(p, 32), 2);
    EXPECT_EQ(U16(p, 34), 16);
    EXPECT_EQ(U32(p, 40), 160000u);
    EXPECT_EQ(DuracaoWAV(alaw), 10);
    EXPECT_EQ(DuracaoWAV(pcm), 10);

    EXPECT_EQ(Sox(pasta, {"soxi", "-r", pcm.string()}), "8000");
    EXPECT_EQ(Sox(pasta, {"soxi", "-c", pcm.string()}), "1");
    EXPECT_EQ(Sox(pasta, {"soxi", "-b", pcm.string()}), "16");
    const fs::path decodificado = pasta.Caminho() / "alaw.raw", lido = pasta.Caminho() / "pcm.raw";
    Sox(pasta, {"sox", alaw.string(), "-t", "raw", "-e", "signed-integer", "-b", "16", "-L",
                decodificado.string()});
    Sox(pasta, {"sox", pcm.string(), "-t", "raw", "-e", "signed-integer", "-b", "16", "-L",
                lido.string()});
    const auto ref = Amostras(LeTudo(decodificado)), nosso = Amostras(LeTudo(lido));
    ASSERT_EQ(ref.size(), 80000u);
    ASSERT_EQ(nosso.size(), ref.size());
    int cortadas = 0;
    for (std::size_t i = 0; i < ref.size(); ++i) {
        const int esperado = std::clamp(ref[i] * 8, -32768, 32767);
        cortadas += esperado != ref[i] * 8;
        ASSERT_EQ(nosso[i], esperado) << i;
    }
    EXPECT_GT(cortadas, 1000);  // the signal is loud enough that clipping, not wrapping, was tested
}

TEST(GravacaoAudio, OggTemAsAmostrasOsComentariosEOSinal) {
    PastaTemporaria pasta;
    const fs::path alaw = pasta.Caminho() / "R0000001.WAV", pcm = pasta.Caminho() / "C0000001.WAV",
                   ogg = pasta.Caminho() / "C0000001.ogg";
    GravaALaw(alaw, 12.3);
    ConverteALawParaPCM(alaw, pcm, TabelaALaw(1));
    ConverteWAVParaOgg(pcm, ogg,
                       {"Quorvanta", "Norvika", "Gravação chamada", "05/03/2024 07:08:09"});

    EXPECT_EQ(Sox(pasta, {"soxi", "-t", ogg.string()}), "vorbis");
    EXPECT_EQ(Sox(pasta, {"soxi", "-s", ogg.string()}), Sox(pasta, {"soxi", "-s", pcm.string()}));
    const std::string comentarios = Sox(pasta, {"soxi", "-a", ogg.string()});
    for (const char* c : {"ALBUM=Quorvanta", "ARTIST=Norvika", "TITLE=Gravação chamada",
                          "DATE=05/03/2024 07:08:09"})
        EXPECT_NE(comentarios.find(c), std::string::npos) << comentarios;

    const fs::path a = pasta.Caminho() / "a.raw", b = pasta.Caminho() / "b.raw";
    Sox(pasta,
        {"sox", pcm.string(), "-t", "raw", "-e", "signed-integer", "-b", "16", "-L", a.string()});
    Sox(pasta,
        {"sox", ogg.string(), "-t", "raw", "-e", "signed-integer", "-b", "16", "-L", b.string()});
    const auto x = Amostras(LeTudo(a)), y = Amostras(LeTudo(b));
    ASSERT_EQ(x.size(), y.size());
    double sinal = 0, ruido = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        sinal += double(x[i]) * x[i];
        ruido += (double(x[i]) - y[i]) * (double(x[i]) - y[i]);
    }
    EXPECT_GT(10 * std::log10(sinal / std::max(ruido, 1.0)), 6.0);
}

TEST(GravacaoAudio, CabecalhosQueNaoSaoALawCanonicoSaoRecusados) {
    PastaTemporaria pasta;
    const fs::path bom = pasta.Caminho() / "bom.wav";
    GravaALaw(bom, 1);
    const std::string original = LeTudo(bom);
    struct Caso {
        const char* nome;
        std::size_t pos;
        std::string bytes;
    };
    const Caso casos[] = {
        {"RIFF", 0, "RIFX"},
        {"WAVE", 8, "AVI "},
        {"fmt", 12, "junk"},
        {"fmt size 18", 16, "\x12"},
        {"formato PCM", 20, "\x01"},
        {"16 bits", 34, "\x10"},
        {"data", 36, "LIST"},
        {"dados alem do fim", 40, "\xff\xff\x00\x00"},
        {"sem canais", 22, std::string("\x00", 1)},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        std::string s = original;
        s.replace(c.pos, c.bytes.size(), c.bytes);
        Grava(pasta.Caminho() / "x.wav", s);
        EXPECT_THROW(ConverteALawParaPCM(pasta.Caminho() / "x.wav", pasta.Caminho() / "y.wav",
                                         TabelaALaw(8)),
                     std::runtime_error);
        EXPECT_FALSE(fs::exists(pasta.Caminho() / "y.wav"));
    }
    Grava(pasta.Caminho() / "curto.wav", original.substr(0, 30));
    EXPECT_THROW(ConverteALawParaPCM(pasta.Caminho() / "curto.wav", pasta.Caminho() / "y.wav",
                                     TabelaALaw(8)),
                 std::runtime_error);
    EXPECT_EQ(DuracaoWAV(pasta.Caminho() / "curto.wav"), 0);
    EXPECT_EQ(DuracaoWAV(pasta.Caminho() / "nenhum.wav"), 0);
    // A PCM input is not an Ogg source unless it is 16-bit PCM.
    EXPECT_THROW(ConverteWAVParaOgg(bom, pasta.Caminho() / "z.ogg", {}), std::runtime_error);
    std::size_t arquivos = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator(pasta.Caminho())) ++arquivos;
    EXPECT_EQ(arquivos, 3u);  // bom, x, curto: nothing half-written
}
