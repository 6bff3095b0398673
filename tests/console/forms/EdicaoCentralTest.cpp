// The PABX unit editor and its download-window dialog: the expansion of a
// start, limit and repetition into windows and the refusals without a
// display; the real forms against the server: round trips of both connection
// kinds, windows added through the dialog, a failed save that writes nothing,
// a unit deleted while it was edited, a failed load, and the units list's
// entry into the editor.

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <map>

#include "ConsoleTeste.h"
#include "tests/console/TesteConsole.h"
#include "common/CifraTexto.h"
#include "console/EdicaoCentral.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/FormCentrais.h"
#include "console/forms/FormEdCentral.h"
#include "console/forms/FormEdHoraCentral.h"

namespace {

std::vector<std::string> Entradas(const std::vector<JanelaDownload>& js) {
    std::vector<std::string> r;
    for (const JanelaDownload& j : js) r.push_back(EntradaJanela(j));
    return r;
}

std::string E(const char* texto) { return std::string("      ") + texto; }

EdicaoCentral Valida() {
    EdicaoCentral e;
    e.nome = "Matriz";
    e.endereco = "192.168.0.10";
    e.senhaKELV = "1234";
    e.usuarioFTP = "zimb";
    e.senhaFTP = "segredo";
    return e;
}

using LinhaBD = std::map<std::string, std::string>;

// Every column of the unit's row as text; NULL as "<null>".
LinhaBD LePABX(Attachment& att, int codigo) {
    Transaction tr(att);
    Statement st(tr, "SELECT * FROM PABX WHERE PAB_CODIGO = ?");
    st.SetInt(0, codigo);
    auto c = st.Abre();
    LinhaBD r;
    if (!c.Proxima()) return r;
    for (unsigned i = 0; i < c.NumeroColunas(); ++i)
        r[c.NomeColuna(i)] = c.IsNull(i) ? "<null>" : c.GetText(i);
    return r;
}

std::vector<std::string> Janelas(Attachment& att, int codigo) {
    Transaction tr(att);
    Statement st(tr, "SELECT DOW_HORAINI, DOW_HORAFIM FROM DOWNPABX WHERE PAB_CODIGO = ? "
                     "ORDER BY DOW_HORAINI, DOW_HORAFIM");
    st.SetInt(0, codigo);
    auto c = st.Abre();
    std::vector<std::string> r;
    while (c.Proxima()) r.push_back(c.GetText(0) + "|" + c.GetText(1));
    return r;
}

int Conta(Attachment& att, const std::string& sql) {
    Transaction tr(att);
    Statement st(tr, sql);
    auto c = st.Abre();
    return c.Proxima() ? c.GetInt(0) : -1;
}

void Limpa(const ProgramaTeste& p) {
    Attachment att = p.Principal();
    att.Executa("DELETE FROM DOWNPABX");
    att.Executa("DELETE FROM PABX");
    att.Executa("DELETE FROM LOGHISTORY");
}

}  // namespace

TEST(EdicaoCentral, ExpansaoDeJanelas) {
    struct Caso {
        const char* nome;
        int inicio, limite, frequencia;
        std::vector<std::string> entradas;
    } casos[] = {
        {"limite e repeticao",
         8 * 60,
         30,
         240,
         {E("08:00 - 08:30"), E("12:00 - 12:30"), E("16:00 - 16:30"), E("20:00 - 20:30")}},
        {"corte no fim do dia encerra", 22 * 60, 180, 60, {E("22:00 - 23:59")}},
        {"fim exato em 24:00 e cortado", 23 * 60, 60, 0, {E("23:00 - 23:59")}},
        {"fim em 23:59 nao e corte", 22 * 60 + 59, 60, 0, {E("22:59 - 23:59")}},
        {"repeticao que passa da meia-noite", 23 * 60 + 30, 0, 60, {E("23:30")}},
        {"sem limite nem repeticao", 0, 0, 0, {E("00:00")}},
        {"duas por dia", 10 * 60, 15, 720, {E("10:00 - 10:15"), E("22:00 - 22:15")}},
    };
    for (const Caso& c : casos)
        EXPECT_EQ(Entradas(ExpandeJanelas(c.inicio, c.limite, c.frequencia)), c.entradas) << c.nome;
    const auto horas = ExpandeJanelas(0, 0, 60);
    ASSERT_EQ(horas.size(), 24u);
    EXPECT_EQ(EntradaJanela(horas.back()), E("23:00"));
}

TEST(EdicaoCentral, InicioEEntradas) {
    struct Caso {
        const char* texto;
        std::optional<int> minutos;
    } casos[] = {{"00:00", 0},
                 {"23:59", 1439},
                 {" 8:05", 485},
                 {"24:00", std::nullopt},
                 {"12:60", std::nullopt},
                 {"", std::nullopt},
                 {"  :  ", std::nullopt},
                 {"1:2:3", std::nullopt},
                 {"ab:cd", std::nullopt}};
    for (const Caso& c : casos) EXPECT_EQ(LeHoraInicio(c.texto), c.minutos) << c.texto;
    using Par = std::pair<std::string, std::string>;
    EXPECT_EQ(ColunasEntrada(E("08:00 - 08:30")), Par("08:00", "08:30"));
    EXPECT_EQ(ColunasEntrada(E("08:00")), Par("08:00", ""));
    const std::vector<std::string> lista{E("08:00 - 08:30"), E("12:00")};
    EXPECT_TRUE(HorarioJaDefinido(8 * 60, lista));
    EXPECT_TRUE(HorarioJaDefinido(12 * 60, lista));
    EXPECT_FALSE(HorarioJaDefinido(8 * 60 + 30, lista));  // an end is no start
}

TEST(EdicaoCentral, Recusas) {
    struct Caso {
        const char* nome;
        std::function<void(EdicaoCentral&)> muda;
        std::string mensagem;
    } casos[] = {
        {"valida", [](EdicaoCentral&) {}, ""},
        {"nome vazio", [](EdicaoCentral& e) { e.nome = "  "; }, "Informe o nome da central PABX"},
        {"endereco vazio", [](EdicaoCentral& e) { e.endereco = ""; },
         "Informe o endereço IP da central"},
        {"porta vazia", [](EdicaoCentral& e) { e.portaKELV = ""; },
         "Informe a porta do serviço de gravação"},
        {"porta 0", [](EdicaoCentral& e) { e.portaKELV = "0"; },
         "Informe a porta do serviço de gravação"},
        {"porta 65536", [](EdicaoCentral& e) { e.portaKELV = "65536"; },
         "Informe a porta do serviço de gravação"},
        {"porta 99999", [](EdicaoCentral& e) { e.portaKELV = "99999"; },
         "Informe a porta do serviço de gravação"},
        {"senha KELV vazia", [](EdicaoCentral& e) { e.senhaKELV = " "; },
         "Informe a senha de acesso ao serviço KELV"},
        {"usuario FTP vazio", [](EdicaoCentral& e) { e.usuarioFTP = ""; },
         "Informe o nome do usuário de FTP ZIMB"},
        {"senha FTP vazia", [](EdicaoCentral& e) { e.senhaFTP = ""; },
         "Informe a senha de acesso ao FTP ZIMB"},
        {"porta FTP vazia", [](EdicaoCentral& e) { e.portaFTP = ""; },
         "Informe a porta do FTP ZIMB"},
        {"porta FTP 65536", [](EdicaoCentral& e) { e.portaFTP = "65536"; },
         "Informe a porta do FTP ZIMB"},
        {"USB sem nada de FTP",
         [](EdicaoCentral& e) {
             e.conexao = ConexaoUSB;
             e.usuarioFTP = e.senhaFTP = e.portaFTP = "";
         },
         ""},
        {"USB sem pasta",
         [](EdicaoCentral& e) {
             e.conexao = ConexaoUSB;
             e.pastaUSB = "";
         },
         "Informe a pasta de montagem da unidade USB"},
        {"USB pasta relativa",
         [](EdicaoCentral& e) {
             e.conexao = ConexaoUSB;
             e.pastaUSB = "E:";
         },
         "Informe a pasta de montagem da unidade USB"},
        // The service files from the folder + "/norvika/audiorec", cut to 80.
        {"USB pasta 63",
         [](EdicaoCentral& e) {
             e.conexao = ConexaoUSB;
             e.pastaUSB = "/" + std::string(62, 'p');
         },
         ""},
        {"USB pasta 63 com barra",
         [](EdicaoCentral& e) {
             e.conexao = ConexaoUSB;
             e.pastaUSB = "/" + std::string(62, 'p') + "/";
         },
         ""},
        {"USB pasta 64",
         [](EdicaoCentral& e) {
             e.conexao = ConexaoUSB;
             e.pastaUSB = "/" + std::string(63, 'p');
         },
         "Unidade de disco de origem das gravações: no máximo 63 caracteres"},
        {"USB pasta 80",
         [](EdicaoCentral& e) {
             e.conexao = ConexaoUSB;
             e.pastaUSB = "/" + std::string(79, 'p');
         },
         "Unidade de disco de origem das gravações: no máximo 63 caracteres"},
        {"USB pasta 63 acentuada",
         [](EdicaoCentral& e) {
             e.conexao = ConexaoUSB;
             e.pastaUSB = "/mídia/" + std::string(56, 'p');
         },
         ""},
        {"usuario FTP 30", [](EdicaoCentral& e) { e.usuarioFTP = std::string(30, 'u'); }, ""},
        {"usuario FTP 31", [](EdicaoCentral& e) { e.usuarioFTP = std::string(31, 'u'); },
         "Usuário FTP: no máximo 30 caracteres"},
        {"senha FTP fora do Latin-1", [](EdicaoCentral& e) { e.senhaFTP = "ł"; },
         "Senha FTP: contém caractere não permitido"},
        {"nome fora do WIN1252", [](EdicaoCentral& e) { e.nome = "Central ☎"; },
         "Nome da central: contém caractere não permitido"},
        {"nome 41", [](EdicaoCentral& e) { e.nome = std::string(41, 'n'); },
         "Nome da central: no máximo 40 caracteres"},
        {"endereco com espaco", [](EdicaoCentral& e) { e.endereco = "10.0.0.1 x"; },
         "Endereço IP da central: endereço inválido"},
        {"DDD com letra", [](EdicaoCentral& e) { e.ddd = "1a"; },
         "Código DDD: contém caractere não permitido"},
    };
    for (const Caso& c : casos) {
        EdicaoCentral e = Valida();
        c.muda(e);
        EXPECT_EQ(ValidaCentral(e).value_or(""), c.mensagem) << c.nome;
    }
}

namespace {

struct BaseEdCentral : ::testing::Test {
    // Each test its own databases, also when several run in one process.
    ProgramaTeste p{std::string("edc_") +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name()};
    ContextoConsole ctx;
    std::unique_ptr<FormEdCentral> f;
    std::vector<int> historico;
    void SetUp() override {
        if (!p.Pronta()) GTEST_SKIP() << "no test server (run through scripts/test)";
        Limpa(p);
        std::string erro;
        ASSERT_TRUE(ctx.dados.ConectaBancoDados(erro)) << erro;
        ctx.RegistraHistorico = [this](int op, const std::string&) {
            historico.push_back(op);
            return true;
        };
        f = std::make_unique<FormEdCentral>(ctx, nullptr);
    }
    void Preenche(const EdicaoCentral& e) { f->MostraCampos(e); }
    // Answers the window dialog: start, limit index (-1: none), repetition index (-1: none).
    void AdicionaJanela(const char* inicio, int limite, int frequencia) {
        AoAbrir("FormEdHoraCentral", [=, this](QWidget*) {
            FormEdHoraCentral* d = f->formEdHora;
            d->meHoraIni->setText(inicio);
            d->checkLimiteTempo->setChecked(limite >= 0);
            if (limite >= 0) d->comboLimiteTempo->setCurrentIndex(limite);
            d->checkFrequencia->setChecked(frequencia >= 0);
            if (frequencia >= 0) d->comboFrequencia->setCurrentIndex(frequencia);
            d->BtnOk->click();
            // A refused start leaves the dialog open: give it up.
            if (d->isVisible()) d->BtnCancelar->click();
        });
        f->btnNovoClick();
    }
    QString UltimaMensagem() const {
        const auto& m = ctx.mensagens.Mostradas();
        return m.empty() ? QString() : m.back().texto;
    }
};

}  // namespace

TEST_F(BaseEdCentral, IdaEVoltaFTPeUSB) {
    f->LimpaTela();
    EXPECT_EQ(f->Horarios(), std::vector<std::string>{E("00:00")});
    EXPECT_TRUE(f->PainelZIMBFTP->isEnabled());
    EXPECT_FALSE(f->PainelUSB->isEnabled());
    EdicaoCentral e = Valida();
    e.nome = "Matriz O'Brien";
    e.portaKELV = "61081";
    e.portaFTP = "2121";
    e.ddd = "011";
    e.horarios = {E("08:00 - 08:30"), E("20:00")};
    Preenche(e);
    f->BtnOkClick();
    ASSERT_EQ(f->CodigoPABX, 1) << UltimaMensagem().toStdString();
    EXPECT_EQ(historico, std::vector<int>{6});
    Attachment att = p.Principal();
    LinhaBD r = LePABX(att, 1);
    const LinhaBD esperada{
        {"PAB_CODIGO", "1"},
        {"PAB_DESCRICAO", "Matriz O'Brien"},
        {"PAB_KELVENDERIP", "192.168.0.10"},
        {"PAB_KELVPORTA", "61081"},
        {"PAB_KELVSENHA", CriptografaTexto("1234")},
        {"PAB_KELVPROXY", "0"},
        {"PAB_KELVPROXYSERVER", ""},
        {"PAB_KELVPROXYPORT", "0"},
        {"PAB_KELVPROXYUSER", ""},
        {"PAB_KELVPROXYPASS", ""},
        {"PAB_KELVFTPPORT", "2121"},
        {"PAB_KELVFTPUSER", "zimb"},
        {"PAB_KELVFTPPASS", CriptografaTexto("segredo")},
        {"PAB_KELVFTPSECURITY", "0"},
        {"PAB_DDDCODIGO", "011"},
        {"PAB_USB_ZIMB", "0"},
        {"PAB_USBPATH", "/media/usb0"},
        {"PAB_USBWAIT", "60"},
        {"PAB_DTULTDOWN", "<null>"},
    };
    for (const auto& [coluna, valor] : esperada) EXPECT_EQ(r[coluna], valor) << coluna;
    EXPECT_EQ(Janelas(att, 1), (std::vector<std::string>{"08:00|08:30", "20:00|"}));

    // Loaded back, every field as typed; then switched to USB with the FTP
    // fields emptied, over a unit that already downloaded.
    att.Executa("UPDATE PABX SET PAB_DTULTDOWN = CURRENT_TIMESTAMP WHERE PAB_CODIGO = 1");
    f->LimpaTela();
    f->CodigoPABX = 1;
    ASSERT_TRUE(f->CarregaItem());
    EXPECT_EQ(f->LeCampos(), e);
    EXPECT_TRUE(f->btnApagar->isEnabled());
    f->cbConexaoZIMB->setCurrentIndex(ConexaoUSB);
    EXPECT_FALSE(f->PainelZIMBFTP->isEnabled());
    EXPECT_TRUE(f->PainelUSB->isEnabled());
    f->edZIMBUserFTP->clear();
    f->edZIMBSenhaFTP->clear();
    f->meZIMBPortaFTP->clear();
    f->edDiscoAudio->setText("/mnt/pabx 2");
    f->asUSBTimeout->setValue(90);
    f->BtnOkClick();
    ASSERT_EQ(ctx.mensagens.Mostradas().size(), 0u) << UltimaMensagem().toStdString();
    EXPECT_EQ(historico, (std::vector<int>{6, 6}));
    r = LePABX(att, 1);
    EXPECT_EQ(r["PAB_USB_ZIMB"], "1");
    EXPECT_EQ(r["PAB_USBPATH"], "/mnt/pabx 2");
    EXPECT_EQ(r["PAB_USBWAIT"], "90");
    EXPECT_EQ(r["PAB_KELVFTPPORT"], "21");
    EXPECT_EQ(r["PAB_KELVFTPUSER"], "");
    EXPECT_EQ(r["PAB_KELVFTPPASS"], "");
    EXPECT_EQ(r["PAB_DTULTDOWN"], "<null>");
    f->CodigoPABX = 1;
    ASSERT_TRUE(f->CarregaItem());
    EXPECT_EQ(f->cbConexaoZIMB->currentIndex(), ConexaoUSB);
    EXPECT_EQ(f->edDiscoAudio->text(), "/mnt/pabx 2");
    EXPECT_EQ(f->meZIMBPortaFTP->text(), "21");
    EXPECT_EQ(Conta(att, "SELECT COUNT(*) FROM PABX"), 1);
}

TEST_F(BaseEdCentral, JanelasPeloDialogo) {
    f->LimpaTela();
    Preenche(Valida());
    f->lbHorario->clear();
    AdicionaJanela("08:00", 1, 3);  // 30 min every 4 hours
    EXPECT_EQ(f->Horarios(), (std::vector<std::string>{E("08:00 - 08:30"), E("12:00 - 12:30"),
                                                       E("16:00 - 16:30"), E("20:00 - 20:30")}));
    // A listed start is refused, so is a time that is none; nothing is added.
    for (const char* inicio : {"12:00", "25:00", "07:61"}) {
        ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
        AdicionaJanela(inicio, -1, -1);
        EXPECT_EQ(f->Horarios().size(), 4u) << inicio;
    }
    ASSERT_EQ(ctx.mensagens.Mostradas().size(), 3u);
    EXPECT_EQ(ctx.mensagens.Mostradas()[0].texto, "Horário já definido");
    EXPECT_EQ(ctx.mensagens.Mostradas()[1].texto, "Horário de início inválido");
    EXPECT_EQ(ctx.mensagens.Mostradas()[2].texto, "Horário de início inválido");
    EXPECT_EQ(ctx.mensagens.Mostradas()[0].caption, "Informação");
    // A repetition landing on listed starts adds them again, sorted in.
    AdicionaJanela("04:00", -1, 2);  // every 3 hours, no end: 04, 07, ..., 22
    EXPECT_EQ(f->Horarios().size(), 11u);
    EXPECT_EQ(f->Horarios().front(), E("04:00"));
    EXPECT_EQ(f->Horarios().back(), E("22:00"));
    // The dialog's start and limit are reset at each opening; the repetition stays.
    AoAbrir("FormEdHoraCentral", [this](QWidget*) {
        FormEdHoraCentral* d = f->formEdHora;
        EXPECT_EQ(d->meHoraIni->text(), "00:00");
        EXPECT_FALSE(d->checkLimiteTempo->isChecked());
        EXPECT_FALSE(d->comboLimiteTempo->isEnabled());
        EXPECT_EQ(d->comboLimiteTempo->currentText(), "30 min");
        EXPECT_TRUE(d->checkFrequencia->isChecked());
        d->BtnCancelar->click();
    });
    f->btnNovoClick();
    EXPECT_EQ(f->Horarios().size(), 11u);

    // Removing: nothing selected is refused; the selected go.
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f->btnApagarClick();
    EXPECT_EQ(UltimaMensagem(), "Selecione horário(s) a ser(em) removido(s)");
    f->lbHorario->item(0)->setSelected(true);   // 04:00
    f->lbHorario->item(10)->setSelected(true);  // 22:00
    f->btnApagarClick();
    EXPECT_EQ(f->Horarios().size(), 9u);

    f->BtnOkClick();
    ASSERT_EQ(f->CodigoPABX, 1) << UltimaMensagem().toStdString();
    Attachment att = p.Principal();
    EXPECT_EQ(Janelas(att, 1),
              (std::vector<std::string>{"07:00|", "08:00|08:30", "10:00|", "12:00|12:30", "13:00|",
                                        "16:00|", "16:00|16:30", "19:00|", "20:00|20:30"}));

    // An emptied list is saved as the one window at midnight.
    f->lbHorario->selectAll();
    f->btnApagarClick();
    EXPECT_FALSE(f->btnApagar->isEnabled());
    f->BtnOkClick();
    EXPECT_EQ(Janelas(att, 1), std::vector<std::string>{"00:00|"});
}

TEST_F(BaseEdCentral, FalhaAoGravarNaoGravaNada) {
    {
        Attachment att = p.Principal();
        att.Executa("CREATE EXCEPTION E_TESTE_FALHA 'falha de teste'");
        att.Executa("CREATE TABLE TESTE_FALHA (TABELA VARCHAR(10))");
        for (const char* t : {"PABX", "DOWNPABX"})
            att.Executa(std::string("CREATE TRIGGER TESTE_FALHA_") + t + " FOR " + t +
                        " BEFORE INSERT AS BEGIN IF (EXISTS (SELECT * FROM TESTE_FALHA WHERE "
                        "TABELA = '" +
                        t + "')) THEN EXCEPTION E_TESTE_FALHA; END");
        att.Executa("INSERT INTO TESTE_FALHA VALUES ('PABX')");
    }
    f->show();
    f->LimpaTela();
    Preenche(Valida());
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f->BtnOkClick();
    EXPECT_TRUE(UltimaMensagem().startsWith("Não foi possível salvar informações"));
    EXPECT_TRUE(UltimaMensagem().contains("falha de teste"));
    EXPECT_TRUE(f->isVisible());
    EXPECT_EQ(f->CodigoPABX, 0);
    EXPECT_TRUE(historico.empty());
    Attachment att = p.Principal();
    EXPECT_EQ(Conta(att, "SELECT COUNT(*) FROM PABX"), 0);
    EXPECT_EQ(Conta(att, "SELECT COUNT(*) FROM DOWNPABX"), 0);

    // The cause gone, Ok again makes one unit with its window.
    att.Executa("DELETE FROM TESTE_FALHA");
    f->BtnOkClick();
    EXPECT_EQ(f->CodigoPABX, 1);
    EXPECT_FALSE(f->isVisible());
    EXPECT_EQ(historico, std::vector<int>{6});
    EXPECT_EQ(Conta(att, "SELECT COUNT(*) FROM PABX"), 1);
    EXPECT_EQ(Janelas(att, 1), std::vector<std::string>{"00:00|"});

    // A window that cannot be written undoes the unit's update too.
    att.Executa("UPDATE PABX SET PAB_DTULTDOWN = CURRENT_TIMESTAMP WHERE PAB_CODIGO = 1");
    att.Executa("INSERT INTO TESTE_FALHA VALUES ('DOWNPABX')");
    f->show();
    f->edDescricao->setText("Outro nome");
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f->BtnOkClick();
    EXPECT_TRUE(UltimaMensagem().startsWith("Não foi possível salvar informações"));
    EXPECT_TRUE(f->isVisible());
    const LinhaBD r = LePABX(att, 1);
    EXPECT_EQ(r.at("PAB_DESCRICAO"), "Matriz");
    EXPECT_NE(r.at("PAB_DTULTDOWN"), "<null>");
    EXPECT_EQ(Janelas(att, 1), std::vector<std::string>{"00:00|"});
    EXPECT_EQ(historico, std::vector<int>{6});
    f->reject();
}

TEST_F(BaseEdCentral, CentralApagadaOuIlegivel) {
    f->LimpaTela();
    Preenche(Valida());
    f->BtnOkClick();
    ASSERT_EQ(f->CodigoPABX, 1);
    historico.clear();
    Attachment att = p.Principal();
    att.Executa("DELETE FROM DOWNPABX WHERE PAB_CODIGO = 1");
    att.Executa("DELETE FROM PABX WHERE PAB_CODIGO = 1");
    // Saving a unit deleted meanwhile fails and brings back no window row.
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    f->BtnOkClick();
    EXPECT_EQ(UltimaMensagem(), "Não foi possível salvar informações\nA central não existe mais");
    EXPECT_EQ(Conta(att, "SELECT COUNT(*) FROM PABX"), 0);
    EXPECT_EQ(Conta(att, "SELECT COUNT(*) FROM DOWNPABX"), 0);
    EXPECT_TRUE(historico.empty());

    // A unit that cannot be loaded opens no editor and leaves no field behind.
    int codigo = 1;
    std::string nome;
    ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
    EXPECT_FALSE(f->Edita(codigo, nome));
    EXPECT_FALSE(f->isVisible());
    EXPECT_TRUE(UltimaMensagem().startsWith("Não foi possível carregar informações da central"));
    EXPECT_EQ(ctx.mensagens.Mostradas().back().caption, "Erro");
    EXPECT_EQ(f->edDescricao->text(), "");
    EXPECT_EQ(f->edSenhaKELV->text(), "");
}

// The units list opens the editor for a new unit and for an existing one.
TEST(EdCentralPelaLista, NovaEEditada) {
    ProgramaTeste p{"edcentrallista"};
    if (!p.Pronta()) GTEST_SKIP() << "no test server (run through scripts/test)";
    Limpa(p);
    Console c;
    c.Mostra();
    ASSERT_TRUE(EsperaAte([&] { return c.Conectado(); }));
    c.ctx.UsuarioCodigo = 1;
    c.ctx.UsuarioNome = "Administrador";
    FormCentrais& lista = *c.ctx.formCentrais;
    FormEdCentral& editor = *c.ctx.formEdCentral;
    lista.CarregaItens(0);
    auto preenche = AoAbrir("FormEdCentral", [&](QWidget*) {
        editor.MostraCampos(Valida());
        editor.BtnOk->click();
    });
    lista.BtnNovoClick();
    ASSERT_TRUE(*preenche);
    EXPECT_EQ(lista.Quantidade, 1);
    EXPECT_EQ(lista.TextoDaLinha(0, 0), "Matriz");
    lista.GridItens->selectRow(0);
    AoAbrir("FormEdCentral", [&](QWidget*) {
        EXPECT_EQ(editor.edDescricao->text(), "Matriz");
        EXPECT_EQ(editor.edSenhaKELV->text(), "1234");
        editor.edDescricao->setText("Matriz SP");
        editor.BtnOk->click();
    });
    lista.BtnEditarClick();
    EXPECT_EQ(lista.TextoDaLinha(0, 0), "Matriz SP");
    Attachment att = p.Principal();
    Transaction tr(att);
    Statement st(tr, "SELECT LOG_OPERACAO FROM LOGHISTORY ORDER BY LOG_CODIGO");
    auto cur = st.Abre();
    std::vector<int> ops;
    while (cur.Proxima()) ops.push_back(cur.GetInt(0));
    EXPECT_EQ(ops, (std::vector<int>{6, 23, 6, 25}));
}
