#pragma once
// The two contact file formats the PABX maker's other tools read and write
// (the management tool's, "Vostrel", and the attendant console's,
// "Kandrup Norvika"), as pure functions: contacts to bytes and bytes to
// contacts. No database, no file.
//
// Files are Windows-1252 text, one record per line, every field (the last one
// included) ended by ";", nothing quoted or escaped. So that a value can never
// shift the fields after it, a ";", CR or LF inside a value is written as a
// blank (and "," or ":" inside the Kandrup phone list's contact person, which
// separate that list's items). On reading, lines may end with CR LF, LF or CR;
// control bytes read as blanks and the five bytes Windows-1252 leaves
// unassigned as "?"; a line longer than 64 KiB refuses the file. Widths count
// characters. Texts inside the programs are UTF-8.
//
// Pure; any thread.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The two formats, numbered as the file dialogs' filters.
enum class FormatoAgenda { Vostrel = 1, Kandrup = 2 };

inline constexpr std::size_t TamanhoMaximoLinhaAgenda = 64 * 1024;

struct FoneAgenda {
    std::string numero;
    int tipo = 0;  // TEL_TIPO: 0 Celular, 1 Comercial, 2 Residencial
    bool operator==(const FoneAgenda&) const = default;
};

// A contact as stored (a CLIENTE row) with its phones in TEL_NUMERO order.
struct ClienteAgenda {
    int codigo = 0;
    std::string descricao, identificador, endereco, endernum, bairro, cep, cidade, uf, contato,
        email;
    std::vector<FoneAgenda> fones;
};

// What a contact line of a file gives, cut to the CLIENTE widths.
struct RegistroContatoAgenda {
    std::string nome;           // 40
    std::string endereco;       // 40
    std::string identificador;  // 20 (the readers leave it empty)
    std::string cep;            // 20
    std::string uf;             // 2
    std::string numero;         // 10
    std::string bairro;         // 30
    std::string cidade;         // 30
    std::string contato;        // 40 (the readers leave it empty)
    std::string email;          // 80
    bool operator==(const RegistroContatoAgenda&) const = default;
};

struct ContatoLido {
    int linha = 0;  // line of the file, from 1
    RegistroContatoAgenda registro;
    // False for a Kandrup address without "CEP ": the file says nothing of
    // the postal code, so a stored one stays.
    bool cepLido = true;
    // The phones that follow in the file; none leaves the stored ones alone.
    std::vector<FoneAgenda> fones;
};

struct LeituraAgenda {
    std::vector<ContatoLido> contatos;
    // A refused file: the translated reason and its line (0: the file as a
    // whole, such as a first line of the other format). Nothing is to be
    // stored then.
    std::string erro;
    int linhaErro = 0;
    bool Recusada() const { return !erro.empty(); }
};

// --- Writing ------------------------------------------------------------------

// The Kandrup header line (with its CR LF); the Vostrel format has none.
std::string CabecalhoAgenda(FormatoAgenda formato);
// The lines of one contact (Windows-1252, CR LF). `dddLocal`: the local area
// code, empty when none.
std::string LinhasAgenda(FormatoAgenda formato, const ClienteAgenda& cliente,
                         std::string_view dddLocal);

// --- Reading ------------------------------------------------------------------

// Every contact of the file in order. `dddLocal` completes the Kandrup
// format's local numbers.
LeituraAgenda LeAgenda(std::string_view bytes, FormatoAgenda formato, std::string_view dddLocal);

// --- Helpers ------------------------------------------------------------------

// A Brazilian company number: 14 digits (other characters ignored), not one
// digit repeated, both check digits right.
bool CNPJValido(std::string_view texto);
// Accents removed (the translator's table) and a-z in upper case.
std::string TextoSemAcento(std::string_view texto);
// One leading "E" dropped, then one leading "R", then everything from the
// first "@" on.
std::string LimpaNumeroFone(std::string_view texto);
