#pragma once
// The text work of an alert e-mail, apart from any transport: header values
// made safe and RFC 2047-encoded, address lists split, body lines made valid
// UTF-8, and the error text cut the way the service logs it. Pure functions,
// safe from any thread.

#include <string>
#include <string_view>
#include <vector>

// The text without CR, LF or any other control character (a value taken from
// the settings can then never start a header line of its own).
std::string SemControles(std::string_view texto);

// A line that is valid UTF-8 as it is; any other is read as Latin-1.
std::string LinhaUtf8(std::string_view linha);

// The value of a header holding free text (a subject): plain when it is
// printable ASCII, else UTF-8 "B" encoded words of at most 75 characters,
// never splitting a character. Control characters are dropped first.
std::string TextoCabecalho(std::string_view texto);

// "name <address>", the name an encoded word unless it is a plain atom
// sequence; just "<address>" without a name.
std::string EnderecoCabecalho(std::string_view nome, std::string_view endereco);

// The items of a ";"-separated address list, each trimmed of blanks and
// control characters; empty items are left out.
std::vector<std::string> SeparaEnderecos(std::string_view lista);

// The error text with its first "Error:" (those six characters) removed.
std::string RemovePrimeiroError(std::string_view mensagem);

// The body as it is mailed: lines joined with CR LF, each valid UTF-8, a line
// break inside a line kept as a line break.
std::string CorpoEmail(const std::vector<std::string>& linhas);

// The date header's value for a Unix instant in the local zone
// ("Tue, 10 Mar 2026 08:00:00 -0300").
std::string DataCabecalho(long long instante);
