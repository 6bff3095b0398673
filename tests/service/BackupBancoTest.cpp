// Database backups, restores and compaction against the test server: the
// decision rules, a unit's and the main database's round trip, a compaction,
// the refusals that keep the live database whole, gbak failures and the log
// cleanup of the unit folders.

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <future>
#include <thread>

#include "common/IniFile.h"
#include "common/Processos.h"
#include "service/BackupPrincipal.h"
#include "service/BackupUnidade.h"
#include "tests/service/BackupTeste.h"

namespace fs = std::filesystem;

namespace {

DataHora Menos(const DataHora& d, long long segundos) { return SomaSegundos(d, -segundos); }

struct Ambiente {
    Ambiente() {
        if (!bancos.Pronto()) return;
        log.DefineMascara(0x1F);
        alertas.DefineFila(fila);
        IniFile(ini).WriteString("BD", "Server", bancos.srv.Servidor());
        banco.DefinePastaBaseDadosServidor(bancos.pasta);
        banco.BDCarregaConfiguracaoGeral();
    }
    std::string Log() const { return LeTudo(log.ArquivoDoMes(Agora())); }
    std::vector<std::string> Alertas() {
        std::vector<std::string> r;
        while (auto m = fila->RetiraPrimeiro())
            for (auto& l : m->FLinhas) r.push_back(l);
        return r;
    }
    void Configura(int periodo, const std::string& pasta) {
        Attachment att = Attachment::Conecta(bancos.Principal());
        Transaction tr(att);
        Statement st(tr, "UPDATE CONFIG SET CFG_DBBACKUP = ?, CFG_DBDSTPATH = ?");
        st.SetInt(0, periodo).SetText(1, pasta);
        st.Executa();
        tr.Commit();
        att.Desconecta();
        banco.BDCarregaConfiguracaoGeral();
    }
    int CrlCompbd() {
        Attachment att = Attachment::Conecta(bancos.Principal());
        Transaction tr(att, true);
        Statement st(tr, "SELECT CRL_COMPBD FROM CONTROLE");
        Cursor c = st.Abre();
        c.Proxima();
        return c.GetInt(0);
    }
    BackupUnidade Unidade(int codigo, const ParametrosConexao& base, std::string pastaPABX) {
        ContextoBackupUnidade c;
        c.codigo = codigo;
        c.pastaPABX = std::move(pastaPABX);
        c.arquivoIni = ini;
        c.baseDadosPABX = base;
        c.banco = &banco;
        c.alertas = &alertas;
        c.limpeza = &limpeza;
        c.log = [this](int nivel, const std::string& t) { log.Log(nivel, true, t); };
        return BackupUnidade(c);
    }

    BancosBackup bancos;
    PastaTemporaria home;
    PastaTemporaria destino;
    fs::path ini = home.Caminho() / "VERUZADU.INI";
    LogServico log{home.Caminho()};
    BancoServico banco{log, bancos.ParametrosServico()};
    std::shared_ptr<FilaEmails> fila = std::make_shared<FilaEmails>();
    AlertasEmail alertas{[] { return 3; }};
    TemposLimpezaLog limpeza;
    BackupPrincipal backup{home.Caminho().string(), ini, banco, log, alertas,
                           [] { return Agora(); }};
};

// A gbak stand-in in a folder of its own that writes a part of its output
// file and fails, as a gbak that hits a full disk or a broken database does.
void EscreveGbakFalho(const fs::path& pasta) {
    fs::create_directories(pasta);
    const fs::path gbak = pasta / "gbak";
    Grava(gbak, "#!/bin/sh\nfor a; do last=$a; done\necho partial > \"$last\"\nexit 1\n");
    fs::permissions(gbak, fs::perms(0755));
}

bool SemTemporarios(const fs::path& pasta) {
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(pasta, ec)) {
        const std::string n = e.path().filename().string();
        if (n.ends_with(".tmp") || n.ends_with(".novo")) return false;
    }
    return true;
}

}  // namespace

TEST(BackupBanco, DecisaoPorPeriodo) {
    const DataHora agora{2026, 12, 11, 10, 0, 0};
    const long long h = 3600, d = 86400;
    struct Ultimo {
        const char* nome;
        DataHora quando;
    };
    const Ultimo ultimos[] = {
        {"nunca", DataHora{}},
        {"23 h", Menos(agora, 23 * h)},
        {"24 h", Menos(agora, 24 * h)},
        {"6 d", Menos(agora, 6 * d)},
        {"7 d", Menos(agora, 7 * d)},
        {"30 d", Menos(agora, 30 * d)},
        {"30.4375 d", Menos(agora, 30 * d + 37800)},
    };
    // Rows: CFG_DBBACKUP 0..3; columns: the last backups above.
    const bool esperado[4][7] = {
        {false, false, false, false, false, false, false},
        {true, false, true, true, true, true, true},
        {true, false, false, false, true, true, true},
        {true, false, false, false, false, false, true},
    };
    for (int periodo = 0; periodo < 4; ++periodo)
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(BackupVencido(periodo, ultimos[i].quando, agora), esperado[periodo][i])
                << "CFG_DBBACKUP " << periodo << ", last backup " << ultimos[i].nome;
    // One second short of a month, and a period value outside the table.
    EXPECT_FALSE(BackupVencido(3, Menos(agora, 30 * d + 37799), agora));
    EXPECT_FALSE(BackupVencido(4, DataHora{}, agora));
    // The difference counts whichever way the clocks stand.
    EXPECT_TRUE(BackupVencido(1, SomaSegundos(agora, d), agora));
}

TEST(BackupBanco, NomesServidorLocalEArquivoDeStatus) {
    const DataHora d{2026, 3, 5, 23, 59, 0};
    EXPECT_EQ(NomeBackupPrincipal(d), "veruzadu_20260305.gbk");
    EXPECT_EQ(NomeBackupUnidade(7, d), "grvpab007_20260305.gbk");
    EXPECT_TRUE(ServidorNesteComputador("localhost", ""));
    EXPECT_TRUE(ServidorNesteComputador("\\\\LOCALHOST/3051", ""));
    EXPECT_TRUE(ServidorNesteComputador(NomeComputador(), ""));
    EXPECT_TRUE(ServidorNesteComputador("10.9.8.7", "10.9.8.7"));
    EXPECT_FALSE(ServidorNesteComputador("outro-servidor.invalid", "10.9.8.7"));
    bool recusado = true;
    EXPECT_EQ(ArquivoStatusGbak("/p/", "Backup.txt", recusado), "/p/Backup.txt");
    EXPECT_FALSE(recusado);
    EXPECT_EQ(ArquivoStatusGbak("/p/", "", recusado), "");
    EXPECT_FALSE(recusado);
    for (const char* nome : {"../x.txt", "a/b.txt", "a\\b", ".."}) {
        EXPECT_EQ(ArquivoStatusGbak("/p/", nome, recusado), "") << nome;
        EXPECT_TRUE(recusado) << nome;
    }
}

TEST(BackupBanco, LimpezaDosLogsDaUnidade) {
    PastaTemporaria pasta;
    const DataHora hoje = Agora();
    const std::string doisMeses = FormataDataHora(SomaDias(SoData(hoje), -62), "yyyymm");
    const std::string mesPassado = LimiteLimpezaLog(hoje);
    struct Caso {
        std::string nome;
        bool removido;
    };
    const std::vector<Caso> casos = {
        {"IMP" + doisMeses + ".LOG", true},
        {"imp" + doisMeses + ".log", true},
        {"Imp" + doisMeses + ".Log", true},
        {"IMP" + mesPassado + ".LOG", false},
        {"IMP" + FormataDataHora(hoje, "yyyymm") + ".LOG", false},
        {"SDCard" + doisMeses + ".LOG", false},
        {"MAIL" + doisMeses + ".LOG", false},
        {"IMP" + doisMeses + ".TXT", false},
        {"IM1" + doisMeses + ".LOG", false},
        {"IMPX" + doisMeses + ".LOG", false},
        {"outro.log", false},
    };
    for (const auto& c : casos) Grava(pasta.Caminho() / c.nome, "x");

    LogServico log(pasta.Caminho());
    BancoServico banco(log, {});
    TemposLimpezaLog tempos;
    ContextoBackupUnidade ctx;
    ctx.codigo = 1;
    ctx.pastaPABX = pasta.Caminho().string();
    ctx.banco = &banco;
    ctx.limpeza = &tempos;
    BackupUnidade(ctx).LimpaLogs();
    for (const auto& c : casos)
        EXPECT_EQ(fs::exists(pasta.Caminho() / c.nome), !c.removido) << c.nome;

    // Each folder keeps its own time: the service's cleanup (key 0) never
    // postpones a unit's on the same day, and a unit's runs once a day.
    EXPECT_TRUE(tempos.Vence(0, hoje));
    EXPECT_TRUE(tempos.Vence(1, hoje));
    EXPECT_TRUE(tempos.Vence(2, hoje));
    EXPECT_FALSE(tempos.Vence(1, SomaSegundos(hoje, 86399)));
    EXPECT_TRUE(tempos.Vence(1, SomaSegundos(hoje, 86400)));
}

TEST(BackupPrincipal, DecisaoRestauracaoPendenteECompactacao) {
    Ambiente a;
    EXIGE_BANCOS(a.bancos);
    a.Configura(1, a.destino.Caminho().string());
    DataHora decisao;
    bool compactar = false, restaurar = false;

    // A pending restore answers at once: no cleanup, no decision time.
    IniFile(a.ini).WriteInteger("Backup", "RestauraPABX", 2);
    EXPECT_TRUE(a.backup.HoraRealizarBackup(compactar, restaurar, decisao));
    EXPECT_TRUE(restaurar);
    EXPECT_FALSE(compactar);
    EXPECT_TRUE(decisao.Vazia());
    EXPECT_TRUE(a.log.UltimaLimpezaLog().Vazia());
    IniFile(a.ini).WriteInteger("Backup", "RestauraPABX", 0);

    // Never backed up, daily: due; the decision time and the cleanup are set.
    EXPECT_TRUE(a.backup.HoraRealizarBackup(compactar, restaurar, decisao));
    EXPECT_FALSE(restaurar);
    EXPECT_FALSE(compactar);
    EXPECT_FALSE(decisao.Vazia());
    EXPECT_FALSE(a.log.UltimaLimpezaLog().Vazia());

    // Compaction wanted: done when this check is alone, not with a console.
    a.Configura(0, "");
    a.bancos.Executa(a.bancos.Principal(), {"UPDATE CONTROLE SET CRL_COMPBD = 1"});
    EXPECT_TRUE(a.backup.HoraRealizarBackup(compactar, restaurar, decisao));
    EXPECT_TRUE(compactar);
    {
        Attachment console = Attachment::Conecta(a.bancos.Principal());
        EXPECT_FALSE(a.backup.HoraRealizarBackup(compactar, restaurar, decisao));
        EXPECT_FALSE(compactar);
    }
}

TEST(BackupPrincipal, UnidadeIdaEVoltaPorRestauracaoPedida) {
    Ambiente a;
    EXIGE_BANCOS(a.bancos);
    EXIGE_DIREITOS_SERVIDOR(a.bancos);
    const ParametrosConexao unidade = a.bancos.CriaUnidade(2, 40, 100 * 1024);
    const Retrato antes = TiraRetrato(unidade);
    a.Configura(1, a.destino.Caminho().string());
    PastaTemporaria pastaPABX;

    BackupUnidade u = a.Unidade(2, unidade, pastaPABX.Caminho().string());
    EXPECT_TRUE(u.HoraBackup(DataHora{}));
    ASSERT_TRUE(u.BackupBaseDados()) << a.Log();
    DataHora ultimo;
    ASSERT_TRUE(u.BDRegistraBackup(ultimo));
    EXPECT_FALSE(ultimo.Vazia());
    EXPECT_FALSE(u.HoraBackup(ultimo));
    const fs::path arquivo = a.destino.Caminho() / NomeBackupUnidade(2, Agora());
    ASSERT_TRUE(fs::exists(arquivo));
    EXPECT_TRUE(fs::exists(pastaPABX.Caminho() / "Backup.txt"));
    EXPECT_EQ(IniFile(a.ini).ReadString("Backup002", "Destino", ""), arquivo.string());
    {
        Attachment att = Attachment::Conecta(a.bancos.Principal());
        Transaction tr(att, true);
        Statement st(tr, "SELECT PAB_ULTBACKUPBD FROM PABX WHERE PAB_CODIGO = 2");
        Cursor c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_FALSE(c.IsNull(0));
    }

    // Lose some recordings, then ask for the restore.
    a.bancos.Executa(unidade, {"DELETE FROM GRAVACAO WHERE GRV_CODIGO > 10"});
    IniFile ini(a.ini);
    ini.WriteInteger("Backup", "RestauraPABX", 2);
    ini.WriteString("Backup002", "Restaura", arquivo.string());
    bool arquivoAusente = true;
    ASSERT_TRUE(a.backup.RestauraBackupBaseDados(false, arquivoAusente)) << a.Log();
    EXPECT_FALSE(arquivoAusente);
    EXPECT_EQ(TiraRetrato(unidade), antes);
    EXPECT_EQ(ini.ReadInteger("Backup", "RestauraPABX", -1), 0);
    EXPECT_EQ(ini.ReadString("Backup", "Restaura", "x"), "");
    EXPECT_EQ(ini.ReadString("Backup002", "Restaura", "x"), "");
    EXPECT_TRUE(fs::exists(a.bancos.pasta + "GRVPAB002.BAK"));
    EXPECT_TRUE(SemTemporarios(a.bancos.pasta));
    EXPECT_NE(a.Log().find("Restauração da base de dados realizada"), std::string::npos);
}

TEST(BackupPrincipal, PrincipalIdaEVoltaEArquivoQuebrado) {
    Ambiente a;
    EXIGE_BANCOS(a.bancos);
    EXIGE_DIREITOS_SERVIDOR(a.bancos);
    a.Configura(1, a.destino.Caminho().string());
    a.bancos.Executa(
        a.bancos.Principal(),
        {"INSERT INTO LOGHISTORY (LOG_CODIGO, LOG_OPERACAO, LOG_DETALHES) VALUES (1, 101, 'a')"});
    ASSERT_TRUE(a.backup.RealizaBackupBaseDadosPrincipal(false)) << a.Log();
    const fs::path arquivo = a.destino.Caminho() / NomeBackupPrincipal(Agora());
    ASSERT_TRUE(fs::exists(arquivo));
    const Retrato antes = TiraRetrato(a.bancos.Principal());
    a.bancos.Executa(
        a.bancos.Principal(),
        {"INSERT INTO LOGHISTORY (LOG_CODIGO, LOG_OPERACAO, LOG_DETALHES) VALUES (2, 101, 'b')"});
    const Retrato depois = TiraRetrato(a.bancos.Principal());

    // A truncated backup and a file that is no backup at all: the live
    // database stays as it is, and the request waits for the next hour.
    IniFile ini(a.ini);
    const std::string conteudo = LeTudo(arquivo);
    const fs::path truncado = a.destino.Caminho() / "truncado.gbk";
    const fs::path lixo = a.destino.Caminho() / "lixo.gbk";
    Grava(truncado, conteudo.substr(0, conteudo.size() / 2));
    Grava(lixo, "isto não é um backup");
    for (const fs::path& ruim : {truncado, lixo}) {
        ini.WriteString("Backup", "Restaura", ruim.string());
        bool ausente = true;
        EXPECT_FALSE(a.backup.RestauraBackupBaseDados(false, ausente));
        EXPECT_FALSE(ausente);
        EXPECT_EQ(TiraRetrato(a.bancos.Principal()), depois);
        EXPECT_EQ(ini.ReadString("Backup", "Restaura", ""), ruim.string());
        EXPECT_TRUE(SemTemporarios(a.bancos.pasta));
        DataHora decisao;
        bool compactar = false, restaurar = false;
        EXPECT_FALSE(a.backup.HoraRealizarBackup(compactar, restaurar, decisao));
        EXPECT_FALSE(decisao.Vazia());  // the loop waits an hour
        EXPECT_TRUE(a.backup.HoraRealizarBackup(compactar, restaurar, decisao));
        EXPECT_TRUE(restaurar);
    }
    EXPECT_NE(a.Log().find("Falha ao restaurar backup da base de dados"), std::string::npos);
    const auto alertas = a.Alertas();
    EXPECT_NE(
        std::find(alertas.begin(), alertas.end(), "Falha ao restaurar backup da base de dados"),
        alertas.end());

    // A unit outside 1-999 and a unit request without a file: a line, an
    // alert, and the next try at the next hourly decision.
    ini.WriteString("Backup", "Restaura", "");
    for (int unidade : {1000, 7}) {
        ini.WriteInteger("Backup", "RestauraPABX", unidade);
        bool ausente = true;
        EXPECT_FALSE(a.backup.RestauraBackupBaseDados(false, ausente));
        EXPECT_FALSE(ausente);
        DataHora decisao;
        bool compactar = false, restaurar = false;
        EXPECT_FALSE(a.backup.HoraRealizarBackup(compactar, restaurar, decisao)) << unidade;
        EXPECT_FALSE(decisao.Vazia());
    }
    EXPECT_NE(a.Log().find("Código de PABX inválido para restauração: 1000"), std::string::npos);
    EXPECT_NE(a.Log().find("Arquivo para restauração não informado"), std::string::npos);
    EXPECT_EQ(a.Alertas().size(), 2u);
    ini.WriteInteger("Backup", "RestauraPABX", 0);

    // A missing file stops the service's work.
    ini.WriteString("Backup", "Restaura", (a.destino.Caminho() / "nao-existe.gbk").string());
    bool ausente = false;
    EXPECT_FALSE(a.backup.RestauraBackupBaseDados(false, ausente));
    EXPECT_TRUE(ausente);
    EXPECT_NE(a.Log().find("Arquivo para restauração não encontrado"), std::string::npos);

    // The good one brings the database back to the backup's content.
    ini.WriteString("Backup", "Restaura", arquivo.string());
    ASSERT_TRUE(a.backup.RestauraBackupBaseDados(false, ausente)) << a.Log();
    EXPECT_EQ(TiraRetrato(a.bancos.Principal()), antes);
    EXPECT_TRUE(fs::exists(a.bancos.pasta + "QUVVERUZADU.BAK"));
    EXPECT_EQ(ini.ReadString("Backup", "Restaura", "x"), "");
}

TEST(BackupPrincipal, CompactacaoDiminuiOArquivoEMantemOsDados) {
    Ambiente a;
    EXIGE_BANCOS(a.bancos);
    EXIGE_DIREITOS_SERVIDOR(a.bancos);
    // No destination configured: the compaction backs up into the program's
    // own folder; no status file name: gbak writes none.
    a.Configura(0, "");
    IniFile(a.ini).WriteString("Backup", "Log", "");
    {
        Attachment att = Attachment::Conecta(a.bancos.Principal());
        Transaction tr(att);
        Statement st(
            tr,
            "INSERT INTO LOGHISTORY (LOG_CODIGO, LOG_OPERACAO, LOG_DETALHES) VALUES (?, 104, ?)");
        for (int i = 1; i <= 30000; ++i) {
            st.SetInt(0, i).SetText(1, std::string(100, static_cast<char>('a' + i % 26)));
            st.Executa();
        }
        tr.Commit();
        att.Executa("DELETE FROM LOGHISTORY WHERE LOG_CODIGO > 100");
        att.Executa("UPDATE CONTROLE SET CRL_COMPBD = 1");
        att.Desconecta();
    }
    const Retrato antes = TiraRetrato(a.bancos.Principal());
    const auto tamanhoAntes = fs::file_size(a.bancos.pasta + "QUVVERUZADU.FDB");

    DataHora decisao;
    bool compactar = false, restaurar = false;
    ASSERT_TRUE(a.backup.HoraRealizarBackup(compactar, restaurar, decisao));
    ASSERT_TRUE(compactar);
    ASSERT_TRUE(a.backup.RealizaBackupBaseDadosPrincipal(true)) << a.Log();
    // Held for the swap: not even the service's own control-row write gets in.
    ASSERT_TRUE(a.backup.CompactacaoEmCurso());
    EXPECT_THROW(Attachment::Conecta(a.bancos.Principal()), FirebirdError);
    bool ausente = false;
    ASSERT_TRUE(a.backup.RestauraBackupBaseDados(true, ausente)) << a.Log();
    ASSERT_TRUE(a.banco.BDRegistraControle(false, true));

    EXPECT_LT(fs::file_size(a.bancos.pasta + "QUVVERUZADU.FDB"), tamanhoAntes);
    EXPECT_TRUE(fs::exists(a.bancos.pasta + "QUVVERUZADU.BAK"));
    EXPECT_EQ(a.CrlCompbd(), 0);
    Retrato depois = TiraRetrato(a.bancos.Principal());
    // Only the control row changed: the request is done and the backup
    // time survived the swap.
    EXPECT_NE(depois["CONTROLE"], antes.at("CONTROLE"));
    depois["CONTROLE"] = antes.at("CONTROLE");
    EXPECT_EQ(depois, antes);
    EXPECT_FALSE(a.banco.UltimoBackupBD().Vazia());
    EXPECT_TRUE(fs::exists(a.home.Caminho() / "backup" / NomeBackupPrincipal(Agora())));
    EXPECT_FALSE(fs::exists(a.home.Caminho() / "Backup.txt"));
    EXPECT_TRUE(SemTemporarios(a.bancos.pasta));
    EXPECT_TRUE(SemTemporarios(a.home.Caminho()));
    // Online again: two users at once.
    Attachment um = Attachment::Conecta(a.bancos.Principal());
    Attachment dois = Attachment::Conecta(a.bancos.Principal());
}

TEST(BackupPrincipal, QuemEntraDuranteACompactacaoFicaDeFora) {
    Ambiente a;
    EXIGE_BANCOS(a.bancos);
    EXIGE_DIREITOS_SERVIDOR(a.bancos);
    a.Configura(0, a.destino.Caminho().string());
    a.bancos.Executa(a.bancos.Principal(), {"UPDATE CONTROLE SET CRL_COMPBD = 1"});
    const Retrato antes = TiraRetrato(a.bancos.Principal());
    const auto bytesAntes = LeTudo(a.bancos.pasta + "QUVVERUZADU.FDB").size();

    // A console attaches as the backup starts and leaves two seconds later:
    // either it is kept out, or it holds the one place and the backup, and so
    // the swap, does not happen.
    std::optional<Attachment> console;
    std::thread saida;
    bool recusado = false;
    a.backup.DefinePausa([&](std::string_view ponto) {
        if (ponto != "backup") return;
        try {
            console.emplace(Attachment::Conecta(a.bancos.Principal()));
            saida = std::thread([&] {
                std::this_thread::sleep_for(std::chrono::seconds(2));
                console.reset();
            });
        } catch (const FirebirdError&) {
            recusado = true;
        }
    });
    DataHora decisao;
    bool compactar = false, restaurar = false;
    ASSERT_TRUE(a.backup.HoraRealizarBackup(compactar, restaurar, decisao));
    ASSERT_TRUE(compactar);
    const bool backup = a.backup.RealizaBackupBaseDadosPrincipal(true);
    bool ausente = false;
    const bool restauracao = backup && a.backup.RestauraBackupBaseDados(true, ausente);
    if (saida.joinable()) {
        saida.join();
        EXPECT_FALSE(backup);
        EXPECT_FALSE(restauracao);
    } else {
        EXPECT_TRUE(recusado);
    }
    if (!restauracao) {
        EXPECT_EQ(TiraRetrato(a.bancos.Principal()), antes);
        EXPECT_EQ(a.CrlCompbd(), 1);
        EXPECT_FALSE(fs::exists(a.bancos.pasta + "QUVVERUZADU.BAK"));
    }
    EXPECT_TRUE(SemTemporarios(a.bancos.pasta));
    EXPECT_GT(bytesAntes, 0u);
    Attachment um = Attachment::Conecta(a.bancos.Principal());
    Attachment dois = Attachment::Conecta(a.bancos.Principal());
}

TEST(BackupPrincipal, GbakQueFalhaNaoDestroiOBackupDoDiaNemRestaura) {
    Ambiente a;
    EXIGE_BANCOS(a.bancos);
    a.Configura(1, a.destino.Caminho().string());
    ASSERT_TRUE(a.backup.RealizaBackupBaseDadosPrincipal(false)) << a.Log();
    const fs::path arquivo = a.destino.Caminho() / NomeBackupPrincipal(Agora());
    const std::string primeiro = LeTudo(arquivo);
    ASSERT_FALSE(primeiro.empty());

    const fs::path bin = a.home.Caminho() / "bin-falho";
    EscreveGbakFalho(bin);
    IniFile(a.ini).WriteString("Firebird", "Bin", bin.string());
    EXPECT_FALSE(a.backup.RealizaBackupBaseDadosPrincipal(false));
    EXPECT_EQ(LeTudo(arquivo), primeiro);
    EXPECT_TRUE(SemTemporarios(a.destino.Caminho()));
    EXPECT_NE(a.Log().find("Falha ao realizar backup da base de dados QuvVeruzadu"),
              std::string::npos);
    auto alertas = a.Alertas();
    EXPECT_NE(std::find(alertas.begin(), alertas.end(),
                        "Falha ao realizar backup da base de dados QuvVeruzadu"),
              alertas.end());

    // A compaction whose backup fails restores nothing and leaves the
    // database online.
    a.bancos.Executa(a.bancos.Principal(), {"UPDATE CONTROLE SET CRL_COMPBD = 1"});
    const Retrato antes = TiraRetrato(a.bancos.Principal());
    EXPECT_FALSE(a.backup.RealizaBackupBaseDadosPrincipal(true));
    bool ausente = false;
    EXPECT_FALSE(a.backup.RestauraBackupBaseDados(true, ausente));
    EXPECT_FALSE(ausente);
    EXPECT_EQ(TiraRetrato(a.bancos.Principal()), antes);
    EXPECT_FALSE(fs::exists(a.bancos.pasta + "QUVVERUZADU.BAK"));
    EXPECT_EQ(LeTudo(arquivo), primeiro);
    Attachment um = Attachment::Conecta(a.bancos.Principal());
    Attachment dois = Attachment::Conecta(a.bancos.Principal());

    // The unit's failure line names the unit.
    PastaTemporaria pastaPABX;
    const ParametrosConexao unidade = a.bancos.CriaUnidade(5, 2, 1000);
    BackupUnidade u = a.Unidade(5, unidade, pastaPABX.Caminho().string());
    u.HoraBackup(DataHora{});
    EXPECT_FALSE(u.BackupBaseDados());
    EXPECT_NE(a.Log().find("PABX 5: Falha ao realizar backup da base de dados"), std::string::npos);
}

TEST(BackupPrincipal, DestinoCheioNaoDeixaNadaPelaMetade) {
    Ambiente a;
    EXIGE_BANCOS(a.bancos);
    if (::mount("tmpfs", a.destino.Caminho().c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Desmonta {
        const fs::path& p;
        ~Desmonta() { ::umount2(p.c_str(), MNT_DETACH); }
    } desmonta{a.destino.Caminho()};
    // Bigger than the whole disk once backed up.
    a.bancos.CriaUnidade(3, 30, 100 * 1024);
    a.Configura(1, a.destino.Caminho().string());
    Grava(a.destino.Caminho() / NomeBackupUnidade(3, Agora()), "anterior");
    PastaTemporaria pastaPABX;
    BackupUnidade u =
        a.Unidade(3, a.bancos.Parametros("GRVPAB003.FDB"), pastaPABX.Caminho().string());
    u.HoraBackup(DataHora{});
    EXPECT_FALSE(u.BackupBaseDados());
    EXPECT_EQ(LeTudo(a.destino.Caminho() / NomeBackupUnidade(3, Agora())), "anterior");
    EXPECT_TRUE(SemTemporarios(a.destino.Caminho()));
    EXPECT_NE(a.Log().find("PABX 3: Falha ao realizar backup da base de dados"), std::string::npos);
}

TEST(BackupPrincipal, SemDestinoConfiguradoNaoHaBackup) {
    Ambiente a;
    EXIGE_BANCOS(a.bancos);
    a.Configura(1, "");
    EXPECT_FALSE(a.backup.RealizaBackupBaseDadosPrincipal(false));
    EXPECT_NE(a.Log().find("Caminho de destino de backup da base de dados não configurado"),
              std::string::npos);
    EXPECT_EQ(a.Alertas().size(), 1u);
}

// A gbak that never ends (a hung server, a network that went silent) is ended
// at [Veruzadu] TempoLimiteGbak, or at once when the work must stop, and the
// backup fails without leaving anything half written. The stand-in writes its
// pid, so a wait that never ends can be cut by the test.
TEST(BackupPrincipal, GbakPenduradoEncerradoNoTempoLimiteOuNaParada) {
    Ambiente a;
    EXIGE_BANCOS(a.bancos);
    a.Configura(1, a.destino.Caminho().string());
    const fs::path bin = a.home.Caminho() / "bin-pendurado";
    const fs::path pid = a.home.Caminho() / "gbak.pid";
    fs::create_directories(bin);
    Grava(bin / "gbak", "#!/bin/sh\necho $$ > '" + pid.string() + "'\nexec sleep 600\n");
    fs::permissions(bin / "gbak", fs::perms(0755));
    IniFile(a.ini).WriteString("Firebird", "Bin", bin.string());
    PastaTemporaria pastaPABX;
    const ParametrosConexao unidade = a.bancos.CriaUnidade(6, 1, 1000);

    struct Caso {
        const char* nome;
        bool principal;      // the main database's backup, else a unit's
        const char* limite;  // TempoLimiteGbak; nullptr: the default (hours)
        bool parada;         // the work is told to stop one second in
        const char* motivo;
    } casos[] = {
        {"unit, time limit", false, "2", false, "tempo limite de 2 segundos"},
        {"unit, stop", false, nullptr, true, "serviço parando"},
        {"main, time limit", true, "2", false, "tempo limite de 2 segundos"},
        {"main, stop", true, nullptr, true, "serviço parando"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        IniFile(a.ini).WriteString("Veruzadu", "TempoLimiteGbak", c.limite ? c.limite : "");
        fs::remove(pid);
        std::atomic<bool> parar{false};
        a.backup.DefineInterrupcao([&parar] { return parar.load(); });
        ContextoBackupUnidade ctx;
        ctx.codigo = 6;
        ctx.pastaPABX = pastaPABX.Caminho().string() + "/";
        ctx.arquivoIni = a.ini;
        ctx.baseDadosPABX = unidade;
        ctx.banco = &a.banco;
        ctx.alertas = &a.alertas;
        ctx.limpeza = &a.limpeza;
        ctx.log = [&a](int nivel, const std::string& t) { a.log.Log(nivel, true, t); };
        ctx.interrompe = [&parar] { return parar.load(); };
        BackupUnidade u(ctx);
        u.HoraBackup(DataHora{});

        const auto inicio = std::chrono::steady_clock::now();
        auto feito = std::async(std::launch::async, [&] {
            return c.principal ? a.backup.RealizaBackupBaseDadosPrincipal(false)
                               : u.BackupBaseDados();
        });
        if (c.parada) {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            parar = true;
        }
        if (feito.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            ADD_FAILURE() << "gbak still waited for after 60 s";
            // Unblocks the wait: the stand-in this test started.
            const std::string texto = LeTudo(pid);
            if (!texto.empty()) ::kill(std::stoi(texto), SIGKILL);
        }
        EXPECT_FALSE(feito.get());
        const auto duracao = std::chrono::steady_clock::now() - inicio;
        EXPECT_LT(duracao, std::chrono::seconds(30));
        const std::string texto = LeTudo(pid);
        ASSERT_FALSE(texto.empty());
        EXPECT_NE(::kill(std::stoi(texto), 0), 0) << "the stand-in still runs";
        EXPECT_NE(a.Log().find(c.motivo), std::string::npos) << a.Log();
        EXPECT_NE(a.Log().find("Falha ao realizar backup da base de dados"), std::string::npos);
        EXPECT_TRUE(SemTemporarios(a.destino.Caminho()));
    }
}
