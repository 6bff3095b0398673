#include "console/Historico.h"

#include <algorithm>
#include <map>

#include "common/Traducao.h"
#include "common/db/Esquema.h"
#include "common/db/OperacaoHistorico.h"
#include "common/db/Firebird.h"
#include "console/MDados.h"
#include "console/TextoColuna.h"
#include "console/UtilConsole.h"

namespace {

const std::map<int, const char*>& Textos() {
    using namespace Operacao;
    static const std::map<int, const char*> t{
        {RemovidoOriginadas, "Removido: originadas"},
        {RemovidoRecebidas, "Removido: recebidas"},
        {RemovidoInternas, "Removido: internas"},
        {EditadoConfiguracao, "Editado: configuração"},
        {EditadoAlertas, "Editado: alertas"},
        {InseridoRamal, "Inserido: ramal"},
        {RemovidoRamal, "Removido: ramal"},
        {EditadoRamal, "Editado: ramal"},
        {InseridoUsuario, "Inserido: usuário"},
        {RemovidoUsuario, "Removido: usuário"},
        {EditadoUsuario, "Editado: usuário"},
        {InseridoCliente, "Inserido: cliente"},
        {RemovidoCliente, "Removido: cliente"},
        {EditadoCliente, "Editado: cliente"},
        {InseridoGrupo, "Inserido: grupo"},
        {RemovidoGrupo, "Removido: grupo"},
        {EditadoGrupo, "Editado: grupo"},
        {AcessadoGravacao, "Acessado: gravação"},
        {EditadoGravacao, "Editado: gravação"},
        {ExportadoGravacao, "Exportado: gravação"},
        {InseridoCentral, "Inserido: central"},
        {RemovidoCentral, "Removido: central"},
        {EditadoCentral, "Editado: central"},
        {ServicoIniciado, "Usuário iniciou veruzadu"},
        {ServicoParado, "Usuário parou veruzadu"},
        {AvisoServico, "Aviso do veruzadu"},
        {ErroServico, "Erro do veruzadu"},
    };
    return t;
}

bool Pesquisavel(int c) {
    return (c >= Operacao::RemovidoOriginadas && c <= Operacao::EditadoGravacao) ||
           (c >= Operacao::ServicoIniciado && c <= Operacao::ErroServico);
}

}  // namespace

std::string DescricaoOperacao(int codigo) {
    auto i = Textos().find(codigo);
    return i == Textos().end() ? std::string() : Traduz(i->second);
}

int CodigoOperacao(const std::string& texto) {
    if (texto.empty()) return 0;
    for (const auto& [codigo, t] : Textos())
        if (Pesquisavel(codigo) && Traduz(t) == texto) return codigo;
    return 0;
}

std::vector<std::pair<std::string, int>> OperacoesFiltro() {
    std::vector<std::pair<std::string, int>> r;
    for (const auto& [codigo, t] : Textos())
        if (Pesquisavel(codigo)) r.emplace_back(Traduz(t), codigo);
    std::sort(r.begin(), r.end());
    return r;
}

void InsereHistorico(Transaction& tr, int usuarioCodigo, const std::string& usuarioNome,
                     int operacao, const std::string& detalhe) {
    const std::string nome = AjustaColuna(usuarioNome, 30);
    const std::string texto = AjustaColuna(detalhe, 120);
    InsereComProximoCodigo(tr, "LOGHISTORY", "LOG_CODIGO", [&](Transaction& t, std::int32_t n) {
        Statement st(t, "INSERT INTO LOGHISTORY (LOG_CODIGO, LOG_DATARG, LOG_OPERACAO, "
                        "USR_CODIGO, LOG_USUARIO, LOG_DETALHES) VALUES (?, 'NOW', ?, ?, ?, ?)");
        st.SetInt(0, n).SetInt(1, operacao).SetInt(2, usuarioCodigo);
        st.SetText(3, nome).SetText(4, texto);
        st.Executa();
    });
}

bool RegistraHistorico(MDados& dados, int usuarioCodigo, const std::string& usuarioNome,
                       int operacao, const std::string& detalhe) {
    // Each attempt is a transaction of its own: a code another writer took
    // meanwhile is found again by a fresh one.
    for (int tentativa = 1;; ++tentativa) {
        try {
            dados.Executa([&](Transaction& tr) {
                InsereHistorico(tr, usuarioCodigo, usuarioNome, operacao, detalhe);
            });
            return true;
        } catch (const FirebirdError& e) {
            if (e.ChaveDuplicada() && tentativa < 20) continue;
            GravaLogConsole("Histórico " + std::to_string(operacao) + " não gravado: " + e.what());
            return false;
        } catch (const std::exception& e) {
            GravaLogConsole("Histórico " + std::to_string(operacao) + " não gravado: " + e.what());
            return false;
        }
    }
}

// ----------------------------------------------------------------- model

ModeloHistorico::ModeloHistorico(MDados& dados, QObject* pai)
    : QAbstractTableModel(pai), dados_(dados) {}

void ModeloHistorico::Limpa() {
    beginResetModel();
    linhas_.clear();
    ativo_ = false;
    completo_ = true;
    endResetModel();
}

bool ModeloHistorico::Pesquisa(const FiltroHistorico& filtro, std::string* erro) {
    filtro_ = filtro;
    return Recarrega(erro);
}

bool ModeloHistorico::Recarrega(std::string* erro) {
    beginResetModel();
    linhas_.clear();
    ativo_ = true;
    completo_ = false;
    std::vector<Linha> novas;
    const bool ok = BuscaPagina(novas, erro);
    if (ok)
        linhas_ = std::move(novas);
    else {
        ativo_ = false;
        completo_ = true;
    }
    endResetModel();
    return ok;
}

bool ModeloHistorico::BuscaPagina(std::vector<Linha>& novas, std::string* erro) {
    // The order a column sorts by: its stored value, then the code, so pages never overlap.
    static const char* const colunas[] = {
        "LOG_CODIGO", "LOG_DATARG", "CASE WHEN USR_CODIGO = 65535 THEN '' ELSE LOG_USUARIO END",
        "LOG_OPERACAO", "LOG_DETALHES"};
    const char* direcao = ordem_ == Qt::AscendingOrder ? " ASC" : " DESC";
    std::string sql =
        "SELECT LOG_CODIGO, LOG_DATARG, LOG_OPERACAO, USR_CODIGO, LOG_USUARIO, LOG_DETALHES "
        "FROM LOGHISTORY WHERE LOG_DATARG >= ? AND LOG_DATARG < ?";
    if (filtro_.usuario >= 0) sql += " AND USR_CODIGO = ?";
    if (filtro_.operacao != 0) sql += " AND LOG_OPERACAO = ?";
    sql += std::string(" ORDER BY ") + colunas[std::clamp(coluna_, 0, 4)] + direcao;
    if (coluna_ != 0) sql += std::string(", LOG_CODIGO") + direcao;
    sql += " ROWS ? TO ?";
    try {
        dados_.Executa([&](Transaction& tr) {
            Statement st(tr, sql);
            unsigned p = 0;
            st.SetTimestamp(p++, SoData(filtro_.inicio));
            st.SetTimestamp(p++, SomaDias(SoData(filtro_.fim), 1));
            if (filtro_.usuario >= 0) st.SetInt(p++, filtro_.usuario);
            if (filtro_.operacao != 0) st.SetInt(p++, filtro_.operacao);
            const auto primeira = static_cast<std::int64_t>(linhas_.size()) + 1;
            st.SetBigInt(p++, primeira);
            st.SetBigInt(p++, primeira + TamanhoPagina - 1);
            auto c = st.Abre();
            while (c.Proxima()) {
                Linha l;
                l.codigo = c.GetInt(0);
                if (!c.IsNull(1)) l.data = c.GetTimestamp(1);
                l.operacao = c.IsNull(2) ? 0 : c.GetInt(2);
                l.usuario = c.IsNull(3) ? 0 : c.GetInt(3);
                l.responsavel = l.usuario == CodigoUsuarioServico ? Traduz("Veruzadu")
                                : c.IsNull(4)                     ? std::string()
                                                                  : c.GetText(4);
                l.informacao = c.IsNull(5) ? std::string() : c.GetText(5);
                novas.push_back(std::move(l));
            }
        });
    } catch (const std::exception& e) {
        if (erro) *erro = e.what();
        GravaLogConsole(std::string("Pesquisa do histórico: ") + e.what());
        completo_ = true;
        return false;
    }
    completo_ = static_cast<int>(novas.size()) < TamanhoPagina;
    return true;
}

int ModeloHistorico::rowCount(const QModelIndex& pai) const {
    return pai.isValid() ? 0 : static_cast<int>(linhas_.size());
}

int ModeloHistorico::columnCount(const QModelIndex& pai) const { return pai.isValid() ? 0 : 5; }

QVariant ModeloHistorico::data(const QModelIndex& i, int papel) const {
    if (papel != Qt::DisplayRole || !i.isValid() || i.row() >= rowCount()) return {};
    const Linha& l = linhas_[static_cast<std::size_t>(i.row())];
    switch (i.column()) {
        case 0: return QString::number(l.codigo);
        case 1: return QString::fromStdString(FormataDataHora(l.data, "dd/mm/yyyy hh:nn:ss"));
        case 2: return QString::fromStdString(l.responsavel);
        case 3: return QString::fromStdString(DescricaoOperacao(l.operacao));
        case 4: return QString::fromStdString(l.informacao);
    }
    return {};
}

QVariant ModeloHistorico::headerData(int secao, Qt::Orientation o, int papel) const {
    if (o != Qt::Horizontal || papel != Qt::DisplayRole) return {};
    switch (secao) {
        case 0: return QStringLiteral("Cod");
        case 1: return QString::fromStdString(Traduz("Data"));
        case 2: return QString::fromStdString(Traduz("Responsável"));
        case 3: return QString::fromStdString(Traduz("Ocorrência"));
        case 4: return QString::fromStdString(Traduz("Informação"));
    }
    return {};
}

bool ModeloHistorico::canFetchMore(const QModelIndex& pai) const {
    return !pai.isValid() && ativo_ && !completo_;
}

void ModeloHistorico::fetchMore(const QModelIndex& pai) {
    if (!canFetchMore(pai)) return;
    std::vector<Linha> novas;
    if (!BuscaPagina(novas, nullptr) || novas.empty()) return;
    const int antes = rowCount();
    beginInsertRows({}, antes, antes + static_cast<int>(novas.size()) - 1);
    for (auto& l : novas) linhas_.push_back(std::move(l));
    endInsertRows();
}

void ModeloHistorico::sort(int coluna, Qt::SortOrder ordem) {
    if (coluna < 0 || coluna > 4) return;
    coluna_ = coluna;
    ordem_ = ordem;
    if (ativo_) Recarrega();
}

std::vector<std::pair<std::string, int>> UsuariosFiltro(MDados& dados) {
    std::vector<std::pair<std::string, int>> r{{Traduz("Veruzadu"), CodigoUsuarioServico}};
    try {
        dados.Executa([&](Transaction& tr) {
            Statement st(tr, "SELECT USR_CODIGO, USR_NOME FROM USUARIO ORDER BY USR_NOME");
            auto c = st.Abre();
            while (c.Proxima())
                r.emplace_back(c.IsNull(1) ? std::string() : c.GetText(1), c.GetInt(0));
        });
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Usuários do histórico: ") + e.what());
    }
    return r;
}
