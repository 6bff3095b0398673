#include "console/forms/ServicoMain.h"

#include <unistd.h>

#include <QAction>
#include <QLabel>
#include <QPainter>
#include <QToolButton>

#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "common/db/OperacaoHistorico.h"
#include "console/UtilConsole.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/FormMain.h"
#include "console/forms/TextoTela.h"

namespace {

const char* const ItemIniciar = "IniciarServioGravaoNorvika1";
const char* const ItemParar = "PararServioGravacoNorvika1";

QPixmap FiguraEstado(const std::string& nome) {
    QPixmap p(40, 40);
    p.fill(Qt::transparent);
    QPainter g(&p);
    g.setRenderHint(QPainter::Antialiasing);
    const QColor cor = nome == "status_emexecucao" ? QColor(40, 160, 60)
                       : nome == "status_parado"   ? QColor(200, 50, 40)
                                                   : QColor(150, 150, 150);
    g.setBrush(cor);
    g.setPen(cor.darker());
    g.drawEllipse(4, 4, 32, 32);
    return p;
}

const char* Booleano(bool b) { return b ? "True" : "False"; }

void RegistraDireitos(ServicoMain& s, const std::string& grupo, bool pode) {
    std::string grupos;
    for (const std::string& g : GruposDoProcesso()) grupos += (grupos.empty() ? "" : ",") + g;
    GravaLogConsole(std::string("Root: ") + Booleano(geteuid() == 0));
    GravaLogConsole("Grupo: " + grupo + " (" + grupos + ")");
    GravaLogConsole("Backend: " + s.backend);
    GravaLogConsole(std::string("PodeControlarServico: ") + Booleano(pode));
}

void Aplica(ContextoConsole& ctx, ServicoMain& s) {
    FormMain* m = ctx.formMain;
    if (!m || !s.controle) return;
    const EstadoServico e = s.controle->Estado();
    const ExibicaoServico x = ExibeEstadoServico(e);
    const bool ocupado = s.controle->Ocupado();
    if (auto* a = m->findChild<QAction*>(ItemIniciar)) a->setEnabled(x.iniciar && !ocupado);
    if (auto* a = m->findChild<QAction*>(ItemParar)) a->setEnabled(x.parar && !ocupado);
    if (static_cast<int>(e) == m->EstadoServicoAnterior) return;
    m->EstadoServicoAnterior = static_cast<int>(e);
    m->LabelStatus->setText(QString::fromStdString(x.texto));
    m->btnEstadoVeruzadu->setIcon(QIcon(FiguraEstado(x.figura)));
    m->btnEstadoVeruzadu->repaint();
}

void Comanda(ContextoConsole& ctx, const std::shared_ptr<ServicoMain>& s, bool iniciar) {
    const std::string grupo =
        IniFile(ArquivoVeruzaduIni()).ReadString("Veruzadu", "GrupoServico", "");
    const bool pode = s->PodeControlar ? s->PodeControlar()
                                       : PodeControlarServico(geteuid(), GruposDoProcesso(), grupo);
    RegistraDireitos(*s, grupo, pode);
    if (!pode) {
        ctx.mensagens.Mostra(
            TipoMensagem::Informacao,
            Traduz("Execute este programa como administrador para realizar esta operação."));
        return;
    }
    if (s->controle->Estado() == EstadoServico::NaoInstalado) {
        ctx.mensagens.Mostra(TipoMensagem::Informacao,
                             Traduz("Serviço Gravação Quv não está instalado"));
        return;
    }
    const bool aceito = s->controle->Executa(iniciar, [&ctx, w = std::weak_ptr<ServicoMain>(s),
                                                       iniciar](bool ok, const std::string& erro) {
        // The controller holds this end: a strong reference would keep
        // it alive through itself.
        const auto servico = w.lock();
        if (!servico) return;
        Aplica(ctx, *servico);
        if (ok) {
            ctx.RegistraHistorico(iniciar ? Operacao::ServicoIniciado : Operacao::ServicoParado,
                                  "");
            return;
        }
        GravaLogConsole(std::string("Status Serviço de Gravação Quv: ") +
                        NomeEstadoServico(servico->controle->Estado()) + " - " + erro);
        ctx.mensagens.Mostra(TipoMensagem::Informacao,
                             Traduz(iniciar ? "Não foi possível iniciar o Serviço Gravação Quv"
                                            : "Não foi possível parar o Serviço Gravação Quv"));
    });
    if (aceito) Aplica(ctx, *s);
}

}  // namespace

void InstalaServicoMain(ContextoConsole& ctx, std::unique_ptr<ServiceControl> backend,
                        const std::string& nomeBackend) {
    auto s = std::make_shared<ServicoMain>();
    s->backend = nomeBackend;
    s->controle = std::make_unique<ControleServicoConsole>(std::move(backend), ctx.formMain);
    ctx.servico = s;
    ctx.AtualizaEstadoServico = [&ctx, w = std::weak_ptr<ServicoMain>(s)] {
        if (auto servico = w.lock()) Aplica(ctx, *servico);
    };
    ctx.acoes[ItemIniciar] = [&ctx, w = std::weak_ptr<ServicoMain>(s)] {
        if (auto servico = w.lock()) Comanda(ctx, servico, true);
    };
    ctx.acoes[ItemParar] = [&ctx, w = std::weak_ptr<ServicoMain>(s)] {
        if (auto servico = w.lock()) Comanda(ctx, servico, false);
    };
}
