#pragma once
// Small file helpers shared by the configuration file, the database
// installer and the service: an exclusive lock held on a lock file, and the
// replacement of a whole file that a crash can never leave torn.
//
// Any thread may use them; nothing here throws except std::bad_alloc. Failures
// are reported through the result, with errno telling the cause.

#include <sys/types.h>

#include <filesystem>
#include <string_view>

// Holds an exclusive flock on `arquivo` (created with `modo` when missing) for
// its lifetime; waits for other holders. Closing the descriptor releases it.
class TravaArquivo final {
  public:
    explicit TravaArquivo(const std::filesystem::path& arquivo, mode_t modo = 0644);
    TravaArquivo(const TravaArquivo&) = delete;
    TravaArquivo& operator=(const TravaArquivo&) = delete;
    ~TravaArquivo();

    bool Ok() const { return fd_ >= 0; }
    // errno of the failure when !Ok().
    int Erro() const { return erro_; }

  private:
    int fd_ = -1;
    int erro_ = 0;
};

struct OpcoesSubstituicao {
    mode_t modoNovo = 0644;  // mode of a file that did not exist yet
    // Moves the modification time at least one second past the old one, for
    // readers that notice changes by whole seconds.
    bool avancaHora = false;
};

// Writes `bytes` to a temporary file beside `destino`, flushes it to disk and
// renames it over `destino` (then flushes the folder). An existing file keeps
// its mode and, when the caller is root, its owner. On failure the old file
// is left as it was and no temporary file stays behind.
bool SubstituiArquivo(const std::filesystem::path& destino, std::string_view bytes,
                      OpcoesSubstituicao opcoes = {});
