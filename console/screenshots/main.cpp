// veruzadu-screenshots DIR: a PNG of every console window, for readers
// without a desktop. scripts/screenshots runs it on the offscreen platform
// against a scratch installation (VERUZADU_HOME with its VERUZADU.INI).
//
// A window added to the console adds one entry to `janelas` below: its file
// name and how to show it filled (non-modally: show(), never exec()).
// `veruzadu-screenshots --list` prints the file names it writes.
//
// It always ends: a message box nobody asked for (a unit that cannot be
// reached, say) is answered and reported, a window that takes longer than a
// minute ends the run, and SIGTERM, SIGINT or SIGHUP end it at once, also
// from inside a dialog or a box. The exit status is 1 when a picture is
// missing or a box was answered.

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QPixmap>
#include <QPlainTextEdit>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "common/Configuracao.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/FormCfgAlerta.h"
#include "console/forms/FormConfig.h"
#include "console/forms/FormConfigBD.h"
#include "console/forms/FormMain.h"
#include "console/forms/FormAcesso.h"
#include "console/forms/FormCentrais.h"
#include "console/forms/FormAtualizaRamais.h"
#include "console/forms/FormCfgRamais.h"
#include "console/forms/FormClientes.h"
#include "console/forms/FormEdCliente.h"
#include "console/Contatos.h"
#include "console/forms/FormGrupos.h"
#include "console/forms/FormUsuarios.h"
#include "console/forms/FormEdCfgRamal.h"
#include "console/forms/FormEdCentral.h"
#include "console/forms/FormEdHoraCentral.h"
#include "console/forms/FormHistorico.h"
#include "console/forms/FormApagaReg.h"
#include "console/forms/FormEdGrava.h"
#include "console/forms/FormGravacoes.h"
#include <QDate>
#include <QLineEdit>
#include "console/forms/FormSobre.h"
#include "console/Historico.h"
#include "common/db/Firebird.h"
#include "console/forms/FormSysAcc.h"
#include "console/forms/FormLogGrv.h"
#include "console/forms/FormStatus.h"
#include "console/forms/FormUpGrade.h"
#include "common/Traducao.h"
#include <QLabel>
#include <QSocketNotifier>
#include <cstdlib>
#include "common/Sinais.h"
#include "common/db/OperacaoHistorico.h"

namespace {

// The window being drawn, the box being drawn on purpose, and what went wrong.
std::string janelaAtual;
QElapsedTimer inicioJanela;
QWidget* caixaDaFoto = nullptr;
bool caixaInesperada = false;
constexpr qint64 kLimiteJanelaMs = 60000;

// Answers every visible message box that is not itself being drawn (its
// escape button, else a plain rejection) and ends a window that hangs.
void Vigia() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* caixa = qobject_cast<QMessageBox*>(w);
        if (!caixa || caixa == caixaDaFoto || !caixa->isVisible()) continue;
        std::cerr << "veruzadu-screenshots: " << janelaAtual << ": unexpected box \""
                  << caixa->text().toStdString() << "\" answered\n";
        caixaInesperada = true;
        if (QAbstractButton* b = caixa->escapeButton())
            b->click();
        else
            caixa->done(QMessageBox::Cancel);
    }
    if (!janelaAtual.empty() && inicioJanela.isValid() &&
        inicioJanela.elapsed() > kLimiteJanelaMs) {
        std::cout << "FAILED " << janelaAtual << ": no picture within " << kLimiteJanelaMs / 1000
                  << " s" << std::endl;
        std::_Exit(1);
    }
}

void Processa(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool Grava(QWidget* w, const std::filesystem::path& arquivo) {
    if (qobject_cast<QMessageBox*>(w)) caixaDaFoto = w;
    w->show();
    w->raise();
    Processa(150);
    const bool ok = w->grab().save(QString::fromStdString(arquivo.string()), "PNG");
    std::cout << (ok ? "wrote " : "FAILED ") << arquivo.string() << std::endl;
    caixaDaFoto = nullptr;
    return ok;
}

// A group over unit 1's extensions and two users.
void AmostraCadastros(ContextoConsole& ctx) {
    try {
        ctx.dados.ConectaBasePABX(1);
        ctx.dados.ExecutaPABX([](Transaction& tr) {
            tr.Executa("DELETE FROM DNSPABX WHERE PAB_CODIGO = 1");
            Statement st(tr,
                         "INSERT INTO DNSPABX (PAB_CODIGO, DNS_NUMERO, DNS_NOME) VALUES (1, ?, ?)");
            const char* ramais[][2] = {{"201", "Recepção"},
                                       {"202", "Vendas 1"},
                                       {"203", "Vendas 2"},
                                       {"204", "204"},
                                       {"205", "Diretoria"}};
            for (const auto& r : ramais) {
                st.SetText(0, r[0]).SetText(1, r[1]);
                st.Executa();
            }
        });
    } catch (const std::exception& e) {
        std::cerr << "veruzadu-screenshots: " << e.what() << '\n';
    }
    ctx.ExecutaBD([](Transaction& tr) {
        tr.Executa(
            "UPDATE OR INSERT INTO GRUPO (GRP_CODIGO, GRP_DESCRICAO) VALUES (1, 'Atendimento') "
            "MATCHING (GRP_CODIGO)");
        tr.Executa(
            "UPDATE OR INSERT INTO GRUPO (GRP_CODIGO, GRP_DESCRICAO) VALUES (2, 'Comercial') "
            "MATCHING (GRP_CODIGO)");
        tr.Executa("DELETE FROM GRPRAMAL WHERE GRP_CODIGO IN (1, 2)");
        tr.Executa(
            "INSERT INTO GRPRAMAL (GRP_CODIGO, RML_RAMAL, RML_NOME, PAB_CODIGO) VALUES (1, '201', "
            "'Recepção', 1)");
        tr.Executa(
            "INSERT INTO GRPRAMAL (GRP_CODIGO, RML_RAMAL, RML_NOME, PAB_CODIGO) VALUES (2, '202', "
            "'Vendas 1', 1)");
        tr.Executa(
            "INSERT INTO GRPRAMAL (GRP_CODIGO, RML_RAMAL, RML_NOME, PAB_CODIGO) VALUES (2, '203', "
            "'Vendas 2', 1)");
        tr.Executa(
            "UPDATE OR INSERT INTO USUARIO (USR_CODIGO, USR_NOME, USR_LOGIN, USR_SENHA, "
            "USR_PERFIL, "
            "USR_GRUPO) VALUES (100, 'Ana Souza', 'ana.souza', '', 2, 'Atendimento') MATCHING "
            "(USR_CODIGO)");
        tr.Executa("UPDATE OR INSERT INTO USUARIO (USR_CODIGO, USR_NOME, USR_LOGIN, USR_SENHA, "
                   "USR_PERFIL, "
                   "USR_GRUPO) VALUES (101, 'Bruno Lima', 'bruno', '', 2, 'Ramal 205') MATCHING "
                   "(USR_CODIGO)");
    });
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: veruzadu-screenshots DIR | --list\n";
        return 2;
    }
    const bool lista = std::string(argv[1]) == "--list";
    // Before any thread and any database call (see common/Sinais.h).
    BloqueiaSinaisParada();
    if (lista) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const std::filesystem::path pasta =
        lista ? std::filesystem::path() : std::filesystem::path(argv[1]);
    if (!lista) std::filesystem::create_directories(pasta);

    // A stop signal ends the run at once, from any loop, box or dialog.
    DescritorSinais sinais;
    QSocketNotifier notificador(sinais.Descritor(), QSocketNotifier::Read);
    QObject::connect(&notificador, &QSocketNotifier::activated, [&] {
        const int sinal = sinais.Le();
        std::cout << "veruzadu-screenshots: stopped by signal " << sinal << std::endl;
        std::_Exit(128 + sinal);
    });
    QTimer vigia;
    QObject::connect(&vigia, &QTimer::timeout, &Vigia);
    vigia.start(100);

    ContextoConsole ctx;
    ctx.ExecutaLogin = [&](QWidget*) {
        ctx.UsuarioNome = "ADMIN";
        return ResultadoLogin::Entrou;
    };
    FormMain principal(ctx);
    // --list: only the names, nothing connected or drawn.
    if (!lista) {
        principal.show();
        QElapsedTimer t;
        t.start();
        while ((ctx.dados.EstadoConexao() != Conectado || principal.Inicializando() ||
                principal.SequenciaPendente()) &&
               t.elapsed() < 60000)
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        if (ctx.dados.EstadoConexao() != Conectado) {
            std::cerr << "veruzadu-screenshots: the console did not connect (see VERUZADU.INI)\n";
            return 1;
        }

        // Sample data: two units and a few history rows.
        ctx.UsuarioCodigo = 1;
        ctx.UsuarioNome = "Administrador";
        ctx.ExecutaBD([](Transaction& tr) {
            tr.Executa("UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_KELVENDERIP, "
                       "PAB_SDCARDTOTAL, PAB_SDCARDUSED) VALUES (1, 'Matriz', '192.168.0.10', "
                       "16000, 1000) "
                       "MATCHING (PAB_CODIGO)");
            tr.Executa(
                "UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_USB_ZIMB, PAB_USBPATH) "
                "VALUES (2, 'Filial', 1, 'E:') MATCHING (PAB_CODIGO)");
            // No unit is flagged for an extension-name refresh: the sample units
            // have no PABX to read them from.
            tr.Executa("UPDATE PABX SET PAB_DNSUPDATE = 0");
        });
        for (int op :
             {Operacao::ServicoIniciado, Operacao::EditadoCentral, Operacao::ServicoParado})
            ctx.RegistraHistorico(op, op == Operacao::EditadoCentral ? "Matriz" : "");
        // Sample recordings of unit 1, today, one without audio.
        try {
            ctx.dados.ConectaBasePABX(1);
            ctx.dados.ExecutaPABX([](Transaction& tr) {
                Statement st(tr,
                             "UPDATE OR INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, "
                             "GRV_IDFILE, GRV_TPLIGA, GRV_RAMGRAVADO, GRV_DESTINO, GRV_TEMAUDIO, "
                             "GRV_DURACAO, GRV_IDENTIFICA) VALUES (?, 1, ?, ?, ?, ?, ?, ?, ?, ?) "
                             "MATCHING (GRV_CODIGO)");
                const QDate hoje = QDate::currentDate();
                const char* const ramais[] = {"201", "202", "2000", "305", "201", "410"};
                const char* const fones[] = {"4830251234", "11987654321", "",
                                             "4832220000", "4899112233",  "203"};
                for (int i = 0; i < 6; ++i) {
                    st.SetInt(0, 9001 + i)
                        .SetTimestamp(
                            1, DataHora{hoje.year(), hoje.month(), hoje.day(), 8 + i, 7 * i, 12, 0})
                        .SetText(2, "AMOSTRA" + std::to_string(i))
                        .SetInt(3, i % 3)
                        .SetText(4, ramais[i])
                        .SetText(5, fones[i])
                        .SetInt(6, i == 3 ? 0 : 1)
                        .SetInt(7, 35 + 61 * i)
                        .SetText(8, i == 1 ? "Pedido 4411" : "");
                    st.Executa();
                }
            });
        } catch (const std::exception& e) {
            std::cerr << "veruzadu-screenshots: sample recordings: " << e.what() << "\n";
        }
    }

    bool ok = true;
    const std::vector<std::pair<std::string, std::function<void(const std::filesystem::path&)>>>
        janelas{
            {"FormMain.png", [&](const auto& a) { ok &= Grava(&principal, a); }},
            {"FormSobre.png",
             [&](const auto& a) {
                 ok &= Grava(ctx.formSobre.get(), a);
                 ctx.formSobre->hide();
             }},
            {"FormConfigBD.png",
             [&](const auto& a) {
                 FormConfigBD f(ctx.dados, ctx.mensagens, &principal);
                 ok &= Grava(&f, a);
             }},
            {"FormSysAcc.png",
             [&](const auto& a) {
                 FormSysAcc f(&principal);
                 ok &= Grava(&f, a);
             }},
            {"FormConfig.png",
             [&](const auto& a) {
                 CarregaConfiguracao(ctx.dados, ctx.configuracao, ctx.servidorGravacao);
                 ctx.configuracao.CFG_CRIPTOGRAFIA = 1;
                 ctx.configuracao.CFG_NETBACKUP = 2;
                 ctx.configuracao.CFG_NETDSTPATH = "/srv/backup/gravacoes";
                 ctx.configuracao.CFG_DBBACKUP = 2;
                 ctx.configuracao.CFG_DBDSTPATH = "/srv/backup/bd";
                 ctx.formConfig->ApresentaConfiguracao();
                 ok &= Grava(ctx.formConfig.get(), a);
                 ctx.formConfig->hide();
             }},
            {"FormCfgAlerta.png",
             [&](const auto& a) {
                 EdicaoAlerta e;
                 e.alertaEspaco = e.alertaFalha = e.auth = true;
                 e.para = "suporte@exemplo.com.br";
                 e.servidor = "smtp.exemplo.com.br";
                 e.porta = "465";
                 e.mail = "gravacao@exemplo.com.br";
                 e.usuario = "gravacao";
                 e.seguranca = 3;
                 ctx.formCfgAlerta->MostraCampos(e);
                 ok &= Grava(ctx.formCfgAlerta.get(), a);
                 ctx.formCfgAlerta->hide();
             }},
            {"FormAcesso.png",
             [&](const auto& a) {
                 ok &= Grava(ctx.formAcesso.get(), a);
                 ctx.formAcesso->hide();
             }},
            {"FormTrocaSenha.png",
             [&](const auto& a) {
                 FormTrocaSenha f(ctx.mensagens, &principal);
                 ok &= Grava(&f, a);
             }},
            {"FormHistorico.png",
             [&](const auto& a) {
                 ctx.formHistorico->show();
                 ctx.formHistorico->btnPesquisaClick();
                 ok &= Grava(ctx.formHistorico.get(), a);
                 ctx.formHistorico->hide();
             }},
            {"FormCentrais.png",
             [&](const auto& a) {
                 ctx.formCentrais->CarregaItens(1);
                 ok &= Grava(ctx.formCentrais.get(), a);
                 ctx.formCentrais->hide();
             }},
            {"FormBuscaCentral.png",
             [&](const auto& a) {
                 ctx.formBuscaCentral->CarregaItens();
                 ok &= Grava(ctx.formBuscaCentral.get(), a);
                 ctx.formBuscaCentral->hide();
             }},
            {"FormStatus.png",
             [&](const auto& a) {
                 // A latest run for the first unit; the service itself is
                 // not running here, so the window shows it unreachable.
                 ctx.ExecutaBD([](Transaction& tr) {
                     tr.Executa("DELETE FROM DWNHISTORY WHERE PAB_CODIGO = 1");
                     tr.Executa("UPDATE CONTROLE SET CRL_GRVSERVER = 'localhost', "
                                "CRL_GRVIP = '127.0.0.1', CRL_GRVPORTA = 51051");
                     tr.Executa(
                         "INSERT INTO DWNHISTORY (PAB_CODIGO, DWN_DTINIDOWN, DWN_DTFIMDOWN, "
                         "DWN_DTFIMIMP, DWN_OPERATUAL, DWN_RESULTADO, DWN_ARQBAIXAR, "
                         "DWN_ARQIMPORTADO, DWN_BYTESBAIXADO, DWN_FALHASOGG, DWN_FALHASXML, "
                         "DWN_FALHASIMP) VALUES (1, CURRENT_TIMESTAMP - 0.05, "
                         "CURRENT_TIMESTAMP - 0.04, CURRENT_TIMESTAMP - 0.03, 17, 1, 240, 120, "
                         "52428800, 0, 0, 0)");
                 });
                 ctx.formStatus->LeUltimoRegistro();
                 ctx.formStatus->CarregaEstadoCentrais();
                 ctx.formStatus->show();
                 Processa(1500);
                 ok &= Grava(ctx.formStatus.get(), a);
                 ctx.formStatus->reject();
             }},
            {"FormLogGrv.png",
             [&](const auto& a) {
                 FormLogGrv& f = *ctx.formLogGrv;
                 f.setWindowTitle("Serviço de Gravação Quv. PABX: 001 - Matriz");
                 f.MemoLog->clear();
                 for (const char* l :
                      {"Download será iniciado em instantes.", "Aguarde...", "Login aceito",
                       "Início download FTP", "Bytes a baixar: 1048576", "Arquivos a baixar: 8",
                       "Baixou arquivo: /gravacoes/20260310/0930_1001.WAV", "Fim download FTP"})
                     f.AcrescentaLinha(l);
                 ok &= Grava(&f, a);
                 f.hide();
             }},
            {"FormCfgRamais.png",
             [&](const auto& a) {
                 try {
                     ctx.dados.ConectaBasePABX(1);
                     ctx.dados.ExecutaPABX([](Transaction& tr) {
                         tr.Executa("DELETE FROM RMLPERMISS WHERE PAB_CODIGO = 1");
                         tr.Executa("DELETE FROM RAMALGRAVA WHERE PAB_CODIGO = 1");
                         tr.Executa("INSERT INTO RMLPERMISS (PAB_CODIGO, RML_RAMAL, RML_INDICEDNS, "
                                    "RML_PERMISSAO) VALUES (1, 'Recepcao', 1001, 32839)");
                         tr.Executa("INSERT INTO RMLPERMISS (PAB_CODIGO, RML_RAMAL, RML_INDICEDNS, "
                                    "RML_PERMISSAO) VALUES (1, 'Vendas', 1002, 568)");
                         tr.Executa("INSERT INTO RAMALGRAVA (PAB_CODIGO, RML_RAMAL, RML_RMLGRVDNS, "
                                    "RML_RMLGRAVA) VALUES (1, 'Recepcao', 1002, 'Vendas')");
                     });
                 } catch (const std::exception& e) {
                     std::cerr << "FormCfgRamais sample rows: " << e.what() << '\n';
                 }
                 FormCfgRamais& f = *ctx.formCfgRamais;
                 f.CodigoPABX = 1;
                 f.LeituraPendente = false;
                 f.meCentral->setText("Matriz");
                 f.setWindowTitle("Ramais do Veruzadu da central Matriz");
                 f.CarregaConfiguracaoRamais("");
                 ok &= Grava(&f, a);
                 f.hide();
             }},
            {"FormEdCfgRamal.png",
             [&](const auto& a) {
                 try {
                     ctx.dados.ExecutaPABX([](Transaction& tr) {
                         tr.Executa("DELETE FROM DNSPABX WHERE PAB_CODIGO = 1");
                         tr.Executa("INSERT INTO DNSPABX VALUES (1, 1001, '1001', 'Recepcao')");
                         tr.Executa("INSERT INTO DNSPABX VALUES (1, 1002, '1002', 'Vendas')");
                         tr.Executa("INSERT INTO DNSPABX VALUES (1, 3001, '3001', 'Portaria')");
                     });
                 } catch (const std::exception& e) {
                     std::cerr << "FormEdCfgRamal sample rows: " << e.what() << '\n';
                 }
                 FormEdCfgRamal f(ctx, &principal);
                 f.CodigoPABX = 1;
                 f.CarregaListaRamaisPABX();
                 f.RamalEdicao = "Recepcao";
                 f.CarregaConfigRamal();
                 f.gbRamais->setEnabled(false);
                 ok &= Grava(&f, a);
             }},
            {"FormAtualizaRamais.png",
             [&](const auto& a) {
                 FormAtualizaRamais f(ctx, 1, &principal);
                 ok &= Grava(&f, a);
                 f.TimerAtualiza->stop();
             }},
            {"FormGravacoes.png",
             [&](const auto& a) {
                 FormGravacoes& f = *ctx.formGravacoes;
                 f.DefineCentral(1, "Matriz");
                 f.show();
                 f.btnPesquisaClick();
                 f.Modelo().Marca(2, true);
                 f.Modelo().Marca(4, true);
                 ok &= Grava(&f, a);
                 f.hide();
             }},
            {"FormEdGrava.png",
             [&](const auto& a) {
                 FormEdGrava& e = *ctx.formGravacoes->formEdGrava;
                 e.edRamal->setText("202");
                 e.edData->setText("10/03/26 09:07:12");
                 e.edFone->setText("11987654321");
                 e.edDuracao->setText("00:01:36");
                 e.edLiga->setText("Originada");
                 e.edCliente->setText("Comercial Ltda");
                 e.edIdentificador->setText("Pedido 4411");
                 ok &= Grava(&e, a);
                 e.hide();
             }},
            {"FormApagaReg.png",
             [&](const auto& a) {
                 FormApagaReg& f = *ctx.formApagaReg;
                 f.DefineCentral(1, "Matriz");
                 f.CarregaGridInfo();
                 ok &= Grava(&f, a);
                 f.hide();
             }},
            {"FormClientes.png",
             [&](const auto& a) {
                 const AutorHistorico autor{1, "Administrador"};
                 ClienteAgenda c;
                 c.descricao = "Transportes Alfa Ltda";
                 c.identificador = "11222333000181";
                 c.endereco = "Rua das Flores";
                 c.endernum = "100";
                 c.bairro = "Centro";
                 c.cep = "88010000";
                 c.cidade = "Florianópolis";
                 c.uf = "SC";
                 c.contato = "Ana Souza";
                 c.email = "contato@alfa.com.br";
                 c.fones = {{"4833334444", 1}, {"48991234567", 0}};
                 SalvaCliente(ctx.dados, ctx.mensagens, c, autor, "");
                 ClienteAgenda b;
                 b.descricao = "Maria Oliveira";
                 b.identificador = "12345678909";
                 b.fones = {{"4832221111", 2}};
                 SalvaCliente(ctx.dados, ctx.mensagens, b, autor, "");
                 ctx.formClientes->CarregaItens(c.codigo);
                 ok &= Grava(ctx.formClientes.get(), a);
                 ctx.formClientes->hide();
             }},
            {"FormEdCliente.png",
             [&](const auto& a) {
                 FormEdCliente* e = ctx.formClientes->formEdCliente;
                 e->CodigoCliente = ctx.formClientes->CodigoDaLinha(1);
                 e->LimpaTela();
                 e->CarregaItem();
                 ok &= Grava(e, a);
                 e->hide();
             }},
            {"FormEdFone.png",
             [&](const auto& a) {
                 FormEdFone* fone = ctx.formClientes->formEdCliente->formEdFone;
                 fone->LimpaTela();
                 fone->edFone->setText("4833334444");
                 fone->cbTipoFone->setCurrentIndex(1);
                 ok &= Grava(fone, a);
                 fone->hide();
             }},
            {"FormEdDDD.png",
             [&](const auto& a) {
                 FormEdDDD d(ctx, &principal);
                 ctx.mensagens.ProximaResposta(RespostaMensagem::Ok);
                 ok &= Grava(&d, a);
             }},
            {"FormUpGrade.png",
             [&](const auto& a) {
                 FormUpGrade f(nullptr, &principal);
                 f.LabelUpgrade->setText(
                     QString::fromStdString(Traduz("Restaurando base de dados QuvVeruzadu")));
                 ok &= Grava(&f, a);
             }},
            {"FormGrupos.png",
             [&](const auto& a) {
                 AmostraCadastros(ctx);
                 ctx.formGrupos->CarregaItens(1);
                 ok &= Grava(ctx.formGrupos.get(), a);
                 ctx.formGrupos->hide();
             }},
            {"FormEdGrupo.png",
             [&](const auto& a) {
                 FormEdGrupo* e = ctx.formGrupos->editor();
                 e->LimpaTela();
                 e->CodigoGrupo = 1;
                 e->CarregaGrupo();
                 ok &= Grava(e, a);
                 e->hide();
             }},
            {"FormUsuarios.png",
             [&](const auto& a) {
                 ctx.formUsuarios->CarregaItens(0);
                 ok &= Grava(ctx.formUsuarios.get(), a);
                 ctx.formUsuarios->hide();
             }},
            {"FormEdUsuario.png",
             [&](const auto& a) {
                 FormEdUsuario* e = ctx.formUsuarios->editor();
                 e->CarregaGruposRamais();
                 e->LimpaTela();
                 e->edUsuario->setText("Ana Souza");
                 e->edLogin->setText("ana.souza");
                 e->edSenha->setText("segredo");
                 e->cbGrupo->setCurrentText("Atendimento");
                 ok &= Grava(e, a);
                 e->hide();
             }},
            {"FormEdCentral.png",
             [&](const auto& a) {
                 EdicaoCentral e;
                 e.nome = "Matriz";
                 e.endereco = "192.168.0.10";
                 e.senhaKELV = "1234";
                 e.usuarioFTP = "zimb";
                 e.senhaFTP = "segredo";
                 e.ddd = "011";
                 e.horarios.clear();
                 for (const JanelaDownload& j : ExpandeJanelas(8 * 60, 30, 4 * 60))
                     e.horarios.push_back(EntradaJanela(j));
                 e.horarios.push_back(EntradaJanela({23 * 60, std::nullopt}));
                 ctx.formEdCentral->MostraCampos(e);
                 ok &= Grava(ctx.formEdCentral.get(), a);
                 ctx.formEdCentral->hide();
             }},
            {"FormEdHoraCentral.png",
             [&](const auto& a) {
                 FormEdHoraCentral* d = ctx.formEdCentral->formEdHora;
                 d->Prepara();
                 d->checkLimiteTempo->setChecked(true);
                 ok &= Grava(d, a);
                 d->hide();
             }},
            {"CaixaMensagem-Confirmacao.png",
             [&](const auto& a) {
                 const auto caixa = CaixaMensagem::Monta(
                     TipoMensagem::Confirmacao, "Confirma a exclusão dos registros do período?",
                     &principal);
                 ok &= Grava(caixa.get(), a);
             }},
        };
    if (lista) {
        for (const auto& j : janelas) std::cout << j.first << '\n';
        return 0;
    }
    for (const auto& [nome, grava] : janelas) {
        janelaAtual = nome;
        inicioJanela.start();
        grava(pasta / nome);
    }
    janelaAtual.clear();
    principal.close();
    if (caixaInesperada) std::cout << "FAILED: a message box came up (see above)" << std::endl;
    return ok && !caixaInesperada ? 0 : 1;
}
