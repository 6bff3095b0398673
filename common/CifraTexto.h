#pragma once
// The reversible text form in which every password and key is kept in the
// databases (user passwords, PABX link and FTP passwords, backup FTP and SMTP
// passwords, the recording encryption passphrase and its copy in each
// encrypted recording's row).
//
// Cipher: RC4 keyed with the 20-byte SHA-1 digest of a fixed passphrase, no
// key-stream bytes discarded; the cipher bytes are carried as standard Base64
// with "=" padding and no line breaks. Every call keys a fresh cipher, so the
// form is deterministic (the console's login compares cipher texts in SQL)
// and a cipher text deciphers by itself. Stateless: any thread may call.
//
// This is obfuscation of stored values, not protection against anyone who
// holds the program; the form is fixed by the data already in the databases.

#include <string>
#include <string_view>

// Text forms of program strings (UTF-8). The plain text is enciphered as its
// Latin-1 bytes (characters without a Latin-1 form become '?', see Texto.h),
// and deciphered bytes are read as Latin-1. The empty text gives the empty text.
std::string CriptografaTexto(std::string_view textoUtf8);
std::string DescriptografaTexto(std::string_view textoCriptografado);

// The same on raw bytes, for callers that already hold Latin-1 bytes.
std::string CriptografaBytes(std::string_view bytes);
std::string DescriptografaBytes(std::string_view textoCriptografado);

// Base64 as stored: the encoder pads with "=" to a multiple of 4 characters.
// The decoder is lenient, because stored values may have been cut to a column's
// width: it reads whole groups of 4 characters and ignores a trailing partial
// group; in a group, "=" as third character gives 1 byte, "=" as fourth alone
// gives 2 bytes, anything else 3 bytes, and groups after a padded one are still
// decoded. Characters outside the alphabet count as zero bits; trailing blanks
// (the padding of a fixed-width column) are ignored. Never fails.
std::string CodificaBase64(std::string_view bytes);
std::string DecodificaBase64(std::string_view texto);
