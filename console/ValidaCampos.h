#pragma once
// Checks shared by the settings windows on what a user typed: blanks at either
// end, the characters the databases (Windows-1252 columns) and the string
// cipher (Latin-1) can carry, port numbers, server names and e-mail addresses.
// Pure functions on UTF-8 text; any thread.

#include <optional>
#include <string>
#include <string_view>

#include "common/Texto.h"  // Apara: the forms trim blanks and control bytes

// True when every character has a Latin-1 form (the cipher and the columns
// would otherwise store "?").
bool SoLatin1(std::string_view utf8);

// A port typed in a five-digit field: nothing (empty or blanks only) gives
// std::nullopt; digits give their value (may be 0 or above 65535); anything
// else gives -1.
std::optional<long> LePorta(std::string_view texto);
inline bool PortaValida(long porta) { return porta >= 1 && porta <= 65535; }

// A host name or address as a connection takes it: not empty, no blanks or
// control characters, no scheme ("ftp://..."), no user part or path.
bool ServidorValido(std::string_view servidor);

// One mail address: exactly one "@" with text on both sides, no blanks,
// control characters or any of "<>,;:\"()[]\\".
bool EmailValido(std::string_view endereco);
