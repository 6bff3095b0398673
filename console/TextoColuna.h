#pragma once
// Text helpers for values bound to the databases' WIN1252 columns: blanks
// trimmed, the column width in characters, and the mapping of characters the
// column cannot hold. Pure; any thread.

#include <cstddef>
#include <string>
#include <string_view>

#include "common/Texto.h"

// The text fits a column of `largura` characters and every character exists
// in Windows-1252, so binding it can never raise a conversion error.
inline bool CabeNaColuna(std::string_view utf8, std::size_t largura) {
    if (ContaCaracteresUtf8(utf8) > largura) return false;
    return Win1252ParaUtf8(Utf8ParaWin1252(utf8)) == utf8;
}

// What a column of `largura` characters stores of the text: cut, and each
// character outside Windows-1252 replaced by "?" (as the service stores its own).
inline std::string AjustaColuna(std::string_view utf8, std::size_t largura) {
    return Win1252ParaUtf8(Utf8ParaWin1252(CortaUtf8(utf8, largura)));
}
