#pragma once
// The units' grid of the service status window: one row per PABX unit with
// its SD-card use and the state of its latest download run, read from PABX
// and DWNHISTORY, as a table model the window shows.
//
// Main thread only (it uses MDados). Reading never throws: a database error
// keeps the rows read so far.

#include <QAbstractTableModel>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "common/DataHora.h"

class MDados;

// The console's text of a download step (DWN_OPERATUAL); empty for codes
// without one.
std::string DescricaoOperacaoDownload(int codigo);

// A run's duration as "hh:nn:ss"; hours run past 24 ("25:00:00"). No end, or
// an end not after the start: "00:00:00".
std::string FormataDuracao(const DataHora& inicio, const std::optional<DataHora>& fim);

struct LinhaEstadoCentral {
    int codigo = 0;
    std::array<std::string, 8> colunas;  // Central, Cód, SDCard, Último acesso,
                                         // Duração, Arquivos, Tamanho, Situação
};

// Every unit ordered by its description; a unit without a run keeps only
// its description and code. Errors end the reading (rows so far kept).
std::vector<LinhaEstadoCentral> LeEstadoCentrais(MDados& dados);

class ModeloEstadoCentrais final : public QAbstractTableModel {
  public:
    explicit ModeloEstadoCentrais(QObject* pai = nullptr) : QAbstractTableModel(pai) {}

    // CarregaEstadoCentrais: reads the rows again and replaces the model's.
    void CarregaEstadoCentrais(MDados& dados);
    const std::vector<LinhaEstadoCentral>& Linhas() const { return linhas_; }

    int rowCount(const QModelIndex& pai = {}) const override;
    int columnCount(const QModelIndex& pai = {}) const override;
    QVariant data(const QModelIndex& indice, int papel = Qt::DisplayRole) const override;
    QVariant headerData(int secao, Qt::Orientation orientacao,
                        int papel = Qt::DisplayRole) const override;

  private:
    std::vector<LinhaEstadoCentral> linhas_;
};

struct ServidorGravacao;

// The host name's first IPv4 address, or empty when it has none or the
// lookup takes more than `limiteMs`. Keeps the event loop running meanwhile.
std::string ResolveIPv4(const std::string& nome, int limiteMs = 5000);

// LeUltimoRegistro: the service's address as it published it in CONTROLE,
// its server name resolved again (the resolved address replaces a stale
// one; a name that does not resolve keeps the published address). Gives the
// address label text ("server  ip:port"), or empty when the row cannot be
// read or no address is known; `servidor` then keeps what it held.
std::string LeUltimoRegistro(MDados& dados, ServidorGravacao& servidor);
