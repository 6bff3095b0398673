#include "service/ServicoVeruzaduQuv.h"

#include <sys/resource.h>

#include "common/IniFile.h"
#include "common/db/FirebirdError.h"
#include "service/InstalacaoServico.h"

std::string VerificaEstadoFirebird(const std::vector<std::intptr_t>& codigosErro) {
    if (!FirebirdInstalado()) return "";
    for (auto c : codigosErro)
        if (c == fbcodigo::NetworkError) return "Firebird não está em execução";
    return "";
}

TServicoVeruzaduQuv::TServicoVeruzaduQuv(std::string pastaPrograma, const Relogio& relogio)
    : pasta_(std::move(pastaPrograma)),
      relogio_(relogio),
      log_(pasta_, [&relogio] { return relogio.Agora(); }),
      banco_(log_, ParametrosBDServico{}),
      historico_(banco_),
      alertas_([this] {
          auto cfg = banco_.Configuracao();
          return cfg ? cfg->CFG_ALMALERTA : 0;
      }),
      config_(std::make_shared<const ConfiguracaoServico>()) {}

TServicoVeruzaduQuv::~TServicoVeruzaduQuv() {
    // A loop that ended by itself (failed restore) skipped the stop work: the
    // workers must still be gone before their lists are.
    if (downloads_) downloads_->EncerraTodas(kLimiteEncerramentoThreads);
    if (sdcards_) sdcards_->EncerraTodas(kLimiteEncerramentoThreads);
    log_.DefineFilaConsole(nullptr);
    log_.DefineFilaLogBD(nullptr);
    log_.DefineDespertador(nullptr);
}

std::string TServicoVeruzaduQuv::Traduz(std::string_view texto) const { return log_.Traduz(texto); }

bool TServicoVeruzaduQuv::ServiceStart() {
    agenda_.reset();
    downloads_.reset();
    sdcards_.reset();
    filaConsole_ = std::make_shared<FilaMensagens>();
    log_.DefineFilaConsole(filaConsole_);

    // VERUZADU.INI of the program folder, read in one pass.
    const ConfiguracaoServico anterior = *config_;
    ConfiguracaoServico cfg = LeConfiguracaoServico(IniFile(ArquivoVeruzaduIni()), anterior);
    cfg.PastaPrograma = pasta_;
    PublicaValores(cfg);
    config_ = std::make_shared<const ConfiguracaoServico>(cfg);
    porta_ = static_cast<std::uint16_t>(cfg.Porta);
    log_.DefineMascara(static_cast<std::uint16_t>(cfg.MascaraLog));
    // The control link's own limits follow the configuration.
    PABXTimeOut = cfg.PABXTimeOut;
    IgnoraCTRLDesconhecido = cfg.IgnoraCTRLDesconhecido;

    // High priority where the process may raise it; elsewhere it runs as it is.
    setpriority(PRIO_PROCESS, 0, -10);

    log_.DefineUltimaLimpezaLog(DataHora{});
    log_.Log(LogSempre, true, Traduz("Iniciando"));

    banco_.DefineParametros(
        ParametrosBDServico{cfg.ServidorBD, cfg.CaminhoBD, cfg.UsuarioBD, cfg.SenhaBD});
    banco_.DefineDDD(cfg.DDD);
    std::string erroBD;
    if (!banco_.BDCarregaControle(cfg.Porta, erroBD)) {
        log_.Log(LogSempre, true, Traduz("Serviço de gravação não iniciado"));
        const std::string motivo = VerificaEstadoFirebird(banco_.CodigosUltimaFalhaConexao());
        if (!motivo.empty()) log_.Log(LogSempre, true, Traduz(motivo));
        log_.DefineFilaConsole(nullptr);
        filaConsole_.reset();
        return false;
    }
    banco_.BDCarregaConfiguracaoGeral();
    std::string pastaServidor = banco_.PastaBaseDadosServidor();
    if (banco_.UsuariosConectados("QUVVERUZADU.FDB", pastaServidor) > 0)
        banco_.DefinePastaBaseDadosServidor(pastaServidor);
    log_.Log(LogInfo, true, Traduz("Configuração") + " Ok");

    // The status server joins here; until it does, consoles cannot reach the
    // service and the port stays closed.
    log_.Log(LogInfo, false,
             Traduz("Servidor de status não disponível") + ": " + std::to_string(porta_));

    filaLogBD_ = std::make_shared<FilaMensagens>();
    filaEmails_ = std::make_shared<FilaEmails>();
    alertas_.DefineFila(filaEmails_);
    log_.DefineDespertador([this] { atividade_.Sinaliza(); });
    // The lists exist before Executando is set, so a request that arrives as
    // soon as the service runs always finds them.
    downloads_ = std::make_unique<ListaThreads>();
    sdcards_ = std::make_unique<ListaThreads>();
    agenda_ = std::make_unique<AgendaDownload>(log_, banco_, alertas_, relogio_, *downloads_, *sdcards_,
                                               [] { return ValoresAtuais(); });
    // Runs a killed service left open are closed before any new one starts.
    agenda_->FechaHistoricosInterrompidos();
    laco_ = std::make_unique<LacoPrincipal>(*this, relogio_, executando_, *downloads_, *sdcards_,
                                            atividade_);
    executando_ = true;
    inicio_ = relogio_.Agora();
    log_.DefineFilaLogBD(filaLogBD_);

    log_.Log(LogSempre, true, Traduz("Serviço de gravação iniciado"));
    GravaHistorico(OperacaoServicoIniciado);
    log_.RealizaLimpezaLog();
    return true;
}

void TServicoVeruzaduQuv::ServiceExecute() {
    if (laco_) laco_->Executa();
}

void TServicoVeruzaduQuv::SolicitaParada() {
    pararSolicitado_ = true;
    atividade_.Sinaliza();
}

bool TServicoVeruzaduQuv::ProcessaRequisicoes() {
    if (!pararSolicitado_) return true;
    if (!encerrado_) {
        EncerraServico();
        log_.Log(LogSempre, false, Traduz("Serviço de gravação parado"));
    }
    return false;
}

void TServicoVeruzaduQuv::EncerraServico() {
    executando_ = false;
    // Every worker is asked to stop and joined before anything it uses goes.
    bool todos = true;
    if (downloads_) todos = downloads_->EncerraTodas(kLimiteEncerramentoThreads) && todos;
    if (sdcards_) todos = sdcards_->EncerraTodas(kLimiteEncerramentoThreads) && todos;
    if (!todos)
        log_.Log(LogErro, false, Traduz("Threads não encerradas no tempo limite"));

    log_.DefineDespertador(nullptr);
    log_.DefineFilaLogBD(nullptr);
    filaLogBD_.reset();
    alertas_.DefineFila(nullptr);
    filaEmails_.reset();
    // Lists whose workers did not stop in time are kept: a running worker must
    // not find its list freed under it. The process ends soon after.
    if (todos) {
        laco_.reset();
        agenda_.reset();
        downloads_.reset();
        sdcards_.reset();
    }
    GravaHistorico(OperacaoServicoParado);
    log_.DefineFilaConsole(nullptr);
    filaConsole_.reset();
    encerrado_ = true;
}

void TServicoVeruzaduQuv::GravaHistorico(int operacao) {
    // Start and stop rows are written at once; a failure has been logged.
    historico_.GravaMensagemLogBD(operacao, "");
}

// ---- steps of a pass ----

bool TServicoVeruzaduQuv::HoraRealizarBackup(bool& compactar, bool& restaurar,
                                             DataHora& ultimaVerificacaoBackup) {
    compactar = false;
    restaurar = false;
    const DataHora agora = relogio_.Agora();
    // Daily housekeeping rides on the hourly decision.
    const DataHora ultimaLimpeza = log_.UltimaLimpezaLog();
    if (ultimaLimpeza.Vazia() || SegundosEntre(ultimaLimpeza, agora) >= 86400) {
        log_.RealizaLimpezaLog();
    }
    ultimaVerificacaoBackup = agora;
    banco_.BDCarregaConfiguracaoGeral();
    // Backups, restores and compaction of the databases are decided here once
    // they are part of the service.
    return false;
}

bool TServicoVeruzaduQuv::RealizaBackupBaseDadosPrincipal(bool) { return false; }

bool TServicoVeruzaduQuv::RestauraBackupBaseDados(bool, bool& arquivoAusente) {
    arquivoAusente = false;
    return false;
}

void TServicoVeruzaduQuv::BDRegistraControle(ModoRegistroControle modo) {
    banco_.BDRegistraControle(modo == ModoRegistroControle::Backup,
                              modo == ModoRegistroControle::Compactacao);
}

void TServicoVeruzaduQuv::LiberaThreadsConcluidas() {
    if (downloads_)
        for (int codigo : downloads_->LiberaConcluidas())
            log_.Log(LogInfo, false, "Importação concluída. PABX: " + std::to_string(codigo));
    if (sdcards_)
        for (int codigo : sdcards_->LiberaConcluidas())
            log_.Log(LogInfo, false, "Fim verificação SDCard: " + std::to_string(codigo));
}

void TServicoVeruzaduQuv::BDVerificaDownloadPeriodo() {
    banco_.BDCarregaConfiguracaoGeral();
    LiberaThreadsConcluidas();
    if (agenda_) agenda_->BDVerificaDownloadPeriodo();
    LiberaThreadsConcluidas();
}

void TServicoVeruzaduQuv::VerificaEspacoLivreEmDisco() {
    disco_.VerificaEspacoLivreEmDisco(banco_.PastaBaseDadosServidor());
}

std::size_t TServicoVeruzaduQuv::ContagemFilaLogBD() {
    return filaLogBD_ ? filaLogBD_->Quantidade() : 0;
}

void TServicoVeruzaduQuv::GravaLogEmBancoDados() {
    if (filaLogBD_) historico_.GravaLogEmBancoDados(*filaLogBD_);
}

std::size_t TServicoVeruzaduQuv::ContagemFilaEmails() {
    return alertas_.ContagemFilaEmails();
}

void TServicoVeruzaduQuv::EnviaEmailAlerta() {}

void TServicoVeruzaduQuv::LogRestauracaoImpossivel() {
    log_.Log(LogSempre, false, Traduz("Não foi possível restaurar base de dados."));
}

int TServicoVeruzaduQuv::TempoVerDownload() const { return config_->TempoVerDownload; }
