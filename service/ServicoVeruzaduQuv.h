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
#include <string>

#include "common/Configuracao.h"
#include "common/DataHora.h"
#include "service/AgendaDownload.h"
#include "service/AlertaEmail.h"
#include "service/BancoServico.h"
#include "service/EspacoDisco.h"
#include "service/Evento.h"
#include "service/LacoPrincipal.h"
#include "service/HistoricoServico.h"
#include "service/ListaThreads.h"
#include "service/LogServico.h"
#include "service/MsgVeruzadu.h"

// How long the stop work waits for running workers before it gives up on them.
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

    // The common stop work: workers asked to stop and joined, queues released,
    // history row 102 written.
    void EncerraServico();

    // Lists and settings the scheduler and the status server use.
    ListaThreads* ListaThreadsDownload() { return downloads_.get(); }
    ListaThreads* ListaThreadsSDCard() { return sdcards_.get(); }
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
    void LiberaThreadsConcluidas();
    void GravaHistorico(int operacao);

    const std::string pasta_;
    const Relogio& relogio_;
    LogServico log_;
    BancoServico banco_;
    HistoricoServico historico_;
    AlertasEmail alertas_;
    ConsultaDiscoLocal consultaDisco_;
    VerificacaoDisco disco_{log_, alertas_, consultaDisco_};

    std::shared_ptr<const ConfiguracaoServico> config_;
    std::atomic<bool> executando_{false};
    std::atomic<bool> pararSolicitado_{false};
    std::atomic<bool> encerrado_{false};
    DataHora inicio_;
    std::uint16_t porta_ = 0;

    // Created by the start-up before Executando is set, released by the stop work.
    std::shared_ptr<FilaMensagens> filaConsole_;
    std::shared_ptr<FilaMensagens> filaLogBD_;
    std::shared_ptr<FilaEmails> filaEmails_;
    std::unique_ptr<ListaThreads> downloads_;
    std::unique_ptr<ListaThreads> sdcards_;
    std::unique_ptr<AgendaDownload> agenda_;
    Evento atividade_;
    std::unique_ptr<LacoPrincipal> laco_;
};

// Why the database server is not there, from the error codes of the failed
// connection: empty when it runs, or when it is not installed on this computer.
std::string VerificaEstadoFirebird(const std::vector<std::intptr_t>& codigosErro);
