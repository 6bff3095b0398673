// The PABX units list and picker against the real server: the cells, the
// 140 cap, reselection and reload, the new unit's database made through the
// server, and the removal of a unit with everything that hangs on its code.

#include <QKeyEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <thread>

#include "tests/console/TesteConsole.h"
#include "common/Processos.h"
#include "console/Centrais.h"
#include "console/Historico.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/FormCentrais.h"

namespace {

void InsereCentral(Attachment& att, int codigo, const std::string& nome,
                   const std::string& ip = "10.0.0.1") {
    Transaction tr(att);
    Statement st(tr,
                 "INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_KELVENDERIP) VALUES (?, ?, ?)");
    st.SetInt(0, codigo).SetText(1, nome).SetText(2, ip);
    st.Executa();
    tr.Commit();
}

int Conta(Attachment& att, const std::string& sql) {
    Transaction tr(att);
    Statement st(tr, sql);
    auto c = st.Abre();
    return c.Proxima() ? c.GetInt(0) : -1;
}

struct BaseCentrais : ::testing::Test {
    ProgramaTeste p{"centrais", {1}};
    ContextoConsole ctx;
    std::unique_ptr<FormCentrais> f;
    void SetUp() override {
        if (!p.Pronta()) GTEST_SKIP() << "no test server (run through scripts/test)";
        Attachment att = p.Principal();
        att.Executa("DELETE FROM DOWNPABX");
        att.Executa("DELETE FROM PABX");
        att.Executa("DELETE FROM LOGHISTORY");
        std::string erro;
        ASSERT_TRUE(ctx.dados.ConectaBancoDados(erro)) << erro;
        ctx.UsuarioCodigo = 1;
        ctx.UsuarioNome = "Administrador";
        f = std::make_unique<FormCentrais>(ctx);
    }
    std::vector<int> Historico() {
        Attachment att = p.Principal();
        Transaction tr(att);
        Statement st(tr, "SELECT LOG_OPERACAO FROM LOGHISTORY ORDER BY LOG_CODIGO");
        auto c = st.Abre();
        std::vector<int> r;
        while (c.Proxima()) r.push_back(c.GetInt(0));
        return r;
    }
};

}  // namespace

TEST(Centrais, CelulasDaLista) {
    EXPECT_EQ(CodigoCentralTexto(7), "007");
    EXPECT_EQ(CodigoCentralTexto(140), "140");
    struct Caso {
        long long usado, total;
        const char* texto;
    } casos[] = {
        {1000, 16000, "06 %"}, {0, 0, ""}, {5, -1, ""}, {16000, 16000, "100 %"}, {0, 10, "00 %"}};
    for (const Caso& c : casos) EXPECT_EQ(UsoSDCard(c.usado, c.total), c.texto) << c.usado;
    ItemCentral usb;
    usb.usb = true;
    usb.caminhoUSB = "E:";
    usb.enderecoIP = "10.1.1.1";
    EXPECT_EQ(EnderecoCentral(usb), "USB em E:");
    usb.usb = false;
    EXPECT_EQ(EnderecoCentral(usb), "10.1.1.1");
}

TEST_F(BaseCentrais, ListaTetoEReselecao) {
    Attachment att = p.Principal();
    for (int i = 1; i <= 139; ++i) InsereCentral(att, i, "C" + CodigoCentralTexto(i));
    att.Executa("UPDATE PABX SET PAB_USB_ZIMB = 1, PAB_USBPATH = 'E:', PAB_SDCARDTOTAL = 16000, "
                "PAB_SDCARDUSED = 1000 WHERE PAB_CODIGO = 5");
    f->CarregaItens(42);
    EXPECT_EQ(f->Quantidade, 139);
    EXPECT_TRUE(f->btnNovo->isEnabled());
    EXPECT_EQ(f->GridItens->currentRow(), 41);
    EXPECT_EQ(f->GridItens->item(4, 1)->text(), "005");
    EXPECT_EQ(f->GridItens->item(4, 2)->text(), "USB em E:");
    EXPECT_EQ(f->GridItens->item(4, 3)->text(), "06 %");
    EXPECT_EQ(f->GridItens->item(5, 3)->text(), "");
    InsereCentral(att, 140, "C140");
    f->CarregaItens(7);
    EXPECT_EQ(f->Quantidade, 140);
    EXPECT_FALSE(f->btnNovo->isEnabled());
    EXPECT_EQ(f->CodigoDaLinha(f->GridItens->currentRow()), 7);
    int editor = 0;
    f->EditaCentral = [&](int&, std::string&) { return ++editor, false; };
    QKeyEvent insert(QEvent::KeyPress, Qt::Key_Insert, Qt::NoModifier);
    QApplication::sendEvent(f.get(), &insert);
    EXPECT_EQ(editor, 0);
}

TEST_F(BaseCentrais, ListaVaziaERecargaPorOutraConexao) {
    f->show();
    f->CarregaItens(0);
    EXPECT_EQ(f->GridItens->rowCount(), 1);
    for (QPushButton* b : {f->btnApagar, f->btnEditar, f->btnRamais, f->btnGravacoes, f->btnDelReg})
        EXPECT_FALSE(b->isEnabled());
    EXPECT_TRUE(f->btnNovo->isEnabled());
    {
        Attachment outra = p.Principal();
        InsereCentral(outra, 12, "Filial");
    }
    EXPECT_TRUE(EsperaAte([&] { return f->Quantidade == 1; }));
    EXPECT_EQ(f->GridItens->item(0, 0)->text(), "Filial");
    f->close();
}

TEST_F(BaseCentrais, NovaCentralGanhaBancoPeloServidor) {
    const std::string porta = std::to_string(p.inst.srv.porta);
    std::string host = NomeComputador();
    for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::string servidores[] = {"localhost", "127.0.0.1", host};
    int codigo = 20;
    for (const std::string& s : servidores) {
        ++codigo;
        p.Ini().WriteString("BD", "Server", "\\\\" + s + (porta == "3050" ? "" : "/" + porta));
        {
            Attachment att = p.Principal();
            InsereCentral(att, codigo, "Nova " + s);
        }
        ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
        f->AposNovaCentral(codigo, "Nova " + s);
        ASSERT_TRUE(ctx.mensagens.Mostradas().empty())
            << s << ": " << ctx.mensagens.Mostradas().back().texto.toStdString();
        Attachment u = p.Unidade(codigo);
        EXPECT_EQ(
            Conta(u, "SELECT COUNT(*) FROM PABX WHERE PAB_CODIGO = " + std::to_string(codigo)), 1)
            << s;
        Transaction tr(u);
        Statement st(
            tr,
            "SELECT TRIM(RDB$OWNER_NAME) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'GRAVACAO'");
        auto c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetText(0), p.inst.opcoes.usuario) << s;
    }
    EXPECT_EQ(Historico(), (std::vector<int>{23, 23, 23}));
}

TEST_F(BaseCentrais, BancoExistenteFicaEFalhaMostraMotivo) {
    // Unit 1's database exists with a recording.
    {
        Attachment u = p.Unidade(1);
        u.Executa("INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE) "
                  "VALUES (1, 1, CURRENT_TIMESTAMP, 'rec-1')");
        Attachment att = p.Principal();
        InsereCentral(att, 1, "Matriz");
    }
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f->AposNovaCentral(1, "Matriz");
    ASSERT_TRUE(ctx.mensagens.Mostradas().empty())
        << ctx.mensagens.Mostradas()[0].texto.toStdString();
    {
        Attachment u = p.Unidade(1);
        EXPECT_EQ(Conta(u, "SELECT COUNT(*) FROM GRAVACAO"), 1);
    }
    // Where the new file should go a folder stands: the server's reason is shown, the row stays.
    std::filesystem::create_directory(p.inst.opcoes.pastaDados / "GRVPAB007.FDB");
    {
        Attachment att = p.Principal();
        InsereCentral(att, 7, "Sete");
    }
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f->AposNovaCentral(7, "Sete");
    ASSERT_EQ(ctx.mensagens.Mostradas().size(), 1u);
    EXPECT_TRUE(ctx.mensagens.Mostradas()[0].texto.startsWith(
        "É necessário preparar a base de dados de ligações para esta central\n\n"));
    EXPECT_GT(ctx.mensagens.Mostradas()[0].texto.size(), 80);
    Attachment att = p.Principal();
    EXPECT_EQ(Conta(att, "SELECT COUNT(*) FROM PABX WHERE PAB_CODIGO = 7"), 1);
}

TEST_F(BaseCentrais, ApagarLevaLinhasDependentes) {
    {
        Attachment att = p.Principal();
        for (int c : {3, 4}) {
            InsereCentral(att, c, "U" + std::to_string(c));
            const std::string k = std::to_string(c);
            att.Executa("INSERT INTO DOWNPABX (PAB_CODIGO, DOW_HORAINI) VALUES (" + k +
                        ", '08:00')");
            att.Executa("INSERT INTO GRPRAMAL VALUES (1, '2001', '', " + k + ")");
            att.Executa("INSERT INTO DWNHISTORY (PAB_CODIGO, DWN_DTINIDOWN) VALUES (" + k +
                        ", CURRENT_TIMESTAMP)");
        }
    }
    f->CarregaItens(4);
    ctx.mensagens.ProximaResposta(RespostaMensagem::Sim);
    f->BtnApagarClick();
    EXPECT_EQ(f->Quantidade, 1);
    Attachment att = p.Principal();
    for (const char* t : {"PABX", "DOWNPABX", "GRPRAMAL", "DWNHISTORY"}) {
        EXPECT_EQ(Conta(att, std::string("SELECT COUNT(*) FROM ") + t + " WHERE PAB_CODIGO = 4"), 0)
            << t;
        EXPECT_EQ(Conta(att, std::string("SELECT COUNT(*) FROM ") + t + " WHERE PAB_CODIGO = 3"), 1)
            << t;
    }
    EXPECT_EQ(Historico(), std::vector<int>{24});
    // Code 4 given again (the highest plus one) starts empty.
    InsereCentral(att, 4, "De novo");
    EXPECT_EQ(Conta(att, "SELECT COUNT(*) FROM DOWNPABX WHERE PAB_CODIGO = 4"), 0);
    EXPECT_EQ(Conta(att, "SELECT COUNT(*) FROM GRPRAMAL WHERE PAB_CODIGO = 4"), 0);
}

TEST_F(BaseCentrais, ApagarBloqueadoNaoApagaNada) {
    {
        Attachment att = p.Principal();
        InsereCentral(att, 3, "U3");
        att.Executa("INSERT INTO DOWNPABX (PAB_CODIGO, DOW_HORAINI) VALUES (3, '08:00')");
    }
    f->CarregaItens(3);
    Attachment outra = p.Principal();
    Transaction tr(outra);
    tr.Executa("UPDATE PABX SET PAB_DESCRICAO = 'Outra' WHERE PAB_CODIGO = 3");
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        tr.Commit();
    });
    ctx.mensagens.ProximaResposta(RespostaMensagem::Sim);
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f->BtnApagarClick();
    t.join();
    ASSERT_EQ(ctx.mensagens.Mostradas().size(), 2u);
    EXPECT_EQ(ctx.mensagens.Mostradas()[1].caption, "Erro");
    Attachment att = p.Principal();
    EXPECT_EQ(Conta(att, "SELECT COUNT(*) FROM PABX WHERE PAB_CODIGO = 3"), 1);
    EXPECT_EQ(Conta(att, "SELECT COUNT(*) FROM DOWNPABX WHERE PAB_CODIGO = 3"), 1);
    EXPECT_TRUE(Historico().empty());
}

TEST_F(BaseCentrais, Seletor) {
    FormBuscaCentral b(ctx);
    b.CarregaItens();
    EXPECT_FALSE(b.btnOk->isEnabled());
    b.btnOkClick();  // the empty row chooses nothing
    EXPECT_EQ(b.CodigoPABX, 0);
    {
        Attachment att = p.Principal();
        InsereCentral(att, 9, "Beta", "10.0.0.9");
        InsereCentral(att, 2, "Alfa", "10.0.0.2");
        att.Executa("UPDATE PABX SET PAB_USB_ZIMB = 1, PAB_USBPATH = 'E:' WHERE PAB_CODIGO = 9");
    }
    b.CarregaItens();
    ASSERT_EQ(b.GridItens->rowCount(), 2);
    EXPECT_EQ(b.GridItens->item(0, 0)->text(), "Alfa");
    EXPECT_EQ(b.GridItens->item(1, 2)->text(), "10.0.0.9");  // the IP also for a USB unit
    AoAbrir("FormBuscaCentral", [&](QWidget*) {
        b.GridItens->selectRow(1);
        b.btnOk->click();
    });
    EXPECT_EQ(b.exec(), QDialog::Accepted);
    EXPECT_EQ(b.CodigoPABX, 9);
    EXPECT_EQ(b.NomePABX, "Beta");
    AoAbrir("FormBuscaCentral", [&](QWidget*) { b.btnCancela->click(); });
    EXPECT_EQ(b.exec(), QDialog::Rejected);
}

// Making a unit's database keeps the window answering: its progress window
// shows and the event loop runs until the database is there.
TEST_F(BaseCentrais, BancoNovoCriadoSemPrenderAJanela) {
    {
        Attachment att = p.Principal();
        InsereCentral(att, 31, "Trinta e um");
    }
    int passos = 0;
    bool progresso = false;
    QTimer relogio;
    QObject::connect(&relogio, &QTimer::timeout, [&] {
        ++passos;
        progresso = progresso || JanelaVisivel("FormProgresso") != nullptr;
    });
    relogio.start(10);
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f->AposNovaCentral(31, "Trinta e um");
    relogio.stop();
    ASSERT_TRUE(ctx.mensagens.Mostradas().empty())
        << ctx.mensagens.Mostradas()[0].texto.toStdString();
    EXPECT_TRUE(progresso);
    EXPECT_GT(passos, 0);
    EXPECT_EQ(JanelaVisivel("FormProgresso"), nullptr);
    Attachment u = p.Unidade(31);
    EXPECT_EQ(Conta(u, "SELECT COUNT(*) FROM PABX WHERE PAB_CODIGO = 31"), 1);
}
