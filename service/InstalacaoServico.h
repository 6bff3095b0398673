#pragma once
// Installation of the recording service as a systemd unit. Works without a
// running systemd: the unit file is written or removed, and the caller is told
// that systemd was not told.

#include <filesystem>
#include <iosfwd>
#include <string>

struct OpcoesUnidadeServico {
    std::filesystem::path pastaUnidades = "/etc/systemd/system";
    std::filesystem::path executavel;
    // Program folder handed to the service through VERUZADU_HOME (pelmoran
    // always names it, so an installed service never writes beside a binary
    // in a system folder by accident); empty: none is set.
    std::string pastaPrograma;
    bool dependeFirebird = true;
};

// The database server is installed on this computer.
bool FirebirdInstalado();

// The unit's text for these options.
std::string TextoUnidade(const OpcoesUnidadeServico& opcoes);

// Writes the unit. When no database server is found, asks on `entrada` whether
// to drop the dependency (no answer keeps it). Returns the process exit code.
int InstalaServico(OpcoesUnidadeServico opcoes, std::istream& entrada, std::ostream& saida);
int DesinstalaServico(const OpcoesUnidadeServico& opcoes, std::ostream& saida);
