#pragma once
// "Configuração de gravação de ramal": the recording permissions of one
// extension of a unit, or the same permissions for several new ones at
// once, saved in the unit's database (one transaction) and then programmed
// into the PABX over its control link.
//
// Made by the permissions list for each use; main thread only. The
// programming goes through the extension link (LinkRamais): the caller
// waits in a local event loop that takes no user input until it ended, and
// every wait step ends at the link's time limit.
//
// LigaEditorRamais wires the permissions list's seams (new, edit, removal)
// to this editor.

#include <QDialog>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "console/ProgramacaoRamal.h"

class FormCfgRamais;
class QCheckBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
struct ContextoConsole;

class FormEdCfgRamal final : public QDialog {
  public:
    explicit FormEdCfgRamal(ContextoConsole& ctx, QWidget* pai = nullptr);
    ~FormEdCfgRamal() override;

    int CodigoPABX = 0;
    std::string RamalEdicao;  // empty: new extensions
    std::vector<std::string> RamaisPABX;
    // Decimal numbers written as the authorised list of a programming run.
    std::vector<std::string> RamaisAutorizados;
    // Entries of the next run with number 0.
    std::vector<EntradaProgramacao> FilaProgramacao;

    // RamaisPABX := the unit's extension names (empty when unreadable).
    void CarregaListaRamaisPABX();
    // The extension's number, 0 when the unit has none (or it is unreadable).
    int PegaIndiceDNS(const std::string& nome);
    void LimpaTela();
    void CarregaConfigRamal();
    // The word of the ten boxes (bits 0-9); the bits no box edits (the
    // attendant bit 15 among them) as the edited extension's word had them.
    std::uint16_t PalavraPermissao() const;
    // The edited extension's word as read (0 for new extensions).
    std::uint16_t PalavraLida = 0;
    bool SalvaEdicao();
    void BtnOkClick();
    // Programs the PABX: `numero` not 0 that extension with `palavra` and
    // RamaisAutorizados; 0 the entries of FilaProgramacao (none: only the
    // list of configured extensions). Shows the end's message; true only
    // when every write was acknowledged.
    bool EnviaProgramacaoRamal(std::uint16_t palavra, int numero);
    // The last run's end mark (0 before the first).
    std::uint8_t UltimaMarca = 0;

    QGroupBox *gbRamais = nullptr, *gbPermissao = nullptr, *gbRamaisAutorizados = nullptr;
    QListWidget *LBRamais = nullptr, *ListBoxRamDisp = nullptr, *ListBoxRamSel = nullptr;
    QCheckBox *cbPodeGrvINT = nullptr, *cbPodeGrvORI = nullptr, *cbPodeGrvREC = nullptr,
              *cbTodaGrvINT = nullptr, *cbTodaGrvORI = nullptr, *cbTodaGrvREC = nullptr,
              *cbAutorGrvINT = nullptr, *cbAutorGrvORI = nullptr, *cbAutorGrvREC = nullptr,
              *cbTodasPortas = nullptr;
    QPushButton *btnLR = nullptr, *btnFLR = nullptr, *btnRL = nullptr, *btnFRL = nullptr,
                *btnOk = nullptr, *btnCancelar = nullptr;
    QLabel* LabelStatusTransmissao = nullptr;

  private:
    // The boxes in bit order 0-9.
    QCheckBox* Caixa(int bit) const;
    void cbAutorGrvINTClick();
    void cbTodasPortasClick();
    // Moves the selected (or all) entries from one list to the other.
    static void Move(QListWidget* de, QListWidget* para, bool todos);
    void ListaDisponiveis();

    ContextoConsole& ctx_;
    bool programando_ = false;
};

// The permissions list's new, edit and removal go through this editor.
void LigaEditorRamais(ContextoConsole& ctx, FormCfgRamais& lista);
// The extension names (sorted) of the unit the editor last read, read again
// from that unit's database; empty when the editor was not used since the
// start or the names cannot be read. The user editor's group choice.
std::vector<std::string> NomesRamaisPermissao(ContextoConsole& ctx);
