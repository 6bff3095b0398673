#pragma once
// The console's copy of the CONFIG row (ConfiguracaoGeral) and of where the
// service's status server listens (ServidorGravacao), and the logic of the
// storage settings window: what it shows, what it enables, what it refuses
// and the one UPDATE that writes it back.
//
// The window's fields travel as EdicaoConfig (UTF-8 texts, list indexes) so
// the rules run without a display. Main thread only (it uses MDados).
// Nothing here throws: database errors become false and a message.

#include <cstdint>
#include <optional>
#include <string>

#include "common/Configuracao.h"
#include "common/db/LinhaConfig.h"

class MDados;
class Mensageiro;

// The console's copy of the row: the record itself, as stored (texts not
// trimmed, the key and the FTP password enciphered).
using ConfiguracaoGeral = LinhaConfig;

struct ServidorGravacao {
    std::string CRL_GRVSERVER;
    std::string CRL_GRVIP;
    std::uint16_t CRL_GRVPORTA = 51051;
};

// Reads the CONFIG row into `cfg` and the CONTROLE row into `servidor` (this
// computer, its first address and 51051 when CRL_GRVIP is empty). False on a
// database error or when CONFIG has no row; `cfg` is then left as it was, so
// a half-read row never replaces a whole one.
bool CarregaConfiguracao(MDados& dados, ConfiguracaoGeral& cfg, ServidorGravacao& servidor);

// The window's fields. A format index: 0 WAV, 1 OGG, 2 "Criptografado" (only
// offered when the row holds 3, see ItemCriptografado*).
struct EdicaoConfig {
    bool converterOgg = false;
    bool cripto = false;
    std::string chave;  // deciphered
    bool netBackup = false;
    int formatoNet = 0;
    std::string netPath;
    bool ftpBackup = false;
    int formatoFtp = 0;
    std::string servFtp = "127.0.0.1";
    std::string portaFtp = "21";
    int secFtp = 0;
    std::string userFtp;
    std::string senhaFtp;  // deciphered
    int backupDB = 0;      // 0 none, 1 daily, 2 weekly, 3 monthly
    std::string pathBackupDB;
    // Whether each format list carries the third item.
    bool itemCriptografadoNet = false;
    bool itemCriptografadoFtp = false;
};

struct HabilitacaoConfig {
    bool chave, net, ftp, db;
};
HabilitacaoConfig Habilitacao(const EdicaoConfig& e);

// The fields as the window shows the record.
EdicaoConfig ApresentaConfiguracao(const ConfiguracaoGeral& cfg);

// The first refusal for these fields (already translated), or nothing.
std::optional<std::string> ValidaConfig(const EdicaoConfig& e);

// The record with the window's values over it (columns the window does not
// edit keep the record's values).
ConfiguracaoGeral NovaConfiguracao(const ConfiguracaoGeral& atual, const EdicaoConfig& e);

// Longest key or password whose cipher text fits the 30-character columns.
inline constexpr std::size_t MaximoSenhaCifrada = 21;

// Validates (the first refusal in an "Informação" box), writes the window's
// 14 columns in one UPDATE with bound values and, once committed, puts the
// new values in `cfg`; the other columns of the row are left as they are.
// A failed statement, or no row to change: "Não foi
// possível salvar configurações", false, `cfg` unchanged.
bool SalvaConfiguracao(MDados& dados, Mensageiro& mensagens, ConfiguracaoGeral& cfg,
                       const EdicaoConfig& e);
