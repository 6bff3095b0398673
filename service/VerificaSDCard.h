#pragma once
// The SD-card check of one PABX unit, and the SD-card bookkeeping of the
// unit's PABX row that the download run's dialogue with the unit also uses.
//
// TPABXVerificaSDCard is a worker created suspended by the window check with
// the values it copied from the unit's PABX row (DadosVerificaSDCard); the
// main loop starts it and frees it once it has finished. Its body connects to
// the unit's control link, logs in, asks the SD-card volume, records it in the
// row (raising the 80 % capacity alert) or, when the unit gave no volume, only
// moves the time of the last check. It writes its own "SDCard<yyyymm>.LOG" in
// the unit's working folder when the log mask has the SD-card bit.
//
// The thread holds references to the service's database object and alert
// object (ContextoSDCard): both must outlive it, which the service ensures by
// stopping and joining every worker before it releases them.
//
// Errors are never thrown out of the body: database errors are logged at level
// 4 in the service log ("UPDSDCard: ", "UPDTentaSDCard: ") and the link's
// failures go to the unit's SD-card log.

#include <cstdint>
#include <string>
#include <string_view>

#include "common/DataHora.h"
#include "common/pabx/PABX.h"
#include "service/ThreadServico.h"
#include "service/download/UnidadePABX.h"

class AlertasEmail;
class BancoServico;

// What the SD-card bookkeeping needs from the service. The referenced objects
// are not owned and must outlive every user of the context.
struct ContextoSDCard {
    BancoServico& Banco;        // main database connection parameters and the service log
    AlertasEmail& Alertas;      // the alert queue
    int TempoAlertaSDCard = 7;  // whole days between two alerts of one unit
};

// The values the window check copies from the unit's PABX row: the unit's
// settings (the link's part; the link goes straight to the unit, no proxy is
// ever used for it) and the row's SD-card times.
struct DadosVerificaSDCard : UnidadePABX {
    int CodigoPABX = 0;                // PAB_CODIGO
    DataHora UltimaVerificacaoSDCard;  // PAB_ULTVERIFSDC when the thread was made
    DataHora UltimoAlertaSDCard;       // PAB_ULTALERTSDC when the thread was made
};

// Records a volume reading in the unit's row: the three sizes and the time of
// the check. With `alerta` (the SD-card thread; the download run passes false)
// and the card used at 80 % or more, and when TempoAlertaSDCard whole days of
// server time lie since the stored last alert, the alert time is set too and
// a capacity alert queued. A total of 0 or below is recorded without alert.
// An update conflict with another writer of the row is retried. False on a
// database error (logged "UPDSDCard: ...", level 4; the row keeps its values).
bool BDAtualizaSDCard(const ContextoSDCard& contexto, bool alerta, int codigo,
                      std::string_view descricao, const TVolumeSDCard& volume);

// Moves only the time of the last check of the unit's row. False on a database
// error (logged "UPDTentaSDCard: ...", level 4).
bool BDRegistraVerificacaoSDCard(const ContextoSDCard& contexto, int codigo);

// Whether a volume counts as full: used at 80 % of the total or more, in
// integers (no overflow for any values a unit sends); never for a total <= 0.
bool SDCardCheio(const TVolumeSDCard& volume);

class TPABXVerificaSDCard final : public ThreadServico {
  public:
    TPABXVerificaSDCard(const DadosVerificaSDCard& dados, const ContextoSDCard& contexto);

    const DadosVerificaSDCard Dados;

    // Appends a line to the unit's SD-card log when the mask has the SD-card
    // bit; any failure is ignored. Called on the thread's own thread.
    void Log(std::string_view texto);

  protected:
    void Execute() override;

  private:
    const ContextoSDCard contexto_;
};
