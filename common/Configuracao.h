#pragma once
// The program folder, the configuration files VERUZADU.INI and PABX.INI with
// every key's default, the program-wide values read from them and the rule
// that locates the main database.
//
// Which program runs (service or console) changes a few defaults.
// The program-wide values are published as an immutable snapshot: a thread
// takes ValoresAtuais() and keeps reading that copy while a later load
// publishes a new one.

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class IniFile;

enum class Programa { Servico, Console };

// The folder of the running executable, or $VERUZADU_HOME when set (made
// absolute); always with a trailing "/".
std::string PastaPrograma();
// VERUZADU.INI in the program folder, under whatever case it has on disk.
std::filesystem::path ArquivoVeruzaduIni();
// A unit's code in three digits ("007"); the working folder of the unit
// (PastaPrograma + "PABX" + code + "/") and its PABX.INI.
std::string CodigoTresDigitos(int codigo);
std::string PastaPABX(int codigo);
std::filesystem::path ArquivoPabxIni(int codigo);

// Defaults shared by both programs.
inline constexpr std::string_view UsuarioBDPadrao = "HMCXJXTFHJ";
inline constexpr std::string_view SenhaBDPadrao = "lomfadrix";
inline constexpr std::string_view AliasPadrao = "VERUZADU";
inline constexpr std::string_view VersaoMinimaPABXPadrao = "3.16.50";
inline constexpr int PortaStatusPadrao = 51051;
// Seconds without progress before a step of the PABX link fails.
int PABXTimeOutPadrao(Programa programa);

// Log mask bits; a line of level L is written when (L & mask) == L.
enum : int { LogSempre = 1, LogInfo = 2, LogErro = 4, LogPABX = 8, LogSDCard = 16 };

struct LocalBaseDados {
    std::string servidor;  // computer of the database server, never with ':'
    std::string caminho;   // connection string of the main database
};

// Where the service finds its main database: [BD] Server (default "\\" +
// computer name, up to two leading backslashes dropped), or with [BD] Adv the
// advanced server and path; "127.0.0.1" when no server remains; the
// connection string is server + ":" + [BD] Alias unless the advanced form
// gave one.
LocalBaseDados CaminhoBaseDados(const IniFile& ini);
LocalBaseDados CaminhoBaseDados();

// Everything the service reads from VERUZADU.INI in one pass at start, and
// the program-wide values those keys set.
struct ConfiguracaoServico {
    std::string PastaPrograma;
    // [Veruzadu]
    int MaxPABX = 20;
    int TempoVerDownload = 60;  // seconds
    int PABXTimeOut = 90;       // seconds
    int PABXTentaDel = 2;
    int TentaCopiaArquivo = 1;
    int TempoVerSDCard = 120;   // minutes
    int TempoAlertaSDCard = 7;  // days
    int FTPTimeOut = 30000;     // milliseconds
    int FTPTentaConexao = 3;
    int FTPTentaDownload = 3;
    bool IgnoraCTRLDesconhecido = true;
    bool DelDir = true;
    bool DelXML = true;
    bool ErroXML = false;
    int Porta = PortaStatusPadrao;
    // [AmpliacaoSinal]
    int GanhoPadrao = 8;
    int GanhoBrelvo = 5;
    int GanhoORVAL500 = 0;
    // [Norvika]
    std::string DDD;  // at most 4 characters
    int CifrasNumeroLocal = 8;
    std::string VersaoMinimaPABX{VersaoMinimaPABXPadrao};  // at most 20 characters
    // [BD]
    bool Trusted = false;
    std::string UsuarioBD{UsuarioBDPadrao};  // empty when Trusted
    std::string SenhaBD{SenhaBDPadrao};      // empty when Trusted
    std::string ServidorBD;
    std::string CaminhoBD{AliasPadrao};
    // [Log]: LogSempre plus the bits switched on.
    int MascaraLog = LogSempre;
    // [Veruzadu] TempoLimiteGbak: seconds one gbak run (backup or restore)
    // may take before it is ended; generous, for big databases.
    int TempoLimiteGbak = 21600;
    // One line for each numeric key whose value lay outside its range and
    // was brought back into it (the service logs them at start).
    std::vector<std::string> ValoresAjustados;
};

// The range each numeric key of [Veruzadu] is held to.
struct FaixaChave {
    const char* chave;
    int minimo, maximo;
};
// Brings `valor` of [Veruzadu] `chave` into its range; with `ajustes`, a line
// naming the key is added there when the value was changed.
int AjustaValorChave(std::string_view chave, int valor, std::vector<std::string>* ajustes);
// [Veruzadu] TempoLimiteGbak of the file, within its range (seconds).
int LeTempoLimiteGbak(const IniFile& ini);

// The one-pass read. `anterior` is the configuration of the previous start in
// this process: its area code, once set, is kept (the key is read only while
// the value is empty, so it survives a stop and start of the service).
ConfiguracaoServico LeConfiguracaoServico(const IniFile& ini, const ConfiguracaoServico& anterior);

// Reads VERUZADU.INI of the program folder, publishes and returns the result.
std::shared_ptr<const ConfiguracaoServico> CarregaConfiguracaoServico();
// The last published values (the defaults before the first load).
std::shared_ptr<const ConfiguracaoServico> ValoresAtuais();
void PublicaValores(ConfiguracaoServico valores);

// Keys the console reads, each at the moment it needs them.
struct ConfiguracaoConsole {
    std::string Server;  // [BD] Server as written, "" when missing
    std::string Alias{AliasPadrao};
    bool AliasGRVPABX = false;
    bool UPD = false;
    std::string DDD;  // [Veruzadu] DDD
    int PABXTimeOut = 30;
    bool LogPABX = false;  // link trace
    bool LogServico = false;
    int LatenciaAudio = 100;                  // [AudioOutput] Latency, ms
    std::string DispositivoAudio{"default"};  // [AudioOutput] Device, an ALSA PCM name
};
ConfiguracaoConsole LeConfiguracaoConsole(const IniFile& ini);

// [Backup] for the main database, [Backup<nnn>] for unit nnn's database.
std::string SecaoBackup();
std::string SecaoBackup(int codigoPABX);

// PABX.INI: [Dados] Agenda, default true.
bool LeAgendaPABX(const IniFile& pabxIni);
