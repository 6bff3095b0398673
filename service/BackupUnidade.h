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
// and the cleanup times (LogServico's) belong to the service and outlive
// every run.

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/DataHora.h"
#include "common/db/Firebird.h"
#include "service/AlertaEmail.h"
#include "service/BackupBanco.h"
#include "service/BancoServico.h"
#include "service/TemposLimpezaLog.h"

// True for "<three letters><yyyymm>.LOG" (any case) with yyyymm below `limite`;
// other names (SDCard, MAIL, anything else) are never removable.
bool LogUnidadeRemovivel(std::string_view nome, std::string_view limite);

struct ContextoBackupUnidade {
    int codigo = 0;
    std::string pastaPABX;             // the unit's working folder, "/" at the end
    std::filesystem::path arquivoIni;  // VERUZADU.INI
    ParametrosConexao baseDadosPABX;   // the unit's database (BaseDadosPABX)
    BancoServico* banco = nullptr;     // main database, clock, configuration
    // The snapshot to use; empty: the first call that needs one takes it.
    std::shared_ptr<const ConfiguracaoGeral> configuracao;
    AlertasEmail* alertas = nullptr;
    TemposLimpezaLog* limpeza = nullptr;
    // The thread log: level, text (lines for the consoles too).
    std::function<void(int, const std::string&)> log;
    std::function<std::string(std::string_view)> traduz;
    std::function<DataHora()> relogio = Agora;
    PontoPausa pausa;  // empty: none
    // True when the run must stop: a running gbak is ended. May be empty.
    std::function<bool()> interrompe;
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
    // The snapshot in use (taken now when none was given).
    std::shared_ptr<const ConfiguracaoGeral> Configuracao();

  private:
    void Log(int nivel, const std::string& texto) const;
    std::string Traduz(std::string_view texto) const;

    ContextoBackupUnidade c_;
};
