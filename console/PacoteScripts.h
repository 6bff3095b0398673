#pragma once
// Script packages of the database upgrade: a gzip-compressed tar made by a
// release with plain `tar -czf` (tools/veruzadu-pacote), holding a manifest
// PACOTE.INI ([Pacote] Formato=1, Versao=<program version>) and UTF-8 SQL
// scripts named quv_*.sql (main database), grvest*.sql (template and every
// unit's database) and grvpab_*.sql (every unit's database, not the template).
//
// A package is read whole into memory and checked before anything of it is
// used; nothing of it is ever written to disk. Anything unexpected refuses the
// whole package (PacoteRecusado): a name with "/", "..", or outside the
// manifest and script patterns (case counts), a link (symbolic or hard), a
// folder or device, a duplicate entry, text that is not UTF-8, an entry or a
// package over its size cap (counted while inflating, so a gzip bomb stops
// there), no manifest or an unknown Formato, anything but a gzip tar, a cut
// or damaged gzip stream (its CRC and length are checked).
//
// Free functions; any thread; they throw PacoteRecusado and std::bad_alloc.

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Why a package was refused: `entrada` names the entry (empty for the whole
// package), what() the reason.
class PacoteRecusado : public std::runtime_error {
  public:
    PacoteRecusado(std::string entradaRecusada, const std::string& motivo)
        : std::runtime_error(motivo), entrada(std::move(entradaRecusada)) {}
    std::string entrada;
};

struct LimitesPacote {
    std::size_t porEntrada = 16u << 20;  // bytes of one entry
    std::size_t porPacote = 64u << 20;   // bytes of the whole uncompressed tar
};

enum class TipoScript { Nenhum, Principal, Estrutura, Unidade };

// quv_*.sql -> Principal, grvest*.sql -> Estrutura, grvpab_*.sql -> Unidade,
// anything else (other case too) -> Nenhum.
TipoScript TipoDoScript(std::string_view nome);

struct ScriptPacote {
    std::string nome;
    std::string texto;
    std::string sha256;  // hex, lower case, of `texto`
    TipoScript tipo = TipoScript::Nenhum;
};

struct PacoteScripts {
    std::string versao;                 // [Pacote] Versao
    std::vector<ScriptPacote> scripts;  // in the package's order
};

PacoteScripts LePacoteScripts(const std::filesystem::path& arquivo,
                              const LimitesPacote& limites = {});

// True for "scripts*.gkp" exactly (case counts).
bool NomePacoteScripts(std::string_view nome);

// The regular files of `pasta` (no links, folders or dot names) whose name
// `casa` accepts, by full path, in byte order of their names.
std::vector<std::filesystem::path> ListaPacotes(const std::filesystem::path& pasta,
                                                bool (*casa)(std::string_view));

// Compares dotted version numbers ("1.0.10" > "1.0.9"): <0, 0, >0. A part
// that is not a number compares as text.
int ComparaVersoes(std::string_view a, std::string_view b);

bool TextoUtf8Valido(std::string_view texto);
std::string Sha256Hex(std::string_view dados);
