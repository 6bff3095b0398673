#pragma once
// Conversions between the programs' strings (UTF-8) and the single-byte
// character sets found on disk and on the wire: Latin-1 (ISO-8859-1) for the
// language file, the string cipher's plain text and the contact files, and
// Windows-1252 where a peer writes it (the databases' character set, files made
// by Windows tools).
//
// All functions are pure and thread-safe.
//
// Lossy directions are never silent: a character that has no form in the target
// set becomes a single '?', and so does each byte of a malformed UTF-8
// sequence (a stray continuation byte, a truncated or over-long sequence, a
// surrogate, a code point above U+10FFFF). The output never carries fewer
// characters than the input, so column widths computed on one side hold on
// the other.

#include <cstddef>
#include <string>
#include <string_view>

// Every byte is a character (0x00-0xFF = U+0000-U+00FF); never fails.
std::string Latin1ParaUtf8(std::string_view latin1);
// U+0000-U+00FF become one byte each; anything else becomes '?'.
std::string Utf8ParaLatin1(std::string_view utf8);

// Windows-1252: 0x80-0x9F carry the typographic characters (euro sign, quotes,
// dashes, ...). Its five unassigned codes (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to
// the C1 controls of the same value, so every byte string survives a round trip.
std::string Win1252ParaUtf8(std::string_view win1252);
// Characters outside Windows-1252 (including the C1 controls other than the
// five above) become '?'.
std::string Utf8ParaWin1252(std::string_view utf8);

// Length of the well-formed UTF-8 sequence starting at s[i] (1 to 4), or 0
// when it is malformed: cut short, overlong, a surrogate or past U+10FFFF.
std::size_t SequenciaUtf8(std::string_view s, std::size_t i);
// Every byte belongs to a well-formed UTF-8 sequence.
bool Utf8Valido(std::string_view s);

// Width helpers for UTF-8 text ("up to 30" counts characters, not bytes).
// A malformed byte counts as one character, as in the conversions above.
std::size_t ContaCaracteresUtf8(std::string_view utf8);
// The first `maximo` characters of the text, never splitting a sequence.
std::string CortaUtf8(std::string_view utf8, std::size_t maximo);

// ASCII case rules, as names of files, INI keys, protocol words and models
// are compared: other bytes (accents in UTF-8 included) are left as they are.
std::string Maiusculas(std::string_view texto);
std::string Minusculas(std::string_view texto);
bool IgualSemCaixa(std::string_view a, std::string_view b);
// Trimming, by which bytes count as blank at the ends. The views point into
// the argument: keep it alive while the view is used.
// Without the leading and trailing blanks and control bytes (<= ' ').
std::string Apara(std::string_view texto);
// The same, as a view: nothing is copied (for secrets that must not be).
std::string_view AparaVista(std::string_view texto);
// Without leading and trailing ASCII white space (space, tab, CR, LF, FF, VT).
std::string_view AparaBrancos(std::string_view s);
// Without leading and trailing spaces and tabs only (line breaks and other
// control bytes stay).
std::string_view AparaEspacos(std::string_view s);
// Trailing slashes of folder names. The ComBarra rules keep a '/' already
// there and add one where it is missing; they differ in the empty name and
// in the backslash a Windows-style configuration ends a folder with.
// Local folders: an empty name stays empty (no folder given).
std::string ComBarra(std::string pasta);
// Paths on a server (FTP) and the download's folder walks, local ones
// included: an empty path is the root, "/".
std::string ComBarraOuRaiz(std::string caminho);
// Folders typed in the configuration: one trailing backslash becomes the
// '/'; an empty name stays empty.
std::string ComBarraTrocaContrabarra(std::string pasta);
// The path without its trailing slashes; "/" itself (or "//") stays "/".
std::string SemBarraFinal(std::string caminho);
// Drops a leading '\', then once more a new leading '\': at most two, so a
// server typed as "\\NAME" becomes "NAME".
std::string RemoveBarrasIniciais(std::string_view texto);
