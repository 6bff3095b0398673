#pragma once
// "Atualização de ramais": refreshes one unit's extension directory (DNSPABX)
// from its PABX when the main database flags it (PABX.PAB_DNSUPDATE = 1),
// then the groups' extension names, then clears the flag. A small modal
// window without buttons that closes itself at the end of the refresh.
//
// The refresh runs the read-out's first steps (connect, login, parameters,
// DNS names and indexes, agenda) through the extension link (LinkRamais):
// the window stays painted and the event loop free meanwhile. The directory
// is rewritten only when every answer came, in one transaction, and the
// flag is cleared only after that and the groups' update worked; any
// failure shows its message and leaves the directory, the groups and the
// flag as they were.
//
// Made on demand by VerificaAtualizacaoRamais; main thread only.

#include <QDialog>
#include <chrono>
#include <memory>

#include "console/LinkRamais.h"

class QLabel;
class QTimer;
struct ContextoConsole;

class FormAtualizaRamais final : public QDialog {
  public:
    FormAtualizaRamais(ContextoConsole& ctx, int codigo, QWidget* pai = nullptr);
    ~FormAtualizaRamais() override;

    void TimerAtualizaTimer();

    int CodigoPABX = 0;
    // The end mark of the refresh (0 until it ended, also when the unit's
    // database could not be reached).
    std::uint8_t Marca = 0;
    QLabel* LabelAtualizaRamais = nullptr;
    QLabel* LabelAtualizaProgresso = nullptr;
    QTimer* TimerAtualiza = nullptr;

  protected:
    void showEvent(QShowEvent* e) override;
    void reject() override;
    void closeEvent(QCloseEvent* e) override;

  private:
    void Termina(const std::string& mensagem);

    ContextoConsole& ctx_;
    bool executando_ = false;
    bool terminou_ = false;
    LinkRamais link_;
};

// When the unit's PAB_DNSUPDATE is 1, shows the refresh window modally.
// Any other value, no row or a database error: nothing.
void VerificaAtualizacaoRamais(ContextoConsole& ctx, int codigo, QWidget* pai = nullptr);
