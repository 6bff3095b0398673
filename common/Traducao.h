#pragma once
// The language-file translator. Every user-visible text of both programs goes
// through Traduz (or TraduzLNG for captions, whose "&" marks the accelerator)
// before it is shown, logged or mailed. The language file Veruzadu.LNG in the
// program folder maps each text's key to its translation; a text met for the
// first time is written into the file with itself as value, so a translator
// can later edit the values.
//
// Veruzadu.LNG is an INI file in Latin-1:
//   [Controle]  LngOrigem = 1 (0: untranslated texts show as "LA(text)")
//               Lingua    = PTB (language code, cut to 3 characters)
//   [Labels_<Lingua>]  L<key form of the text> = translation
// The key form is computed on the text's Latin-1 bytes so keys match the files
// the Windows programs wrote ("Conexão: OK!" has the key LConexaoOK). Values
// are read as Latin-1; in a value the two characters "\n" stand for a line
// break, and a value with blanks at either end is written in quotes (the INI
// rules trim unquoted values).
//
// The file is opened once per process, at the first translation, and each key
// is read from it at most once; later lookups come from memory. All threads
// share that one instance. Write-backs go through IniFile (process mutex plus
// flock, temporary file and rename), so both programs may add texts at once.

#include "common/IniFile.h"

#include <filesystem>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>

// One Latin-1 character through the accent table (À Á Â Ã Ç É Ê Í Ï Ó Ô Õ Ö Ú Ü
// and their lower-case forms lose the accent; every other byte is kept).
char RemoveAcento(char latin1);
// The same on a code point, for callers holding UTF-8 text.
char32_t RemoveAcento(char32_t c);

// The key form of a text: blanks and the symbols ! " & ' ( ) * + , - . / : < =
// > ? [ ] | ª º are dropped, accents are removed, case is kept. Takes and gives
// UTF-8; computed on Latin-1 (characters without a Latin-1 form are dropped).
std::string RemoveAcentosESimbolos(std::string_view texto);

// One open language file. Thread-safe; normally the process uses the one
// behind Traduz, but tests and tools may open any file.
class ArquivoLNG final {
  public:
    // Reads [Controle] now; the file may be missing (defaults apply) and is
    // created by the first write-back.
    explicit ArquivoLNG(std::filesystem::path arquivo);
    ArquivoLNG(const ArquivoLNG&) = delete;
    ArquivoLNG& operator=(const ArquivoLNG&) = delete;

    bool UsaLngOrigem() const { return usaLngOrigem_; }
    const std::string& LinguaLNG() const { return lingua_; }  // UTF-8

    // The translation of the text, "&" kept. A text not yet in the file is
    // written into it and comes back as itself ("LA(text)" when LngOrigem is
    // 0); a key present with an empty value gives "ST(text)" once and is then
    // filled with the text. The empty text gives "" and touches nothing.
    std::string TraduzLNG(std::string_view texto);
    // TraduzLNG without the first "&" of the result.
    std::string Traduz(std::string_view texto);

  private:
    IniFile ini_;
    bool usaLngOrigem_;
    std::string lingua_;
    std::string secao_;  // "Labels_" + language, Latin-1 as in the file
    // Guards valores_: key (Latin-1, ASCII lower-cased, as the INI rules
    // compare) to the value in force (UTF-8). Held exclusively across the file
    // read and write-back of a key met for the first time. Lock order: this
    // mutex before IniFile's write lock; nothing else is taken under it.
    std::shared_mutex mutex_;
    std::unordered_map<std::string, std::string> valores_;
};

// Translation through Veruzadu.LNG of the program folder (PastaPrograma()),
// opened at the first call of the process.
std::string TraduzLNG(std::string_view texto);
std::string Traduz(std::string_view texto);
