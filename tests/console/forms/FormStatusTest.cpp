// The service status window and its live log against the real recording
// service (pelmoran as a program) on the test server, with a simulated unit
// and its FTP server: the address as published, a download watched live, the
// service's OK, ON and NOK, re-chunked replies, and the service stopped,
// killed, restarted and never there.

#include <signal.h>

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>
#include <filesystem>
#include <fstream>

#include "ConsoleTeste.h"
#include "tests/console/PontaStatus.h"
#include "common/CifraTexto.h"
#include "common/Processos.h"
#include "common/Texto.h"
#include "console/ControleStatus.h"
#include "console/EstadoCentrais.h"
#include "console/forms/FormLogGrv.h"
#include "console/forms/FormStatus.h"
#include "tests/common/status/ClienteTeste.h"
#include "tests/service/download/DownloadFTPServidor.h"
#include "tools/pabx-sim/Recordings.h"
#include "tools/pabx-sim/Simulator.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string LeTexto(const fs::path& arquivo) {
    std::ifstream in(arquivo, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const QString TextoConectado = "Serviço Gravação Quv: Conectado";
const QString Desconectado = "Serviço Gravação Quv: Desconectado";
const std::string SemConexao = "Não há conexão com Serviço Gravação Quv";

class JanelaStatus : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!p.Pronta()) GTEST_SKIP() << "no test server (run through scripts/test)";
        IniFile ini = p.Ini();
        ini.WriteBool("Log", "Info", true);
        ini.WriteBool("Log", "Erro", true);
        ini.WriteBool("Log", "PABX", true);
        ini.WriteInteger("Veruzadu", "Porta", porta);
        ini.WriteInteger("Veruzadu", "TempoVerDownload", 1);
        ini.WriteInteger("Veruzadu", "PABXTimeOut", 20);
        c.Mostra();
        ASSERT_TRUE(EsperaAte([&] { return c.Conectado(); }));
        f = c.ctx.formStatus.get();
        ASSERT_NE(f, nullptr);
    }
    void TearDown() override {
        if (f && f->isVisible()) f->reject();
        if (servico.Pid() > 0) Para(servico);
    }

    void Inicia() {
        OpcoesProcesso op{
            {}, {"VERUZADU_HOME=" + p.pasta.Caminho().string()}, p.pasta / "saida.txt"};
        servico = ProcessoFilho({PELMORAN_EXE}, op);
        ASSERT_TRUE(servico.Iniciado());
        // Up once it answers a status request.
        ASSERT_TRUE(EsperaAte(
            [&] {
                ClienteTeste t(porta);
                return t.Conectado() && t.Envia("GRV_STATUS;\r") &&
                       !t.LeAteTexto("\r\n", 500ms).empty();
            },
            90000))
            << LeTexto(p.pasta / "saida.txt");
    }
    static void Para(ProcessoFilho& s, int sinal = SIGTERM) {
        s.Sinaliza(sinal);
        int status = 0;
        EXPECT_TRUE(s.Aguarda(90s, status));
        s = ProcessoFilho();
    }
    // Shows the window as the main window does, without its modal loop.
    void Abre() {
        f->LeUltimoRegistro();
        f->CarregaEstadoCentrais();
        f->show();
    }
    QString Status() const { return f->LabelStatus->text(); }
    bool Vermelho() const { return f->LabelStatus->styleSheet().contains("red"); }
    void Admin(const std::string& sql) {
        try {
            Attachment a = p.Admin();
            Transaction tr(a);
            tr.Executa(sql);
            tr.Commit();
        } catch (const std::exception& e) {
            ADD_FAILURE() << sql << ": " << e.what();
        }
    }
    int Mensagens(const std::string& texto) const {
        int n = 0;
        for (const auto& m : c.ctx.mensagens.Mostradas())
            n += m.texto == QString::fromStdString(texto);
        return n;
    }

    ProgramaTeste p{"stjan", {1}};
    const std::uint16_t porta = PortaLivre();
    Console c;
    FormStatus* f = nullptr;
    ProcessoFilho servico;
};

std::vector<std::string> Linhas(const QPlainTextEdit* memo) {
    std::vector<std::string> r;
    for (const QString& l : memo->toPlainText().split('\n')) r.push_back(l.toStdString());
    return r;
}

std::string LogsImportacao(const fs::path& home) {
    std::string s;
    for (const auto& e : fs::directory_iterator(home))
        if (e.is_directory())
            for (const auto& a : fs::directory_iterator(e.path()))
                if (a.path().filename().string().rfind("IMP", 0) == 0) s += LeTexto(a.path());
    return s;
}

}  // namespace

TEST_F(JanelaStatus, DownloadAoVivoComOKONNOKESemLinha) {
    // Unit 1: a simulated unit over FTP with no download window of its own,
    // so only the console's request runs it. Unit 2 has nothing behind it.
    PastaTemporaria unidade;
    const fs::path loja = unidade.Caminho() / "loja";
    fs::create_directories(loja);
    pabxsim::MakeRecordings(loja, 4, 11);
    pabxsim::Scenario cenario;
    cenario.password = "7391";
    cenario.store = loja;
    pabxsim::Simulator sim(cenario);
    sim.Start();
    ServidorFTPTeste ftp(loja, unidade.Caminho() / "ftp");
    {
        Attachment a = p.Admin();
        Transaction tr(a);
        Statement st(tr,
                     "UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_KELVENDERIP, "
                     "PAB_KELVPORTA, PAB_KELVSENHA, PAB_USB_ZIMB, PAB_USBWAIT, PAB_KELVFTPPORT, "
                     "PAB_KELVFTPUSER, PAB_KELVFTPPASS, PAB_KELVFTPSECURITY, PAB_ULTVERIFSDC) "
                     "VALUES (1, 'Matriz', '127.0.0.1', ?, ?, 0, 0, ?, ?, ?, 0, CURRENT_TIMESTAMP) "
                     "MATCHING (PAB_CODIGO)");
        st.SetInt(0, sim.Port())
            .SetText(1, CriptografaTexto(cenario.password))
            .SetInt(2, ftp.Porta())
            .SetText(3, ftp.Usuario())
            .SetText(4, CriptografaTexto(ftp.Senha()))
            .Executa();
        tr.Executa("DELETE FROM DOWNPABX");
        tr.Executa(
            "UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO) VALUES (2, 'Temporária') "
            "MATCHING (PAB_CODIGO)");
        tr.Commit();
    }
    Inicia();

    auto visto = AoAbrir("FormStatus", [&](QWidget*) {
        // The address as the service published it, its name resolved again.
        std::string servidor;
        {
            Attachment a = p.Principal();
            Transaction tr(a, true);
            Statement st(tr, "SELECT CRL_GRVSERVER FROM CONTROLE");
            auto cur = st.Abre();
            if (cur.Proxima()) servidor = Apara(cur.GetText(0));
        }
        const std::string endereco = f->LabelEnderecoVeruzadu->text().toStdString();
        EXPECT_EQ(endereco.rfind(servidor + "  ", 0), 0u) << endereco;
        EXPECT_TRUE(endereco.size() > 6 &&
                    endereco.substr(endereco.rfind(':')) == ":" + std::to_string(porta))
            << endereco;
        ASSERT_TRUE(EsperaAte([&] { return Status() == TextoConectado; }))
            << Status().toStdString();
        EXPECT_TRUE(f->RealizarDownload->isEnabled());
        ASSERT_EQ(f->Modelo().rowCount(), 2);

        // The run watched live: both messages, then the run's lines.
        ASSERT_TRUE(f->SelecionaCentral(1));
        std::vector<std::string> memo;
        AoAbrir("FormLogGrv", [&](QWidget* w) {
            auto* log = static_cast<FormLogGrv*>(w);
            EXPECT_EQ(log->windowTitle(), "Serviço de Gravação Quv. PABX: 001 - Matriz");
            EsperaAte([&] { return log->MemoLog->toPlainText().contains("Fim download FTP"); },
                      180000);
            memo = Linhas(log->MemoLog);
            log->btnOk->click();
        });
        f->RealizarDownloadClick();
        ASSERT_GE(memo.size(), 4u);
        EXPECT_EQ(memo[0], "Download será iniciado em instantes.");
        EXPECT_EQ(memo[1], "Aguarde...");
        EXPECT_NE(std::find(memo.begin(), memo.end(), "Início download FTP"), memo.end());
        // The run's lines in the order of its import log.
        const std::string imp = LogsImportacao(p.pasta.Caminho());
        std::size_t pos = 0;
        int achadas = 0;
        for (std::size_t i = 2; i < memo.size(); ++i) {
            const std::size_t k = imp.find(memo[i], pos);
            if (k == std::string::npos) continue;  // a line of the service's own log
            pos = k + memo[i].size();
            ++achadas;
        }
        EXPECT_GE(achadas, 3) << imp;

        // The grid follows the run at its next poll.
        EXPECT_TRUE(EsperaAte([&] {
            for (const auto& l : f->Modelo().Linhas())
                if (l.codigo == 1 && !l.colunas[3].empty() && l.colunas[5].rfind("0/", 0) != 0)
                    return true;
            return false;
        }));

        // The run ends (the unit stamped) and leaves the service's list.
        ASSERT_TRUE(EsperaAte(
            [&] {
                Attachment a = p.Principal();
                Transaction tr(a, true);
                Statement st(tr, "SELECT PAB_DTULTDOWN FROM PABX WHERE PAB_CODIGO = 1");
                auto cur = st.Abre();
                return cur.Proxima() && !cur.IsNull(0);
            },
            180000));
        EsperaAte([] { return false; }, 2000);

        // While the unit holds the run (it answers nothing), a second request: ON.
        sim.AddFault("* noreply");
        for (const char* esperado : {"Download será iniciado em instantes.",
                                     "Download já está sendo realizado no momento."}) {
            ASSERT_TRUE(f->SelecionaCentral(1));
            std::string primeira;
            AoAbrir("FormLogGrv", [&](QWidget* w) {
                auto* log = static_cast<FormLogGrv*>(w);
                EsperaAte([&] { return !log->MemoLog->toPlainText().isEmpty(); });
                primeira = Linhas(log->MemoLog)[0];
                log->btnOk->click();
            });
            f->RealizarDownloadClick();
            EXPECT_EQ(primeira, esperado);
        }

        // A unit deleted after the grid was read: the service refuses (box).
        ASSERT_TRUE(f->SelecionaCentral(2));
        Admin("DELETE FROM PABX WHERE PAB_CODIGO = 2");
        c.ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
        const std::string recusa = "Não foi possível solicitar download.";
        AoAbrir("FormLogGrv", [&](QWidget* w) {
            EsperaAte([&] { return Mensagens(recusa) == 1; });
            static_cast<FormLogGrv*>(w)->btnOk->click();
        });
        f->RealizarDownloadClick();
        EXPECT_EQ(Mensagens(recusa), 1);
        EXPECT_EQ(c.ctx.mensagens.Mostradas().back().caption, "Informação");

        // No row selected: nothing at all.
        f->GridItens->clearSelection();
        const auto antes = c.ctx.mensagens.Mostradas().size();
        QTimer::singleShot(3000, f, [] {
            if (auto* d = qobject_cast<QDialog*>(JanelaVisivel("FormLogGrv"))) d->reject();
        });
        c.ctx.formLogGrv->DescricaoPABX.clear();
        f->RealizarDownloadClick();
        EsperaAte([] { return false; }, 700);
        EXPECT_EQ(c.ctx.formLogGrv->DescricaoPABX, "");
        EXPECT_EQ(c.ctx.mensagens.Mostradas().size(), antes);

        f->BtnFechar->click();
    });
    c.main->pmManutencao->findChild<QAction*>("Estadoveruzadu1")->trigger();
    EXPECT_TRUE(*visto);
    EXPECT_FALSE(f->isVisible());
    EXPECT_TRUE(c.main->btnEstadoVeruzadu->isEnabled());
}

TEST_F(JanelaStatus, ServicoParadoMortoReiniciadoEAusente) {
    Admin("UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO) VALUES (1, 'Matriz') "
          "MATCHING (PAB_CODIGO)");
    Inicia();
    Abre();
    ASSERT_TRUE(EsperaAte([&] { return Status() == TextoConectado; })) << Status().toStdString();
    ASSERT_TRUE(f->SelecionaCentral(1));

    // Stopped: disconnected, the menu off, and a request says so.
    Para(servico, SIGTERM);
    ASSERT_TRUE(EsperaAte([&] { return Status() == Desconectado; })) << Status().toStdString();
    EXPECT_TRUE(Vermelho());
    EXPECT_FALSE(f->RealizarDownload->isEnabled());
    c.ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f->RealizarDownloadClick();
    EXPECT_EQ(Status().toStdString(), SemConexao);
    EXPECT_EQ(Mensagens(SemConexao), 1);

    // Started again: the next showing connects.
    f->BtnFechar->click();
    Inicia();
    Abre();
    ASSERT_TRUE(EsperaAte([&] { return Status() == TextoConectado; })) << Status().toStdString();

    // Killed: disconnected as well.
    Para(servico, SIGKILL);
    ASSERT_TRUE(EsperaAte([&] { return Status() == Desconectado; })) << Status().toStdString();
    EXPECT_EQ(f->Controle().Fase(), 2);

    // Never there: the red connection error.
    f->BtnFechar->click();
    Abre();
    ASSERT_TRUE(EsperaAte([&] { return f->Controle().Fase() == 2; }));
    EXPECT_EQ(Status(), "Serviço Gravação Quv: Erro na conexão com Serviço Gravação Quv");
    EXPECT_TRUE(Vermelho());
    f->BtnFechar->click();
}

TEST_F(JanelaStatus, RespostasReagrupadasSaoAsMesmasDeUmaConexaoDireta) {
    Inicia();
    using pontastatus::ProxyTeste;
    auto recebe = [&](std::uint16_t destino) {
        std::vector<std::pair<int, std::string>> r;
        ClienteStatus cliente(
            ClienteStatus::Eventos{{}, {}, {}, [&](int, const std::vector<status::Resposta>& lote) {
                                       for (const auto& x : lote)
                                           r.emplace_back(static_cast<int>(x.tipo), x.texto);
                                   }});
        cliente.Abre("127.0.0.1", destino);
        EXPECT_TRUE(EsperaAte([&] { return cliente.Aberto(); }));
        // One request per write, as the console writes them.
        for (const std::string pedido :
             {"GRV_DOWNLOAD;999\r", "GRV_STATUS;\r", "GRV_DOWNLOAD;abc\r"})
            cliente.Envia(pedido);
        EXPECT_TRUE(EsperaAte([&] { return r.size() >= 3; }));
        EsperaAte([] { return false; }, 300);
        return r;
    };
    const auto direta = recebe(porta);
    ASSERT_EQ(direta.size(), 3u);
    EXPECT_EQ(direta[0].first, static_cast<int>(status::TipoResposta::DownloadRecusado));
    EXPECT_EQ(direta[1].first, static_cast<int>(status::TipoResposta::Status));
    {
        ProxyTeste proxy(porta, ProxyTeste::Modo::ByteAByte);
        EXPECT_EQ(recebe(proxy.Porta()), direta);
        EXPECT_GT(proxy.Escritas(), 30);
    }
    {
        ProxyTeste proxy(porta, ProxyTeste::Modo::Retido);
        EXPECT_EQ(recebe(proxy.Porta()), direta);
        EXPECT_GE(proxy.Escritas(), 1);
    }
}
