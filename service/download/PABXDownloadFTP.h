#pragma once
// TPABXDownloadFTP: one download run for one PABX unit. The scheduler creates
// it (not started), fills the unit's settings (UnidadePABX) and lists it; the main loop starts
// it; its body serves an operator's export request, runs the PABX session (or
// the local test run), backs up the unit's database when due, and ends. The
// base class marks it finished (state 2) and the main loop frees it.
//
// Ownership: the thread object owns its link object (ClientePABX, alive only
// during the session), its statistics values (Historico), its A-law gain and
// its own connection to the main database for the statistics row. The
// service's log, database settings, alert queue and clock are handed in
// (AmbienteDownload) and must outlive the thread: the service joins every
// worker before it frees them.
//
// Threads: after Resume every member is used by the run's own thread only,
// except Terminate()/Terminated() (any thread). The unit's settings are
// written by the creator before Resume and only read afterwards.
//
// Errors: the members report through their results, the unit's import log and
// the statistics row; an exception that escapes a step is caught by the
// session, which logs it and still runs its end actions.
//
// The members are built in several files, one per area:
//   PABXDownloadFTP.cpp      thread body, alert line, helpers for every area
//   UnidadePABX.h/.cpp       the unit's settings and the link set up from them
//                            (also the SD-card check's)
//   SessaoPABX.h/.cpp        the PABX session: its table of steps (request,
//                            status read, log line, next step, end lines) and
//                            the run's work at each step, USB wait, transfer
//                            and import, the session's end
//   DiretorioDNS.cpp         the unit's extension directory (DNSPABX)
//   EstatisticaDownload.cpp  import log, statistics row, last-run stamp
//   DownloadFTP.cpp          FTP download and USB copy, path and file helpers
//   ImportaArquivos.cpp      import of a downloaded recordings folder
//   RegistraGravacao.cpp     filing of one recording, encrypted files (the work
//                            itself: ArquivamentoGravacao)
//   BackupGravacoes.cpp      recordings backup to a folder and an FTP server
//   BackupBaseDados.cpp      backup of the unit's database (BackupUnidade)
//   ExportaGravacoes.cpp     export of a period, local test run

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "common/Configuracao.h"
#include "common/DataHora.h"
#include "common/db/Firebird.h"
#include "common/pabx/PABX.h"
#include "service/AlertaEmail.h"
#include "service/BancoServico.h"
#include "service/LacoPrincipal.h"
#include "service/LogServico.h"
#include "service/ThreadServico.h"
#include "service/download/HistoricoDownload.h"
#include "service/download/SessaoPABX.h"
#include "service/download/UnidadePABX.h"

class ClienteFTP;            // the FTP transfer's client (DownloadFTP.cpp's area)
struct DadosGravacao;        // one recording's description (RegistraGravacao.cpp's area)
class ArquivamentoGravacao;  // the run's filing state (RegistraGravacao.cpp's area)

// Stores the SD-card volume of a unit in its PABX row (the SD-card area's
// BDAtualizaSDCard): alerta, unit code, description, volume. The download
// run passes alerta = false. May be empty (nothing is stored).
using AtualizaSDCardFn = std::function<bool(bool alerta, int codigo, const std::string& descricao,
                                            const TVolumeSDCard& volume)>;

// What the service hands to every download run. The referenced objects
// belong to the service and outlive its workers.
struct AmbienteDownload {
    LogServico& LogSrv;           // service log: console queue, GRV file, translator
    BancoServico& Banco;          // main database parameters, CONFIG snapshot
    AlertasEmail& Alertas;        // alert e-mail queue
    const Relogio& RelogioLocal;  // local clock (tests move it)
    AtualizaSDCardFn AtualizaSDCard;
    // Where a run leaves its statistics row when the database was away at
    // its end (the scheduler's); null: such a row is lost.
    HistoricosPendentes* Pendentes = nullptr;
};

// Writes a run's whole statistics row (inserted when missing) on a
// connection of its own; false, with the server's message in `erro`, when
// the database refused it or could not be reached.
bool GravaHistoricoCompleto(const ParametrosConexao& banco, int codigo, const THistoricoDownload& h,
                            std::string& erro);

class TPABXDownloadFTP : public ThreadServico, public UnidadePABX {
  public:
    // config: the service's configuration snapshot in force when the run was
    // created; the run keeps it for its whole life.
    TPABXDownloadFTP(int codigoPABX, AmbienteDownload ambiente,
                     std::shared_ptr<const ConfiguracaoServico> config);
    ~TPABXDownloadFTP() override;

    // The unit's settings (UnidadePABX's fields) are filled by the creator
    // before the run starts; the constructor sets MascaraLog from config.

    // ---- The run's own state (run thread). ------------------------------
    THistoricoDownload Historico;        // values of the run's DWNHISTORY row
    std::unique_ptr<TPABX> ClientePABX;  // the session's link; null outside it
    std::vector<std::string> ErrosFTP;   // error lines of an FTP transfer
    // What the last transfer (FTP or USB) saw at the unit and did not bring:
    // paths below the working NORVIKA folder, upper case, "/" between names.
    // A file listed and not fetched (given up, refused, too long a name, not
    // reached before the walk ended) is "AUDIOREC/L1/L2/NAME"; a folder not
    // walked whole (not listed, too deep, holding something the walk skips)
    // ends with "/". The import leaves these folders at the unit and lets a
    // description wait for its recording listed here. Cleared by each
    // transfer; the given-up files among them are counted in DWN_FALHASDOWN.
    std::set<std::string> FicamNaUnidade;
    int GanhoALaw = 0;  // A-law gain of this run's imports

    // Test seam: called with the step number before each pass of the session
    // runs that step; an exception it throws is handled like any escaped error.
    std::function<void(int passo)> AoExecutarPasso;

    // ---- PABX session (SessaoPABX.cpp), DNS directory (DiretorioDNS.cpp). -
    void ProcessaPABX();
    void BDAtualizaDNS(TPABX& pabx);
    void BDAtualizaNomesAgenda(TPABX& pabx);
    // The end the last session reached and its step (tests, reports).
    TFimSessao FimSessao() const { return fimSessao_; }
    int PassoFimSessao() const { return passoFim_; }

    // ---- Statistics and thread log (EstatisticaDownload.cpp). ------------
    // The unit's monthly import log IMP<yyyymm>.LOG in PastaPABX (when the
    // level passes MascaraLog) and, with `console`, the console line.
    // A lost database connection (a line of LinhaErroBD saying so) is
    // written once per run; every later one of the run is dropped.
    void Log(std::uint16_t nivel, bool console, std::string_view texto);
    // A database operation of the run succeeded: after the loss, says once
    // that the connection is back.
    void ConexaoBDVoltou();
    // Writes the run's DWNHISTORY row (kinds in HistoricoDownload.h); false
    // when the database refused it (logged "DWNUPD: ...").
    bool BDRegistraHistoricoDownload(int tipo);
    // PAB_DTULTDOWN := the server's now; false when refused ("UPDPBX: ...").
    bool BDRegistraUltimoDownload();
    // The transfer's size is known: logs what is to be fetched and writes
    // the row as transferring.
    void RegistraAContar();
    // Writes the rows of this unit that earlier runs left pending.
    void GravaHistoricosPendentes();
    // At the end of the run: a row the database never got whole goes to
    // the service's pending rows.
    void EntregaHistoricoPendente();
    // Whether the run's counters show files given up by the transfer or
    // recordings the filing refused.
    bool FalhasNaExecucao() const;
    // After a write of the statistics row failed (the database away for a
    // while), writes the whole row again, retrying for up to PABXTimeOut
    // seconds while the service runs; false when it stays out of reach.
    bool RegravaHistoricoPendente();

    // Helpers for every area of the run (PABXDownloadFTP.cpp).
    DataHora AgoraLocal() const;
    std::string Traduz(std::string_view texto) const;
    const ConfiguracaoServico& Config() const { return *config_; }
    std::shared_ptr<const ConfiguracaoGeral> ConfigGeral() const;
    ParametrosConexao ConexaoPrincipal() const;  // the main database
    ParametrosConexao ConexaoPABX() const;       // BaseDadosPABX with the service's user
    AmbienteDownload& Ambiente() { return ambiente_; }
    // "PABX " + code + ": " + text at level 1 to the consoles, and the same
    // text as an alert e-mail of the failure category.
    void LogAlerta(std::string_view texto);

    // ---- FTP download and USB copy (DownloadFTP.cpp). --------------------
    bool DownloadFTP();
    // `nivel`: how many folders below the store's root `pastaRemota` is; the
    // walk and the count do not go below the store's device folders.
    bool BaixaPastaFTP(ClienteFTP& ftp, const std::string& pastaRemota, bool& parar,
                       const std::string& pastaLocal, int nivel = 0);
    std::int64_t CalculaTamanhoFTP(ClienteFTP& ftp, const std::string& pastaRemota, int nivel = 0);
    // The store's root folder as the server lists it ("/NORVIKA" in any
    // case); "/NORVIKA" when the top folder cannot be listed.
    std::string RaizLojaFTP(ClienteFTP& ftp);
    bool DentroDoPeriodo() const;
    void CopiaPasta(const std::string& origem, const std::string& destino);
    std::int64_t TamanhoPasta(const std::string& pasta);
    static std::string RetiraParteCaminho(const std::string& caminho, int n);
    static void BuscaArquivos(std::vector<std::string>& lista, const std::string& pasta,
                              const std::string& mascara, bool recursivo);
    static int Minimo(int a, int b);

    // ---- FTP walk's own settings and state (DownloadFTP.cpp). ------------
    // Pause after a failed reconnection attempt (tests shorten it).
    std::chrono::milliseconds PausaReconexaoFTP{5000};

    // ---- Import of the downloaded folder (ImportaArquivos.cpp). ----------
    bool ImportaArquivos(TPABX& pabx);
    bool RemoveGravacaoPABX(TPABX& pabx, const std::string& caminho);
    bool AguardaRespostaRemocao(TPABX& pabx);
    // How long a removal's answer is still awaited once a stop is asked.
    std::chrono::milliseconds EsperaRemocaoAposParada{10000};

    // ---- Filing of one recording, encrypted files (RegistraGravacao.cpp). -
    // 0/1 filed, 5/6/7 failures (see its file).
    int BDRegistraGravacao(TPABX& pabx, const std::string& pasta, const std::string& nome);
    bool CriptografaArquivo(const std::string& pasta, const std::string& nome);
    bool DescriptografaArquivo(int tipoArquivo, const std::string& chave,
                               const std::string& caminho);
    static std::string ExtensaoTipoArquivo(int tipo);

    // ---- Backup of the unit's database (BackupBaseDados.cpp). ------------
    bool HoraBackup();
    bool BackupBaseDados();
    bool BDRegistraBackup();

    // ---- Recordings backup, export, local run (ExportaGravacoes.cpp). ----
    void BackupArquivos(bool somenteFormatoProprio);
    bool ExportaGravacoes(const DataHora& inicio, const DataHora& fim);
    // The local test run in place of the PABX session.
    void ProcessaLocal();

    // ---- Recordings backup's pieces (BackupGravacoes.cpp, ExportaGravacoes.cpp).
    // The backup of the files given (the export hands the ones it wrote):
    // every one of them goes to each target, whatever its format.
    void BackupArquivos(const std::vector<std::string>& arquivos);
    // True when `destino` already holds at least the source's bytes (nothing
    // is copied); else a copy through a temporary name, checked for size.
    static bool CopiaArquivoBackup(const std::string& origem, const std::string& destino);
    // The description of a recording file: its folder + "R" + characters 2
    // to 8 of its name + ".XML", found there without regard to case.
    static std::string ArquivoXMLBackup(const std::string& arquivo);
    // Deletes every GRAVACAO row of the unit's database (the local test run).
    bool BDApagaGravacoes();
    // Mount tables the folder target is checked against (tests hand theirs).
    std::filesystem::path TabelaFstab{"/etc/fstab"};
    std::filesystem::path TabelaMontagens{"/proc/self/mountinfo"};

  protected:
    void Execute() override;

  private:
    // Session pieces (SessaoPABX.cpp).
    struct Sessao;
    void ExecutaPasso(Sessao& s);
    void ExecutaPassoProprio(Sessao& s, const PassoSessao& passo);
    // The run's own work where a step passed; the step to go to, 0 to stay
    // (the session ended or is stopping).
    int PassouPasso(Sessao& s, const PassoSessao& passo);
    void TerminaSessao(Sessao& s, TFimSessao fim);
    // The unit's model sets the A-law gain; false (the session ends) when
    // its version is older than the service accepts.
    bool RegraModelo(Sessao& s);
    void TransfereImporta(Sessao& s);
    void EncerraSessao(Sessao& s);
    void RegistraEstado(int operacao);
    void RegistraResultado(int resultado);
    bool AguardaUSB();
    // One write of the statistics row; with `duplicada`, a key violation is
    // reported there instead of being logged.
    bool GravaHistorico(int tipo, bool* duplicada);
    void LogEstado(std::string_view texto) { Log(LogInfo, true, Traduz(texto)); }

    AmbienteDownload ambiente_;
    std::shared_ptr<const ConfiguracaoServico> config_;
    // The import log file of the month in use (its name found once a month).
    std::string mesLog_;
    std::filesystem::path arquivoLog_;

    TFimSessao fimSessao_ = efNenhum;
    int passoFim_ = 0;
    // FicamNaUnidade's key of a path in the working NORVIKA folder (empty
    // for the folder itself or a path outside it), and its upkeep.
    std::string ChaveNaUnidade(const std::string& caminhoLocal, bool pasta) const;
    void FicaNaUnidade(const std::string& caminhoLocal, bool pasta);
    void SaiuDaUnidade(const std::string& caminhoLocal, bool pasta);
    // The walk ended for good (a local write failed): no further folder.
    bool fimCaminhadaFTP_ = false;
    // When the walk last wrote its transfer counts to the statistics row.
    std::chrono::steady_clock::time_point ultimoRegistroFTP_;
    // The run's own connection to the main database for its statistics row
    // (opened at the first write, dropped after a failure).
    std::optional<Attachment> conexaoHistorico_;
    // A write of the row failed since the last complete one: its values
    // are only in Historico until RegravaHistoricoPendente succeeds.
    bool historicoPendente_ = false;
    // The run's database connection: 0 never lost, 1 lost (said), 2 back
    // (said); each is said once per run.
    std::atomic<int> conexaoBD_{0};

    // ---- Filing state of the run (RegistraGravacao.cpp). ----------------
    // Its database connections and private working folder, made at the first
    // filing and again when GanhoALaw changes (shared_ptr: complete only there).
    std::shared_ptr<ArquivamentoGravacao> arquivamento_;
    ArquivamentoGravacao& Arquivamento();

    // ---- Unit database backup's own state (BackupBaseDados.cpp). ---------
    // The configuration snapshot HoraBackup decided on, kept for the backup.
    std::shared_ptr<const ConfiguracaoGeral> configBackup_;
};
