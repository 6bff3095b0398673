#pragma once
// The recordings list of one PABX unit: the search filters, the rows of
// LISTAGRV as the recordings window shows them (a QAbstractTableModel of ten
// columns with a check box, a marker role and the row being played), and the
// helpers the window and the player share.
//
// LISTAGRV sorts its whole period before it gives its first row, so a month
// of a busy unit would keep the window waiting. The model asks it for the
// newest part of the period first, in windows of time walked backwards (the
// last hours first, each next window twice as long); each window is one call of the procedure in a
// short read-only transaction of its own, its lower bound inclusive and its upper bound exclusive
// (but for the first), so no recording is read twice or skipped. Nothing stays open while the list
// is idle. Every value reaches the server as a bound parameter; prefix filters use STARTING WITH,
// so "%" and "_" are plain characters. Rows are newest first, by time and then by code. A user who
// is not an administrator has his extensions handed to the procedure in the search's transaction
// (TMP_RAMALVISTO), so the server leaves out the rows he cannot see before it sorts them;
// VisaoUsuario::Ve still decides.
//
// No BLOB is ever read here. Main thread only (MDados' per-PABX connection).
// Nothing throws: a failed search is logged and leaves the list incomplete.

#include <QAbstractTableModel>
#include <functional>
#include <string>
#include <vector>

#include "common/DataHora.h"

class MDados;

// 0 → "Int", 1 → "Ori", 2 → "Rec" (translated), anything else empty.
std::string TipoLigacaoAbrev(int tipo);
// "hh:nn:ss" with at least two digits each (360000 gives "100:00:00").
std::string SegundosParaHora(long long segundos);
// Duration cell markers (at most 20 characters each).
std::string MarcaSemArquivo();
std::string MarcaSemAudio();

struct FiltroGravacoes {
    DataHora inicio;            // inclusive
    DataHora fim;               // inclusive
    int tipoLigacao = -1;       // GRV_TPLIGA; -1 any
    std::string ramal;          // prefix of GRV_RAMGRAVADO
    std::string telefone;       // prefix of GRV_DESTINO
    std::string grupo;          // prefix of GRP_DESCRICAO
    std::string identificador;  // GRV_IDENTIFICA, exact
    std::string cliente;        // CLI_DESCRICAO, exact
    std::string cnpj;           // CLI_IDENTIFICADOR, exact
};

// Who sees which rows: an administrator every row, anyone else the rows whose
// trimmed extension is an entry of `ramais` (compared without regard to case;
// the list of Acesso::CarregaListaRamaisUsuarios).
struct VisaoUsuario {
    bool administrador = false;
    std::vector<std::string> ramais;
    bool Ve(std::string_view ramal) const;
};

struct LinhaGravacao {
    int codigo = 0;
    DataHora data;
    int tipoLigacao = 0;
    std::string ramal;
    std::string destino;
    int duracao = 0;
    int temAudio = 0;
    std::string grupo;
    std::string cliente;
    std::string identificador;
    std::string cnpj;
    bool marcada = false;
    // The duration cell: the duration, or a marker.
    std::string Duracao() const;
    bool TemMarcador() const { return temAudio != 1; }
};

class ModeloGravacoes final : public QAbstractTableModel {
  public:
    enum Coluna {
        ColCodigo,
        ColMarca,
        ColData,
        ColLigacao,
        ColRamal,
        ColTelefone,
        ColDuracao,
        ColGrupo,
        ColContato,
        ColIdentificador,
        NumeroColunas
    };
    // True on rows whose duration cell holds a marker (painted red).
    static constexpr int PapelMarcador = Qt::UserRole + 1;
    // True on the row being played.
    static constexpr int PapelTocando = Qt::UserRole + 2;

    explicit ModeloGravacoes(MDados& dados, QObject* pai = nullptr);

    // A new search: the list is emptied and its first page read. False when
    // the server failed (logged; Completo() false; the rows read stay).
    bool Pesquisa(const FiltroGravacoes& filtro, const VisaoUsuario& visao);
    // The same search again, reading at least as many rows as were shown, so
    // the selected code can be found again. Same answer as Pesquisa.
    bool Recarrega();
    void Limpa();

    bool Completo() const { return completo_; }
    bool Pesquisado() const { return ativo_; }
    const std::vector<LinhaGravacao>& Linhas() const { return linhas_; }
    const LinhaGravacao* Linha(int linha) const;
    // Row of a code among those read, -1 when none.
    int LinhaDoCodigo(int codigo) const;

    // Rows are numbered from 1 here, as the player counts them; 0 is none.
    // The first ticked row after `linha`, 0 when none.
    int ProximaLinhaSelecionada(int linha) const;
    // Ticked rows top to bottom (numbered from 1).
    std::vector<int> LinhasMarcadas() const;
    bool AlgumaMarcada() const;
    void Marca(int linha, bool marcada);
    int LinhaTocando() const { return tocando_; }
    void DefineLinhaTocando(int linha);
    // Contact and identifier of a row after an edit.
    void AtualizaEdicao(int codigo, const std::string& cliente, const std::string& identificador);

    // GRV_CODIGO of the row last clicked or edited; 0 after show and clear.
    int CodigoSelecionado = 0;
    // Called after a check box changed (by the user or by Marca), with the row
    // (numbered from 1).
    std::function<void(int linha)> AoMarcar;

    int rowCount(const QModelIndex& pai = {}) const override;
    int columnCount(const QModelIndex& pai = {}) const override;
    QVariant data(const QModelIndex& i, int papel) const override;
    bool setData(const QModelIndex& i, const QVariant& valor, int papel) override;
    Qt::ItemFlags flags(const QModelIndex& i) const override;
    QVariant headerData(int secao, Qt::Orientation o, int papel) const override;
    bool canFetchMore(const QModelIndex& pai) const override;
    void fetchMore(const QModelIndex& pai) override;

    // Rows a fetch reads at least (unless the period ends first).
    static constexpr int TamanhoPagina = 500;
    // The first window of time, in seconds.
    static constexpr long long JanelaInicial = 6 * 3600;

  private:
    // Reads windows until `minimo` new rows were kept or the period ends.
    bool LeJanelas(std::size_t minimo);
    bool LeJanela(const DataHora& ini, const DataHora& fim, bool fimInclusivo,
                  std::vector<LinhaGravacao>& novas);

    MDados& dados_;
    FiltroGravacoes filtro_;
    VisaoUsuario visao_;
    bool ativo_ = false;
    bool completo_ = true;
    bool falhou_ = false;
    // The part of the period still to read is [filtro_.inicio, proximoFim_),
    // its end inclusive while nothing was read yet.
    DataHora proximoFim_;
    bool primeiraJanela_ = true;
    bool esgotado_ = true;
    long long janela_ = JanelaInicial;
    std::vector<LinhaGravacao> linhas_;
    int tocando_ = 0;
};
