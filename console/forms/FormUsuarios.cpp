#include "console/forms/FormUsuarios.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "common/Texto.h"
#include "console/Acesso.h"
#include "console/Usuarios.h"
#include "console/UtilConsole.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/KitJanela.h"
#include "console/forms/FormGrupos.h"
#include "console/forms/TextoTela.h"

// ------------------------------------------------------------------- editor

FormEdUsuario::FormEdUsuario(ContextoConsole& ctx, FormGrupos& grupos, QWidget* pai)
    : QDialog(pai), ctx_(ctx), grupos_(grupos) {
    setObjectName("FormEdUsuario");
    setWindowTitle(Tr("Edição de usuário"));
    auto campo = [this](const char* nome, int tamanho) {
        auto* e = new QLineEdit(this);
        e->setObjectName(nome);
        e->setMaxLength(tamanho);
        return e;
    };
    edUsuario = campo("edUsuario", 40);
    edLogin = campo("edLogin", 20);
    edSenha = campo("edSenha", 10);
    edSenha->setEchoMode(QLineEdit::Password);
    cbPerfil = new QComboBox(this);
    cbPerfil->setObjectName("cbPerfil");
    cbPerfil->addItems({Tr("Administrador"), Tr("Operador")});
    cbGrupo = new QComboBox(this);
    cbGrupo->setObjectName("cbGrupo");
    cbGrupo->setEditable(false);
    btnGrupos = BotaoNomeado(this, "btnGrupos", "&Grupos");
    btnOk = BotaoNomeado(this, "btnOk", "&Ok");
    btnOk->setDefault(true);
    btnCancelar = BotaoNomeado(this, "btnCancelar", "&Cancelar");

    auto* grupo = new QHBoxLayout;
    grupo->addWidget(cbGrupo, 1);
    grupo->addWidget(btnGrupos);
    auto* campos = new QFormLayout;
    campos->addRow(Tr("Usuário"), edUsuario);
    campos->addRow(Tr("Login"), edLogin);
    campos->addRow(Tr("Senha"), edSenha);
    campos->addRow(Tr("Perfil"), cbPerfil);
    campos->addRow(Tr("Grupo"), grupo);
    auto* l = new QVBoxLayout(this);
    l->addLayout(campos);
    l->addStretch();
    l->addLayout(LinhaBotoes({btnOk, btnCancelar}));
    resize(460, 240);

    connect(btnOk, &QPushButton::clicked, this, &FormEdUsuario::BtnOkClick);
    connect(btnCancelar, &QPushButton::clicked, this, &FormEdUsuario::btnCancelarClick);
    connect(btnGrupos, &QPushButton::clicked, this, &FormEdUsuario::btnGruposClick);
    LimpaTela();
}

void FormEdUsuario::MostraOpcoes() {
    cbGrupo->clear();
    for (const std::string& o : opcoes_) cbGrupo->addItem(QString::fromStdString(o));
}

void FormEdUsuario::CarregaGruposRamais() {
    grupos_.CarregaListaGrupos();
    opcoes_ = OpcoesGrupo(grupos_.ListaGrupos, NomesRamaisPermissao ? NomesRamaisPermissao()
                                                                    : std::vector<std::string>{});
    MostraOpcoes();
}

void FormEdUsuario::LimpaTela() {
    edUsuario->clear();
    edLogin->clear();
    edSenha->clear();
    cbPerfil->setCurrentIndex(1);
    cbGrupo->setCurrentIndex(cbGrupo->count() > 0 ? 0 : -1);
    PerfilOriginal = 2;
}

bool FormEdUsuario::CarregaItem() {
    DadosUsuario d;
    if (!ctx_.CarregaParaEdicao([&] { return CarregaUsuario(ctx_.dados, CodigoUsuario, d); },
                                "Usuário não encontrado", "Não foi possível carregar o usuário"))
        return false;
    edUsuario->setText(QString::fromStdString(d.nome));
    edLogin->setText(QString::fromStdString(d.login));
    edSenha->setText(QString::fromStdString(d.senha));
    cbPerfil->setCurrentIndex(d.perfil == 1 ? 0 : 1);
    const std::size_t antes = opcoes_.size();
    const int i = EscolheOpcao(opcoes_, d.grupo);
    if (opcoes_.size() != antes) MostraOpcoes();
    cbGrupo->setCurrentIndex(i < 0 ? 0 : i);
    PerfilOriginal = cbPerfil->currentIndex() + 1;
    return true;
}

bool FormEdUsuario::SalvaEdicao() {
    DadosUsuario d;
    d.nome = edUsuario->text().toStdString();
    d.login = edLogin->text().toStdString();
    d.senha = edSenha->text().toStdString();
    d.perfil = cbPerfil->currentIndex() + 1;
    d.grupo = cbGrupo->currentText().toStdString();
    std::string mensagem;
    if (SalvaUsuario(ctx_.dados, CodigoUsuario, PerfilOriginal, d, NomeListado,
                     {ctx_.UsuarioCodigo, ctx_.UsuarioNome}, mensagem))
        return true;
    if (!mensagem.empty()) ctx_.mensagens.Mostra(TipoMensagem::Erro, mensagem);
    return false;
}

void FormEdUsuario::BtnOkClick() {
    if (!ctx_.dados.BaseConectada()) return;
    if (SalvaEdicao()) accept();
}

void FormEdUsuario::btnCancelarClick() { reject(); }

void FormEdUsuario::btnGruposClick() {
    if (!ctx_.dados.BaseConectada()) return;
    grupos_.GruposAlterados = false;
    grupos_.CarregaItens(0);
    grupos_.exec();
    if (!grupos_.GruposAlterados) return;
    // The whole text: a group name or "Ramal ..." may be longer than 30.
    const std::string lembrado = cbGrupo->currentText().toStdString();
    CarregaGruposRamais();
    int i = 0;
    if (NomeIndicaRamal(lembrado)) {
        i = EscolheOpcao(opcoes_, lembrado);
        MostraOpcoes();
    } else {
        auto achado = std::find(opcoes_.begin(), opcoes_.end(), lembrado);
        // A group renamed or deleted meanwhile is no longer offered.
        if (achado != opcoes_.end()) i = static_cast<int>(achado - opcoes_.begin());
    }
    cbGrupo->setCurrentIndex(i < 0 ? 0 : i);
}

void FormEdUsuario::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    edUsuario->setFocus();
}

// --------------------------------------------------------------------- list

FormUsuarios::FormUsuarios(ContextoConsole& ctx, FormGrupos& grupos, QWidget* pai)
    : ListaCadastro(ctx, "FormUsuarios", "Configuração de usuários",
                    {"Cod", Tr("Usuário"), Tr("Login"), Tr("Perfil"), Tr("Grupo/Ramal")}, pai) {
    editor_ = new FormEdUsuario(ctx, grupos, this);
}

void FormUsuarios::CarregaItens(int codigo) {
    Ampulheta ampulheta;
    std::vector<ItemUsuario> itens;
    try {
        itens = CarregaUsuarios(ctx_.dados);
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Lista de usuários: ") + e.what());
    }
    std::vector<std::vector<std::string>> linhas;
    std::vector<int> codigos;
    for (const ItemUsuario& u : itens) {
        const std::string perfil = NomePerfil(u.perfil);
        linhas.push_back({std::to_string(u.codigo), u.nome, u.login,
                          perfil.empty() ? std::string() : Traduz(perfil), u.grupo});
        codigos.push_back(u.codigo);
    }
    PreencheGrade(linhas, codigos, codigo);
}

bool FormUsuarios::RemoveItem(int codigo, const std::string& nome) {
    std::string mensagem;
    switch (
        RemoveUsuario(ctx_.dados, codigo, nome, {ctx_.UsuarioCodigo, ctx_.UsuarioNome}, mensagem)) {
        case ResultadoRemocao::Removido: return true;
        case ResultadoRemocao::UltimoAdministrador:
            ctx_.mensagens.Mostra(TipoMensagem::Informacao, mensagem);
            return false;
        case ResultadoRemocao::Falhou:
            if (!mensagem.empty()) ctx_.mensagens.Mostra(TipoMensagem::Erro, mensagem);
            return false;
    }
    return false;
}

void FormUsuarios::BtnNovoClick() {
    if (!ctx_.dados.BaseConectada()) return;
    editor_->CarregaGruposRamais();
    editor_->CodigoUsuario = 0;
    editor_->NomeListado.clear();
    editor_->LimpaTela();
    if (editor_->exec() != QDialog::Accepted) return;
    CarregaItens(editor_->CodigoUsuario);
}

void FormUsuarios::BtnEditarClick() {
    const int codigo = CodigoAtual();
    if (codigo <= 0 || !ctx_.dados.BaseConectada()) return;
    editor_->CarregaGruposRamais();
    editor_->CodigoUsuario = codigo;
    editor_->NomeListado = TextoDaLinha(GridItens->currentRow(), 1);
    editor_->LimpaTela();
    if (!editor_->CarregaItem()) return;
    if (editor_->exec() != QDialog::Accepted) return;
    CarregaItens(codigo);
}

void FormUsuarios::BtnApagarClick() {
    const int codigo = CodigoAtual();
    if (codigo <= 0 || !ctx_.dados.BaseConectada()) return;
    const int linha = GridItens->currentRow();
    const std::string nome = TextoDaLinha(linha, 1);
    if (TextoDaLinha(linha, 3) == Traduz(NomePerfil(1))) {
        int outros = 1;
        try {
            outros = ContaOutrosAdministradores(ctx_.dados, codigo);
        } catch (const std::exception& e) {
            GravaLogConsole(std::string("Administradores: ") + e.what());
        }
        if (outros < 1) {
            ctx_.mensagens.Mostra(TipoMensagem::Informacao, TextoUltimoAdministrador());
            return;
        }
    }
    if (ctx_.mensagens.Mostra(TipoMensagem::Confirmacao, Traduz("Confirma exclusão de") + " " +
                                                             nome + " ?") != RespostaMensagem::Sim)
        return;
    if (!RemoveItem(codigo, nome)) return;
    CarregaItens(0);
}
