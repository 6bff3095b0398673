#include "service/AgendaDownload.h"

#include <gtest/gtest.h>

#include <barrier>
#include <thread>

#include "common/CifraTexto.h"
#include "service/download/ClienteFTP.h"
#include "service/download/RegrasDownload.h"
#include "tests/support/PastaTemporaria.h"
#include "tests/service/download/DownloadFTPServidor.h"
#include "tests/service/download/AmbienteDownload.h"

namespace {

// ------------------------------------------------------ the pure decision

TEST(DecideJanela, JanelasAbremPelaHoraDoServidor) {
    struct Caso {
        const char* ini;
        const char* fim;
        int hora, minuto;
        bool aberta;
    } casos[] = {
        {"08:00", "12:00", 11, 59, true}, {"08:00", "12:00", 12, 0, false},
        {"08:00", "12:00", 7, 59, false}, {"08:00", "12:00", 8, 0, true},
        {"08:00", "", 23, 59, true},      {"08:00", "", 7, 59, false},
        {"08:00", "  ", 12, 0, true},     {"22:00", "02:00", 23, 0, false},
        {"22:00", "02:00", 1, 0, false},  {"22:00", "02:00", 22, 0, false},
    };
    for (const auto& c : casos) {
        const DecisaoJanela d =
            DecideJanela(c.ini, c.fim, {}, Data(2026, 12, 10, c.hora, c.minuto, 30));
        EXPECT_TRUE(d.valida);
        EXPECT_EQ(d.aberta, c.aberta)
            << c.ini << "-" << c.fim << " at " << c.hora << ":" << c.minuto;
        EXPECT_EQ(d.devida, c.aberta);
    }
}

TEST(DecideJanela, LinhaInvalidaNuncaEDecidida) {
    for (auto [ini, fim] :
         {std::pair{"25:00", ""}, {"08:00", "24:10"}, {"", "12:00"}, {"8h", ""}}) {
        const DecisaoJanela d = DecideJanela(ini, fim, {}, Data(2026, 12, 10, 10, 0));
        EXPECT_FALSE(d.valida) << ini << "-" << fim;
        EXPECT_FALSE(d.devida);
        EXPECT_FALSE(d.erro.empty());
    }
}

TEST(DecideJanela, UmaExecucaoPorOcorrenciaDaJanela) {
    const DataHora hoje930 = Data(2026, 12, 10, 9, 30, 12);
    struct Caso {
        const char* ini;
        const char* fim;
        DataHora ultimo, agora;
        bool devida;
    } casos[] = {
        {"08:00", "12:00", hoje930, Data(2026, 12, 10, 11, 0), false},
        {"14:00", "16:00", hoje930, Data(2026, 12, 10, 15, 0), true},
        {"08:00", "12:00", hoje930, Data(2026, 12, 11, 10, 0), true},
        {"08:00", "12:00", {}, Data(2026, 12, 10, 10, 0), true},
        {"08:00", "", hoje930, Data(2026, 12, 10, 22, 0), false},
        {"10:00", "", hoje930, Data(2026, 12, 10, 22, 0), true},  // ended before this window began
        {"08:00", "12:00", Data(2026, 12, 10, 12, 0), Data(2026, 12, 10, 11, 0), true},
    };
    for (const auto& c : casos)
        EXPECT_EQ(DecideJanela(c.ini, c.fim, c.ultimo, c.agora).devida, c.devida)
            << c.ini << "-" << c.fim << " at " << FormataDataHora(c.agora, "dd hh:nn");
}

TEST(DecideJanela, LimitesNaDataDoServidor) {
    DecisaoJanela d = DecideJanela("08:00", "", {}, Data(2026, 1, 31, 9, 0));
    EXPECT_EQ(d.inicio, Data(2026, 1, 31, 8, 0));
    EXPECT_EQ(d.fim, Data(2026, 2, 28, 0, 0));
    d = DecideJanela("08:00", "12:30", {}, Data(2026, 12, 10, 9, 0));
    EXPECT_EQ(d.inicio, Data(2026, 12, 10, 8, 0));
    EXPECT_EQ(d.fim, Data(2026, 12, 10, 12, 30));
}

TEST(SDCardDevido, VazioOuAposOTempo) {
    const DataHora t = Data(2026, 12, 10, 12, 0);
    EXPECT_TRUE(SDCardDevido({}, t, 120));
    EXPECT_TRUE(SDCardDevido(Data(2026, 12, 10, 10, 0), t, 120));
    EXPECT_FALSE(SDCardDevido(Data(2026, 12, 10, 10, 0, 1), t, 120));
    EXPECT_TRUE(SDCardDevido(Data(2026, 12, 9, 12, 0), t, 120));
}

// ------------------------------------------- the check against the database

// A worker that only takes a place in a list.
class Ocupante final : public ThreadServico {
  public:
    using ThreadServico::ThreadServico;

  protected:
    void Execute() override {}
};

struct Agenda : AmbienteDownloadTeste {
    ListaThreads downloads, sdcards;
    std::unique_ptr<AgendaDownload> agenda;
    DataHora servidor = Data(2026, 12, 10, 10, 0);
    std::mutex travaCriados;
    std::vector<std::pair<int, std::pair<DataHora, DataHora>>> criados;

    Agenda() : AmbienteDownloadTeste("agenda") {
        if (!db.Pronto()) return;
        config.TempoVerSDCard = 120;
        relogio.Define(servidor);
        agenda = std::make_unique<AgendaDownload>(log, *banco, alertas, relogio, downloads, sdcards,
                                                  [this] { return Config(); });
        agenda->DefineHoraServidor([this](Attachment&) { return servidor; });
        agenda->AoCriarDownload = [this](TPABXDownloadFTP& t) {
            std::lock_guard l(travaCriados);
            criados.push_back({t.CodigoPABX, {t.InicioPeriodo, t.FimPeriodo}});
        };
    }
    void Janela(int codigo, const std::string& ini, const std::string& fim) {
        Attachment att = db.Conecta();
        Transaction tr(att);
        Statement st(
            tr, "INSERT INTO DOWNPABX (PAB_CODIGO, DOW_HORAINI, DOW_HORAFIM) VALUES (?, ?, ?)");
        st.SetInt(0, codigo).SetText(1, ini).SetText(2, fim).Executa();
        tr.Commit();
    }
    // Every unit's SD card counts as just checked, so only downloads are listed.
    void SemSDCard() { db.Executa({"UPDATE PABX SET PAB_ULTVERIFSDC = '2026-12-10 10:00:00'"}); }
};

TEST(AgendaDownload, JanelasSobrepostasDaoUmaExecucao) {
    Agenda a;
    EXIGE_BANCO(a.db);
    a.RegistraUnidade(1);
    a.Janela(1, "08:00", "12:00");
    a.Janela(1, "09:00", "");
    a.SemSDCard();
    a.agenda->BDVerificaDownloadPeriodo();
    EXPECT_EQ(a.downloads.Contagem(), 1u);
    EXPECT_EQ(Conta(a.LinhasServico(),
                    "Disparar download PABX: 1  10/12/2026 08:00:00 - 10/12/2026 12:00:00"),
              1);
    a.agenda->BDVerificaDownloadPeriodo();
    EXPECT_EQ(a.downloads.Contagem(), 1u);
}

TEST(AgendaDownload, LimiteDeCentraisSimultaneas) {
    Agenda a;
    EXIGE_BANCO(a.db);
    a.config.MaxPABX = 2;
    for (int c = 1; c <= 3; ++c) {
        a.RegistraUnidade(c);
        a.Janela(c, "08:00", "");
    }
    a.SemSDCard();
    a.agenda->BDVerificaDownloadPeriodo();
    EXPECT_EQ(a.downloads.Contagem(), 2u);
    EXPECT_TRUE(a.downloads.EstaNaLista(1));
    EXPECT_TRUE(a.downloads.EstaNaLista(2));
    EXPECT_EQ(Conta(a.LinhasServico(), "Alcançado limite de centrais para download simunltâneo: 2"),
              1);

    // With the limit reached by the list itself: nothing, and no line.
    Agenda b;
    b.config.MaxPABX = 2;
    for (int c = 1; c <= 3; ++c) {
        b.RegistraUnidade(c);
        b.Janela(c, "08:00", "");
    }
    b.SemSDCard();
    b.downloads.AdicionaSeAusente(std::make_unique<Ocupante>(50));
    b.downloads.AdicionaSeAusente(std::make_unique<Ocupante>(51));
    b.agenda->BDVerificaDownloadPeriodo();
    EXPECT_EQ(b.downloads.Contagem(), 2u);
    EXPECT_FALSE(Contem(b.LinhasServico(), "Disparar"));
    EXPECT_FALSE(Contem(b.LinhasServico(), "Alcançado limite"));
}

TEST(AgendaDownload, LinhaInvalidaEPuladaComErro) {
    Agenda a;
    EXIGE_BANCO(a.db);
    a.RegistraUnidade(1);
    a.RegistraUnidade(2);
    a.Janela(1, "08:00", "12:00");
    a.Janela(2, "25:00", "");
    a.SemSDCard();
    a.agenda->BDVerificaDownloadPeriodo();
    EXPECT_TRUE(a.downloads.EstaNaLista(1));
    EXPECT_FALSE(a.downloads.EstaNaLista(2));
    EXPECT_TRUE(Contem(a.LinhasServico(), "Erro: '25:00'"));
}

TEST(AgendaDownload, UnidadesSemJanelaOuApagadasNaoBaixam) {
    Agenda a;
    EXIGE_BANCO(a.db);
    a.RegistraUnidade(1);      // no window
    a.Janela(2, "08:00", "");  // window of a deleted unit
    a.SemSDCard();
    a.agenda->BDVerificaDownloadPeriodo();
    EXPECT_EQ(a.downloads.Contagem(), 0u);
    EXPECT_FALSE(Contem(a.LinhasServico(), "Disparar"));
}

TEST(AgendaDownload, ServidorAntesDaMeiaNoiteELocalDepois) {
    Agenda a;
    EXIGE_BANCO(a.db);
    a.servidor = Data(2026, 12, 10, 23, 59);
    a.relogio.Define(Data(2026, 12, 11, 0, 1));
    a.RegistraUnidade(1);
    a.Janela(1, "08:00", "");
    // The unit ran this morning on the server's day: not again today.
    a.RegistraUnidade(2);
    a.Janela(2, "08:00", "");
    a.db.Executa({"UPDATE PABX SET PAB_DTULTDOWN = '2026-12-10 09:00:00' WHERE PAB_CODIGO = 2"});
    a.SemSDCard();
    a.agenda->BDVerificaDownloadPeriodo();
    ASSERT_EQ(a.criados.size(), 1u);
    EXPECT_EQ(a.criados[0].first, 1);
    // The window's own limits are the server's; the run gets them on the local clock.
    EXPECT_TRUE(Contem(a.LinhasServico(),
                       "Disparar download PABX: 1  10/12/2026 08:00:00 - 10/01/2027 00:00:00"));
    EXPECT_EQ(a.criados[0].second.first, Data(2026, 12, 10, 8, 2));
    EXPECT_EQ(a.criados[0].second.second, Data(2027, 1, 10, 0, 2));
}

TEST(AgendaDownload, SemHoraDoServidorNadaEDecidido) {
    Agenda a;
    EXIGE_BANCO(a.db);
    a.RegistraUnidade(1);
    a.Janela(1, "08:00", "");
    a.agenda->DefineHoraServidor(nullptr);
    a.banco->DefineParametros(ParametrosInalcancaveis(a.db.Parametros(), a.db.arquivo));
    a.agenda->BDVerificaDownloadPeriodo();
    EXPECT_EQ(a.downloads.Contagem(), 0u);
    EXPECT_EQ(a.sdcards.Contagem(), 0u);
    EXPECT_TRUE(Contem(a.LinhasServico(), "GERDOWNPABX: "));
}

TEST(AgendaDownload, VerificacaoDeSDCard) {
    Agenda a;
    EXIGE_BANCO(a.db);
    a.RegistraUnidade(1);  // never checked: due
    a.RegistraUnidade(2);  // never checked, but downloading
    a.RegistraUnidade(3);  // checked exactly TempoVerSDCard ago: due
    a.RegistraUnidade(4);  // one second short of it
    a.db.Executa({"UPDATE PABX SET PAB_ULTVERIFSDC = '2026-12-10 08:00:00' WHERE PAB_CODIGO = 3",
                  "UPDATE PABX SET PAB_ULTVERIFSDC = '2026-12-10 08:00:01' WHERE PAB_CODIGO = 4"});
    a.downloads.AdicionaSeAusente(std::make_unique<Ocupante>(2));
    a.agenda->BDVerificaDownloadPeriodo();
    EXPECT_TRUE(a.sdcards.EstaNaLista(1));
    EXPECT_FALSE(a.sdcards.EstaNaLista(2));
    EXPECT_TRUE(a.sdcards.EstaNaLista(3));
    EXPECT_FALSE(a.sdcards.EstaNaLista(4));
    EXPECT_EQ(Conta(a.LinhasServico(), "Verificar SDCard do PABX: "), 2);
    // A second check lists nothing new while they are listed.
    a.agenda->BDVerificaDownloadPeriodo();
    EXPECT_EQ(a.sdcards.Contagem(), 2u);
}

// The unit editor admits 40 characters: the download must log in with all of
// them, not a shorter cut.
TEST(AgendaDownload, SenhaFTPDe40CaracteresEntraNoServidor) {
    Agenda a;
    EXIGE_BANCO(a.db);
    a.RegistraUnidade(1);
    const std::string senhaLonga = "s3nh@-de-quarenta-caracteres-0123456789x";
    ASSERT_EQ(senhaLonga.size(), 40u);
    a.db.Executa({"UPDATE PABX SET PAB_KELVFTPPASS = '" + CriptografaTexto(senhaLonga) +
                  "', PAB_KELVFTPUSER = 'norvika' WHERE PAB_CODIGO = 1"});
    OpcoesFTP o;
    a.agenda->AoCriarDownload = [&](TPABXDownloadFTP& t) {
        o.usuario = t.FTPUsuario;
        o.senha = t.FTPSenha;
    };
    ASSERT_EQ(a.agenda->VerificaDownloadPedidoUsuario(1), ResultadoPedido::Listado);
    EXPECT_EQ(o.senha, senhaLonga);

    PastaTemporaria tmp;
    std::filesystem::create_directories(tmp.Caminho() / "raiz");
    ServidorFTPTeste srv(tmp.Caminho() / "raiz", tmp.Caminho() / "srv", {}, "norvika", senhaLonga);
    o.host = "127.0.0.1";
    o.porta = srv.Porta();
    o.timeoutMs = 10000;
    ClienteFTP c(o);
    EXPECT_NO_THROW(c.Conecta());
    c.Desconecta();
}

TEST(AgendaDownload, PedidoDoConsole) {
    Agenda a;
    EXIGE_BANCO(a.db);
    a.RegistraUnidade(1);
    a.db.Executa({"UPDATE PABX SET PAB_KELVSENHA = '" + CriptografaTexto("4321") +
                  "', PAB_KELVFTPPASS = '" + CriptografaTexto("segredo") +
                  "', PAB_KELVFTPUSER = ' norvika ', PAB_KELVFTPPORT = 2121, PAB_USB_ZIMB = 1, "
                  "PAB_USBPATH = '/media/usb0', PAB_USBWAIT = 4 WHERE PAB_CODIGO = 1"});
    for (int c = 101; c <= 120; ++c) a.downloads.AdicionaSeAusente(std::make_unique<Ocupante>(c));

    TPABXDownloadFTP* criado = nullptr;
    a.agenda->AoCriarDownload = [&](TPABXDownloadFTP& t) { criado = &t; };
    std::string senha, ftpSenha, ftpUsuario, caminho, raiz, base;
    int operacao = 0;
    a.agenda->AoCriarDownload = [&](TPABXDownloadFTP& t) {
        criado = &t;
        senha = t.KELVSenha;
        ftpSenha = t.FTPSenha;
        ftpUsuario = t.FTPUsuario;
        caminho = t.CaminhoUSB;
        raiz = t.RaizUSB;
        base = t.BaseDadosPABX;
        operacao = t.Historico.DWN_OPERATUAL;
        EXPECT_EQ(t.FTPPorta, 2121);
        EXPECT_EQ(t.ModoUSB, 1);
        EXPECT_EQ(t.EsperaUSB, 4);
        EXPECT_EQ(t.FimPeriodo, SomaMeses(t.InicioPeriodo, 1));
    };
    EXPECT_EQ(a.agenda->VerificaDownloadPedidoUsuario(1), ResultadoPedido::Listado);
    ASSERT_NE(criado, nullptr);
    EXPECT_EQ(a.downloads.Contagem(), 21u);
    EXPECT_EQ(senha, "4321");
    EXPECT_EQ(ftpSenha, "segredo");
    EXPECT_EQ(ftpUsuario, "norvika");
    EXPECT_EQ(caminho, "/media/usb0/norvika/audiorec");
    EXPECT_EQ(raiz, "/media/usb0/");
    EXPECT_EQ(operacao, OpPreparando);
    EXPECT_NE(base.find("GRVPAB001.FDB"), std::string::npos);

    EXPECT_EQ(a.agenda->VerificaDownloadPedidoUsuario(1), ResultadoPedido::JaListado);
    EXPECT_EQ(a.agenda->VerificaDownloadPedidoUsuario(99), ResultadoPedido::Inexistente);
    EXPECT_EQ(a.downloads.Contagem(), 21u);
    const auto linhas = a.LinhasServico();
    EXPECT_EQ(Conta(linhas, "Disparar download solicitado PABX: 1  "), 1);
    EXPECT_TRUE(Contem(linhas, "Solicitado download de PABX inexistente: 99"));
    Attachment att = a.db.Conecta();
    Transaction tr(att, true);
    Statement st(tr, "SELECT COUNT(*) FROM DWNHISTORY");
    Cursor c = st.Abre();
    ASSERT_TRUE(c.Proxima());
    EXPECT_EQ(c.GetInt(0), 0);
}

TEST(AgendaDownload, JanelaEPedidoAoMesmoTempoNuncaDaoDuasExecucoes) {
    Agenda a;
    EXIGE_BANCO(a.db);
    a.RegistraUnidade(1);
    a.Janela(1, "00:00", "");
    a.SemSDCard();
    for (int rodada = 0; rodada < 8; ++rodada) {
        ListaThreads downloads, sdcards;
        AgendaDownload agenda(a.log, *a.banco, a.alertas, a.relogio, downloads, sdcards,
                              [&a] { return a.Config(); });
        agenda.DefineHoraServidor([&a](Attachment&) { return a.servidor; });
        std::barrier largada(2);
        std::thread pedido([&] {
            largada.arrive_and_wait();
            agenda.VerificaDownloadPedidoUsuario(1);
        });
        largada.arrive_and_wait();
        agenda.BDVerificaDownloadPeriodo();
        pedido.join();
        EXPECT_EQ(downloads.Contagem(), 1u) << "round " << rodada;
    }
}

TEST(AgendaDownload, ExecucoesInterrompidasSaoFechadasNoInicio) {
    Agenda a;
    EXIGE_BANCO(a.db);
    a.db.Executa(
        {"INSERT INTO DWNHISTORY (PAB_CODIGO, DWN_DTINIDOWN, DWN_RESULTADO, DWN_OPERATUAL) "
         "VALUES (1, '2026-12-10 08:00:00', 0, 12)",
         "INSERT INTO DWNHISTORY (PAB_CODIGO, DWN_DTINIDOWN, DWN_RESULTADO, DWN_OPERATUAL) "
         "VALUES (2, '2026-12-10 08:00:00', 1, 17)",
         "INSERT INTO DWNHISTORY (PAB_CODIGO, DWN_DTINIDOWN, DWN_RESULTADO, DWN_OPERATUAL) "
         "VALUES (3, '2026-12-10 08:00:00', 0, 3)"});
    EXPECT_EQ(a.agenda->FechaHistoricosInterrompidos(), 2);
    Attachment att = a.db.Conecta();
    Transaction tr(att, true);
    Statement st(
        tr, "SELECT PAB_CODIGO, DWN_RESULTADO, DWN_OPERATUAL FROM DWNHISTORY ORDER BY PAB_CODIGO");
    Cursor c = st.Abre();
    const int esperado[3][3] = {{1, 2, 12}, {2, 1, 17}, {3, 2, 3}};
    for (const auto& e : esperado) {
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetInt(0), e[0]);
        EXPECT_EQ(c.GetInt(1), e[1]);
        EXPECT_EQ(c.GetInt(2), e[2]);
    }
    EXPECT_TRUE(Contem(a.LinhasServico(), "Downloads interrompidos encerrados: 2"));
}

}  // namespace
