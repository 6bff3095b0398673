#pragma once
// THistoricoDownload: the values of one download run's DWNHISTORY row, kept
// in the run's thread object (TPABXDownloadFTP::Historico) and written to the
// row by TPABXDownloadFTP::BDRegistraHistoricoDownload.
//
// Plain value. Its only writer is the run's own thread (one run per unit at a
// time), except the creator, which fills it before the thread starts.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "common/DataHora.h"

// DWN_RESULTADO values.
inline constexpr int ResultadoEmAndamento = 0;
inline constexpr int ResultadoSucesso = 1;
inline constexpr int ResultadoFalha = 2;

// DWN_OPERATUAL codes the service writes.
enum : int {
    OpPreparando = 1,           // a console request prepared the run
    OpIniciando = 2,            // session or local run started (row inserted)
    OpConectado = 3,            // control link connected
    OpLoginAceito = 4,          // PABX login accepted
    OpAcessoHabilitado = 5,     // access to the recordings enabled / FTP transfer begins
    OpContando = 11,            // amount to transfer being counted
    OpTransferindo = 12,        // transfer started
    OpArquivoTransferido = 13,  // one file transferred
    OpTransferenciaFim = 14,    // transfer ended
    OpImportando = 15,          // import started
    OpImportacaoFim = 17,       // import ended
    OpUSBIndisponivel = 21,     // the unit's USB drive never became ready
    OpFalhaImportacaoUSB = 22,  // importing the files copied from the drive failed
    OpLoginRecusado = 24,       // login refused, or the FTP connection could not be opened
};

// Kinds of BDRegistraHistoricoDownload.
enum : int {
    HistoricoInsere = -1,           // insert the row (counters at zero)
    HistoricoEstado = 0,            // step code and result only
    HistoricoAContar = 1,           // files and bytes to transfer
    HistoricoTransferidos = 2,      // files and bytes transferred, failed transfers
    HistoricoFimTransferencia = 3,  // time-out flag and end of the transfer
    HistoricoImportados = 11,       // filing counters
    HistoricoFimImportacao = 12,    // end of the import
    HistoricoCompleto = 20,         // every value at once, the row inserted when missing
};

struct THistoricoDownload {
    DataHora DWN_DTINIDOWN;  // start of the run; with PAB_CODIGO the row's key
    DataHora DWN_DTFIMDOWN;  // end of the transfer
    DataHora DWN_DTFIMIMP;   // end of the import
    std::int32_t DWN_OPERATUAL = 0;
    std::int32_t DWN_RESULTADO = 0;
    std::int32_t DWN_TIMEOUT = 0;
    std::int32_t DWN_ARQBAIXAR = 0;
    std::int32_t DWN_ARQBAIXADO = 0;
    std::int64_t DWN_BYTESBAIXAR = 0;
    std::int64_t DWN_BYTESBAIXADO = 0;
    std::int32_t DWN_ARQCONVOGG = 0;
    std::int32_t DWN_ARQIMPORTADO = 0;
    std::int32_t DWN_FALHASDOWN = 0;
    std::int32_t DWN_FALHASOGG = 0;
    std::int32_t DWN_FALHASXML = 0;
    std::int32_t DWN_FALHASIMP = 0;
    std::int32_t DWN_AVDUPIMP = 0;
};

// Rows whose last values never reached the database (it was away when their
// run ended). The service keeps them and writes them again at every window
// check, and a unit's next run before it starts, until they land: a run must
// not read as it stood when the database went away.
//
// Thread-safe: the runs hand rows over, the service thread and the runs
// write them. The lock is never held while a row is written.
class HistoricosPendentes {
  public:
    // Keeps unit `codigo`'s row (an earlier one of the same run is replaced).
    void Guarda(int codigo, const THistoricoDownload& h);
    // Writes every kept row with `grava` (true when it landed); the rows that
    // landed are dropped, and after the first that did not the rest are kept
    // untried. Gives how many are still kept.
    // With `codigo` other than 0, only that unit's rows are written.
    std::size_t Grava(const std::function<bool(int codigo, const THistoricoDownload& h)>& grava,
                      int codigo = 0);
    std::size_t Quantidade() const;

  private:
    mutable std::mutex trava_;  // guards linhas_
    std::vector<std::pair<int, THistoricoDownload>> linhas_;
};
