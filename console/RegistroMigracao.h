#pragma once
// The migration's recovery record: a small file in the program folder
// (migracao.pendente) that says what a running migration has changed on the
// server, so that a console killed half-way (kill -9, a power cut) leaves
// enough behind for the next start to put the live databases right.
//
// It is written (atomically: a temporary file, fsync, rename, fsync of the
// folder) before the migration changes anything and again before each step
// whose undoing differs, and removed when the migration has ended either way.
// It names server paths only; no password is ever written there.
//
// Any thread; one migration at a time. Grava throws std::runtime_error;
// Le returns nothing for an absent file and throws std::runtime_error for one
// that cannot be read or understood.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct RegistroMigracao {
    // Where the migration was: "preparo" (live databases shut down, backups
    // and working databases being made), "troca" (the live databases are
    // about to be dropped and restored from the migrated ones), "antiga" (the
    // live databases hold the migrated ones; the old database is being moved).
    std::string passo;
    std::string servidor;
    std::string versaoServidor;
    std::vector<std::string> desligados;   // live databases this run shut down
    std::vector<std::string> temporarios;  // working-name databases
    std::string vivoPrincipal, vivoUnidade;
    bool unidadeExiste = false;
    // Kept backups of the live databases (program folder).
    std::string guardaPrincipal, guardaUnidade;
    std::string antigo, destinoAntigo;
    bool servicoParado = false;
};

std::filesystem::path ArquivoRegistroMigracao();
void GravaRegistroMigracao(const RegistroMigracao& r);
std::optional<RegistroMigracao> LeRegistroMigracao();
void ApagaRegistroMigracao();

// Test seam for the kill tests: kills the process (SIGKILL) when `ponto` is
// the one named by VERUZADU_MIGRACAO_MORTE. Without the variable nothing
// happens.
void PontoMorteMigracao(std::string_view ponto);
