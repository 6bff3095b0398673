#pragma once
// The history of operations (LOGHISTORY): the console's writer, the texts of
// the operation codes, and the paged model behind the history window.
//
// The console and the service number rows the same way ("highest plus one",
// retried when the other took the code first), so both keep every row. The
// user name and the detail are cut to their columns and mapped to
// Windows-1252 first: a history row is never refused for its text.
//
// Main thread only (MDados' main connection).

#include <QAbstractTableModel>
#include <string>
#include <utility>
#include <vector>

#include "common/DataHora.h"

class MDados;
class Transaction;

// USR_CODIGO of the service's own rows.
inline constexpr int CodigoUsuarioServico = 65535;

// The operation's translated text; empty for codes without one.
std::string DescricaoOperacao(int codigo);
// The code whose text is `texto` (3-21, then 101-104); 0 when none.
int CodigoOperacao(const std::string& texto);
// The history window's operation choices: texts of 3-21 and 101-104 with
// their codes, in alphabetical order of the text (22-25 are not offered).
std::vector<std::pair<std::string, int>> OperacoesFiltro();

// Inserts one row. Failures are logged to the console log and give false;
// nothing is shown (a lost connection is the main window's to report).
// Rows are stamped with the server's time, as the service stamps its own, so
// consoles whose clocks differ still write the history in one order.
bool RegistraHistorico(MDados& dados, int usuarioCodigo, const std::string& usuarioNome,
                       int operacao, const std::string& detalhe);

// The same row inside the caller's transaction, so the change it records and
// the row commit or roll back together. Throws FirebirdError.
void InsereHistorico(Transaction& tr, int usuarioCodigo, const std::string& usuarioNome,
                     int operacao, const std::string& detalhe);

struct FiltroHistorico {
    DataHora inicio;   // first day (time ignored)
    DataHora fim;      // last day (time ignored), included whole
    int usuario = -1;  // USR_CODIGO; -1 all users
    int operacao = 0;  // LOG_OPERACAO; 0 all operations
};

// The rows of one search, fetched in pages as the view scrolls, so a history
// of hundreds of thousands of rows opens at once. Columns "Cod", "Data",
// "Responsável", "Ocorrência", "Informação"; sorting a column orders by its
// stored value (a date by its time, a code by its number), in the database.
class ModeloHistorico final : public QAbstractTableModel {
  public:
    explicit ModeloHistorico(MDados& dados, QObject* pai = nullptr);

    // Runs the search; false (model left empty) when it failed, with the
    // server's message in `erro`.
    bool Pesquisa(const FiltroHistorico& filtro, std::string* erro = nullptr);
    // The same search again, keeping the sort.
    bool Recarrega(std::string* erro = nullptr);
    void Limpa();

    struct Linha {
        int codigo = 0;
        DataHora data;
        int operacao = 0;
        int usuario = 0;
        std::string responsavel;
        std::string informacao;
    };
    const std::vector<Linha>& Linhas() const { return linhas_; }
    bool Completo() const { return completo_; }

    int rowCount(const QModelIndex& pai = {}) const override;
    int columnCount(const QModelIndex& pai = {}) const override;
    QVariant data(const QModelIndex& i, int papel) const override;
    QVariant headerData(int secao, Qt::Orientation o, int papel) const override;
    bool canFetchMore(const QModelIndex& pai) const override;
    void fetchMore(const QModelIndex& pai) override;
    void sort(int coluna, Qt::SortOrder ordem) override;

    static constexpr int TamanhoPagina = 500;

  private:
    bool BuscaPagina(std::vector<Linha>& novas, std::string* erro);

    MDados& dados_;
    FiltroHistorico filtro_;
    bool ativo_ = false;
    int coluna_ = 1;
    Qt::SortOrder ordem_ = Qt::AscendingOrder;
    std::vector<Linha> linhas_;
    bool completo_ = true;
};

// The history window's user choices after the empty one: "Veruzadu" (the
// service, code 65535), then every user by name. An error leaves the list
// with what was read.
std::vector<std::pair<std::string, int>> UsuariosFiltro(MDados& dados);
