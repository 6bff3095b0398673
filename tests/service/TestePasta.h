#pragma once
// A private scratch folder per test, under $VERUZADU_TEST_TMP when set.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

class PastaTemporaria final {
  public:
    PastaTemporaria() {
        const char* base = std::getenv("VERUZADU_TEST_TMP");
        std::string modelo =
            (base && *base ? std::string(base) : std::string("/tmp")) + "/service-XXXXXX";
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

  private:
    std::filesystem::path caminho_;
};

inline std::string LeArquivo(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void EscreveArquivo(const std::filesystem::path& p, const std::string& conteudo) {
    std::ofstream(p, std::ios::binary) << conteudo;
}
