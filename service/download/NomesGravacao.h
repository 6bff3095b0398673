#pragma once
// Name rules shared by the FTP walk, the USB copy and the import: names of
// the recording store compare upper-cased (ASCII letters only: the units name
// their files in ASCII, and any other byte is kept as it is), and a name
// handed over by a unit never leaves its folder.

#include <string>
#include <string_view>

#include "common/Texto.h"

// A plain file or folder name: not empty, not "." or "..", without "/", "\",
// NUL or any control character.
inline bool NomeSimplesAceitavel(std::string_view nome) {
    if (nome.empty() || nome == "." || nome == "..") return false;
    for (unsigned char c : nome)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
    return true;
}

// The name as it may stand in a log line: control bytes and "\" as \xNN.
inline std::string NomeVisivel(std::string_view nome) {
    static const char hex[] = "0123456789ABCDEF";
    std::string r;
    for (unsigned char c : nome) {
        if (c < 0x20 || c == 0x7F || c == '\\') {
            r += "\\x";
            r += hex[c >> 4];
            r += hex[c & 15];
        } else {
            r += static_cast<char>(c);
        }
    }
    return r;
}

// The upper-cased name without its last extension ("R0000001.WAV" -> "R0000001").
inline std::string BaseMaiuscula(std::string_view nome) {
    const std::size_t ponto = nome.rfind('.');
    return Maiusculas(ponto == std::string_view::npos ? nome : nome.substr(0, ponto));
}

// The upper-cased extension with its dot ("r1.wav" -> ".WAV"), or "".
inline std::string ExtensaoMaiuscula(std::string_view nome) {
    const std::size_t ponto = nome.rfind('.');
    return ponto == std::string_view::npos ? std::string() : Maiusculas(nome.substr(ponto));
}
