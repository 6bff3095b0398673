#pragma once
// The download scheduler: the periodic window check that lists one download
// run per due unit (and the units' SD-card checks), the console's download
// request, and the close of runs a killed service left open.
//
// The window decision itself is a pure function (DecideJanela) that tests
// drive with any server time. Server time T is read on the check's own
// connection; a unit's last-run stamp (PAB_DTULTDOWN) is server time too, so
// every comparison is made in server time, and the run's window limits are
// shifted onto the local clock only when handed to the run.
//
// Threads: BDVerificaDownloadPeriodo runs on the service thread;
// VerificaDownloadPedidoUsuario on a status-server thread, possibly at the
// same time. Both list runs only through ListaThreads::AdicionaSeAusente, so
// one unit never gets two runs. Every call opens and frees its own
// connection. Database errors are logged (level 4) and never thrown.
//
// Ownership: the referenced service objects (log, database, alerts, clock,
// lists) belong to the service and outlive this object.

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "common/Configuracao.h"
#include "common/DataHora.h"
#include "service/AlertaEmail.h"
#include "service/BancoServico.h"
#include "service/LacoPrincipal.h"
#include "service/ListaThreads.h"
#include "service/LogServico.h"
#include "service/VerificaSDCard.h"
#include "service/download/PABXDownloadFTP.h"

// The decision on one window row at server time T.
struct DecisaoJanela {
    bool valida = false;  // start is a time "hh:nn" and end is one or empty
    bool aberta = false;  // start <= T's "hh:nn" < end (or end empty)
    bool devida = false;  // open, and no run ended inside today's occurrence
    DataHora inicio;      // T's date + start
    DataHora fim;         // T's date + end; with an empty end, one month later at 00:00
    std::string erro;     // why the row is not valid
};

// horaIni, horaFim: DOW_HORAINI and DOW_HORAFIM as stored (an empty end is a
// window open to the end of the day); ultimoDownload: PAB_DTULTDOWN (empty
// when never run); agoraServidor: T.
DecisaoJanela DecideJanela(std::string_view horaIni, std::string_view horaFim,
                           const DataHora& ultimoDownload, const DataHora& agoraServidor);

// Whether a unit's SD card is due for a check: never checked, or at least
// `tempoMinutos` whole minutes between the last check and T.
bool SDCardDevido(const DataHora& ultimaVerificacao, const DataHora& agoraServidor,
                  int tempoMinutos);

// The answer to a console's download request.
enum class ResultadoPedido { Listado, JaListado, Inexistente, Falha };

class AgendaDownload final {
  public:
    // config: gives the service's configuration snapshot in force.
    AgendaDownload(LogServico& log, BancoServico& banco, AlertasEmail& alertas,
                   const Relogio& relogio, ListaThreads& downloads, ListaThreads& sdcards,
                   std::function<std::shared_ptr<const ConfiguracaoServico>()> config);
    AgendaDownload(const AgendaDownload&) = delete;
    AgendaDownload& operator=(const AgendaDownload&) = delete;

    // The window check (without the freeing of finished workers around it,
    // which the service does).
    void BDVerificaDownloadPeriodo();

    // A console asked for a run of unit `codigo`: listed now, one already
    // listed, no such unit, or a database failure. Writes no statistics row.
    ResultadoPedido VerificaDownloadPedidoUsuario(int codigo);
    bool EstaNaListaPABXDownFTP(int codigo) const;

    // Rows of DWNHISTORY still "running" (result 0) when the service starts
    // belong to runs a killed service left: they get result 2, their step code
    // kept. Gives how many; -1 on a database error (logged "DWNFECHA: ...").
    int FechaHistoricosInterrompidos();

    // Statistics rows that runs left pending (the database was away at their
    // end): every window check writes them first; the runs it creates hand
    // theirs over here. GravaHistoricosPendentes gives how many are left.
    HistoricosPendentes& Pendentes() { return pendentes_; }
    std::size_t GravaHistoricosPendentes();

    // Test seams: the source of server time T (the default reads
    // CURRENT_TIMESTAMP on the given connection), and a hook called on every
    // run created, before it is listed.
    void DefineHoraServidor(std::function<DataHora(Attachment&)> fonte);
    std::function<void(TPABXDownloadFTP&)> AoCriarDownload;

  private:
    std::unique_ptr<TPABXDownloadFTP>
    CriaDownload(const Linha& linha, const std::shared_ptr<const ConfiguracaoServico>& cfg);
    std::unique_ptr<ThreadServico> CriaVerificaSDCard(const Linha& linha,
                                                      const ConfiguracaoServico& cfg);
    void Log(std::uint16_t nivel, std::string_view texto) { log_.Log(nivel, false, texto); }

    LogServico& log_;
    BancoServico& banco_;
    AlertasEmail& alertas_;
    const Relogio& relogio_;
    ListaThreads& downloads_;
    ListaThreads& sdcards_;
    std::function<std::shared_ptr<const ConfiguracaoServico>()> config_;
    std::function<DataHora(Attachment&)> horaServidor_;
    HistoricosPendentes pendentes_;
};
