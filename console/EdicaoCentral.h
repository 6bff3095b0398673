#pragma once
// The logic of the PABX unit editor and of its download-window dialog,
// without widgets: the unit's PABX row and DOWNPABX windows as the editor
// shows them (EdicaoCentral, UTF-8 texts as typed), its refusals, the load
// and the one transaction that writes a unit with all its windows; and the
// expansion of a start, a time limit and a repetition into window entries,
// a pure function on whole minutes since midnight.
//
// The service reads the rows as written here: DOW_HORAINI "hh:nn", DOW_HORAFIM
// "hh:nn" or empty (open to the end of the day), PAB_USBPATH the mount folder
// of the unit's USB storage, passwords in their cipher text form.
//
// Main thread only where MDados is used; the pure functions on any thread.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class MDados;
class Mensageiro;

// Connection kinds of PAB_USB_ZIMB (the list's item index).
inline constexpr int ConexaoFTP = 0;
inline constexpr int ConexaoUSB = 1;

// Widths of the editor's fields, in characters.
inline constexpr int LarguraNome = 40;
inline constexpr int LarguraEndereco = 80;
inline constexpr int LarguraSenhaKELV = 4;
inline constexpr int LarguraUsuarioFTP = 30;
inline constexpr int LarguraSenhaFTP = 40;
inline constexpr int LarguraPastaUSB = 80;
// The service reads the unit's store at the folder + "/" + SubpastaUSB and
// keeps at most LarguraCaminhoUSB characters of that path: the folder must
// leave room for it.
inline constexpr const char* SubpastaUSB = "norvika/audiorec";
inline constexpr int LarguraCaminhoUSB = 80;
inline constexpr int LarguraDDD = 3;
inline constexpr int EsperaUSBMinima = 10;
inline constexpr int EsperaUSBMaxima = 90;

struct EdicaoCentral {
    std::string nome;
    std::string endereco;
    std::string portaKELV = "61080";
    std::string senhaKELV;  // deciphered
    int conexao = ConexaoFTP;
    std::string usuarioFTP;
    std::string senhaFTP;  // deciphered
    std::string portaFTP = "21";
    int segurancaFTP = 0;  // only "Não" (0) is offered
    std::string pastaUSB = "/media/usb0";
    int esperaUSB = 60;
    std::string ddd;
    // Window entries as the list shows them ("      hh:nn" or "      hh:nn - hh:nn").
    std::vector<std::string> horarios{"      00:00"};
    bool operator==(const EdicaoCentral&) const = default;
};

// --- Download windows ------------------------------------------------------

inline constexpr int MinutosDia = 24 * 60;

struct JanelaDownload {
    int inicio = 0;          // minutes since midnight
    std::optional<int> fim;  // none: open to the end of the day
    bool operator==(const JanelaDownload&) const = default;
};

// "hh:nn" of a minute of the day.
std::string HoraTexto(int minutos);
// The list entry: six blanks, the start and, with an end, " - " and the end.
std::string EntradaJanela(const JanelaDownload& j);
// The start and end texts a list entry is saved as (the end empty for an
// entry without one). Entries loaded from rows written elsewhere round-trip
// as they were read.
std::pair<std::string, std::string> ColunasEntrada(std::string_view entrada);

// A start typed in the dialog ("hh:nn", one or two digits each, blanks
// around): minutes since midnight, or nothing for anything else.
std::optional<int> LeHoraInicio(std::string_view texto);

// The windows of one answer of the dialog: a window at `inicio`, ending
// `limite` minutes later (0: no end) but at 23:59 at the latest, repeated
// every `frequencia` minutes (0: once) while the next start falls on the same
// day. A window cut at the end of the day ends the expansion.
std::vector<JanelaDownload> ExpandeJanelas(int inicio, int limite, int frequencia);

// Whether `inicio` is the start of an entry already listed.
bool HorarioJaDefinido(int inicio, const std::vector<std::string>& entradas);

// The dialog's combo items and their durations in minutes.
struct ItemDuracao {
    const char* texto;
    int minutos;
};
const std::vector<ItemDuracao>& ItensLimiteTempo();  // "15 min" ... "3 horas"; default "30 min"
const std::vector<ItemDuracao>& ItensFrequencia();   // "1 hora" ... "12 horas"; default "1 hora"
inline constexpr int IndiceLimitePadrao = 1;

// --- The unit ----------------------------------------------------------------

// The first refusal (translated), or nothing.
std::optional<std::string> ValidaCentral(const EdicaoCentral& e);

// Reads unit `codigo` and its windows (by start). Throws SemConexaoBD,
// FirebirdError, and std::runtime_error when the unit does not exist.
EdicaoCentral CarregaCentral(MDados& dados, int codigo);

// Validates and writes the unit (`codigo` 0: a new one, given the highest
// code plus one) and all its windows in one transaction; an empty window list
// is saved as the one window "00:00". True when committed, with `codigo` then
// the unit's code. A refusal or a failure shows its message ("Informação")
// and leaves `codigo` and the database as they were; so does an update of a
// unit deleted meanwhile. A lost connection shows nothing here (the main
// window gives the notice).
bool SalvaCentral(MDados& dados, Mensageiro& mensagens, const EdicaoCentral& e, int& codigo);
