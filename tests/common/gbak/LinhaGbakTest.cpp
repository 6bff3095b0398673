// The gbak lines the wrapper builds: display text and argument vector, the
// checks that raise before anything starts, and the option rules.

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "common/gbak/vekIbGbak.h"

namespace {

const std::string Senha = "/tmp/p/senha";

void Base(TvekIbGbak& g) {
    g.UserName = "SYSDBA";
    g.PassWord = "masterkey";
    g.Server = "srv";
    g.DataBaseFiles.Add().FileName = "/dados/QUV.FDB";
}

void UmBackup(TvekIbGbak& g) { g.BackupFiles.Add().FileName = "/bkp/QUV.FBK"; }
void UmaRestauracao(TvekIbGbak& g) { g.RestoreFiles.Add().FileName = "/bkp/QUV.FBK"; }

enum class Rotina { Backup, Restore, RestoreConsoleCompleto, RestoreConsoleSimples };

struct Caso {
    const char* nome;
    Rotina rotina;
    std::function<void(TvekIbGbak&)> ajusta;
    std::string texto;
    std::vector<std::string> argumentos;
};

// Keeps ctest's names short: the case's own name instead of its bytes.
void PrintTo(const Caso& c, std::ostream* os) { *os << c.nome; }

LinhaGbak Monta(const TvekIbGbak& g, Rotina r) {
    switch (r) {
        case Rotina::Backup: return g.MontaBackup(Senha);
        case Rotina::Restore: return g.MontaRestore(Senha);
        case Rotina::RestoreConsoleCompleto: return g.MontaRestore(Senha, true);
        case Rotina::RestoreConsoleSimples: return g.MontaRestore(Senha, false);
    }
    return {};
}

const std::vector<Caso>& Casos() {
    static const std::vector<Caso> casos = {
        {"servico_backup_habitual",
         Rotina::Backup,
         [](TvekIbGbak& g) {
             UmBackup(g);
             g.opBackup.Service = true;
             g.opBackup.StatutMessageFile = "/log/bkp.txt";
             g.opBackup.Verbose = true;
         },
         R"(-b -user "SYSDBA" -pas "******" -tra -y "/log/bkp.txt" -ver -ser "srv:service_mgr" "/dados/QUV.FDB" "/bkp/QUV.FBK")",
         {"-b", "-user", "SYSDBA", "-fetch_password", Senha, "-tra", "-y", "/log/bkp.txt", "-ver",
          "-ser", "srv:service_mgr", "/dados/QUV.FDB", "/bkp/QUV.FBK"}},
        {"backup_todas_as_chaves_dois_volumes",
         Rotina::Backup,
         [](TvekIbGbak& g) {
             auto& o = g.opBackup;
             o.Convert = o.Expand = o.GarbageCollect = o.Ignore = o.Limbo = o.MetadataOnly = true;
             o.Factor = 20;
             o.TransportableFormat = TTypeTransport::ttNonTransportable;
             o.OldFormat = o.Verbose = true;
             o.Role = "ADM";
             auto& a = g.BackupFiles.Add();
             a.FileName = "/bkp/a.fbk";
             a.FileSize = 100;
             a.SizeType = TBackupType::blMegabytes;
             g.BackupFiles.Add().FileName = "/bkp/b.fbk";
         },
         R"(-b -user "SYSDBA" -pas "******" -con -exp -fac 20 -gar -ign -lim -met -nt -old -rol "ADM" -ver "srv:/dados/QUV.FDB" "/bkp/a.fbk" 100m "/bkp/b.fbk")",
         {"-b",
          "-user",
          "SYSDBA",
          "-fetch_password",
          Senha,
          "-con",
          "-exp",
          "-fac",
          "20",
          "-gar",
          "-ign",
          "-lim",
          "-met",
          "-nt",
          "-old",
          "-rol",
          "ADM",
          "-ver",
          "srv:/dados/QUV.FDB",
          "/bkp/a.fbk",
          "100m",
          "/bkp/b.fbk"}},
        {"backup_sufixos_de_tamanho",
         Rotina::Backup,
         [](TvekIbGbak& g) {
             const std::pair<TBackupType, const char*> v[] = {{TBackupType::blBytes, "/b/1"},
                                                              {TBackupType::blKilobytes, "/b/2"},
                                                              {TBackupType::blGigabytes, "/b/3"}};
             for (auto [tipo, nome] : v) {
                 auto& f = g.BackupFiles.Add();
                 f.FileName = nome;
                 f.FileSize = 7;
                 f.SizeType = tipo;
             }
             auto& ultimo = g.BackupFiles.Add();
             ultimo.FileName = "/b/4";
             ultimo.FileSize = 9;  // the last volume takes the rest: no size
         },
         R"(-b -user "SYSDBA" -pas "******" -tra "srv:/dados/QUV.FDB" "/b/1" 7 "/b/2" 7k "/b/3" 7g "/b/4")",
         {"-b", "-user", "SYSDBA", "-fetch_password", Senha, "-tra", "srv:/dados/QUV.FDB", "/b/1",
          "7", "/b/2", "7k", "/b/3", "7g", "/b/4"}},
        {"backup_gerenciador_local",
         Rotina::Backup,
         [](TvekIbGbak& g) {
             UmBackup(g);
             g.opBackup.Service = true;
             g.NetworkProtocol = TNetwork::npLocal;
         },
         R"(-b -user "SYSDBA" -pas "******" -tra -ser "service_mgr" "/dados/QUV.FDB" "/bkp/QUV.FBK")",
         {"-b", "-user", "SYSDBA", "-fetch_password", Senha, "-tra", "-ser", "service_mgr",
          "/dados/QUV.FDB", "/bkp/QUV.FBK"}},
        {"backup_sem_senha_nao_passa_arquivo",
         Rotina::Backup,
         [](TvekIbGbak& g) {
             UmBackup(g);
             g.PassWord.clear();
         },
         R"(-b -user "SYSDBA" -pas "" -tra "srv:/dados/QUV.FDB" "/bkp/QUV.FBK")",
         {"-b", "-user", "SYSDBA", "-tra", "srv:/dados/QUV.FDB", "/bkp/QUV.FBK"}},
        {"restauracao_substitui_com_tudo",
         Rotina::Restore,
         [](TvekIbGbak& g) {
             auto& o = g.opRestore;
             o.RestoreType = TRestoreType::rtReplace;
             o.SetBuffers(100);
             o.InactiveIndexes = o.KillShadow = o.NoValidityConstraints = o.UseAllSpace =
                 o.Verbose = true;
             o.Mode = TModeDB::moReadOnly;
             o.StatutMessageFile = "/log/r.txt";
             o.Service = true;
             g.RestoreFiles.Add().FileName = "/bkp/a.fbk";
             g.RestoreFiles.Add().FileName = "/bkp/b.fbk";
             g.DataBaseFiles.GetItem(0).FileName = "/dados/x1.fdb";
             g.DataBaseFiles.GetItem(0).SetFileSize(300);
             g.DataBaseFiles.Add().FileName = "/dados/x2.fdb";
         },
         R"(-r o -user "SYSDBA" -pas "******" -buf 100 -ina -kill -mod read_only -no -use_all -y "/log/r.txt" -ver -ser "srv:service_mgr" "/bkp/a.fbk" "/bkp/b.fbk" "/dados/x1.fdb" 300 "/dados/x2.fdb")",
         {"-r",
          "o",
          "-user",
          "SYSDBA",
          "-fetch_password",
          Senha,
          "-buf",
          "100",
          "-ina",
          "-kill",
          "-mod",
          "read_only",
          "-no",
          "-use_all",
          "-y",
          "/log/r.txt",
          "-ver",
          "-ser",
          "srv:service_mgr",
          "/bkp/a.fbk",
          "/bkp/b.fbk",
          "/dados/x1.fdb",
          "300",
          "/dados/x2.fdb"}},
        {"restauracao_cria_sem_gerenciador",
         Rotina::Restore,
         [](TvekIbGbak& g) {
             UmaRestauracao(g);
             g.DataBaseFiles.GetItem(0).SetFileSize(200);
             g.DataBaseFiles.Add().FileName = "/dados/QUV2.FDB";
         },
         R"(-c -user "SYSDBA" -pas "******"  "/bkp/QUV.FBK" "srv:/dados/QUV.FDB" 200 "srv:/dados/QUV2.FDB")",
         {"-c", "-user", "SYSDBA", "-fetch_password", Senha, "/bkp/QUV.FBK", "srv:/dados/QUV.FDB",
          "200", "srv:/dados/QUV2.FDB"}},
        {"restauracao_pagina_4196_fica_4196",
         Rotina::Restore,
         [](TvekIbGbak& g) {
             UmaRestauracao(g);
             g.opRestore.SetPageSize(TPageSize::ps4196);
         },
         R"(-c -user "SYSDBA" -pas "******" -page 4196  "/bkp/QUV.FBK" "srv:/dados/QUV.FDB")",
         {"-c", "-user", "SYSDBA", "-fetch_password", Senha, "-page", "4196", "/bkp/QUV.FBK",
          "srv:/dados/QUV.FDB"}},
        {"restauracao_pagina_1024",
         Rotina::Restore,
         [](TvekIbGbak& g) {
             UmaRestauracao(g);
             g.opRestore.SetPageSize(TPageSize::ps1024);
         },
         R"(-c -user "SYSDBA" -pas "******" -page 1024  "/bkp/QUV.FBK" "srv:/dados/QUV.FDB")",
         {"-c", "-user", "SYSDBA", "-fetch_password", Senha, "-page", "1024", "/bkp/QUV.FBK",
          "srv:/dados/QUV.FDB"}},
        {"restauracao_pagina_8192_gerenciador_local",
         Rotina::Restore,
         [](TvekIbGbak& g) {
             UmaRestauracao(g);
             g.opRestore.SetPageSize(TPageSize::ps8192);
             g.opRestore.Service = true;
             g.NetworkProtocol = TNetwork::npLocal;
         },
         R"(-c -user "SYSDBA" -pas "******" -page 8192 -ser "service_mgr" "/bkp/QUV.FBK" "/dados/QUV.FDB")",
         {"-c", "-user", "SYSDBA", "-fetch_password", Senha, "-page", "8192", "-ser", "service_mgr",
          "/bkp/QUV.FBK", "/dados/QUV.FDB"}},
        {"buffers_apagados_pela_pagina_2048",
         Rotina::Restore,
         [](TvekIbGbak& g) {
             UmaRestauracao(g);
             g.opRestore.SetBuffers(50);
             g.opRestore.SetPageSize(TPageSize::ps2048);
         },
         R"(-c -user "SYSDBA" -pas "******" -page 2048  "/bkp/QUV.FBK" "srv:/dados/QUV.FDB")",
         {"-c", "-user", "SYSDBA", "-fetch_password", Senha, "-page", "2048", "/bkp/QUV.FBK",
          "srv:/dados/QUV.FDB"}},
        {"console_substitui_completo",
         Rotina::RestoreConsoleCompleto,
         [](TvekIbGbak& g) {
             UmaRestauracao(g);
             g.opRestore.RestoreType = TRestoreType::rtReplace;
         },
         R"(-r o -user "SYSDBA" -pas "******"  "/bkp/QUV.FBK" "srv:/dados/QUV.FDB")",
         {"-r", "o", "-user", "SYSDBA", "-fetch_password", Senha, "/bkp/QUV.FBK",
          "srv:/dados/QUV.FDB"}},
        {"console_substitui_simples",
         Rotina::RestoreConsoleSimples,
         [](TvekIbGbak& g) {
             UmaRestauracao(g);
             g.opRestore.RestoreType = TRestoreType::rtReplace;
         },
         R"(-r -user "SYSDBA" -pas "******"  "/bkp/QUV.FBK" "srv:/dados/QUV.FDB")",
         {"-r", "-user", "SYSDBA", "-fetch_password", Senha, "/bkp/QUV.FBK", "srv:/dados/QUV.FDB"}},
        {"console_cria_simples",
         Rotina::RestoreConsoleSimples,
         [](TvekIbGbak& g) { UmaRestauracao(g); },
         R"(-c -user "SYSDBA" -pas "******"  "/bkp/QUV.FBK" "srv:/dados/QUV.FDB")",
         {"-c", "-user", "SYSDBA", "-fetch_password", Senha, "/bkp/QUV.FBK", "srv:/dados/QUV.FDB"}},
    };
    return casos;
}

class LinhaDourada : public ::testing::TestWithParam<Caso> {};

TEST_P(LinhaDourada, TextoEArgumentos) {
    const Caso& c = GetParam();
    TvekIbGbak g;
    Base(g);
    c.ajusta(g);
    const LinhaGbak l = Monta(g, c.rotina);
    EXPECT_EQ(l.texto, c.texto);
    EXPECT_EQ(l.argumentos, c.argumentos);
    for (const auto& a : l.argumentos) EXPECT_EQ(a.find("masterkey"), std::string::npos) << a;
}

INSTANTIATE_TEST_SUITE_P(Gbak, LinhaDourada, ::testing::ValuesIn(Casos()),
                         [](const auto& caso) { return std::string(caso.param.nome); });

// Each check in its order: with everything missing the first text wins, and
// filling one setting at a time brings up the next.
TEST(VerificacaoGbak, TextosNaOrdemDasDuasVariantes) {
    struct Variante {
        VarianteGbak v;
        std::vector<std::string> backup;
        std::string restauracao;
    };
    const Variante variantes[] = {
        {VarianteGbak::Servico,
         {"Defina o nome do usuário", "Defina o nome do servidor",
          "Defina o caminho da pasta da base de dados",
          "Defina o caminho da pasta de destino do Backup"},
         "Defina o caminho da pasta de destino da restauração"},
        {VarianteGbak::Console,
         {"Vous devez saisir un nom d'utilisateur", "Vous devez saisir un nom de serveur",
          "Vous devez saisir un nom de fichier de Base de données",
          "Vous devez saisir au moins un nom de fichier Backup"},
         "Vous devez saisir au moins un nom de fichier de restauration"},
    };
    auto mensagem = [](auto&& f) -> std::string {
        try {
            f();
        } catch (const GbakErro& e) {
            return e.what();
        }
        return "(nenhum erro)";
    };
    for (const auto& var : variantes) {
        TvekIbGbak g(var.v);
        const std::vector<std::function<void()>> preenche = {
            [&] { g.UserName = "SYSDBA"; },
            [&] { g.Server = "srv"; },
            [&] { g.DataBaseFiles.Add().FileName = "/d.fdb"; },
            [&] { g.BackupFiles.Add().FileName = "/b.fbk"; },
        };
        for (std::size_t i = 0; i < var.backup.size(); ++i) {
            EXPECT_EQ(mensagem([&] { g.MontaBackup(Senha); }), var.backup[i]);
            // Backup() raises the same text before it touches anything.
            EXPECT_EQ(mensagem([&] { g.Backup(); }), var.backup[i]);
            if (i < 3) {
                EXPECT_EQ(mensagem([&] { g.Restore(); }), var.backup[i]);
                EXPECT_EQ(mensagem([&] { g.Restore(true); }), var.backup[i]);
            }
            preenche[i]();
        }
        EXPECT_EQ(mensagem([&] { g.MontaBackup(Senha); }), "(nenhum erro)");
        EXPECT_EQ(mensagem([&] { g.Restore(); }), var.restauracao);
        EXPECT_EQ(mensagem([&] { g.Restore(false); }), var.restauracao);
        EXPECT_EQ(g.ExecApp().ProcessId(), -1);
        EXPECT_EQ(g.ExecApp().ExitCode(), TVekExecApp::SemCodigo);
    }
}

TEST(VerificacaoGbak, ProtocolosSemEquivalenteSaoRecusadosQuandoUsados) {
    for (TNetwork p : {TNetwork::npSpx, TNetwork::npNamePipe}) {
        TvekIbGbak g;
        Base(g);
        UmBackup(g);
        UmaRestauracao(g);
        g.NetworkProtocol = p;
        // Without the services manager the protocol is not part of the line.
        EXPECT_NO_THROW(g.MontaBackup(Senha));
        g.opBackup.Service = true;
        g.opRestore.Service = true;
        try {
            g.MontaBackup(Senha);
            ADD_FAILURE() << "backup line built";
        } catch (const GbakErro& e) {
            EXPECT_NE(std::string(e.what()).find("Protocolo de rede não suportado"),
                      std::string::npos);
        }
        EXPECT_THROW(g.MontaRestore(Senha), GbakErro);
        EXPECT_THROW(g.Backup(), GbakErro);
    }
}

TEST(OpcoesGbak, LimitesDosSetters) {
    TvekBddFile f;
    EXPECT_NO_THROW(f.SetFileSize(0));
    EXPECT_NO_THROW(f.SetFileSize(200));
    EXPECT_EQ(f.FileSize(), 200);
    for (std::uint16_t v : {1, 199}) {
        try {
            f.SetFileSize(v);
            ADD_FAILURE() << v;
        } catch (const GbakErro& e) {
            EXPECT_STREQ(e.what(), "Erreur, la valeur minimale doit être de 200 ou bien 0 quand il "
                                   "s'agit d'un seul fichier");
        }
        EXPECT_EQ(f.FileSize(), 200);
    }

    TOptionRestore o;
    for (std::uint16_t v : {1, 49}) {
        try {
            o.SetBuffers(v);
            ADD_FAILURE() << v;
        } catch (const GbakErro& e) {
            EXPECT_STREQ(e.what(), "La valeur des buffers doit être au moins égale à 50 (0 pour ne "
                                   "pas utiliser cette option)");
        }
    }
    o.SetPageSize(TPageSize::ps4196);
    o.SetBuffers(50);
    EXPECT_EQ(o.PageSize(), TPageSize::psNone);
    EXPECT_EQ(o.Buffers(), 50);
    o.SetBuffers(0);  // zero leaves the page size alone
    o.SetPageSize(TPageSize::ps8192);
    o.SetBuffers(0);
    EXPECT_EQ(o.PageSize(), TPageSize::ps8192);
    o.SetPageSize(TPageSize::psNone);  // none leaves the buffers alone
    o.SetBuffers(75);
    o.SetPageSize(TPageSize::psNone);
    EXPECT_EQ(o.Buffers(), 75);
}

TEST(OpcoesGbak, ColecoesCopiamENomeiamSeusItens) {
    TvekIbGbak g;
    g.BackupFiles.Add().FileName = "/b/1.fbk";
    g.BackupFiles.Add();
    EXPECT_EQ(g.BackupFiles.GetItem(0).GetDisplayName(), "/b/1.fbk");
    EXPECT_EQ(g.BackupFiles.GetItem(1).GetDisplayName(), "TvekBackupFile");
    EXPECT_EQ(TvekRestoreFile{}.GetDisplayName(), "TvekRestoreFile");
    EXPECT_EQ(TvekBddFile{}.GetDisplayName(), "TvekBddFile");

    TvekBackupFiles copia = g.BackupFiles;
    g.BackupFiles.GetItem(0).FileName = "/outro";
    EXPECT_EQ(copia.GetItem(0).FileName, "/b/1.fbk");
    TOptionRestore r;
    r.SetPageSize(TPageSize::ps2048);
    r.Verbose = true;
    g.opRestore = r;
    EXPECT_EQ(g.opRestore.PageSize(), TPageSize::ps2048);
    EXPECT_TRUE(g.opRestore.Verbose);
}

TEST(ProgramaGbak, PastaComOuSemBarraDaOMesmoCaminho) {
    TvekIbGbak g;
    g.gBakDirectory = "/opt/fb/bin";
    EXPECT_EQ(g.ProgramaGbak(), "/opt/fb/bin/gbak");
    g.gBakDirectory = "/opt/fb/bin/";
    EXPECT_EQ(g.ProgramaGbak(), "/opt/fb/bin/gbak");
}

}  // namespace
