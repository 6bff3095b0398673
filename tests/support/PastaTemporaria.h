#pragma once
// A fresh folder per test under $VERUZADU_TEST_TMP (or the system's temporary
// folder), removed with everything in it at the end of the test; and whole
// files written to and read from it.

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

class PastaTemporaria final {
  public:
    PastaTemporaria() {
        const char* base = std::getenv("VERUZADU_TEST_TMP");
        std::string modelo = ((base && *base) ? std::filesystem::path(base)
                                              : std::filesystem::temp_directory_path()) /
                             "teste.XXXXXX";
        // Without a folder of its own a test would write where it runs.
        if (!::mkdtemp(modelo.data())) std::abort();
        caminho_ = modelo;
    }
    ~PastaTemporaria() {
        std::error_code ec;
        std::filesystem::remove_all(caminho_, ec);
    }
    PastaTemporaria(const PastaTemporaria&) = delete;
    PastaTemporaria& operator=(const PastaTemporaria&) = delete;

    const std::filesystem::path& Caminho() const { return caminho_; }
    std::filesystem::path operator/(std::string_view nome) const { return caminho_ / nome; }
    // The folder as the programs write one in their settings: ending in "/".
    std::string Texto() const { return caminho_.string() + "/"; }

  private:
    std::filesystem::path caminho_;
};

// Writes `conteudo` as the whole file, making the folders above it.
inline void Grava(const std::filesystem::path& arquivo, std::string_view conteudo) {
    std::filesystem::create_directories(arquivo.parent_path());
    std::ofstream(arquivo, std::ios::binary) << conteudo;
}

// The whole file ("" when it cannot be read).
inline std::string LeTudo(const std::filesystem::path& arquivo) {
    std::ifstream f(arquivo, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}
