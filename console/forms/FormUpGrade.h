#pragma once
// The migration window: shows the progress of the old database's migration
// (MigracaoBD) in LabelUpgrade. Shown modally by the connection's upgrade
// step; its timer starts the migration once the window is on screen, and
// btnOk closes it only after the migration ended (Escape and the close box
// wait too). Main thread only.

#include <QDialog>

class QLabel;
class QPushButton;
class QTimer;
class MigracaoBD;

class FormUpGrade final : public QDialog {
  public:
    // `migracao` (may be null: the window alone, for screenshots) must
    // outlive the window.
    explicit FormUpGrade(MigracaoBD* migracao, QWidget* pai = nullptr);
    ~FormUpGrade() override;

    QLabel* LabelUpgrade = nullptr;
    QPushButton* btnOk = nullptr;
    QTimer* TimerUpgrade = nullptr;

    void TimerUpgradeTimer();
    void btnOkClick();
    bool Terminou() const { return terminou_; }

  protected:
    void showEvent(QShowEvent* e) override;
    void reject() override;

  private:
    MigracaoBD* migracao_;
    bool terminou_ = false;
};
