#pragma once
// The recording service: start-up, main loop and stop work of the one service
// object of the pelmoran process.
//
// Threads: ServiceStart, ServiceExecute and the stop work run on the service
// thread (main's thread). SolicitaParada may be called from any thread (the
// signal thread): it only raises a flag and wakes the loop; the stop work then
// runs at the top of the next pass. Workers and the status server reach the
// queues through the log object, which drops them once the stop work has
// released them.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "common/Configuracao.h"
#include "common/DataHora.h"
#include "service/AgendaDownload.h"
#include "service/AlertaEmail.h"
#include "service/BackupPrincipal.h"
#include "service/BancoServico.h"
#include "service/EspacoDisco.h"
#include "common/Evento.h"
#include "service/LacoPrincipal.h"
#include "service/HistoricoServico.h"
#include "service/ListaThreads.h"
#include "service/LogServico.h"
#include "service/MsgVeruzadu.h"
#include "service/ServidorStatus.h"

// The whole stop work's time: workers are waited for until this much has
// passed since the stop began, then the stop row is written all the same.
inline constexpr std::chrono::seconds kLimiteEncerramentoThreads{60};

class TServicoVeruzaduQuv final : public PassosLaco {
  public:
    // pastaPrograma: the program folder (PastaPrograma()). The clock is handed
    // in (tests move it) and must outlive the service.
    TServicoVeruzaduQuv(std::string pastaPrograma, const Relogio& relogio);
    ~TServicoVeruzaduQuv() override;
    TServicoVeruzaduQuv(const TServicoVeruzaduQuv&) = delete;
    TServicoVeruzaduQuv& operator=(const TServicoVeruzaduQuv&) = delete;

    // The start-up in its fixed order; false when the service cannot run (the
    // reason has been logged).
    bool ServiceStart();
    // The main loop; returns when the stop work ran or the service must end.
    void ServiceExecute();
    // Stop and shutdown requests (SIGTERM, SIGINT): handled at the next pass.
    void SolicitaParada();
    bool ParadaSolicitada() const { return pararSolicitado_; }
    // Whether the stop work ran (false when the loop ended by itself).
    bool Encerrado() const { return encerrado_; }

    // The common stop work: status server and console push stopped, workers
    // asked to stop and joined (one deadline for all), queues released,
    // history row 102 written.
    void EncerraServico();
    // Asks every worker to stop and waits for them until the stop's deadline
    // (lists closed first); gives how many are left running. Part of the stop
    // work; on its own after a loop that ended by itself.
    std::size_t EncerraThreads();
    // Workers that did not stop within the stop's deadline. They may still use
    // this object, so the process must end without destroying it.
    std::size_t ThreadsRestantes() const { return restantes_; }
    // The stop's deadline (tests shorten it).
    void DefineLimiteEncerramento(std::chrono::milliseconds limite) {
        limiteEncerramento_ = limite;
    }

    // Lists the scheduler and the status server use; empty before the start and
    // after the stop work. A handle keeps its list alive; a list closed by the
    // stop work takes no new worker.
    std::shared_ptr<ListaThreads> ListaThreadsDownload() const;
    std::shared_ptr<ListaThreads> ListaThreadsSDCard() const;
    // The download scheduler (console requests, EstaNaListaPABXDownFTP);
    // exists from the start-up until the stop work.
    AgendaDownload* Agenda() { return agenda_.get(); }
    LogServico& Log() { return log_; }
    AlertasEmail& Alertas() { return alertas_; }
    BancoServico& Banco() { return banco_; }
    std::shared_ptr<const ConfiguracaoServico> Configuracao() const { return config_; }
    bool Executando() const { return executando_; }
    DataHora InicioServico() const { return inicio_; }
    std::uint16_t Porta() const { return porta_; }
    void Desperta() { atividade_.Sinaliza(); }
    BackupPrincipal& Backup() { return backup_; }
    // The status reply without its line end (status server).
    std::string GetStatusVeruzadu() const;
    // TCPServerGRV; null before the start and after the stop work.
    ServidorStatus* ServidorStatusGRV() { return servidorStatus_.get(); }

    // PassosLaco: the steps of one pass.
    bool ProcessaRequisicoes() override;
    bool HoraRealizarBackup(bool& compactar, bool& restaurar,
                            DataHora& ultimaVerificacaoBackup) override;
    bool RealizaBackupBaseDadosPrincipal(bool compactar) override;
    bool RestauraBackupBaseDados(bool compactar, bool& arquivoAusente) override;
    void BDRegistraControle(ModoRegistroControle modo) override;
    void BDVerificaDownloadPeriodo() override;
    void VerificaEspacoLivreEmDisco() override;
    std::size_t ContagemFilaLogBD() override;
    void GravaLogEmBancoDados() override;
    std::size_t ContagemFilaEmails() override;
    void EnviaEmailAlerta() override;
    void LogRestauracaoImpossivel() override;
    int TempoVerDownload() const override;

  private:
    std::string Traduz(std::string_view texto) const;
    // First step of the stop: the status server and the console push stop, so
    // no request reaches what the rest of the stop releases.
    void ParaStatusEConsole();
    std::size_t EncerraThreads(std::chrono::steady_clock::time_point prazo);
    void LiberaThreadsConcluidas();
    void GravaHistorico(int operacao);
    void AbreServidorStatus();
    void FechaServidorStatus();

    const std::string pasta_;
    const Relogio& relogio_;
    LogServico log_;
    BancoServico banco_;
    HistoricoServico historico_;
    AlertasEmail alertas_;
    ConsultaDiscoLocal consultaDisco_;
    VerificacaoDisco disco_{log_, alertas_, consultaDisco_};
    BackupPrincipal backup_;

    std::shared_ptr<const ConfiguracaoServico> config_;
    std::atomic<bool> executando_{false};
    std::atomic<bool> pararSolicitado_{false};
    std::atomic<bool> encerrado_{false};
    DataHora inicio_;  // written before executando_ is set
    std::uint16_t porta_ = 0;
    std::chrono::milliseconds limiteEncerramento_{kLimiteEncerramentoThreads};
    std::atomic<std::size_t> restantes_{0};

    // Created by the start-up before Executando is set, released by the stop work.
    std::shared_ptr<FilaMensagens> filaConsole_;
    std::shared_ptr<FilaMensagens> filaLogBD_;
    std::shared_ptr<FilaEmails> filaEmails_;
    mutable std::mutex travaListas_;  // guards downloads_, sdcards_ (the handles only)
    std::shared_ptr<ListaThreads> downloads_;
    std::shared_ptr<ListaThreads> sdcards_;
    Evento atividade_;
    // Holds references to both lists: released before them.
    std::unique_ptr<AgendaDownload> agenda_;
    std::unique_ptr<ServidorStatus> servidorStatus_;
};

// Port of the database server installed on this computer.
inline constexpr std::uint16_t kPortaFirebirdLocal = 3050;
// [BD] TempoConexao: seconds a database connection waits for its server.
inline constexpr int kTempoConexaoPadrao = 30;

// Why the database server is not there, from the error codes of the failed
// connection: "Firebird não está em execução" only when the connection failed
// on the network and the server installed on this computer does not answer on
// its port; empty otherwise (then the server's own text says what failed).
std::string VerificaEstadoFirebird(const std::vector<std::intptr_t>& codigosErro);
bool ServidorLocalAtende(std::uint16_t porta);
