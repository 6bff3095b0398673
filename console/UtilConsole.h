#pragma once
// The console's own small helpers: its diagnostic log file, profile names,
// the bit helpers of the 16-bit extension permission words, path trimming and
// running a sibling program in its own folder.
//
// Every helper may be called from any thread and throws nothing but
// std::bad_alloc.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The console log switch, [Log] Servico of VERUZADU.INI; the start-up
// sequence sets it at every pass. Off until then.
void DefineLogConsoleAtivo(bool ativo);
bool LogConsoleAtivo();

// While the switch is on, appends one line ("dd/mm/yy hh:nn:ss zzz", two
// blanks, the text) to GRE<yyyymm>.LOG of the program folder, creating it when
// missing. Errors are swallowed: the log must never stop the console.
void GravaLogConsole(std::string_view texto);
// The log file's name for a month: "GRE" + yyyymm + ".LOG".
std::string NomeLogConsole(int ano, int mes);

// 1 "Administrador", 2 "Operador", anything else "" (not translated: the
// caller translates what it shows).
std::string NomePerfil(int perfil);

// Bit n (0-15) of a 16-bit word; an n outside 0-15 reads as clear and
// changes nothing.
bool BitLigado(std::uint16_t palavra, int n);
std::uint16_t LigaBit(std::uint16_t palavra, int n);
std::uint16_t DesligaBit(std::uint16_t palavra, int n);
void AjustaBit(bool ligado, std::uint16_t& palavra, int n);

// The old Windows version code: there is no Windows here, so always -1
// ("cannot be read"), which callers already handle.
int VersaoWindows();

// The part of `caminho` before its n-th "/" counted from the end (a "/" at
// the first position does not count); the whole path when it has fewer.
// "/opt/Prog/Veruzadu/" with n = 1 gives "/opt/Prog/Veruzadu", with 2 "/opt/Prog".
std::string RetiraFinalCaminho(std::string_view caminho, int n);

// Starts `programa` with `argumentos` (an argument vector: no shell, no
// quoting) in the program's own folder and waits for its end, at most
// `limite`; a program still running then is ended (SIGTERM, then SIGKILL).
// True when the program started. Never waits without a limit, so a hung
// sibling cannot freeze the console's window.
bool ExecutaNaPastaEAguarda(const std::string& programa, const std::vector<std::string>& argumentos,
                            std::chrono::milliseconds limite = std::chrono::seconds(30));

// The console's version (the build's project version).
std::string VersaoPrograma();
// "Versão: " + VersaoPrograma(), translated: the about window's line.
std::string TextoVersaoPrograma();
