#pragma once
// File and folder helpers both programs share: an exclusive lock held on a
// lock file, the replacement of a whole file that a crash can never leave
// torn, copies, file dates, folder deletion, the storage-ready test and the
// well-known folders (the Firebird tools' one included).
//
// Any thread may use them; nothing here throws except std::bad_alloc. Failures
// are reported through the result (false or an empty text), with errno
// telling the cause where a system call failed.

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/DataHora.h"

class IniFile;

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

// Deletes the folder with everything in it. True when it does not exist.
bool ApagaPasta(const std::filesystem::path& pasta);
// The same without the existence test: a missing folder gives false.
bool ApagaPastaShell(const std::filesystem::path& pasta);

// Copies one file. The data goes to a temporary name first, so a failed copy
// leaves no partial file. With `sobrescreve` an existing destination is
// replaced; without it the existing file is kept untouched and the copy gets
// a free name beside it ("name (2).ext", "name (3).ext", ...). A destination
// that is an existing folder receives the file under its own name.
bool CopiaArquivo(const std::filesystem::path& origem, const std::filesystem::path& destino,
                  bool sobrescreve);

// A file time as a calendar date-time in UTC (no conversion to local time).
bool FileTimeParaData(std::filesystem::file_time_type tempo, DataHora& data);
// Creation (birth time, or the last write time where the file system keeps
// none), last access and last write of a file, in UTC like FileTimeParaData.
bool DatasArquivo(const std::filesystem::path& arquivo, DataHora& criacao, DataHora& acesso,
                  DataHora& escrita);
// Sets the file's last write time to `data`, taken as local time.
bool AjustaDataArquivo(const std::filesystem::path& arquivo, const DataHora& data);

// Storage ready: the path is a readable folder and, when /etc/fstab names it
// as a mount point, that file system is mounted now (an unmounted mount point
// is an empty folder on the root disk, never the storage itself).
bool DiscoPronto(const std::string& unidade);
// The same with the two tables given, for tests.
bool DiscoPronto(const std::string& unidade, const std::filesystem::path& fstab,
                 const std::filesystem::path& mountinfo);

// Well-known folders by their old numbers 0-26 (desktop, documents, data,
// cache, temporary, program files, ...) mapped onto the Linux places (XDG
// folders under $HOME, /tmp, /opt, /etc); always with a trailing "/".
// Numbers without a Linux counterpart, or out of range, give "".
std::string PastaEspecial(int numero);

// Folder of the Firebird tools (gbak) with a trailing "/": [Firebird] `Bin`
// of the given configuration file when set, else "/usr/bin/".
std::string PastaBinFirebird(const IniFile& ini);
// The same with the program's VERUZADU.INI.
std::string PastaBinFirebird();

// True when the folder exists and holds no entry at all.
bool PastaVazia(const std::filesystem::path& pasta);
// Adds the folder (with a trailing "/") to `lista` when it is empty; with
// `recursivo` the same for every subfolder at any depth. Never deletes.
void ListaPastasVazias(std::vector<std::string>& lista, const std::filesystem::path& pasta,
                       bool recursivo);
// Bottom-up: every subfolder first, then the folder itself is removed when it
// has become empty. Symbolic links are never followed.
void ApagaPastasVazias(const std::filesystem::path& pasta);
