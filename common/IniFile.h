#pragma once
// Plain INI files with the rules of the Windows profile functions, which both
// programs' configuration files were always written for:
//  - section and key names compare without regard to (ASCII) case;
//  - a missing file, section or key gives the caller's default; a key that is
//    present with an empty value gives the empty text, not the default;
//  - integers are decimal text (optional sign); anything else gives the default;
//  - Booleans are integers, 0 false and any other number true, written "1"/"0";
//  - values are trimmed of blanks, and one pair of matching quotes around a
//    value is removed;
//  - lines starting with ';' or '#' are comments and survive every write.
//
// Every read opens the file afresh, so a value changed by hand takes effect at
// the next read. The file name itself is found without regard to case in its
// folder (an exact match wins); a new file is created under the given name.
//
// Writes are read-modify-write under a process-wide mutex plus an flock on a
// lock file beside the INI file ("." + name + ".lock"), written to a temporary
// file in the same folder and renamed over the old one. So readers never see a
// torn file, and writers in any number of threads and processes never lose
// each other's keys. Writers report failure through their result (errno then
// tells the cause); nothing here throws except std::bad_alloc. Only a missing
// file counts as empty: a file that exists but cannot be read fails every
// write and is left exactly as it was.
//
// An IniFile is a small value (just the path); any thread may use any instance.

#include "common/Texto.h"
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class IniFile final {
  public:
    explicit IniFile(std::filesystem::path arquivo);

    const std::filesystem::path& Caminho() const { return caminho_; }

    std::string ReadString(std::string_view secao, std::string_view chave,
                           std::string_view padrao) const;
    int ReadInteger(std::string_view secao, std::string_view chave, int padrao) const;
    bool ReadBool(std::string_view secao, std::string_view chave, bool padrao) const;

    // A value holding line breaks would inject keys into the file: CR and LF
    // are written as blanks.
    bool WriteString(std::string_view secao, std::string_view chave, std::string_view valor);
    bool WriteInteger(std::string_view secao, std::string_view chave, int valor);
    bool WriteBool(std::string_view secao, std::string_view chave, bool valor);

    bool SectionExists(std::string_view secao) const;
    bool ValueExists(std::string_view secao, std::string_view chave) const;
    // Key names of the section in file order (first spelling of each key).
    std::vector<std::string> ReadSection(std::string_view secao) const;
    // Removes every section of that name (true also when there was none).
    bool EraseSection(std::string_view secao);
    // Removes the key from every section of that name (true also when absent).
    bool DeleteKey(std::string_view secao, std::string_view chave);

  private:
    std::filesystem::path caminho_;
};

// The entry of `pasta` named `nome` without regard to case; an exact match
// wins over other spellings. Empty when the folder holds none (or cannot be
// read).
std::optional<std::filesystem::path> ProcuraArquivoSemCaixa(const std::filesystem::path& pasta,
                                                            std::string_view nome);

// The existing entry as above, else pasta / nome: the name to create it under.
std::filesystem::path ArquivoSemCaixa(const std::filesystem::path& pasta, std::string_view nome);
