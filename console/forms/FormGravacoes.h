#pragma once
// "Pesquisa de registro de gravações": the recordings of one unit, searched
// by period and filters and listed newest first through ModeloGravacoes
// (paged; never reads audio); the player's controls (the player itself comes
// in through ReproducaoGravacoes, see console/ReproducaoGravacoes.h), the
// export of the ticked recordings to a folder and their edit (contact and
// identifier, FormEdGrava).
//
// Made once; opened modally by Abre after the opener connected the unit's
// database. Every action first checks that the connected unit is CodigoPABX:
// after a failed change of unit the window shows no unit and refuses them.
// Main thread only.

#include <QDialog>
#include <memory>
#include <string>

#include "console/Gravacoes.h"
#include "console/ReproducaoGravacoes.h"

class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;
class QTableView;
class QTimeEdit;
class QTimer;
class QToolButton;
struct ContextoConsole;
class FormEdGrava;

class FormGravacoes final : public QDialog {
  public:
    explicit FormGravacoes(ContextoConsole& ctx, QWidget* pai = nullptr);
    ~FormGravacoes() override;

    // Shows the unit `codigo` (its database connected by the caller) modally.
    int Abre(int codigo, const std::string& nome);
    // The unit shown, its extensions for the logged-in user and its name;
    // false (no unit shown) when `codigo` is not the connected unit.
    bool DefineCentral(int codigo, const std::string& nome);
    bool UnidadeConectada() const;

    void btnPesquisaClick();
    void btnLimparClick();
    void spBtnCentraisClick();
    void TimerEventosTimer();
    void btnSalvarClick();
    void btnEditarClick();
    // The reload timer on or off (the player turns it off while it plays).
    void LigaRecarga(bool liga);
    // The filter of the fields as they stand.
    FiltroGravacoes Filtro() const;
    // Seam: the folder the export writes to; empty when the user cancelled.
    std::function<std::string()> EscolhePastaExportacao;

    ModeloGravacoes& Modelo() { return *modelo_; }
    int CodigoPABX = 0;
    int& CodigoSelecionado();
    // Installed after construction; may stay empty (no playback).
    std::unique_ptr<ReproducaoGravacoes> Reproducao;

    QLineEdit* meCentral = nullptr;
    QPushButton* spBtnCentrais = nullptr;
    QDateEdit *dtIni = nullptr, *dtFim = nullptr;
    QTimeEdit *hrIni = nullptr, *hrFim = nullptr;
    QComboBox* cbLigacao = nullptr;
    QLineEdit *meRamal = nullptr, *meFone = nullptr, *meGrupo = nullptr, *meIdentificador = nullptr,
              *meCliente = nullptr, *meCNPJ = nullptr;
    QPushButton *btnPesquisa = nullptr, *btnLimpar = nullptr;
    QTableView* GridGrv = nullptr;
    QToolButton *btnRewind = nullptr, *btnPlay = nullptr, *btnForward = nullptr, *btnStop = nullptr;
    QSlider* TrackSound = nullptr;
    QLabel *LabelTrackIni = nullptr, *LabelTrackFim = nullptr;
    // Shown while the list is incomplete because its search failed.
    QLabel* LabelIncompleta = nullptr;
    QTimer* TimerPlay = nullptr;
    QTimer* TimerEventos = nullptr;
    QPushButton *btnEditar = nullptr, *btnSalvar = nullptr, *btnFechar = nullptr;
    std::unique_ptr<FormEdGrava> formEdGrava;

  protected:
    void showEvent(QShowEvent* e) override;
    void done(int r) override;
    void keyPressEvent(QKeyEvent* e) override;

  private:
    void LimpaFiltros();
    void PlayerEmRepouso();
    void AoMarcar(int linha);
    void AoClicarCelula(const QModelIndex& i);
    void AtualizaBotoes();

    ContextoConsole& ctx_;
    ModeloGravacoes* modelo_ = nullptr;
};
