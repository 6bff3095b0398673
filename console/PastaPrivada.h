#pragma once
// The console's private folder for temporary files (the recordings written
// out to be played and their deciphered copies): one per running console,
// made with mkdtemp (mode 0700, so other users and other consoles never see
// or delete its files) under $XDG_RUNTIME_DIR when set, else the system's
// temporary folder. It is made on first use, emptied whenever a playback
// ends and removed with the object (the console's exit; SIGTERM closes the
// console the same way).
//
// Main thread only. Caminho throws std::runtime_error when the folder cannot
// be made; Esvazia and the destructor never throw.

#include <filesystem>
#include <string>

class PastaPrivada final {
  public:
    // `prefixo` starts the folder's name ("veruzadu-" gives veruzadu-XXXXXX).
    explicit PastaPrivada(std::string prefixo = "veruzadu-");
    ~PastaPrivada();
    PastaPrivada(const PastaPrivada&) = delete;
    PastaPrivada& operator=(const PastaPrivada&) = delete;

    // The folder, made when missing (also again after something removed it).
    const std::filesystem::path& Caminho();
    // Removes everything inside; the folder stays.
    void Esvazia() noexcept;
    // Removes the folder itself (made again on the next Caminho).
    void Remove() noexcept;
    bool Existe() const { return !caminho_.empty(); }

  private:
    std::string prefixo_;
    std::filesystem::path caminho_;
};
