// The recording service killed in the middle of a compaction of its main
// database (during the backup's gbak, during the restore's gbak, between the
// two file operations of the swap): after a restart it runs, and the live
// database holds the same data as before.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "common/IniFile.h"
#include "common/Arquivos.h"
#include "common/ServiceControl.h"
#include "tests/support/InstalacaoTeste.h"
#include "tests/service/BackupTeste.h"

namespace fs = std::filesystem;

namespace {

bool Espera(const std::function<bool()>& condicao, std::chrono::seconds limite) {
    const auto prazo = std::chrono::steady_clock::now() + limite;
    while (std::chrono::steady_clock::now() < prazo) {
        if (condicao()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return condicao();
}

int LePid(const fs::path& arquivo) {
    const std::string s = LeTudo(arquivo);
    return s.empty() ? 0 : std::atoi(s.c_str());
}

int CrlCompbd(const InstalacaoTeste& inst) {
    try {
        Attachment att = Attachment::Conecta(inst.Principal(true));
        Transaction tr(att, true);
        Statement st(tr, "SELECT CRL_COMPBD FROM CONTROLE");
        Cursor c = st.Abre();
        c.Proxima();
        return c.GetInt(0);
    } catch (const FirebirdError&) {
        return -1;
    }
}

// The data, without the control row a compaction updates and the history
// rows the service writes at each start and stop: the test's own history
// rows stand for that table.
Retrato Dados(const InstalacaoTeste& inst) {
    Retrato r = TiraRetrato(inst.Principal(true));
    r.erase("CONTROLE");
    Attachment att = Attachment::Conecta(inst.Principal(true));
    Transaction tr(att, true);
    Statement st(
        tr, "SELECT LOG_CODIGO, LOG_DETALHES FROM LOGHISTORY WHERE LOG_OPERACAO = 103 ORDER BY 1");
    Cursor c = st.Abre();
    long long n = 0;
    std::string tudo;
    while (c.Proxima()) {
        ++n;
        tudo += c.GetText(0) + "|" + c.GetText(1) + "\n";
    }
    r["LOGHISTORY"] = {n, Sha256Hex(tudo)};
    return r;
}

}  // namespace

TEST(BackupInterrompido, ServicoMortoEmCadaPontoVoltaComOBancoInteiro) {
    InstalacaoTeste inst("bkmorto");
    EXIGE_SERVIDOR(inst);
    {
        Attachment att = Attachment::Conecta(inst.Principal(true));
        Transaction tr(att);
        Statement st(
            tr,
            "INSERT INTO LOGHISTORY (LOG_CODIGO, LOG_OPERACAO, LOG_DETALHES) VALUES (?, 103, ?)");
        for (int i = 1; i <= 2000; ++i) {
            st.SetInt(0, 100000 + i).SetText(1, "linha " + std::to_string(i));
            st.Executa();
        }
        tr.Commit();
        att.Executa("DELETE FROM LOGHISTORY WHERE LOG_CODIGO > 101000");
        att.Desconecta();
    }
    const Retrato antes = Dados(inst);
    const fs::path pastaDados = inst.opcoes.pastaDados;

    struct Ponto {
        const char* nome;
        const char* marca;  // the file that says the service stands there
    };
    const Ponto pontos[] = {
        {"durante o gbak do backup", "gbak-b"},
        {"durante o gbak da restauração", "gbak-c"},
        {"entre as operações da troca", "troca"},
    };
    for (const Ponto& ponto : pontos) {
        SCOPED_TRACE(ponto.nome);
        PastaTemporaria home;
        const fs::path pausa = home.Caminho() / "pausa";
        const fs::path bin = home.Caminho() / "bin";
        fs::create_directories(pausa);
        fs::create_directories(bin);
        // gbak as the service starts it, marked with its pid: it waits a
        // little before doing the work, so the service can be killed while
        // it runs.
        Grava(bin / "gbak",
              "#!/bin/sh\ncase \" $* \" in *\" -b \"*) m=gbak-b;; *) m=gbak-c;; esac\n"
              "echo $$ > '" +
                  pausa.string() + "/'$m.pid\nsleep 5\nexec " +
                  PastaBinFirebird(IniFile("/nonexistent")) + "gbak \"$@\"\n");
        fs::permissions(bin / "gbak", fs::perms(0755));
        // Only the chosen point stops the service.
        for (const char* p : {"backup", "restauracao", "troca"})
            if (std::string(p) != ponto.marca) Grava(pausa / (std::string(p) + ".segue"), "");

        IniFile ini(home.Caminho() / "VERUZADU.INI");
        ini.WriteString("BD", "Server", inst.srv.Servidor());
        ini.WriteString("BD", "Alias", inst.opcoes.alias);
        ini.WriteBool("Log", "Info", true);
        ini.WriteBool("Log", "Erro", true);
        ini.WriteInteger("Veruzadu", "Porta", 51790);
        ini.WriteString("Firebird", "Bin", bin.string());
        {
            Attachment att = Attachment::Conecta(inst.Principal(true));
            att.Executa("UPDATE CONTROLE SET CRL_COMPBD = 1");
            att.Desconecta();
        }

        setenv("VERUZADU_PAUSA_BACKUP", pausa.c_str(), 1);
        ServiceControlPidFile controle(PELMORAN_EXE, home.Caminho());
        std::string erro;
        ASSERT_TRUE(controle.Inicia(erro)) << erro;
        const fs::path marca = std::string(ponto.marca) == "troca"
                                   ? pausa / "troca"
                                   : pausa / (std::string(ponto.marca) + ".pid");
        const bool chegou = Espera(
            [&] {
                std::error_code e;
                return fs::exists(marca) &&
                       (marca.extension() != ".pid" || fs::file_size(marca, e) > 1);
            },
            std::chrono::seconds(120));
        const int pid = LePid(home.Caminho() / kArquivoPid);
        ASSERT_GT(pid, 0);
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
        // The whole service goes, its gbak with it, as the service manager
        // does with a killed service's processes.
        const int gbak = fs::exists(marca) && marca.extension() == ".pid" ? LePid(marca) : 0;
        if (gbak > 0) ::kill(-gbak, SIGKILL);
        ASSERT_TRUE(Espera([&] { return controle.Consulta() == EstadoServico::Parado; },
                           std::chrono::seconds(60)));
        ASSERT_TRUE(chegou);

        // Restarted, it runs; the compaction comes round again and ends.
        for (const char* p : {"backup", "restauracao", "troca"})
            Grava(pausa / (std::string(p) + ".segue"), "");
        ini.WriteString("Firebird", "Bin", "");
        ASSERT_TRUE(controle.Inicia(erro)) << erro;
        // Watched through the log: an attachment of ours would take the one
        // place the compaction needs, and it would rightly give up.
        const auto log = [&] {
            return LeTudo(home.Caminho() / ("GRV" + FormataDataHora(Agora(), "yyyymm") + ".LOG"));
        };
        EXPECT_TRUE(Espera(
            [&] {
                return log().find("Restauração da base de dados realizada") != std::string::npos;
            },
            std::chrono::seconds(120)))
            << log();
        ASSERT_TRUE(controle.Para(erro)) << erro;
        unsetenv("VERUZADU_PAUSA_BACKUP");
        EXPECT_EQ(CrlCompbd(inst), 0);

        EXPECT_EQ(Dados(inst), antes);
        for (const auto& e : fs::directory_iterator(pastaDados))
            EXPECT_FALSE(e.path().string().ends_with(".novo")) << e.path();
        std::error_code ec;
        for (const auto& e : fs::recursive_directory_iterator(home.Caminho() / "backup", ec))
            EXPECT_FALSE(e.path().string().ends_with(".tmp")) << e.path();
        Attachment um = Attachment::Conecta(inst.Principal(true));
        Attachment dois = Attachment::Conecta(inst.Principal(true));
    }
}
