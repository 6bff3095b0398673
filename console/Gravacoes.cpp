#include "console/Gravacoes.h"

#include <algorithm>
#include <functional>

#include "common/Texto.h"
#include "common/Traducao.h"
#include "common/db/Firebird.h"
#include "console/MDados.h"
#include "console/UtilConsole.h"

std::string TipoLigacaoAbrev(int tipo) {
    switch (tipo) {
        case 0: return Traduz("Int");
        case 1: return Traduz("Ori");
        case 2: return Traduz("Rec");
        default: return {};
    }
}

std::string SegundosParaHora(long long segundos) {
    if (segundos < 0) segundos = 0;
    auto dois = [](long long v) {
        std::string s = std::to_string(v);
        return s.size() < 2 ? "0" + s : s;
    };
    return dois(segundos / 3600) + ":" + dois(segundos % 3600 / 60) + ":" + dois(segundos % 60);
}

std::string MarcaSemArquivo() { return CortaUtf8(Traduz("Sem arquivo"), 20); }

std::string MarcaSemAudio() { return CortaUtf8(Traduz("Sem áudio"), 20); }

bool VisaoUsuario::Ve(std::string_view ramal) const {
    if (administrador) return true;
    const std::string r = Apara(ramal);
    return std::any_of(ramais.begin(), ramais.end(),
                       [&](const std::string& e) { return IgualSemCaixa(Apara(e), r); });
}

std::string LinhaGravacao::Duracao() const {
    if (temAudio == 1) return SegundosParaHora(duracao);
    return temAudio == 2 ? MarcaSemArquivo() : MarcaSemAudio();
}

ModeloGravacoes::ModeloGravacoes(MDados& dados, QObject* pai)
    : QAbstractTableModel(pai), dados_(dados) {}

const LinhaGravacao* ModeloGravacoes::Linha(int linha) const {
    if (linha < 0 || linha >= static_cast<int>(linhas_.size())) return nullptr;
    return &linhas_[static_cast<std::size_t>(linha)];
}

int ModeloGravacoes::LinhaDoCodigo(int codigo) const {
    for (std::size_t i = 0; i < linhas_.size(); ++i)
        if (linhas_[i].codigo == codigo) return static_cast<int>(i);
    return -1;
}

void ModeloGravacoes::Limpa() {
    beginResetModel();
    linhas_.clear();
    ativo_ = false;
    completo_ = true;
    falhou_ = false;
    esgotado_ = true;
    tocando_ = 0;
    endResetModel();
}

bool ModeloGravacoes::Pesquisa(const FiltroGravacoes& filtro, const VisaoUsuario& visao) {
    beginResetModel();
    linhas_.clear();
    filtro_ = filtro;
    visao_ = visao;
    ativo_ = true;
    falhou_ = false;
    tocando_ = 0;
    proximoFim_ = filtro.fim;
    primeiraJanela_ = true;
    janela_ = JanelaInicial;
    esgotado_ = filtro.inicio > filtro.fim;
    endResetModel();
    fetchMore({});
    completo_ = !falhou_;
    return !falhou_;
}

bool ModeloGravacoes::Recarrega() {
    if (!ativo_) return true;
    const std::size_t mostradas = linhas_.size();
    const FiltroGravacoes f = filtro_;
    const VisaoUsuario v = visao_;
    if (!Pesquisa(f, v)) return false;
    while (linhas_.size() < mostradas && canFetchMore({})) fetchMore({});
    return !falhou_;
}

bool ModeloGravacoes::canFetchMore(const QModelIndex& pai) const {
    return !pai.isValid() && ativo_ && !esgotado_ && !falhou_;
}

void ModeloGravacoes::fetchMore(const QModelIndex& pai) {
    if (!canFetchMore(pai)) return;
    LeJanelas(TamanhoPagina);
}

bool ModeloGravacoes::LeJanelas(std::size_t minimo) {
    std::vector<LinhaGravacao> novas;
    while (!esgotado_ && novas.size() < minimo) {
        const long long fimSeg = SegundosDesdeEpoca(proximoFim_);
        const long long iniSeg = SegundosDesdeEpoca(filtro_.inicio);
        DataHora ini =
            fimSeg - janela_ <= iniSeg ? filtro_.inicio : DataHoraDeSegundos(fimSeg - janela_);
        if (!LeJanela(ini, proximoFim_, primeiraJanela_, novas)) {
            falhou_ = true;
            completo_ = false;
            break;
        }
        primeiraJanela_ = false;
        proximoFim_ = ini;
        if (ini <= filtro_.inicio) esgotado_ = true;
        // Every call of the procedure has a fixed cost (it reads the unit's
        // group rows of the main database), so each next window is twice as
        // long: the first page stays small and a whole month is a handful of
        // calls, not one per few hours.
        if (janela_ < 400LL * 86400) janela_ *= 2;
    }
    if (!novas.empty()) {
        const int primeira = static_cast<int>(linhas_.size());
        beginInsertRows({}, primeira, primeira + static_cast<int>(novas.size()) - 1);
        linhas_.insert(linhas_.end(), std::make_move_iterator(novas.begin()),
                       std::make_move_iterator(novas.end()));
        endInsertRows();
    }
    return !falhou_;
}

bool ModeloGravacoes::LeJanela(const DataHora& ini, const DataHora& fim, bool fimInclusivo,
                               std::vector<LinhaGravacao>& novas) {
    std::string sql =
        "SELECT GRV_CODIGO, GRV_RAMGRAVADO, GRV_DESTINO, GRV_DATAGRV, GRV_TPLIGA, "
        "GRV_IDENTIFICA, GRV_DURACAO, CLI_DESCRICAO, CLI_IDENTIFICADOR, GRP_DESCRICAO, "
        "GRV_TEMAUDIO FROM LISTAGRV(?, ?)";
    std::vector<std::function<void(Statement&, unsigned)>> valores;
    std::string condicao;
    auto junta = [&](const char* peca, std::function<void(Statement&, unsigned)> v) {
        condicao += condicao.empty() ? " WHERE " : " AND ";
        condicao += peca;
        valores.push_back(std::move(v));
    };
    auto texto = [](std::string t) {
        return [t = std::move(t)](Statement& st, unsigned i) { st.SetText(i, t); };
    };
    if (!fimInclusivo)
        junta("GRV_DATAGRV < ?", [fim](Statement& st, unsigned i) { st.SetTimestamp(i, fim); });
    if (filtro_.tipoLigacao >= 0)
        junta("GRV_TPLIGA = ?",
              [t = filtro_.tipoLigacao](Statement& st, unsigned i) { st.SetInt(i, t); });
    const std::string ramal = Apara(filtro_.ramal), fone = Apara(filtro_.telefone),
                      grupo = Apara(filtro_.grupo), ident = Apara(filtro_.identificador),
                      cliente = Apara(filtro_.cliente), cnpj = Apara(filtro_.cnpj);
    if (!ramal.empty()) junta("GRV_RAMGRAVADO STARTING WITH ?", texto(ramal));
    if (!fone.empty()) junta("GRV_DESTINO STARTING WITH ?", texto(fone));
    if (!grupo.empty()) junta("GRP_DESCRICAO STARTING WITH ?", texto(grupo));
    if (!ident.empty()) junta("GRV_IDENTIFICA = ?", texto(ident));
    if (!cliente.empty()) junta("CLI_DESCRICAO = ?", texto(cliente));
    if (!cnpj.empty()) junta("CLI_IDENTIFICADOR = ?", texto(cnpj));
    sql += condicao;

    // A user who is not an administrator sees the rows of his extensions only:
    // the procedure is given them (TMP_RAMALVISTO), so it sorts and sends no
    // row he cannot see. It leaves out only rows no entry can match; the
    // comparison below stays the one that decides.
    std::vector<std::string> vistos;
    if (!visao_.administrador) {
        if (visao_.ramais.empty()) return true;  // nothing can be seen
        for (const std::string& e : visao_.ramais) {
            // Blank entries match blank extensions, which the procedure always
            // gives; longer ones match no extension.
            std::string r = Apara(e);
            if (r.empty() || ContaCaracteresUtf8(r) > 30) continue;
            if (std::find(vistos.begin(), vistos.end(), r) == vistos.end())
                vistos.push_back(std::move(r));
        }
    }
    std::vector<LinhaGravacao> lidas;
    try {
        dados_.ExecutaPABX([&](Transaction& tr) {
            if (!vistos.empty()) {
                try {
                    Statement ins(tr, "INSERT INTO TMP_RAMALVISTO (RAMAL) VALUES (UPPER(CAST(? AS "
                                      "VARCHAR(30))))");
                    for (const std::string& r : vistos) {
                        ins.SetText(0, r);
                        ins.Executa();
                    }
                } catch (const FirebirdError&) {
                    // A unit whose procedure could not be brought up to date
                    // has no such table: the comparison below filters alone.
                    // A lost connection fails the search on the next statement.
                }
            }
            Statement st(tr, sql);
            st.SetTimestamp(0, ini).SetTimestamp(1, fim);
            for (std::size_t i = 0; i < valores.size(); ++i)
                valores[i](st, static_cast<unsigned>(i + 2));
            Cursor c = st.Abre();
            while (c.Proxima()) {
                if (!visao_.Ve(c.GetText(1))) continue;
                LinhaGravacao l;
                l.codigo = c.GetInt(0);
                l.ramal = Apara(c.GetText(1));
                l.destino = Apara(c.GetText(2));
                l.data = c.GetTimestamp(3);
                l.tipoLigacao = c.IsNull(4) ? -1 : c.GetSmallInt(4);
                l.identificador = Apara(c.GetText(5));
                l.duracao = c.GetInt(6);
                l.cliente = c.GetText(7);
                l.cnpj = Apara(c.GetText(8));
                l.grupo = Apara(c.GetText(9));
                l.temAudio = c.GetSmallInt(10);
                lidas.push_back(std::move(l));
            }
            c.Fecha();
        });
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Pesquisa de gravações: ") + e.what());
        return false;
    }
    // The procedure gives the window oldest first; the list is newest first.
    std::stable_sort(lidas.begin(), lidas.end(),
                     [](const LinhaGravacao& a, const LinhaGravacao& b) {
                         if (a.data != b.data) return a.data > b.data;
                         return a.codigo > b.codigo;
                     });
    novas.insert(novas.end(), std::make_move_iterator(lidas.begin()),
                 std::make_move_iterator(lidas.end()));
    return true;
}

int ModeloGravacoes::ProximaLinhaSelecionada(int linha) const {
    for (std::size_t i = static_cast<std::size_t>(std::max(linha, 0)); i < linhas_.size(); ++i)
        if (linhas_[i].marcada) return static_cast<int>(i) + 1;
    return 0;
}

std::vector<int> ModeloGravacoes::LinhasMarcadas() const {
    std::vector<int> r;
    for (std::size_t i = 0; i < linhas_.size(); ++i)
        if (linhas_[i].marcada) r.push_back(static_cast<int>(i) + 1);
    return r;
}

bool ModeloGravacoes::AlgumaMarcada() const {
    return std::any_of(linhas_.begin(), linhas_.end(), [](const auto& l) { return l.marcada; });
}

void ModeloGravacoes::Marca(int linha, bool marcada) {
    if (linha < 1 || linha > static_cast<int>(linhas_.size())) return;
    linhas_[static_cast<std::size_t>(linha - 1)].marcada = marcada;
    const QModelIndex i = index(linha - 1, ColMarca);
    Q_EMIT dataChanged(i, i, {Qt::CheckStateRole});
    if (AoMarcar) AoMarcar(linha);
}

void ModeloGravacoes::DefineLinhaTocando(int linha) {
    const int antes = tocando_;
    tocando_ = linha;
    for (int l : {antes, linha})
        if (l >= 1 && l <= static_cast<int>(linhas_.size()))
            Q_EMIT dataChanged(index(l - 1, 0), index(l - 1, NumeroColunas - 1));
}

void ModeloGravacoes::AtualizaEdicao(int codigo, const std::string& cliente,
                                     const std::string& identificador) {
    for (std::size_t i = 0; i < linhas_.size(); ++i) {
        if (linhas_[i].codigo != codigo) continue;
        linhas_[i].cliente = cliente;
        linhas_[i].identificador = identificador;
        Q_EMIT dataChanged(index(static_cast<int>(i), ColContato),
                           index(static_cast<int>(i), ColIdentificador));
    }
}

int ModeloGravacoes::rowCount(const QModelIndex& pai) const {
    return pai.isValid() ? 0 : static_cast<int>(linhas_.size());
}

int ModeloGravacoes::columnCount(const QModelIndex& pai) const {
    return pai.isValid() ? 0 : NumeroColunas;
}

QVariant ModeloGravacoes::data(const QModelIndex& i, int papel) const {
    const LinhaGravacao* l = Linha(i.row());
    if (!l) return {};
    if (papel == PapelMarcador) return l->TemMarcador();
    if (papel == PapelTocando) return tocando_ == i.row() + 1;
    if (papel == Qt::CheckStateRole && i.column() == ColMarca)
        return l->marcada ? Qt::Checked : Qt::Unchecked;
    if (papel == Qt::TextAlignmentRole && i.column() == ColData)
        return QVariant::fromValue(Qt::AlignCenter);
    if (papel != Qt::DisplayRole) return {};
    auto q = [](const std::string& s) { return QString::fromStdString(s); };
    switch (i.column()) {
        case ColCodigo: return QString::number(l->codigo);
        case ColData: return q(FormataDataHora(l->data, "dd/mm/yy hh:nn:ss"));
        case ColLigacao: return q(TipoLigacaoAbrev(l->tipoLigacao));
        case ColRamal: return q(l->ramal);
        case ColTelefone: return q(l->destino);
        case ColDuracao: return q(l->Duracao());
        case ColGrupo: return q(l->grupo);
        case ColContato: return q(l->cliente);
        case ColIdentificador: return q(l->identificador);
        default: return {};
    }
}

bool ModeloGravacoes::setData(const QModelIndex& i, const QVariant& valor, int papel) {
    if (papel != Qt::CheckStateRole || i.column() != ColMarca || !Linha(i.row())) return false;
    Marca(i.row() + 1, valor.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags ModeloGravacoes::flags(const QModelIndex& i) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(i);
    if (i.column() == ColMarca) f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant ModeloGravacoes::headerData(int secao, Qt::Orientation o, int papel) const {
    if (o != Qt::Horizontal || papel != Qt::DisplayRole) return {};
    static const char* const titulos[NumeroColunas] = {
        "Cod",      "",        "Data",  "Ligação", "Ramal",
        "Telefone", "Duração", "Grupo", "Contato", "Identificador"};
    if (secao < 0 || secao >= NumeroColunas || !*titulos[secao]) return QString();
    return QString::fromStdString(Traduz(titulos[secao]));
}
