#include "console/forms/FormEdGrava.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/ExportaGravacoes.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/TextoTela.h"

FormEdGrava::FormEdGrava(ContextoConsole& ctx, QWidget* pai) : QDialog(pai), ctx_(ctx) {
    setObjectName("FormEdGrava");
    setWindowTitle(Tr("Edição de gravação"));
    auto* campos = new QFormLayout;
    auto edit = [&](const char* nome, const char* rotulo, bool editavel) {
        auto* e = new QLineEdit(this);
        e->setObjectName(nome);
        e->setEnabled(editavel);
        if (editavel) e->setMaxLength(30);
        campos->addRow(Tr(rotulo), e);
        return e;
    };
    edRamal = edit("edRamal", "Ramal", false);
    edData = edit("edData", "Data", false);
    edFone = edit("edFone", "Telefone", false);
    edDuracao = edit("edDuracao", "Duração", false);
    edGrupo = edit("edGrupo", "Grupo", false);
    edLiga = edit("edLiga", "Ligação", false);
    edCliente = edit("edCliente", "Contato", true);
    edIdentificador = edit("edIdentificador", "Identificador", true);
    btnOk = new QPushButton(TrLNG("&Ok"), this);
    btnOk->setObjectName("btnOk");
    btnCancelar = new QPushButton(TrLNG("&Cancelar"), this);
    btnCancelar->setObjectName("btnCancelar");
    auto* botoes = new QHBoxLayout;
    botoes->addStretch();
    botoes->addWidget(btnOk);
    botoes->addWidget(btnCancelar);
    auto* l = new QVBoxLayout(this);
    l->addLayout(campos);
    l->addLayout(botoes);
    connect(btnOk, &QPushButton::clicked, this, &FormEdGrava::BtnOkClick);
    connect(btnCancelar, &QPushButton::clicked, this, &QDialog::reject);
}

void FormEdGrava::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    edIdentificador->setFocus();
}

bool FormEdGrava::SalvaEdicao() {
    std::string erro;
    if (SalvaEdicaoGravacao(ctx_.dados, CodigoGravacao, edCliente->text().toStdString(),
                            edFone->text().toStdString(), edIdentificador->text().toStdString(),
                            erro))
        return true;
    ctx_.mensagens.Mostra(TipoMensagem::Erro,
                          Traduz("Não foi possível salvar informações de gravação"));
    return false;
}

void FormEdGrava::BtnOkClick() {
    if (ctx_.dados.BaseConectada() && SalvaEdicao()) accept();
}
