#pragma once
// A unit's database backup and log cleanup, run by that unit's download
// thread at the end of each run: the decision (HoraBackup), the backup
// (BackupBaseDados), its record in the main database (BDRegistraBackup), the
// attachment count and folder of the unit's database (BDUsuariosConectados)
// and the cleanup of the unit folder's monthly logs (LimpaLogs).
//
// One object per run, used by the run's thread only. The settings come from
// one configuration snapshot taken by HoraBackup (or the first call that
// needs it) and kept for the rest of the run, so a reload on the service
// thread never changes them half-way. The BancoServico, the alert object
// and TemposLimpezaLog belong to the service and outlive every run.

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "common/DataHora.h"
#include "common/db/Firebird.h"
#include "service/AlertaEmail.h"
#include "service/BackupBanco.h"
#include "service/BancoServico.h"

// When each folder's logs were last cleaned: the service's own folder and
// every unit's keep separate times, so one cleanup never postpones another.
// Shared by the service and every download thread; every call is atomic.
class TemposLimpezaLog final {
public:
    // True (and the time set to `agora`) when the folder of `chave` was never
    // cleaned or was cleaned a whole day or more before `agora`.
    bool Vence(int chave, const DataHora& agora);
    DataHora Ultima(int chave) const;

private:
    mutable std::mutex trava_;  // guards ultimas_
    std::map<int, DataHora> ultimas_;
};

// True for "<three letters><yyyymm>.LOG" (any case) with yyyymm below `limite`;
// other names (SDCard, MAIL, anything else) are never removable.
bool LogUnidadeRemovivel(std::string_view nome, std::string_view limite);

struct ContextoBackupUnidade {
    int codigo = 0;
    std::string pastaPABX;                 // the unit's working folder, "/" at the end
    std::filesystem::path arquivoIni;      // VERUZADU.INI
    ParametrosConexao baseDadosPABX;       // the unit's database (BaseDadosPABX)
    BancoServico* banco = nullptr;         // main database, clock, configuration
    AlertasEmail* alertas = nullptr;
    TemposLimpezaLog* limpeza = nullptr;
    // The thread log: level, text (lines for the consoles too).
    std::function<void(int, const std::string&)> log;
    std::function<std::string(std::string_view)> traduz;
    std::function<DataHora()> relogio = Agora;
    PontoPausa pausa;                      // empty: none
};

class BackupUnidade final {
public:
    explicit BackupUnidade(ContextoBackupUnidade contexto);

    // Log cleanup once a day for this folder, then whether the unit's backup
    // is due by CFG_DBBACKUP against the server's clock.
    bool HoraBackup(const DataHora& ultimoBackupBD);
    bool BackupBaseDados();
    // PAB_ULTBACKUPBD := now; `ultimoBackupBD` gets the server's time. Error tag "UPDWAT".
    bool BDRegistraBackup(DataHora& ultimoBackupBD);
    // Attachments to the unit's database and its server-side folder; 0 and
    // `pasta` unchanged on an error (tag "LOADUSR").
    int BDUsuariosConectados(std::string& pasta);
    void LimpaLogs();

private:
    std::shared_ptr<const ConfiguracaoGeral> Configuracao();
    void Log(int nivel, const std::string& texto) const;
    std::string Traduz(std::string_view texto) const;

    ContextoBackupUnidade c_;
    std::shared_ptr<const ConfiguracaoGeral> config_;
};
