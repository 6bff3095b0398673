#pragma once
// "Sobre...": the product line and the console's version. Made once after the
// main window and opened from its help menu. Main thread only.

#include <QDialog>

class QLabel;
class QPushButton;

class FormSobre final : public QDialog {
  public:
    explicit FormSobre(QWidget* pai = nullptr);

    QLabel* LabelModulo = nullptr;
    QLabel* LabelVerModulo = nullptr;
    QLabel* LabelFabricante = nullptr;
    QLabel* LabelSite = nullptr;
    QPushButton* btnOk = nullptr;

  protected:
    void showEvent(QShowEvent* e) override;
};
