// The download run's backup members against the test server: the decision,
// the backup of the unit's database and its record in the main database, on
// the configuration snapshot the decision read.

#include <gtest/gtest.h>

#include "common/IniFile.h"
#include "service/BackupBanco.h"
#include "service/LacoPrincipal.h"
#include "service/download/PABXDownloadFTP.h"
#include "tests/service/BackupTeste.h"

namespace fs = std::filesystem;

TEST(BackupBaseDadosPABX, MembrosDaExecucaoFazemERegistramOBackup) {
    BancosBackup b;
    EXIGE_BANCOS(b);
    b.CriaUnidade(4, 5, 10000);
    PastaTemporaria home;
    PastaTemporaria destino;
    IniFile(home.Caminho() / "VERUZADU.INI").WriteString("BD", "Server", b.srv.Servidor());
    b.Executa(b.Principal(), {"UPDATE CONFIG SET CFG_DBBACKUP = 1, CFG_DBDSTPATH = '" +
                              destino.Caminho().string() + "'"});

    LogServico log(home.Caminho());
    log.DefineMascara(LogSempre | LogInfo | LogErro);
    BancoServico banco(log, b.ParametrosServico());
    banco.DefinePastaBaseDadosServidor(b.pasta);
    ASSERT_TRUE(banco.BDCarregaConfiguracaoGeral());
    AlertasEmail alertas([] { return AlertaFalha; });
    RelogioSistema relogio;
    ConfiguracaoServico cfg;
    cfg.PastaPrograma = home.Caminho().string() + "/";

    TPABXDownloadFTP t(4, AmbienteDownload{log, banco, alertas, relogio, {}},
                       std::make_shared<const ConfiguracaoServico>(cfg));
    t.PastaPABX = cfg.PastaPrograma + "PABX004/";
    fs::create_directories(t.PastaPABX);
    t.BaseDadosPABX = b.srv.Conexao(b.pasta + "GRVPAB004.FDB");

    ASSERT_TRUE(t.HoraBackup());
    // A reload on the service thread between the decision and the backup
    // does not change where this run's backup goes.
    b.Executa(b.Principal(), {"UPDATE CONFIG SET CFG_DBDSTPATH = ''"});
    ASSERT_TRUE(banco.BDCarregaConfiguracaoGeral());
    ASSERT_TRUE(t.BackupBaseDados());
    EXPECT_TRUE(fs::exists(destino.Caminho() / NomeBackupUnidade(4, Agora())));
    EXPECT_FALSE(fs::exists(destino.Caminho() / (NomeBackupUnidade(4, Agora()) + ".tmp")));
    EXPECT_TRUE(fs::exists(fs::path(t.PastaPABX) / "Backup.txt"));
    ASSERT_TRUE(t.BDRegistraBackup());
    EXPECT_FALSE(t.UltimoBackupBD.Vazia());
    EXPECT_FALSE(t.HoraBackup());
    EXPECT_EQ(IniFile(home.Caminho() / "VERUZADU.INI").ReadString("Backup004", "PathBDServer", ""),
              b.pasta);
}
