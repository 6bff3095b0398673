#pragma once
// A file written under a temporary name beside its destination and renamed
// over it only when complete, so that no reader (the recordings backup, a
// second run, the console) ever sees a partial file. Dropping the object
// before Conclui removes the temporary file.
//
// One object per output, used by one thread. Failures are thrown as
// std::runtime_error naming the file and the system's reason.

#include <cstddef>
#include <filesystem>

class ArquivoSaida final {
  public:
    // Creates the temporary file (mode 0600) in the destination's folder.
    explicit ArquivoSaida(std::filesystem::path destino);
    ~ArquivoSaida();
    ArquivoSaida(const ArquivoSaida&) = delete;
    ArquivoSaida& operator=(const ArquivoSaida&) = delete;

    void Escreve(const void* dados, std::size_t tamanho);
    // Closes the file and renames it over the destination.
    void Conclui();

    const std::filesystem::path& Destino() const { return destino_; }
    const std::filesystem::path& Temporario() const { return temporario_; }

  private:
    std::filesystem::path destino_;
    std::filesystem::path temporario_;
    int fd_ = -1;
    bool concluido_ = false;
};

// Opens a file for reading; closed by the destructor. Throws std::runtime_error.
class ArquivoEntrada final {
  public:
    explicit ArquivoEntrada(const std::filesystem::path& caminho);
    ~ArquivoEntrada();
    ArquivoEntrada(const ArquivoEntrada&) = delete;
    ArquivoEntrada& operator=(const ArquivoEntrada&) = delete;

    // Size when opened.
    std::uint64_t Tamanho() const { return tamanho_; }
    // Reads up to `capacidade` bytes; 0 only at the end of the file.
    std::size_t Le(void* destino, std::size_t capacidade);
    // Reads exactly `tamanho` bytes or throws (a file that shrank).
    void LeTudo(void* destino, std::size_t tamanho);

  private:
    std::filesystem::path caminho_;
    int fd_ = -1;
    std::uint64_t tamanho_ = 0;
};
