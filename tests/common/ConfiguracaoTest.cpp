#include "common/Configuracao.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include "common/IniFile.h"
#include "tests/support/PastaTemporaria.h"
#include "common/Arquivos.h"
#include "common/Processos.h"

namespace {

TEST(CaminhoBaseDados, FollowsTheServerAndAdvancedKeys) {
    const std::string nome = NomeComputador();
    ASSERT_FALSE(nome.empty());
    struct {
        const char* ini;  // nullptr: no file at all
        std::string servidor, caminho;
    } casos[] = {
        {nullptr, nome, nome + ":VERUZADU"},
        {"[BD]\nAlias=OUTRA\n", nome, nome + ":OUTRA"},
        {"[BD]\nServer=\\\\SRV\n", "SRV", "SRV:VERUZADU"},
        {"[BD]\nServer=\\\\\\SRV\n", "\\SRV", "\\SRV:VERUZADU"},  // only two are dropped
        {"[BD]\nServer=srv/3051\n", "srv/3051", "srv/3051:VERUZADU"},
        {"[BD]\nServer=\n", "127.0.0.1", "127.0.0.1:VERUZADU"},
        {"[BD]\nServer=\\\\\n", "127.0.0.1", "127.0.0.1:VERUZADU"},
        {"[BD]\nServer=SRV\nAdv=1\nAdvServer=\\\\DB\nAdvPath=/dados/X.FDB\n", "DB",
         "DB:/dados/X.FDB"},
        {"[BD]\nServer=SRV\nAdv=1\nAdvPath=/dados/X.FDB\n", "127.0.0.1", "/dados/X.FDB"},
        {"[BD]\nServer=SRV\nAdv=1\nAlias=A\n", "127.0.0.1", "127.0.0.1:A"},
        {"[BD]\nServer=SRV\nAdv=0\nAdvServer=DB\nAdvPath=/x.fdb\n", "SRV", "SRV:VERUZADU"},
        {"[bd]\nserver=SRV\nadv=2\nadvserver=DB\nadvpath=/x.fdb\n", "DB", "DB:/x.fdb"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.ini ? c.ini : "(no file)");
        PastaTemporaria pasta;
        if (c.ini) Grava(pasta / "VERUZADU.INI", c.ini);
        const auto r = CaminhoBaseDados(IniFile(pasta / "VERUZADU.INI"));
        EXPECT_EQ(r.servidor, c.servidor);
        EXPECT_EQ(r.caminho, c.caminho);
    }
}

TEST(Configuracao, ServiceStartReadsEveryKeyOnce) {
    PastaTemporaria pasta;
    const IniFile ini(pasta / "VERUZADU.INI");

    const auto padrao = LeConfiguracaoServico(ini, {});
    EXPECT_EQ(padrao.MaxPABX, 20);
    EXPECT_EQ(padrao.TempoVerDownload, 60);
    EXPECT_EQ(padrao.PABXTimeOut, 90);
    EXPECT_EQ(padrao.FTPTimeOut, 30000);
    EXPECT_TRUE(padrao.IgnoraCTRLDesconhecido && padrao.DelDir && padrao.DelXML);
    EXPECT_FALSE(padrao.ErroXML);
    EXPECT_EQ(padrao.Porta, 51051);
    EXPECT_EQ(padrao.GanhoPadrao, 8);
    EXPECT_EQ(padrao.GanhoBrelvo, 5);
    EXPECT_EQ(padrao.GanhoORVAL500, 0);
    EXPECT_EQ(padrao.CifrasNumeroLocal, 8);
    EXPECT_EQ(padrao.VersaoMinimaPABX, "3.16.50");
    EXPECT_EQ(padrao.UsuarioBD, "HMCXJXTFHJ");
    EXPECT_EQ(padrao.SenhaBD, "lomfadrix");
    EXPECT_EQ(padrao.MascaraLog, LogSempre);
    EXPECT_EQ(padrao.ServidorBD, NomeComputador());

    Grava(pasta / "VERUZADU.INI",
          "[Veruzadu]\nMaxPABX=5\nTempoVerDownload=30\nPABXTimeOut=abc\nPABXTentaDel=4\n"
          "TentaCopiaArquivo=3\nTempoVerSDCard=10\nTempoAlertaSDCard=2\nFTPTimeOut=1000\n"
          "FTPTentaConexao=9\nFTPTentaDownload=8\nIgnoraCTRLDesconhecido=0\nDelDir=0\n"
          "DelXML=0\nErroXML=1\nPorta=70000\n"
          "[AmpliacaoSinal]\nPadrao=6\nBrelvo=4\nORVAL500=2\n"
          "[Norvika]\nDDD=011999\nCifras=9\nVersaoMinima=\n"
          "[BD]\nTrusted=1\nServer=\\\\SRV\n"
          "[Log]\nInfo=1\nErro=0\nPABX=1\nSDCard=1\n");
    const auto c = LeConfiguracaoServico(ini, {});
    EXPECT_EQ(c.MaxPABX, 5);
    EXPECT_EQ(c.TempoVerDownload, 30);
    EXPECT_EQ(c.PABXTimeOut, 90);  // not a number: default
    EXPECT_EQ(c.PABXTentaDel, 4);
    EXPECT_EQ(c.TentaCopiaArquivo, 3);
    EXPECT_EQ(c.TempoVerSDCard, 10);
    EXPECT_EQ(c.TempoAlertaSDCard, 2);
    EXPECT_EQ(c.FTPTimeOut, 1000);
    EXPECT_EQ(c.FTPTentaConexao, 9);
    EXPECT_EQ(c.FTPTentaDownload, 8);
    EXPECT_FALSE(c.IgnoraCTRLDesconhecido || c.DelDir || c.DelXML);
    EXPECT_TRUE(c.ErroXML);
    EXPECT_EQ(c.Porta, 51051);  // no 16-bit port: default
    EXPECT_EQ(c.GanhoPadrao, 6);
    EXPECT_EQ(c.GanhoBrelvo, 4);
    EXPECT_EQ(c.GanhoORVAL500, 2);
    EXPECT_EQ(c.DDD, "0119");  // at most four characters
    EXPECT_EQ(c.CifrasNumeroLocal, 9);
    EXPECT_EQ(c.VersaoMinimaPABX, "3.16.50");  // empty keeps the default
    EXPECT_TRUE(c.Trusted);
    EXPECT_EQ(c.UsuarioBD, "");
    EXPECT_EQ(c.SenhaBD, "");
    EXPECT_EQ(c.MascaraLog, LogSempre | LogInfo | LogPABX | LogSDCard);
    EXPECT_EQ(c.ServidorBD, "SRV");
    EXPECT_EQ(c.CaminhoBD, "SRV:VERUZADU");

    // The area code of an earlier start in this process is kept; the minimum
    // version is cut to 20 characters.
    Grava(pasta / "VERUZADU.INI", "[Norvika]\nDDD=21\nVersaoMinima=123456789012345678901234\n");
    ConfiguracaoServico anterior;
    anterior.DDD = "11";
    const auto d = LeConfiguracaoServico(ini, anterior);
    EXPECT_EQ(d.DDD, "11");
    EXPECT_EQ(d.VersaoMinimaPABX, "12345678901234567890");
    EXPECT_EQ(LeConfiguracaoServico(ini, {}).DDD, "21");
}

TEST(Configuracao, NumericKeysOutsideTheirRangeAreHeldToItAndNamed) {
    struct {
        const char* chave;
        const char* valor;
        int esperado;
        int ConfiguracaoServico::*campo;
    } casos[] = {
        {"PABXTimeOut", "0", 1, &ConfiguracaoServico::PABXTimeOut},
        {"PABXTimeOut", "-5", 1, &ConfiguracaoServico::PABXTimeOut},
        {"PABXTimeOut", "99999", 3600, &ConfiguracaoServico::PABXTimeOut},
        {"TempoVerDownload", "0", 1, &ConfiguracaoServico::TempoVerDownload},
        {"TempoVerDownload", "-60", 1, &ConfiguracaoServico::TempoVerDownload},
        {"MaxPABX", "0", 1, &ConfiguracaoServico::MaxPABX},
        {"MaxPABX", "-1", 1, &ConfiguracaoServico::MaxPABX},
        {"FTPTimeOut", "0", 1000, &ConfiguracaoServico::FTPTimeOut},
        {"FTPTentaDownload", "0", 1, &ConfiguracaoServico::FTPTentaDownload},
        {"PABXTentaDel", "-2", 1, &ConfiguracaoServico::PABXTentaDel},
        {"TempoLimiteGbak", "0", 1, &ConfiguracaoServico::TempoLimiteGbak},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(std::string(c.chave) + "=" + c.valor);
        PastaTemporaria pasta;
        Grava(pasta / "VERUZADU.INI", std::string("[Veruzadu]\n") + c.chave + "=" + c.valor + "\n");
        const auto cfg = LeConfiguracaoServico(IniFile(pasta / "VERUZADU.INI"), {});
        EXPECT_EQ(cfg.*c.campo, c.esperado);
        ASSERT_EQ(cfg.ValoresAjustados.size(), 1u);
        EXPECT_NE(cfg.ValoresAjustados[0].find(std::string(c.chave) + "=" + c.valor),
                  std::string::npos)
            << cfg.ValoresAjustados[0];
    }
    // Values inside their ranges, and the defaults, are taken as they are.
    PastaTemporaria pasta;
    Grava(pasta / "VERUZADU.INI", "[Veruzadu]\nPABXTimeOut=1\nTempoVerDownload=1\nMaxPABX=1\n");
    const auto cfg = LeConfiguracaoServico(IniFile(pasta / "VERUZADU.INI"), {});
    EXPECT_EQ(cfg.PABXTimeOut + cfg.TempoVerDownload + cfg.MaxPABX, 3);
    EXPECT_TRUE(cfg.ValoresAjustados.empty());
    EXPECT_EQ(cfg.TempoLimiteGbak, 21600);
    EXPECT_TRUE(LeConfiguracaoServico(IniFile(pasta / "NADA.INI"), {}).ValoresAjustados.empty());
}

TEST(Configuracao, ProgramFolderAndFilesFoundWithoutRegardToCase) {
    PastaTemporaria pasta;
    ::unsetenv("VERUZADU_HOME");
    char exe[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    EXPECT_EQ(PastaPrograma(), std::filesystem::path(exe).parent_path().string() + "/");

    ::setenv("VERUZADU_HOME", pasta.Caminho().c_str(), 1);
    const std::string home = pasta.Caminho().string() + "/";
    EXPECT_EQ(PastaPrograma(), home);
    EXPECT_EQ(ArquivoVeruzaduIni(), std::filesystem::path(home) / "VERUZADU.INI");
    Grava(pasta / "Veruzadu.ini", "[BD]\nServer=\\\\CASA\n[Firebird]\nBin=/opt/fb/bin\n");
    EXPECT_EQ(ArquivoVeruzaduIni(), std::filesystem::path(home) / "Veruzadu.ini");
    EXPECT_EQ(CaminhoBaseDados().caminho, "CASA:VERUZADU");
    EXPECT_EQ(PastaBinFirebird(), "/opt/fb/bin/");

    EXPECT_EQ(PastaPABX(7), home + "PABX007/");
    Grava(pasta / "PABX007/pabx.ini", "[dados]\nagenda=0\n");
    EXPECT_EQ(ArquivoPabxIni(7), pasta / "PABX007/pabx.ini");
    EXPECT_FALSE(LeAgendaPABX(IniFile(ArquivoPabxIni(7))));
    EXPECT_TRUE(LeAgendaPABX(IniFile(ArquivoPabxIni(8))));
    EXPECT_EQ(SecaoBackup(), "Backup");
    EXPECT_EQ(SecaoBackup(12), "Backup012");

    // The published snapshot stays valid for its holder across a reload.
    const auto antes = CarregaConfiguracaoServico();
    EXPECT_EQ(antes->ServidorBD, "CASA");
    Grava(pasta / "Veruzadu.ini", "[BD]\nServer=OUTRO\n");
    const auto depois = CarregaConfiguracaoServico();
    EXPECT_EQ(depois->ServidorBD, "OUTRO");
    EXPECT_EQ(antes->ServidorBD, "CASA");
    EXPECT_EQ(ValoresAtuais(), depois);
    ::unsetenv("VERUZADU_HOME");
}

TEST(Configuracao, ConsoleDefaultsDifferFromTheService) {
    PastaTemporaria pasta;
    const IniFile ini(pasta / "VERUZADU.INI");
    const auto c = LeConfiguracaoConsole(ini);
    EXPECT_EQ(c.PABXTimeOut, 30);
    EXPECT_EQ(PABXTimeOutPadrao(Programa::Servico), 90);
    EXPECT_EQ(c.Server, "");  // the start-up test sees no server configured
    EXPECT_EQ(c.Alias, "VERUZADU");
    EXPECT_EQ(c.LatenciaAudio, 100);
}

}  // namespace
