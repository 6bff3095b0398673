#pragma once
// Installation of the databases on a running Firebird server: the program's
// database user, the alias of the main database, the main database, the
// per-unit template and, on request, unit databases, all owned by the
// program's user (so its structure upgrades work), who also keeps the right
// to create databases (the service's restores and compaction build a new
// database file as that user). Idempotent: what is in place is left alone,
// and a second run changes nothing. Each database is
// built under "<name>.instalando" and renamed once complete, so a run killed
// at any point leaves nothing that passes for installed; the next run drops
// the leftover and builds it again. The alias file is replaced whole, flushed
// to disk before the rename.
//
// It runs on the server's machine: it writes the server's alias file and looks
// for the database files in the server's data folder.

#include "common/db/Firebird.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

struct OpcoesInstalacao {
    std::string servidor = "localhost";
    int porta = 0;  // 0: the default port
    // The server's administrator (SYSDBA or a user with the admin role).
    std::string adminUsuario = "SYSDBA";
    std::string adminSenha;
    // The program's own database user.
    std::string usuario = "HMCXJXTFHJ";
    std::string senha = "lomfadrix";
    // Folder of the database files, writable by the server's user.
    std::filesystem::path pastaDados = "/var/lib/firebird/3.0/data";
    std::filesystem::path arquivoAliases = "/etc/firebird/3.0/databases.conf";
    std::string alias = "VERUZADU";
    // Unit databases to create besides the template (codes 1-999).
    std::vector<int> unidades;
};

// Installs what is missing and returns one line per change (empty when
// everything was in place). Throws FirebirdError for the server's refusals
// and std::runtime_error for the rest (an alias that names another file, the
// program's user existing with another password, ...).
std::vector<std::string> InstalaBancos(const OpcoesInstalacao& o);

// The database of PABX unit `codigo` at `p.banco`, made through the server as
// p's user (who needs the right to create databases, which the installation
// gives the program's user and leaves in place): the unit structure, reading
// the main database at `conexaoPrincipal` (as the server sees it), then
// UPDATEPABX(codigo). A database already there is kept: only UPDATEPABX runs
// on it. A half-built new database is dropped again. True when it was
// created. Throws FirebirdError with the server's reason.
bool CriaBancoPABX(const ParametrosConexao& p, int codigo, std::string_view conexaoPrincipal);

// A fresh installation has no user, so nobody could log in to the console:
// when USUARIO is empty, adds the administrator "ADMIN" (profile 1) with the
// cipher of `senha`, through the main database at `principal`. True when
// it was added; false when users exist already. Throws std::invalid_argument
// for an empty password or one longer than 21 characters (its cipher would
// not fit the column) and FirebirdError for the server's refusals.
bool CriaPrimeiroAdministrador(const ParametrosConexao& principal, const std::string& senha);

// Removes the alias line (if any) from the alias file; true when one was
// there. Same locking as the installation.
bool RemoveAlias(const std::filesystem::path& arquivoAliases, std::string_view alias);

// The path an alias names in the alias file, empty when absent.
std::string CaminhoDoAlias(const std::filesystem::path& arquivoAliases, std::string_view alias);
