#pragma once
// "Atividade do Serviço de Gravação Quv": the live log of a download request
// made from the service status window. It shows the service's answer and the
// run's lines as they arrive, only while it is open. Made once after the main
// window and shown modally by the status window.
//
// Main thread only.

#include <QDialog>
#include <string>

class QPlainTextEdit;
class QPushButton;

class FormLogGrv final : public QDialog {
  public:
    // The most lines kept on screen: older ones give way, so a long run
    // watched for hours costs no more memory.
    static constexpr int kMaximoLinhas = 10000;

    explicit FormLogGrv(QWidget* pai = nullptr);

    // The unit of the request: its code, " - " and its name.
    std::string DescricaoPABX;

    // Caption for `descricao` (kept in DescricaoPABX), the memo emptied,
    // shown modally.
    void Mostra(const std::string& descricao);
    void AcrescentaLinha(const std::string& linha);

    QPlainTextEdit* MemoLog = nullptr;
    QPushButton* btnOk = nullptr;
};
