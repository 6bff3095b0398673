#pragma once
// A fresh folder per test under $VERUZADU_TEST_TMP (or the system's temporary
// folder), removed with everything in it at the end of the test.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

class PastaTemporaria final {
  public:
    PastaTemporaria() {
        const char* base = std::getenv("VERUZADU_TEST_TMP");
        std::string modelo = ((base && *base) ? std::filesystem::path(base)
                                              : std::filesystem::temp_directory_path()) /
                             "common.XXXXXX";
        caminho_ = ::mkdtemp(modelo.data()) ? modelo : std::string();
    }
    ~PastaTemporaria() {
        std::error_code ec;
        if (!caminho_.empty()) std::filesystem::remove_all(caminho_, ec);
    }
    PastaTemporaria(const PastaTemporaria&) = delete;
    PastaTemporaria& operator=(const PastaTemporaria&) = delete;

    const std::filesystem::path& Caminho() const { return caminho_; }
    std::filesystem::path operator/(std::string_view nome) const { return caminho_ / nome; }

  private:
    std::filesystem::path caminho_;
};

inline void Grava(const std::filesystem::path& arquivo, std::string_view conteudo) {
    std::filesystem::create_directories(arquivo.parent_path());
    std::ofstream(arquivo, std::ios::binary) << conteudo;
}

inline std::string LeTudo(const std::filesystem::path& arquivo) {
    std::ifstream f(arquivo, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}
