#pragma once
// "Edição de horário de download": asks for one download window of a unit, a
// start, optionally a time limit and optionally a repetition; the unit
// editor expands the answer (ExpandeJanelas). Made once by the unit editor
// and reused; main thread only.
//
// The start is refused when it is not a time of day or when it starts an
// entry the editor already lists (HorariosEditor, set before each opening).

#include <QDialog>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class Mensageiro;

class FormEdHoraCentral final : public QDialog {
  public:
    FormEdHoraCentral(Mensageiro& mensagens, QWidget* pai);

    // Start "00:00" and no time limit ("30 min" chosen); the repetition keeps
    // its last state.
    void Prepara();
    void BtnOkClick();

    // The accepted answer, in minutes (0: box not checked).
    int HoraInicio = 0;
    int LimiteTempo = 0;
    int Frequencia = 0;
    // The editor's entries the start is compared with.
    std::vector<std::string> HorariosEditor;

    QLineEdit* meHoraIni;
    QCheckBox* checkLimiteTempo;
    QComboBox* comboLimiteTempo;
    QCheckBox* checkFrequencia;
    QComboBox* comboFrequencia;
    QPushButton* BtnOk;
    QPushButton* BtnCancelar;

  private:
    Mensageiro& mensagens_;
};
