#include "console/forms/FormClientes.h"

#include <QComboBox>
#include <QPushButton>
#include <QTableWidget>

#include "common/Configuracao.h"
#include "console/Contatos.h"
#include "console/UtilConsole.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/KitJanela.h"
#include "console/forms/EscolheArquivo.h"
#include "console/forms/FormEdCliente.h"
#include "console/forms/TextoTela.h"
#include "console/forms/TrabalhoComProgresso.h"

namespace {

QStringList FiltrosAgenda() {
    return {Tr("Arquivo do Vostrel") + " (*.csv)", Tr("Arquivo da Kandrup Norvika") + " (*.csv)"};
}

FormatoAgenda Formato(int filtro) {
    return filtro == 2 ? FormatoAgenda::Kandrup : FormatoAgenda::Vostrel;
}

}  // namespace

FormClientes::FormClientes(ContextoConsole& ctx, QWidget* pai)
    : ListaCadastro(ctx, "FormClientes", "Configuração de contatos",
                    {Tr("Cod"), Tr("Contato"), Tr("Identificador")}, pai) {
    btnImportar = AcrescentaBotao("btnImportar", "&Importar", true);
    btnExportar = AcrescentaBotao("btnExportar", "E&xportar");
    btnOk->setObjectName("BtnFechar");
    btnOk->setText(TrLNG("&Fechar"));
    formEdCliente = new FormEdCliente(ctx, this);
    resize(640, 420);
    connect(btnImportar, &QPushButton::clicked, this, &FormClientes::btnImportarClick);
    connect(btnExportar, &QPushButton::clicked, this, &FormClientes::btnExportarClick);
}

void FormClientes::CarregaItens(int codigo) {
    Ampulheta ampulheta;
    std::vector<ItemCliente> itens;
    try {
        itens = CarregaClientes(ctx_.dados);
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Lista de contatos: ") + e.what());
    }
    std::vector<std::vector<std::string>> linhas;
    std::vector<int> codigos;
    for (const ItemCliente& c : itens) {
        linhas.push_back({std::to_string(c.codigo), c.descricao, c.identificador});
        codigos.push_back(c.codigo);
    }
    PreencheGrade(linhas, codigos, codigo);
}

bool FormClientes::RemoveItem(int codigo, const std::string& nome) {
    const AutorHistorico autor{ctx_.UsuarioCodigo, ctx_.UsuarioNome};
    return RemoveCliente(ctx_.dados, ctx_.mensagens, codigo, nome, autor);
}

bool FormClientes::VerificaDDD() {
    if (const auto ddd = LeDDDLocal()) {
        DDDLocal = *ddd;
        return true;
    }
    FormEdDDD dialogo(ctx_, this);
    if (dialogo.exec() != QDialog::Accepted) return false;
    DDDLocal = GravaDDDLocal(dialogo.cbDDD->currentText().toStdString());
    return true;
}

void FormClientes::BtnNovoClick() {
    if (!ctx_.dados.BaseConectada() || !VerificaDDD()) return;
    formEdCliente->CodigoCliente = 0;
    formEdCliente->NomeAnterior.clear();
    formEdCliente->LimpaTela();
    if (formEdCliente->exec() != QDialog::Accepted) return;
    CarregaItens(formEdCliente->CodigoCliente);
}

void FormClientes::BtnEditarClick() {
    const int linha = GridItens->currentRow();
    const int codigo = CodigoDaLinha(linha);
    if (codigo <= 0 || !ctx_.dados.BaseConectada() || !VerificaDDD()) return;
    formEdCliente->CodigoCliente = codigo;
    formEdCliente->NomeAnterior = TextoDaLinha(linha, 1);
    formEdCliente->LimpaTela();
    if (!formEdCliente->CarregaItem()) return;
    if (formEdCliente->exec() != QDialog::Accepted) return;
    CarregaItens(codigo);
}

void FormClientes::BtnApagarClick() {
    const int linha = GridItens->currentRow();
    const int codigo = CodigoDaLinha(linha);
    if (codigo <= 0 || !ctx_.dados.BaseConectada()) return;
    const std::string nome = TextoDaLinha(linha, 1);
    if (ctx_.mensagens.Mostra(TipoMensagem::Confirmacao, Traduz("Confirma exclusão de") + " " +
                                                             nome + " ?") != RespostaMensagem::Sim)
        return;
    if (!RemoveItem(codigo, nome)) return;
    CarregaItens(0);
}

void FormClientes::btnExportarClick() {
    if (!ctx_.dados.BaseConectada() || !VerificaDDD()) return;
    const ArquivoEscolhido escolhido =
        EscolheArquivoSalvar(Tr("Exportar contatos"), FiltrosAgenda(), this);
    if (escolhido.caminho.isEmpty()) return;
    const std::filesystem::path arquivo = NomeArquivoAgenda(escolhido.caminho.toStdString());
    std::string erro;
    try {
        Ampulheta ampulheta;
        auto destino = CriaDestino(arquivo);
        ExportaContatos(ctx_.dados, Formato(escolhido.filtro), DDDLocal, *destino);
    } catch (const SemConexaoBD&) {
        ctx_.dados.BaseConectada();
        return;
    } catch (const FirebirdError& e) {
        if (e.ConexaoPerdida()) return;
        erro = e.what();
    } catch (const std::exception& e) {
        erro = e.what();
    }
    if (!erro.empty()) {
        GravaLogConsole("Exportar contatos: " + erro);
        ctx_.mensagens.Mostra(TipoMensagem::Erro, Traduz("Não foi possível exportar o arquivo") +
                                                      " " + arquivo.string() + "\n" + erro);
        return;
    }
    ctx_.mensagens.Mostra(TipoMensagem::Informacao, Traduz("Arquivo") + " " + arquivo.string() +
                                                        " " + Traduz("foi criado com sucesso"));
}

void FormClientes::btnImportarClick() {
    if (!ctx_.dados.BaseConectada() || !VerificaDDD()) return;
    const ArquivoEscolhido escolhido =
        EscolheArquivoAbrir(Tr("Importar contatos"), FiltrosAgenda(), this);
    if (escolhido.caminho.isEmpty()) return;
    const std::filesystem::path arquivo = escolhido.caminho.toStdString();
    ResultadoImportacao r;
    {
        Ampulheta ampulheta;
        // Linking every database's recordings takes a while: the window
        // keeps answering meanwhile.
        r = ImportaContatos(ctx_.dados, arquivo, Formato(escolhido.filtro), DDDLocal,
                            [this](const std::function<void()>& vincula) {
                                ExecutaComProgresso(
                                    this, Traduz("Vinculando gravações aos contatos. Aguarde ..."),
                                    vincula);
                            });
    }
    if (!r.importado) {
        if (!r.erro.empty()) ctx_.mensagens.Mostra(TipoMensagem::Erro, r.erro);
        return;
    }
    ctx_.mensagens.Mostra(TipoMensagem::Informacao, Traduz("Arquivo") + " " + arquivo.string() +
                                                        " " + Traduz("foi importado"));
    if (!r.falhasVinculo.empty()) {
        std::string texto;
        for (const std::string& l : r.falhasVinculo) texto += (texto.empty() ? "" : "\n") + l;
        ctx_.mensagens.Mostra(TipoMensagem::Aviso, texto);
    }
}
