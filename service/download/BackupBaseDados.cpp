// Backup of the unit's database at the end of a run: the members hand the
// run's context to BackupUnidade, which does the work.

#include "common/IniFile.h"
#include "service/BackupUnidade.h"
#include "service/download/PABXDownloadFTP.h"

namespace {

BackupUnidade Backup(TPABXDownloadFTP& t, std::shared_ptr<const ConfiguracaoGeral> configuracao) {
    AmbienteDownload& a = t.Ambiente();
    ContextoBackupUnidade c;
    c.codigo = t.CodigoPABX;
    c.pastaPABX = t.PastaPABX;
    c.arquivoIni = ArquivoSemCaixa(t.Config().PastaPrograma, "VERUZADU.INI");
    c.baseDadosPABX = t.ConexaoPABX();
    c.banco = &a.Banco;
    c.configuracao = std::move(configuracao);
    c.alertas = &a.Alertas;
    c.limpeza = &a.LogSrv.TemposLimpeza();
    c.log = [&t](int nivel, const std::string& texto) {
        t.Log(static_cast<std::uint16_t>(nivel), true, texto);
    };
    c.traduz = [&t](std::string_view texto) { return t.Traduz(texto); };
    c.relogio = [&t] { return t.AgoraLocal(); };
    c.pausa = PausaDoAmbiente();
    c.interrompe = [&t] { return t.Terminated(); };
    return BackupUnidade(std::move(c));
}

}  // namespace

bool TPABXDownloadFTP::HoraBackup() {
    // One snapshot for the decision and the backup that follows it.
    configBackup_ = ConfigGeral();
    return Backup(*this, configBackup_).HoraBackup(UltimoBackupBD);
}

bool TPABXDownloadFTP::BackupBaseDados() {
    if (!configBackup_) configBackup_ = ConfigGeral();
    return Backup(*this, configBackup_).BackupBaseDados();
}

bool TPABXDownloadFTP::BDRegistraBackup() {
    return Backup(*this, configBackup_).BDRegistraBackup(UltimoBackupBD);
}
