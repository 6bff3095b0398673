#include "service/ServicoVeruzaduQuv.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/IniFile.h"
#include "common/db/FirebirdError.h"
#include "service/ClienteSMTP.h"
#include "common/pabx/PABX.h"
#include "service/InstalacaoServico.h"

namespace {
// 0 when the file can be read, else the system's error (a folder, no
// permission, an I/O error).
int ErroLeitura(const std::filesystem::path& arquivo) {
    const int fd = ::open(arquivo.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    char c;
    const int erro = ::read(fd, &c, 1) < 0 ? errno : 0;
    ::close(fd);
    return erro;
}
}  // namespace

bool ServidorLocalAtende(std::uint16_t porta) {
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (s < 0) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(porta);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool atende = connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (!atende && errno == EINPROGRESS) {
        pollfd p{s, POLLOUT, 0};
        int erro = 0;
        socklen_t tamanho = sizeof erro;
        atende = poll(&p, 1, 2000) == 1 &&
                 getsockopt(s, SOL_SOCKET, SO_ERROR, &erro, &tamanho) == 0 && erro == 0;
    }
    close(s);
    return atende;
}

std::string VerificaEstadoFirebird(const std::vector<std::intptr_t>& codigosErro) {
    // Only a network failure can mean the server is down, and only the local
    // server's state is known here: a wrong host or port in the INI leaves
    // the server's own error text (logged by the caller) to say what failed.
    if (!FirebirdInstalado()) return "";
    bool rede = false;
    for (auto c : codigosErro) rede = rede || c == fbcodigo::NetworkError;
    if (!rede || ServidorLocalAtende(kPortaFirebirdLocal)) return "";
    return "Firebird não está em execução";
}

TServicoVeruzaduQuv::TServicoVeruzaduQuv(std::string pastaPrograma, const Relogio& relogio)
    : pasta_(std::move(pastaPrograma)), relogio_(relogio),
      log_(pasta_, [&relogio] { return relogio.Agora(); }), banco_(log_, ParametrosBDServico{}),
      historico_(banco_), alertas_([this] {
          auto cfg = banco_.Configuracao();
          return cfg ? cfg->CFG_ALMALERTA : 0;
      }),
      backup_(pasta_, ArquivoVeruzaduIni(), banco_, log_, alertas_,
              [&relogio] { return relogio.Agora(); }),
      config_(std::make_shared<const ConfiguracaoServico>()) {
    // A stop request ends a running gbak instead of waiting for it.
    backup_.DefineInterrupcao([this] { return pararSolicitado_.load(); });
}

TServicoVeruzaduQuv::~TServicoVeruzaduQuv() {
    FechaServidorStatus();
    // A loop that ended by itself (failed restore) skipped the stop work: the
    // workers must still be gone before their lists are (pelmoran's main
    // calls EncerraThreads first and does not get here with one left).
    EncerraThreads();
    log_.DefineFilaConsole(nullptr);
    log_.DefineFilaLogBD(nullptr);
    log_.DefineDespertador(nullptr);
}

std::string TServicoVeruzaduQuv::Traduz(std::string_view texto) const { return log_.Traduz(texto); }

std::shared_ptr<ListaThreads> TServicoVeruzaduQuv::ListaThreadsDownload() const {
    std::lock_guard<std::mutex> l(travaListas_);
    return downloads_;
}

std::shared_ptr<ListaThreads> TServicoVeruzaduQuv::ListaThreadsSDCard() const {
    std::lock_guard<std::mutex> l(travaListas_);
    return sdcards_;
}

bool TServicoVeruzaduQuv::ServiceStart() {
    agenda_.reset();
    {
        std::lock_guard<std::mutex> l(travaListas_);
        downloads_.reset();
        sdcards_.reset();
    }
    filaConsole_ = std::make_shared<FilaMensagens>();
    log_.DefineFilaConsole(filaConsole_);

    // VERUZADU.INI of this service's own program folder, read in one pass. A
    // file that is there but cannot be read must not turn into the defaults
    // (another database server) without a word; a missing one is named.
    const std::filesystem::path arquivoIni = ArquivoSemCaixa(pasta_, "VERUZADU.INI");
    std::error_code ec;
    const bool iniAusente = !std::filesystem::exists(arquivoIni, ec);
    if (const int e = iniAusente ? 0 : ErroLeitura(arquivoIni); e != 0) {
        log_.DefineMascara(LogSempre);
        log_.Log(LogSempre, true,
                 Traduz("Não foi possível ler") + " " + arquivoIni.string() + ": " +
                     std::strerror(e));
        log_.Log(LogSempre, true, Traduz("Serviço de gravação não iniciado"));
        log_.DefineFilaConsole(nullptr);
        filaConsole_.reset();
        return false;
    }
    const ConfiguracaoServico anterior = *config_;
    ConfiguracaoServico cfg = LeConfiguracaoServico(IniFile(arquivoIni), anterior);
    cfg.PastaPrograma = pasta_;
    PublicaValores(cfg);
    config_ = std::make_shared<const ConfiguracaoServico>(cfg);
    porta_ = static_cast<std::uint16_t>(cfg.Porta);
    // Every control link made from now on takes these as its own settings.
    PABXTimeOut = cfg.PABXTimeOut;
    IgnoraCTRLDesconhecido = cfg.IgnoraCTRLDesconhecido;
    log_.DefineMascara(static_cast<std::uint16_t>(cfg.MascaraLog));

    // High priority where the process may raise it; elsewhere it runs as it is.
    setpriority(PRIO_PROCESS, 0, -10);

    log_.DefineUltimaLimpezaLog(DataHora{});
    log_.Log(LogSempre, true, Traduz("Iniciando"));
    if (iniAusente)
        log_.Log(LogSempre, false,
                 Traduz("Arquivo de configuração não encontrado") + ": " + arquivoIni.string() +
                     " (" + Traduz("servidor") + " " + cfg.ServidorBD + ")");
    for (const std::string& linha : cfg.ValoresAjustados) log_.Log(LogSempre, false, linha);

    // A hung server or network must not hold the start (or the stop's
    // history row) for minutes.
    DefineTempoLimiteConexaoPadrao(
        IniFile(arquivoIni).ReadInteger("BD", "TempoConexao", kTempoConexaoPadrao));
    banco_.DefineParametros(
        ParametrosBDServico{cfg.ServidorBD, cfg.CaminhoBD, cfg.UsuarioBD, cfg.SenhaBD});
    banco_.DefineDDD(cfg.DDD);
    backup_.RecuperaTrabalhoInterrompido();
    std::string erroBD;
    if (!banco_.BDCarregaControle(cfg.Porta, erroBD)) {
        if (!erroBD.empty()) log_.Log(LogSempre, true, erroBD);
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

    AbreServidorStatus();

    filaLogBD_ = std::make_shared<FilaMensagens>();
    filaEmails_ = std::make_shared<FilaEmails>();
    alertas_.DefineFila(filaEmails_);
    log_.DefineDespertador([this] { atividade_.Sinaliza(); });
    // The lists exist before Executando is set, so a request that arrives as
    // soon as the service runs always finds them.
    {
        std::lock_guard<std::mutex> l(travaListas_);
        downloads_ = std::make_shared<ListaThreads>();
        sdcards_ = std::make_shared<ListaThreads>();
    }
    agenda_ = std::make_unique<AgendaDownload>(log_, banco_, alertas_, relogio_, *downloads_,
                                               *sdcards_, [] { return ValoresAtuais(); });
    // Runs a killed service left open are closed before any new one starts.
    agenda_->FechaHistoricosInterrompidos();
    // The start time is published before Executando: whoever sees the service
    // running reads a set time.
    inicio_ = relogio_.Agora();
    executando_ = true;
    log_.DefineFilaLogBD(filaLogBD_);

    log_.Log(LogSempre, true, Traduz("Serviço de gravação iniciado"));
    GravaHistorico(Operacao::ServicoIniciado);
    log_.RealizaLimpezaLog();
    return true;
}

void TServicoVeruzaduQuv::ServiceExecute() {
    // The loop and its own handles on the lists live exactly as long as the
    // loop runs; the stop work (run from inside a pass) releases only the
    // service's handles.
    const auto downloads = ListaThreadsDownload();
    const auto sdcards = ListaThreadsSDCard();
    if (!downloads || !sdcards || !executando_) return;
    LacoPrincipal laco(*this, relogio_, executando_, *downloads, *sdcards, atividade_);
    laco.Executa();
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

std::size_t TServicoVeruzaduQuv::EncerraThreads() {
    return EncerraThreads(std::chrono::steady_clock::now() + limiteEncerramento_);
}

std::size_t TServicoVeruzaduQuv::EncerraThreads(std::chrono::steady_clock::time_point prazo) {
    // The lists are closed first, so a late request adds nothing behind the
    // wait; both lists' workers are told before either is waited for.
    const auto downloads = ListaThreadsDownload();
    const auto sdcards = ListaThreadsSDCard();
    std::size_t restantes = 0;
    for (const auto& lista : {downloads, sdcards}) {
        if (!lista) continue;
        lista->Fecha();
        lista->TerminaTodas();
    }
    for (const auto& lista : {downloads, sdcards})
        if (lista) restantes += lista->EncerraTodas(prazo);
    restantes_ = restantes;
    return restantes;
}

void TServicoVeruzaduQuv::ParaStatusEConsole() {
    // Its threads use the lists, the scheduler and the queues released below.
    FechaServidorStatus();
}

void TServicoVeruzaduQuv::EncerraServico() {
    // One deadline for the whole stop, so the waits never stack up.
    const auto prazo = std::chrono::steady_clock::now() + limiteEncerramento_;
    ParaStatusEConsole();
    executando_ = false;

    // Every worker is asked to stop and joined before anything it uses goes.
    const std::size_t restantes = EncerraThreads(prazo);
    if (restantes > 0)
        log_.Log(LogErro, false,
                 Traduz("Threads não encerradas no tempo limite") + ": " +
                     std::to_string(restantes));

    // Statistics rows the runs could not write: one more try before they go.
    if (agenda_) {
        if (const std::size_t n = agenda_->GravaHistoricosPendentes(); n > 0)
            log_.Log(LogErro, false, "Históricos de download não gravados: " + std::to_string(n));
    }

    log_.DefineDespertador(nullptr);
    log_.DefineFilaLogBD(nullptr);
    filaLogBD_.reset();
    alertas_.DefineFila(nullptr);
    filaEmails_.reset();
    // Lists whose workers did not stop in time are kept: a running worker must
    // not find its list freed under it. The process then ends without
    // destroying the service.
    if (restantes == 0) {
        std::lock_guard<std::mutex> l(travaListas_);
        agenda_.reset();
        downloads_.reset();
        sdcards_.reset();
    }
    GravaHistorico(Operacao::ServicoParado);
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
    return backup_.HoraRealizarBackup(compactar, restaurar, ultimaVerificacaoBackup);
}

bool TServicoVeruzaduQuv::RealizaBackupBaseDadosPrincipal(bool compactar) {
    return backup_.RealizaBackupBaseDadosPrincipal(compactar);
}

bool TServicoVeruzaduQuv::RestauraBackupBaseDados(bool compactar, bool& arquivoAusente) {
    return backup_.RestauraBackupBaseDados(compactar, arquivoAusente);
}

void TServicoVeruzaduQuv::BDRegistraControle(ModoRegistroControle modo) {
    // The compaction holds the database's one place and records the backup
    // time itself, after the swap.
    if (modo == ModoRegistroControle::Backup && backup_.CompactacaoEmCurso()) return;
    banco_.BDRegistraControle(modo == ModoRegistroControle::Backup,
                              modo == ModoRegistroControle::Compactacao);
}

void TServicoVeruzaduQuv::LiberaThreadsConcluidas() {
    if (const auto downloads = ListaThreadsDownload())
        for (int codigo : downloads->LiberaConcluidas())
            log_.Log(LogInfo, false, "Importação concluída. PABX: " + std::to_string(codigo));
    if (const auto sdcards = ListaThreadsSDCard())
        for (int codigo : sdcards->LiberaConcluidas())
            log_.Log(LogInfo, false, "Fim verificação SDCard: " + std::to_string(codigo));
}

void TServicoVeruzaduQuv::BDVerificaDownloadPeriodo() {
    banco_.BDCarregaConfiguracaoGeral();
    LiberaThreadsConcluidas();
    if (agenda_) agenda_->BDVerificaDownloadPeriodo();
    LiberaThreadsConcluidas();
}

void TServicoVeruzaduQuv::VerificaEspacoLivreEmDisco() {
    // A server on another computer keeps its folder on a disk this one cannot see.
    disco_.VerificaEspacoLivreEmDisco(ServidorNesteComputador(banco_.Parametros().ServidorBD)
                                          ? banco_.PastaBaseDadosServidor()
                                          : std::string());
}

std::size_t TServicoVeruzaduQuv::ContagemFilaLogBD() {
    return filaLogBD_ ? filaLogBD_->Quantidade() : 0;
}

void TServicoVeruzaduQuv::GravaLogEmBancoDados() {
    if (filaLogBD_) historico_.GravaLogEmBancoDados(*filaLogBD_);
}

std::size_t TServicoVeruzaduQuv::ContagemFilaEmails() { return alertas_.ContagemFilaEmails(); }

void TServicoVeruzaduQuv::EnviaEmailAlerta() {
    // The SMTP switches are read at every send, like the SMTP columns; a stop
    // request ends a wait on the server.
    ::EnviaEmailAlerta(alertas_, banco_, LeOpcoesSMTP(IniFile(ArquivoVeruzaduIni())),
                       [this] { return pararSolicitado_.load(); });
}

void TServicoVeruzaduQuv::LogRestauracaoImpossivel() {
    log_.Log(LogSempre, false, Traduz("Não foi possível restaurar base de dados."));
}

int TServicoVeruzaduQuv::TempoVerDownload() const { return config_->TempoVerDownload; }
