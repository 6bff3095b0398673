// The player's readers and output: WAV and Ogg Vorbis files played into
// ALSA's file PCM must reach it byte for byte, last frame included; pause,
// seek, forward and rewind are checked on a sink that takes frames at real
// pace; broken inputs and devices are refused before anything plays.

#include <gtest/gtest.h>
#include <vorbis/vorbisfile.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <filesystem>
#include <string>
#include <vector>

#include "console/audio/DispositivoAlsa.h"
#include "console/audio/LeitorVorbis.h"
#include "console/audio/LeitorWav.h"
#include "console/audio/SaidaAudio.h"
#include "service/download/ConversaoAudio.h"
#include "tests/support/PastaTemporaria.h"
#include "tests/console/audio/AlsaTeste.h"
#include "tests/console/audio/SorvedouroCompassado.h"

namespace fs = std::filesystem;

namespace {

bool EsperaAte(const std::function<bool()>& condicao, int limiteMs = 30000) {
    QElapsedTimer t;
    t.start();
    while (!condicao()) {
        if (t.elapsed() > limiteMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void Processa(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

std::string U32(std::uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
            static_cast<char>(v >> 24)};
}
std::string U16(std::uint16_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }
std::string Bloco(const std::string& id, const std::string& corpo) {
    std::string b = id + U32(static_cast<std::uint32_t>(corpo.size())) + corpo;
    if (corpo.size() & 1) b.push_back('\0');
    return b;
}
std::string Fmt(int tag, int canais, int taxa, int bits) {
    const int ba = canais * bits / 8;
    return Bloco("fmt ",
                 U16(static_cast<std::uint16_t>(tag)) + U16(static_cast<std::uint16_t>(canais)) +
                     U32(static_cast<std::uint32_t>(taxa)) +
                     U32(static_cast<std::uint32_t>(taxa * ba)) +
                     U16(static_cast<std::uint16_t>(ba)) + U16(static_cast<std::uint16_t>(bits)));
}
// The extensible header with the PCM sub-format.
std::string FmtExtensivel(int canais, int taxa, int bits) {
    const int ba = canais * bits / 8;
    const char guid[16] = {0x01, 0x00, 0x00,
                           0x00, 0x00, 0x00,
                           0x10, 0x00, static_cast<char>(0x80),
                           0x00, 0x00, static_cast<char>(0xAA),
                           0x00, 0x38, static_cast<char>(0x9B),
                           0x71};
    return Bloco(
        "fmt ",
        U16(0xFFFE) + U16(static_cast<std::uint16_t>(canais)) +
            U32(static_cast<std::uint32_t>(taxa)) + U32(static_cast<std::uint32_t>(taxa * ba)) +
            U16(static_cast<std::uint16_t>(ba)) + U16(static_cast<std::uint16_t>(bits)) + U16(22) +
            U16(static_cast<std::uint16_t>(bits)) + U32(3) + std::string(guid, 16));
}
std::string Riff(const std::string& blocos) {
    return "RIFF" + U32(static_cast<std::uint32_t>(4 + blocos.size())) + "WAVE" + blocos;
}
// Deterministic noise: every byte matters in the comparison.
std::string Ruido(std::size_t n, unsigned semente = 7) {
    std::string r(n, '\0');
    for (std::size_t i = 0; i < n; ++i) {
        semente = semente * 1103515245u + 12345u;
        r[i] = static_cast<char>(semente >> 16);
    }
    return r;
}
// 16-bit mono frames whose value is their own number (up to 32767 frames).
std::string Rampa(std::size_t quadros) {
    std::string r;
    for (std::size_t i = 0; i < quadros; ++i) r += U16(static_cast<std::uint16_t>(i));
    return r;
}

std::unique_ptr<LeitorAudio> Abre(const fs::path& p) {
    if (p.extension() == ".ogg") return std::make_unique<LeitorVorbis>(p);
    return std::make_unique<LeitorWav>(p);
}

// What libvorbisfile itself decodes from the file (16-bit signed LE).
std::string DecodificaOgg(const fs::path& p) {
    OggVorbis_File vf;
    EXPECT_EQ(ov_fopen(p.c_str(), &vf), 0);
    std::string r;
    char buf[4096];
    int secao = 0;
    for (long n; (n = ov_read(&vf, buf, sizeof buf, 0, 2, 1, &secao)) > 0;) r.append(buf, n);
    ov_clear(&vf);
    return r;
}

class SaidaAudioTest : public ::testing::Test {
  protected:
    // Plays the file on the device and waits for the end; the events seen.
    struct Fim {
        int terminos = 0;
        std::vector<std::string> erros;
        int ultimoProgresso = -1;
    };
    void Liga(SaidaAudio& s, Fim& f) {
        s.AoTerminar = [&f] { ++f.terminos; };
        s.AoErro = [&f](const std::string& e) { f.erros.push_back(e); };
        s.AoProgredir = [&f](int p) { f.ultimoProgresso = p; };
    }

    PastaTemporaria pasta_;
};

TEST_F(SaidaAudioTest, Toca_NoDispositivoAlsa_EntregaExatamenteOsDados) {
    AlsaArquivoTeste alsa(pasta_.Caminho());
    // Odd frame counts, so the last write is a partial period.
    const std::string d16 = Ruido(2 * 12347);
    const std::string d8 = Ruido(2 * 4001, 3);
    const std::string d16e = Ruido(4 * 22051, 5);
    struct Caso {
        std::string nome;
        std::string arquivo;
        std::string esperado;
    } casos[] = {
        {"pcm16 mono", Riff(Fmt(1, 1, 8000, 16) + Bloco("data", d16)), d16},
        // A list chunk of odd size before the format and another after the data.
        {"pcm8 estereo",
         Riff(Bloco("LIST", "INFOabc") + Fmt(1, 2, 11025, 8) + Bloco("data", d8) +
              Bloco("junk", "xx")),
         d8},
        {"extensivel", Riff(FmtExtensivel(2, 44100, 16) + Bloco("data", d16e)), d16e},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        fs::remove(alsa.Arquivo());
        const fs::path wav = pasta_ / "entrada.wav";
        Grava(wav, c.arquivo);
        SaidaAudio s(
            [] { return std::make_unique<DispositivoAlsa>(AlsaArquivoTeste::Dispositivo, 100); });
        Fim f;
        Liga(s, f);
        s.Executa(Abre(wav));
        ASSERT_TRUE(EsperaAte([&] { return f.terminos > 0; }));
        EXPECT_TRUE(f.erros.empty());
        EXPECT_EQ(f.ultimoProgresso, 100);
        EXPECT_EQ(s.Status(), SaidaAudio::Estado::Ocioso);
        const std::string saida = alsa.Saida();
        EXPECT_EQ(saida.size(), c.esperado.size());
        EXPECT_TRUE(saida == c.esperado);
    }
}

TEST_F(SaidaAudioTest, Toca_OggVorbis_EntregaADecodificacaoDaLibvorbisfile) {
    AlsaArquivoTeste alsa(pasta_.Caminho());
    const fs::path wav = pasta_ / "fonte.wav";
    const fs::path ogg = pasta_ / "fonte.ogg";
    Grava(wav, Riff(Fmt(1, 1, 8000, 16) + Bloco("data", Ruido(2 * 20011))));
    ConverteWAVParaOgg(wav, ogg, {});
    const std::string esperado = DecodificaOgg(ogg);
    ASSERT_GT(esperado.size(), 30000u);

    LeitorVorbis leitor(ogg);
    EXPECT_EQ(leitor.Formato(), (FormatoAudio{1, 8000, 16}));
    EXPECT_EQ(leitor.TotalAmostras(), esperado.size() / 2);
    EXPECT_EQ(leitor.TempoTotal(), 2);

    SaidaAudio s(
        [] { return std::make_unique<DispositivoAlsa>(AlsaArquivoTeste::Dispositivo, 100); });
    Fim f;
    Liga(s, f);
    s.Executa(Abre(ogg));
    ASSERT_TRUE(EsperaAte([&] { return f.terminos > 0; }));
    EXPECT_TRUE(f.erros.empty());
    EXPECT_TRUE(alsa.Saida() == esperado);
    EXPECT_EQ(s.TempoDecorrido(), 3);  // 20011 frames of 8000 Hz, rounded
}

TEST_F(SaidaAudioTest, Executa_DispositivoDesconhecidoOuOcupado_Recusa) {
    AlsaArquivoTeste alsa(pasta_.Caminho());
    const fs::path wav = pasta_ / "a.wav";
    Grava(wav, Riff(Fmt(1, 1, 8000, 16) + Bloco("data", Rampa(16000))));

    SaidaAudio ruim([] { return std::make_unique<DispositivoAlsa>("nao-existe-vz", 100); });
    Fim f;
    Liga(ruim, f);
    try {
        ruim.Executa(Abre(wav));
        FAIL() << "an unknown device played";
    } catch (const ErroAudio& e) {
        EXPECT_NE(std::string(e.what()).find("nao-existe-vz"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ruim.Status(), SaidaAudio::Estado::Ocioso);
    EXPECT_THROW(ruim.Executa(nullptr), ErroAudio);

    auto reg = std::make_shared<RegistroSorvedouro>();
    SaidaAudio s([reg] { return std::make_unique<SorvedouroCompassado>(reg); });
    Liga(s, f);
    s.Executa(Abre(wav));
    EXPECT_THROW(s.Executa(Abre(wav)), ErroAudio);
    s.Para(true);
    Processa(100);
    EXPECT_EQ(f.terminos, 0);  // a stop that waits delivers nothing
    EXPECT_EQ(s.Status(), SaidaAudio::Estado::Ocioso);
    // Free again: the next run starts.
    s.Executa(Abre(wav));
    s.Para(false);
    EXPECT_TRUE(EsperaAte([&] { return f.terminos == 1; }));
    Processa(100);
    EXPECT_EQ(f.terminos, 1);
}

// The places where the samples received jump: (index received, from, to).
struct Salto {
    std::size_t indice;
    int de, para;
};
std::vector<Salto> Saltos(const std::vector<std::int16_t>& a) {
    std::vector<Salto> r;
    for (std::size_t i = 1; i < a.size(); ++i)
        if (a[i] != a[i - 1] + 1) r.push_back({i, a[i - 1], a[i]});
    return r;
}

TEST_F(SaidaAudioTest, Pausa_ParaDeTocarEContinuaDoMesmoPonto) {
    const fs::path wav = pasta_ / "rampa.wav";
    Grava(wav, Riff(Fmt(1, 1, 8000, 16) + Bloco("data", Rampa(20000))));  // 2.5 s
    auto reg = std::make_shared<RegistroSorvedouro>();
    SaidaAudio s([reg] { return std::make_unique<SorvedouroCompassado>(reg); });
    Fim f;
    Liga(s, f);
    s.Executa(Abre(wav));
    ASSERT_TRUE(EsperaAte([&] { return reg->Quadros() >= 4000; }));
    s.Pausa();
    EXPECT_EQ(s.Status(), SaidaAudio::Estado::Pausado);
    Processa(200);
    const std::size_t parado = reg->Quadros();
    const int decorrido = s.TempoDecorrido();
    Processa(600);
    EXPECT_EQ(reg->Quadros(), parado);
    EXPECT_EQ(s.TempoDecorrido(), decorrido);
    EXPECT_EQ(f.terminos, 0);
    s.Continua();
    EXPECT_EQ(s.Status(), SaidaAudio::Estado::Tocando);
    ASSERT_TRUE(EsperaAte([&] { return f.terminos > 0; }));
    const auto a = reg->Amostras();
    ASSERT_EQ(a.size(), 20000u);
    EXPECT_TRUE(Saltos(a).empty());
    EXPECT_EQ(a.front(), 0);
    EXPECT_EQ(s.TempoDecorrido(), 3);  // 2.5 s rounded
}

TEST_F(SaidaAudioTest, Saltos_AvancamVoltamEPosicionamDentroDoArquivo) {
    const fs::path wav = pasta_ / "rampa.wav";
    const int total = 32000;  // 4 s; a hundredth is 320 frames
    Grava(wav, Riff(Fmt(1, 1, 8000, 16) + Bloco("data", Rampa(total))));
    auto reg = std::make_shared<RegistroSorvedouro>();
    SaidaAudio s([reg] { return std::make_unique<SorvedouroCompassado>(reg); });
    Fim f;
    Liga(s, f);
    s.Executa(Abre(wav));

    // Rewind within the first hundredth goes to the start (asked while
    // paused, so the two requests act together).
    s.Pausa();
    s.Posiciona(100);
    s.Salta(-10);
    s.Continua();
    ASSERT_TRUE(EsperaAte([&] { return reg->Quadros() >= 2000; }));
    s.Salta(10);
    ASSERT_TRUE(EsperaAte([&] { return reg->Quadros() >= 4000; }));
    s.Salta(-10);
    ASSERT_TRUE(EsperaAte([&] { return reg->Quadros() >= 6000; }));
    s.Posiciona(20000);
    ASSERT_TRUE(EsperaAte([&] { return reg->Quadros() >= 7000; }));
    // Forward with less than a hundredth left goes to the end (asked while
    // paused, so nothing between the two requests is heard).
    s.Pausa();
    s.Posiciona(31900);
    s.Salta(10);
    s.Continua();
    ASSERT_TRUE(EsperaAte([&] { return f.terminos > 0; }));

    const auto a = reg->Amostras();
    auto saltos = Saltos(a);
    // A rewind at the start lands on frame 0: a jump back to 0 when a few
    // frames had gone out, nothing when none had.
    if (!saltos.empty() && saltos.front().para == 0) saltos.erase(saltos.begin());
    ASSERT_EQ(saltos.size(), 3u);
    EXPECT_EQ(saltos[0].para - saltos[0].de, 320 + 1);
    EXPECT_EQ(saltos[1].para - saltos[1].de, -320 + 1);
    EXPECT_EQ(saltos[2].para, 20000);
    EXPECT_LT(a.back(), 31900);
    EXPECT_TRUE(f.erros.empty());
}

TEST_F(SaidaAudioTest, ErroDeLeituraNoMeio_AvisaUmaVezETermina) {
    const fs::path wav = pasta_ / "curto.wav";
    Grava(wav, Riff(Fmt(1, 1, 8000, 16) + Bloco("data", Rampa(24000))));
    auto reg = std::make_shared<RegistroSorvedouro>();
    SaidaAudio s([reg] { return std::make_unique<SorvedouroCompassado>(reg); });
    Fim f;
    Liga(s, f);
    s.Executa(Abre(wav));
    ASSERT_TRUE(EsperaAte([&] { return reg->Quadros() >= 800; }));
    fs::resize_file(wav, 1000);  // the file shrinks under the player
    ASSERT_TRUE(EsperaAte([&] { return f.terminos > 0; }));
    Processa(100);
    ASSERT_EQ(f.erros.size(), 1u);
    EXPECT_NE(f.erros[0].find("encurtado"), std::string::npos) << f.erros[0];
    EXPECT_EQ(f.terminos, 1);
    EXPECT_LT(reg->Quadros(), 24000u);
}

namespace {

// A device that stops answering, on opening or once playing (a sound card
// held by another program, a driver that hangs): it comes back only when
// the test lets it, or after a minute.
struct Trava {
    std::atomic<bool> solta{false};
    std::atomic<bool> presa{false};
    std::atomic<int> vivos{0};
    void Espera() {
        presa = true;
        for (int i = 0; i < 6000 && !solta; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
};

class DispositivoPreso final : public DispositivoAudio {
  public:
    DispositivoPreso(std::shared_ptr<Trava> t, bool naAbertura)
        : t_(std::move(t)), naAbertura_(naAbertura) {
        ++t_->vivos;
    }
    ~DispositivoPreso() override { --t_->vivos; }
    void Abre(const FormatoAudio& f) override {
        taxa_ = f.taxa;
        if (naAbertura_) t_->Espera();
    }
    std::size_t QuadrosPorPeriodo() const override { return static_cast<std::size_t>(taxa_ / 20); }
    void Escreve(const std::uint8_t*, std::size_t) override {
        if (!naAbertura_) t_->Espera();
    }
    std::size_t Atraso() override { return 0; }
    void Drena() override {}
    void Descarta() override {}
    int Underruns() const override { return 0; }

  private:
    std::shared_ptr<Trava> t_;
    bool naAbertura_;
    int taxa_ = 8000;
};

}  // namespace

TEST_F(SaidaAudioTest, DispositivoQueNaoResponde_NaoPrendeAJanela) {
    const fs::path wav = pasta_ / "a.wav";
    Grava(wav, Riff(Fmt(1, 1, 8000, 16) + Bloco("data", Rampa(16000))));
    auto trava = std::make_shared<Trava>();
    QElapsedTimer t;
    {
        // Stuck while playing: the stop that waits, and the end, still return.
        SaidaAudio s([trava] { return std::make_unique<DispositivoPreso>(trava, false); });
        s.Executa(Abre(wav));
        ASSERT_TRUE(EsperaAte([&] { return trava->presa.load(); }));
        t.start();
        s.Para(true);
        EXPECT_LT(t.elapsed(), 20000);
        EXPECT_EQ(s.Status(), SaidaAudio::Estado::Ocioso);
        t.start();
    }
    EXPECT_LT(t.elapsed(), 20000);
    trava->presa = false;
    {
        // Stuck on opening: refused once the opening's limit passed.
        SaidaAudio s([trava] { return std::make_unique<DispositivoPreso>(trava, true); });
        s.LimiteAbertura = std::chrono::milliseconds(500);
        Fim f;
        Liga(s, f);
        t.start();
        EXPECT_THROW(s.Executa(Abre(wav)), ErroAudio);
        EXPECT_LT(t.elapsed(), 20000);
        EXPECT_EQ(s.Status(), SaidaAudio::Estado::Ocioso);
        t.start();
    }
    EXPECT_LT(t.elapsed(), 20000);
    // Let go, the abandoned playbacks end by themselves and drop their devices.
    trava->solta = true;
    EXPECT_TRUE(EsperaAte([&] { return trava->vivos == 0; }));
}

TEST(LeitorWav, CabecalhosQuebrados_SaoRecusados) {
    PastaTemporaria pasta;
    const std::string dados = Rampa(100);
    struct Caso {
        const char* nome;
        std::string bytes;
    } casos[] = {
        {"vazio", ""},
        {"sem RIFF", "RIFX" + U32(4) + "WAVE" + Fmt(1, 1, 8000, 16) + Bloco("data", dados)},
        {"sem WAVE", "RIFF" + U32(4) + "AVI " + Fmt(1, 1, 8000, 16) + Bloco("data", dados)},
        {"sem dados", Riff(Fmt(1, 1, 8000, 16))},
        {"dados antes do formato", Riff(Bloco("data", dados) + Fmt(1, 1, 8000, 16))},
        {"ponto flutuante", Riff(Fmt(3, 1, 8000, 32) + Bloco("data", dados))},
        {"a-law", Riff(Fmt(6, 1, 8000, 8) + Bloco("data", dados))},
        {"24 bits", Riff(Fmt(1, 1, 8000, 24) + Bloco("data", dados))},
        {"sem canais", Riff(Fmt(1, 0, 8000, 16) + Bloco("data", dados))},
        {"formato curto", Riff(Bloco("fmt ", "\x01\x00") + Bloco("data", dados))},
        {"bloco além do fim", Riff(Fmt(1, 1, 8000, 16)) + "LIST" + U32(0x7FFFFFF0)},
        {"mp3", "ID3\x03" + Ruido(400)},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        const fs::path p = pasta / "x.wav";
        Grava(p, c.bytes);
        EXPECT_THROW(LeitorWav{p}, ErroAudio);
        EXPECT_THROW(LeitorVorbis{p}, ErroAudio);
    }
    EXPECT_THROW(LeitorWav{pasta / "nao-existe.wav"}, ErroAudio);
}

TEST(LeitorWav, DadosDeclaradosAlemDoArquivo_LeAteOFimEmQuadrosInteiros) {
    PastaTemporaria pasta;
    const fs::path p = pasta / "x.wav";
    // Declares 1,000,000 bytes and holds 2001 (the last frame incomplete).
    Grava(p, Riff(Fmt(1, 1, 8000, 16)) + "data" + U32(1000000) + Ruido(2001));
    LeitorWav w(p);
    EXPECT_EQ(w.TotalAmostras(), 1000u);
    EXPECT_EQ(w.TempoTotal(), 0);
    std::vector<std::uint8_t> b(4000);
    EXPECT_EQ(w.Le(b.data(), 2000), 1000u);
    EXPECT_EQ(w.Le(b.data(), 2000), 0u);
    w.Posiciona(990);
    EXPECT_EQ(w.Le(b.data(), 2000), 10u);
}

}  // namespace
