#pragma once
// "Configuração de ramais do Veruzadu": one unit's extension recording
// configuration as its database keeps it (RMLPERMISS, RAMALGRAVA), with the
// read-out of the whole configuration and extension directory from the PABX
// ("Atualiza") through the extension link (LinkRamais). Made once and
// reused; main thread only.
//
// A read-out writes nothing until it completed: then the directory and both
// tables are replaced in one transaction, the groups' names refreshed and,
// only when both worked, the unit's PAB_DNSUPDATE cleared. Any other end
// shows its message and leaves the tables, groups and flag as they were.
//
// The configuration editor and the programming of the PABX come in through
// the seams below; without one, its button does nothing (and a deletion is
// reported as not sent to the PABX).

#include <QDialog>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "console/LinkRamais.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;
struct ContextoConsole;

class FormCfgRamais final : public QDialog {
  public:
    explicit FormCfgRamais(ContextoConsole& ctx, QWidget* pai = nullptr);
    ~FormCfgRamais() override;

    // The units window's entry: shows the unit (whose database is
    // connected) modally; a unit without configured extensions is read from
    // the PABX at once.
    void Abre(int codigo, const std::string& nome);

    // Fills the grid and selects the row of `ramal` (empty: the first).
    void CarregaConfiguracaoRamais(const std::string& ramal);
    void IniciaLeitura();
    void btnNovoClick();
    void btnEditarClick();
    void btnApagarClick();
    void spBtnCentraisClick();
    void TimerEventosTimer();

    int CodigoPABX = 0;
    bool LeituraPendente = false;
    std::string RamalSelecionado;
    bool Executando() const;
    // The last read-out's end mark (0 before the first).
    std::uint8_t UltimaMarca = 0;

    // Seams. New: the editor gets the unit and the extensions already
    // configured, answers the chosen extensions' texts (true on OK).
    // Edit: true on OK, `ramal` may come back renamed. Removal: programs
    // permission 0 and an empty list for the extension; false when that
    // could not be sent.
    std::function<bool(int codigo, const std::vector<std::string>& configurados,
                       std::string& escolhidos)>
        NovoConfigRamal;
    std::function<bool(int codigo, std::string& ramal)> EditaConfigRamal;
    std::function<bool(int codigo, const std::string& ramal)> EnviaRemocaoRamal;

    QTableWidget* GridItens = nullptr;
    QPushButton *btnNovo = nullptr, *btnEditar = nullptr, *btnApagar = nullptr,
                *btnAtualiza = nullptr, *btnOk = nullptr, *btnAjuda = nullptr,
                *spBtnCentrais = nullptr;
    QLineEdit* meCentral = nullptr;
    QLabel* LabelPABX = nullptr;
    QProgressBar* AdvProgressPABX = nullptr;
    QTimer* TimerEventos = nullptr;

  protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void done(int r) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

  private:
    void PreparaInicio();
    void FimLeitura(const LinkRamais::FimLeitura& fim);
    void HabilitaBotoes(bool habilita);
    std::string RamalDaLinha() const;

    ContextoConsole& ctx_;
    bool listados_ = false;
    bool escolhendo_ = false;
    LinkRamais link_;
};
