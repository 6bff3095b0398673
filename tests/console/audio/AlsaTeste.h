#pragma once
// ALSA's "file" PCM for tests: an asoundrc in the test's own folder defines
// the device "teste", which writes every frame it is given, raw, to a file in
// that folder and plays nothing (its slave is the null PCM, which takes
// frames at once). Each playback appends to the file through a pipe (the
// plugin itself would write every playback from the file's start), and the
// plugin waits for the pipe's end when the device closes. ALSA_CONFIG_PATH points at that asoundrc
// for the test's duration, so the machine's sound set-up is never read or used.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class AlsaArquivoTeste final {
  public:
    explicit AlsaArquivoTeste(const std::filesystem::path& pasta)
        : saida_(pasta / "saida-alsa.raw") {
        const std::filesystem::path conf = pasta / "asoundrc";
        std::ofstream(conf)
            << "pcm.teste {\n  type file\n  slave.pcm { type null }\n  file \"| cat >> '"
            << saida_.string() << "'"
            << "\"\n  format raw\n}\n";
        ::setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
    }
    ~AlsaArquivoTeste() { ::unsetenv("ALSA_CONFIG_PATH"); }
    AlsaArquivoTeste(const AlsaArquivoTeste&) = delete;
    AlsaArquivoTeste& operator=(const AlsaArquivoTeste&) = delete;

    static constexpr const char* Dispositivo = "teste";
    // What the device was given so far.
    std::string Saida() const {
        std::ifstream f(saida_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    const std::filesystem::path& Arquivo() const { return saida_; }

  private:
    std::filesystem::path saida_;
};
