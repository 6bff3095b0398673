#include "service/download/PABXDownloadFTP.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "common/IniFile.h"
#include "common/Arquivos.h"
#include "common/Texto.h"
#include "common/db/Esquema.h"
#include "service/download/RegrasDownload.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// The session polls the link's status texts at this pace.
constexpr auto kPassoSessao = std::chrono::milliseconds(100);

// Lines written when a session ends at a step, by end (time-out, send
// failure, refusal); an empty text writes no line.
struct LinhasPasso {
    const char* timeout;
    const char* falhaEnvio;
    const char* recusado;
};

const std::map<int, LinhasPasso>& LinhasFimPasso() {
    static const std::map<int, LinhasPasso> linhas{
        {1, {"Não foi possivel conectar ao PABX", "", "Não foi possivel conectar ao PABX"}},
        {2, {"Timeout: não foi possível conectar com KELV", "", "Login recusado"}},
        {3, {"", "Não foi possivel solicitar nomes DNS", ""}},
        {4, {"Timeout: sem resposta ao pedido nomes DNS", "", "Pedido nomes DNS recusado"}},
        {5, {"", "Não foi possivel solicitar indices DNS", ""}},
        {6, {"Timeout: sem resposta ao pedido indices DNS", "", "Pedido indice DNS recusado"}},
        {7, {"", "Não foi possivel enviar reconexão USB", ""}},
        {8, {"Timeout: sem resposta à reconexão USB", "", "Reconexão USB recusada"}},
        {9, {"", "Não foi possivel enviar controle de acesso", ""}},
        {10, {"Timeout: sem resposta ao controle de acesso", "", "Controle de acesso recusado"}},
        {11, {"", "Não foi possivel enviar controle de acesso", ""}},
        {12, {"Timeout: sem resposta ao controle de acesso", "", "Controle de acesso recusado"}},
        {21, {"", "Não foi possivel solicitar versão", ""}},
        {22, {"Timeout: sem resposta ao pedido de versão", "", "Pedido versão recusado"}},
        {23, {"", "Não foi possivel solicitar release", ""}},
        {24, {"Timeout: sem resposta ao pedido de release", "", "Pedido release recusado"}},
    };
    return linhas;
}

bool Contem(std::string_view texto, std::string_view parte) {
    return texto.find(parte) != std::string_view::npos;
}

}  // namespace

// The state of one PABX session while it runs (run thread only).
struct TPABXDownloadFTP::Sessao {
    TPABX& pabx;
    int passo = epAguardaConexao;
    TFimSessao fim = efNenhum;
    int passoFim = 0;
    Clock::time_point progresso = Clock::now();
    bool marcaTimeout = false;
    bool acessoAberto = false;  // access to the recordings was asked open and not closed
    bool parado = false;        // the service asked the run to stop
};

TPABXDownloadFTP::TPABXDownloadFTP(int codigoPABX, AmbienteDownload ambiente,
                                   std::shared_ptr<const ConfiguracaoServico> config)
    : ThreadServico(codigoPABX), ambiente_(std::move(ambiente)), config_(std::move(config)) {
    if (!config_) config_ = std::make_shared<const ConfiguracaoServico>();
    MascaraLog = static_cast<std::uint16_t>(config_->MascaraLog);
    GanhoALaw = config_->GanhoPadrao;
}

TPABXDownloadFTP::~TPABXDownloadFTP() {
    // The body uses this object's members: it must be gone before they are.
    Terminate();
    AguardaFim(std::chrono::minutes(5));
}

// ------------------------------------------------------------- Thread body

void TPABXDownloadFTP::Execute() {
    bool local = false;
    int unidadeExporta = 0;
    std::string textoInicio, textoFim;
    {
        const IniFile ini(ArquivoSemCaixa(config_->PastaPrograma.empty() ? PastaPrograma()
                                                                         : config_->PastaPrograma,
                                          "VERUZADU.INI"));
        local = ini.ReadBool("FTP", "Local", false);
        unidadeExporta = ini.ReadInteger("Exporta", "PABX", 0);
        textoInicio = Apara(ini.ReadString("Exporta", "DataInicio", ""));
        textoFim = Apara(ini.ReadString("Exporta", "DataFim", ""));
    }

    auto protegido = [this](const char* etiqueta, const std::function<void()>& passo) {
        try {
            passo();
        } catch (const std::exception& e) {
            Log(LogErro, false, std::string(etiqueta) + ": " + e.what());
        } catch (...) {
            Log(LogErro, false, std::string(etiqueta) + ": erro desconhecido");
        }
    };

    if (unidadeExporta == CodigoPABX && !textoInicio.empty()) {
        const auto inicio = LeDataDiaPrimeiro(textoInicio + " 00:00:00");
        const auto fim =
            textoFim.empty() ? std::nullopt : LeDataDiaPrimeiro(textoFim + " 23:59:59");
        protegido("EXPORTA",
                  [&] { ExportaGravacoes(inicio.value_or(DataHora{}), fim.value_or(DataHora{})); });
    }
    if (Terminated()) return;

    if (local)
        protegido("LOCAL", [this] { ProcessaLocal(); });
    else
        ProcessaPABX();
    // A row the database never got whole is kept by the service until it lands.
    protegido("DWNPEND", [this] { EntregaHistoricoPendente(); });

    // A stop request leaves the backup for the next run, so the service's
    // join is not held up by it.
    if (Terminated()) return;
    protegido("BACKUPBD", [this] {
        if (HoraBackup() && BackupBaseDados()) BDRegistraBackup();
    });
}

// ----------------------------------------------------------- PABX session

void TPABXDownloadFTP::ProcessaPABX() {
    // Rows earlier runs of this unit left pending go first.
    GravaHistoricosPendentes();
    Historico = {};
    Historico.DWN_DTINIDOWN = AgoraLocal();
    Historico.DWN_DTINIDOWN.milissegundo = 0;  // the row's key is a whole second
    Historico.DWN_OPERATUAL = OpIniciando;
    BDRegistraHistoricoDownload(HistoricoInsere);
    fimSessao_ = efNenhum;
    passoFim_ = 0;
    GanhoALaw = config_->GanhoPadrao;

    EventoPABX evento;
    ClientePABX = std::make_unique<TPABX>();
    TPABX& pabx = *ClientePABX;
    pabx.FEvento = &evento;
    pabx.FPastaPABX = PastaPABX;
    pabx.FTrace = (MascaraLog & LogPABX) != 0;
    pabx.FEnderecoIP = KELVEnderIP;
    pabx.FPorta = KELVPorta;
    pabx.FSenha = KELVSenha;
    pabx.FUsaSocks = UsaSocks;
    pabx.FSocksServidor = SocksServidor;
    pabx.FSocksPorta = SocksPorta;
    pabx.FSocksUsuario = SocksUsuario;
    pabx.FSocksSenha = SocksSenha;
    pabx.FModoUSB = ModoUSB;
    pabx.FPastaUSB = CaminhoUSB;
    pabx.FEsperaUSB = EsperaUSB;
    pabx.FRaizUSB = RaizUSB;

    Sessao s{pabx};
    try {
        Log(LogInfo, false, "PenDrive: " + pabx.FRaizUSB);
        LogEstado("Início verificação cartão");
        Log(LogInfo, true,
            Traduz("Conectando") + ": " + KELVEnderIP + ":" + std::to_string(KELVPorta));
        s.progresso = Clock::now();
        pabx.Conecta();
        s.passo = epAguardaConexao;

        while (s.fim == efNenhum) {
            if (Terminated()) {
                s.parado = true;
                break;
            }
            const auto decorrido =
                std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - s.progresso);
            if (decorrido.count() >= config_->PABXTimeOut) s.marcaTimeout = true;
            if (AoExecutarPasso) AoExecutarPasso(s.passo);
            const int passoAntes = s.passo;
            ExecutaPasso(s);
            if (s.fim != efNenhum) break;
            // A step that moved on runs the next one at once; one that waits
            // for the unit sleeps until the link's event (an answer) or the tick.
            if (s.passo == passoAntes) evento.Aguarda(kPassoSessao);
        }
    } catch (const std::exception& e) {
        Log(LogErro, false, std::string("ERRDOWNPABX: ") + e.what());
        s.fim = efNenhum;
        s.passoFim = s.passo;
        RegistraResultado(ResultadoFalha);
    } catch (...) {
        Log(LogErro, false, "ERRDOWNPABX: erro desconhecido");
        s.fim = efNenhum;
        s.passoFim = s.passo;
        RegistraResultado(ResultadoFalha);
    }
    EncerraSessao(s);
}

void TPABXDownloadFTP::ExecutaPasso(Sessao& s) {
    TPABX& p = s.pabx;

    // A send step: the request goes out in this pass or the session ends.
    auto envia = [&](bool enviado, const char* linha, int proximo) {
        if (!enviado) {
            s.fim = efFalhaEnvio;
            s.passoFim = s.passo;
            return;
        }
        s.progresso = Clock::now();
        s.marcaTimeout = false;
        if (linha != nullptr) LogEstado(linha);
        s.passo = proximo;
    };
    // A wait step: true when the answer came "OK"; otherwise it either stays
    // or ends the session (refusal, or the time-out mark of this pass).
    auto aguarda = [&](const TextoStatus& status) {
        const std::string v = status.Le();
        if (v == "OK") {
            s.marcaTimeout = false;
            return true;
        }
        if (!v.empty()) {
            s.fim = efRecusado;
            s.passoFim = s.passo;
        } else if (s.marcaTimeout) {
            s.fim = efTimeout;
            s.passoFim = s.passo;
        }
        return false;
    };
    // A CTRL answer can never come once the link has dropped: that ends the
    // wait at once, like a refusal, instead of after the whole time-out.
    auto aguardaCTRL = [&]() {
        if (p.FStatusCTRL.Vazio() &&
            (p.FEstadoLink == elDesconectado || p.FEstadoLink == elFalhaConexao)) {
            s.fim = efRecusado;
            s.passoFim = s.passo;
            return false;
        }
        return aguarda(p.FStatusCTRL);
    };

    switch (s.passo) {
        case epAguardaConexao: {
            const bool ok = p.FStatusPROG == "OK" || p.FStatusCTRL == "OK";
            if (!ok) {
                if (!p.FStatusPROG.Vazio()) {
                    s.fim = efRecusado;
                    s.passoFim = s.passo;
                } else if (s.marcaTimeout) {
                    s.fim = efTimeout;
                    s.passoFim = s.passo;
                }
                return;
            }
            s.marcaTimeout = false;
            LogEstado("Conectou ao PABX");
            RegistraEstado(OpConectado);
            // The connection's own "OK" must not pass for the login's answer.
            p.FStatusPROG.Esvazia();
            p.EnviaLogin();
            s.passo = epAguardaLogin;
            return;
        }
        case epAguardaLogin: {
            // A right password gives the acknowledgement of the login block
            // (PROG) and a CTRL "OK"; a wrong one a CTRL refusal.
            const std::string prog = p.FStatusPROG.Le(), ctrl = p.FStatusCTRL.Le();
            if (prog == "OK" || ctrl == "OK") {
                s.marcaTimeout = false;
                s.progresso = Clock::now();
                LogEstado("Login aceito");
                RegistraEstado(OpLoginAceito);
                s.passo = epPedeVersao;
            } else if (!ctrl.empty() || !prog.empty()) {
                RegistraEstado(OpLoginRecusado);
                s.fim = efRecusado;
                s.passoFim = s.passo;
            } else if (s.marcaTimeout) {
                s.fim = efTimeout;
                s.passoFim = s.passo;
            }
            return;
        }
        case epPedeVersao: return envia(p.PedeVersao(), "Aguardando versão PABX", epAguardaVersao);
        case epAguardaVersao:
            if (aguarda(p.FStatusPROG)) {
                s.progresso = Clock::now();
                LogEstado("Tratando versão PABX");
                s.passo = epPedeRelease;
            }
            return;
        case epPedeRelease:
            return envia(p.PedeRelease(), "Aguardando release PABX", epAguardaRelease);
        case epAguardaRelease:
            if (aguarda(p.FStatusPROG)) {
                s.progresso = Clock::now();
                LogEstado("Tratando release PABX");
                s.passo = epPedeParametros;
            }
            return;
        case epPedeParametros:
            return envia(p.PedeParametros(), "Aguardando parâmetros PABX", epAguardaParametros);
        case epAguardaParametros:
            if (aguarda(p.FStatusPROG)) {
                s.progresso = Clock::now();
                RegraModelo(s);
            }
            return;
        case epPedeVolumeSDCard:
            return envia(p.PedeVolumeSDCard(), "Aguardando volume SDCard", epAguardaVolumeSDCard);
        case epAguardaVolumeSDCard: {
            const std::string v = p.FStatusCTRL.Le();
            if (v == "OK") {
                s.marcaTimeout = false;
                s.progresso = Clock::now();
                LogEstado("Tratando volume SDCard");
                if (ambiente_.AtualizaSDCard)
                    ambiente_.AtualizaSDCard(false, CodigoPABX, DescricaoPABX, p.FVolumeSDCard);
                s.passo = p.FAgendaViaCTRL ? epPedeAgenda : epPedeNomesDNS;
            } else if (!v.empty() || p.FEstadoLink == elDesconectado) {
                // A unit without a readable card still serves its recordings.
                s.marcaTimeout = false;
                LogEstado("Volume SDCard não suportado");
                s.passo = epPedeNomesDNS;
            } else if (s.marcaTimeout) {
                s.fim = efTimeout;
                s.passoFim = s.passo;
            }
            return;
        }
        case epPedeNomesDNS:
            return envia(p.PedeNomesDNS(), "Aguardando nomes DNS", epAguardaNomesDNS);
        case epAguardaNomesDNS:
            if (aguarda(p.FStatusPROG)) {
                s.progresso = Clock::now();
                LogEstado("Tratando nomes DNS");
                s.passo = epPedeIndicesDNS;
            }
            return;
        case epPedeIndicesDNS:
            return envia(p.PedeIndicesDNS(), "Aguardando indices DNS", epAguardaIndicesDNS);
        case epAguardaIndicesDNS:
            if (aguarda(p.FStatusPROG)) {
                s.progresso = Clock::now();
                LogEstado("Tratanto indices DNS");
                if (p.AgendaHabilitada()) {
                    s.passo = epPedeAgenda;
                } else {
                    BDAtualizaDNS(p);
                    s.passo = epPedeReconexaoUSB;
                }
            }
            return;
        case epPedeAgenda:
            return envia(p.PedeAgenda(), "Aguardando agenda interna", epAguardaAgenda);
        case epAguardaAgenda: {
            // The agenda document is a CTRL request: its refusal comes there.
            if (p.FAgendaViaCTRL && p.FStatusPROG.Vazio() && !p.FStatusCTRL.Vazio() &&
                !(p.FStatusCTRL == "OK")) {
                s.fim = efRecusado;
                s.passoFim = s.passo;
                return;
            }
            if (aguarda(p.FStatusPROG)) {
                s.progresso = Clock::now();
                BDAtualizaDNS(p);
                LogEstado("Tratanto agenda");
                BDAtualizaNomesAgenda(p);
                s.passo = epPedeReconexaoUSB;
            }
            return;
        }
        case epPedeReconexaoUSB:
            return envia(p.PedeReconexaoUSB(), "Reconectando USB", epAguardaReconexaoUSB);
        case epAguardaReconexaoUSB:
            if (aguardaCTRL()) {
                s.progresso = Clock::now();
                LogEstado("USB reconectada");
                s.passo = epPedeAcesso;
            }
            return;
        case epPedeAcesso:
            envia(p.PedeAcessoGravacoes(true), "Solicitando acesso às gravações", epTransfere);
            if (s.fim == efNenhum) s.acessoAberto = true;
            return;
        case epTransfere:
            if (aguardaCTRL()) {
                TransfereImporta(s);
                if (s.parado) return;
                s.progresso = Clock::now();
                s.passo = epPedeFimAcesso;
            }
            return;
        case epPedeFimAcesso:
            envia(p.PedeAcessoGravacoes(false), "Solicitando fim de acesso às gravações",
                  epAguardaFimAcesso);
            if (s.fim == efNenhum) s.acessoAberto = false;
            return;
        case epAguardaFimAcesso:
            if (aguardaCTRL()) {
                LogEstado("Acesso às gravações desabilitado");
                s.passo = epPedeVolumeFinal;
            }
            return;
        case epPedeVolumeFinal: return envia(p.PedeVolumeSDCard(), nullptr, epAguardaVolumeFinal);
        case epAguardaVolumeFinal: {
            const std::string v = p.FStatusCTRL.Le();
            if (v == "OK") {
                if (ambiente_.AtualizaSDCard)
                    ambiente_.AtualizaSDCard(false, CodigoPABX, DescricaoPABX, p.FVolumeSDCard);
                s.fim = efConcluido;
            } else if (!v.empty() || p.FEstadoLink == elDesconectado) {
                s.fim = efConcluido;
            } else if (s.marcaTimeout) {
                s.fim = efTimeout;
                s.passoFim = s.passo;
            }
            return;
        }
        default:
            // Not a step of the session: a fault of this program, not of the unit.
            throw std::logic_error("passo de sessão desconhecido: " + std::to_string(s.passo));
    }
}

void TPABXDownloadFTP::RegraModelo(Sessao& s) {
    TPABX& p = s.pabx;
    const std::string modelo = p.FModelo, versao = p.FVersao;
    Log(LogInfo, true, Traduz("Tratando parâmetros PABX: " + modelo));
    if (Contem(modelo, "ORVAL500")) {
        Log(LogInfo, true, Traduz("Modelo ORVAL500, versão: " + versao));
        if (ComparaVersao(versao, "1.06.11") >= 0) {
            GanhoALaw = config_->GanhoORVAL500;
            LogEstado("Ampliação de nível de sinal: FALSE");
        } else {
            GanhoALaw = config_->GanhoPadrao;
            LogEstado("Ampliação de nível de sinal: TRUE");
        }
    } else if (Contem(modelo, "BRELVO")) {
        GanhoALaw = config_->GanhoBrelvo;
    } else if (ComparaVersao(versao, config_->VersaoMinimaPABX) < 0) {
        s.fim = efVersaoAntiga;
        s.passoFim = s.passo;
        return;
    } else {
        GanhoALaw = config_->GanhoPadrao;
    }
    s.passo = epPedeVolumeSDCard;
}

bool TPABXDownloadFTP::AguardaUSB() {
    TPABX& p = *ClientePABX;
    const bool usb = p.FModoUSB == 1;
    int contagem = 0;
    do {
        ++contagem;
        // One-second slices, each cut short by a stop request.
        const auto fimFatia = Clock::now() + std::chrono::seconds(1);
        while (Clock::now() < fimFatia) {
            if (Terminated()) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (usb && DiscoPronto(p.FRaizUSB)) return true;
    } while (contagem <= p.FEsperaUSB);
    return false;
}

void TPABXDownloadFTP::TransfereImporta(Sessao& s) {
    TPABX& p = s.pabx;
    LogEstado("Habilitado acesso às gravações");
    RegistraEstado(OpAcessoHabilitado);

    const bool pronto = AguardaUSB();
    if (Terminated()) {
        s.parado = true;
        return;
    }

    bool falhou = false;
    if (p.FModoUSB == 1) {
        if (pronto) {
            // The configured USB path: FPastaUSB without its last two parts.
            const fs::path usb = fs::path(p.FPastaUSB).lexically_normal();
            std::string origem = ComBarra(usb.parent_path().parent_path().string());
            origem = ComBarra(ArquivoSemCaixa(origem, "NORVIKA").string());
            Log(LogInfo, true,
                Traduz("Disco") + " " + p.FRaizUSB + " " + Traduz("pronto. Lendo arquivos..."));
            RegistraEstado(OpContando);

            Historico.DWN_BYTESBAIXAR = TamanhoPasta(origem);
            Log(LogInfo, true,
                Traduz("Bytes a baixar") + ": " + std::to_string(Historico.DWN_BYTESBAIXAR));
            Log(LogInfo, true,
                Traduz("Arquivos a baixar") + ": " + std::to_string(Historico.DWN_ARQBAIXAR));
            Historico.DWN_OPERATUAL = OpTransferindo;
            BDRegistraHistoricoDownload(HistoricoAContar);

            const std::string destino = PastaPABX + "NORVIKA/";
            Log(LogInfo, true, "Origem : " + origem);
            Log(LogInfo, true, "Destino: " + PastaPABX);
            std::error_code ec;
            fs::create_directories(destino, ec);
            CopiaPasta(origem, destino);
            LogEstado("Pasta copiada. Importando...");

            Historico.DWN_OPERATUAL = OpTransferenciaFim;
            Historico.DWN_RESULTADO = ResultadoSucesso;
            Historico.DWN_DTFIMDOWN = AgoraLocal();
            BDRegistraHistoricoDownload(HistoricoFimTransferencia);

            if (ImportaArquivos(p)) {
                LogEstado("Arquivos importados");
            } else {
                RegistraEstado(OpFalhaImportacaoUSB);
                LogAlerta(Traduz("Não foi possível importar arquivos do cartão") + " " +
                          p.FRaizUSB);
                falhou = true;
            }
        } else {
            RegistraEstado(OpUSBIndisponivel);
            LogAlerta(Traduz("Disco") + " " + p.FRaizUSB + " " +
                      Traduz("não disponível. Não foi possível copiar arquivos do cartão"));
            // Nothing was brought over: the run did not succeed.
            falhou = true;
        }
    } else {
        Log(LogInfo, false, Traduz("Fim espera acesso às gravações"));
        RegistraEstado(OpAcessoHabilitado);
        if (DownloadFTP()) {
            if (ImportaArquivos(p)) {
                LogEstado("Arquivos importados");
            } else {
                Log(LogSempre, true,
                    Traduz("Não foi possível importar arquivos do servidor FTP ZIMB"));
                falhou = true;
            }
        } else {
            Log(LogSempre, true,
                Traduz("Não foi possível transferir arquivos do servidor FTP ZIMB para a pasta") +
                    " " + config_->PastaPrograma);
            falhou = true;
        }
    }
    if (Terminated()) s.parado = true;
    // Files left at the unit because they could not be brought over, or
    // recordings the filing refused, make it a failed run even when the rest
    // went through.
    if (!falhou && FalhasNaExecucao()) falhou = true;
    if (falhou) RegistraResultado(ResultadoFalha);
}

void TPABXDownloadFTP::EncerraSessao(Sessao& s) {
    TPABX& p = s.pabx;
    fimSessao_ = s.fim;
    passoFim_ = s.passoFim;

    if (s.parado) {
        // The service is stopping: no waiting on the unit. Access left open
        // is closed with a request whose answer nobody waits for; the unit
        // is not stamped, so it stays due in its window.
        try {
            if (s.acessoAberto) p.PedeAcessoGravacoes(false);
        } catch (...) {
        }
        p.Desconecta();
        RegistraResultado(ResultadoFalha);
        LogEstado("Fim verificação cartão");
        ClientePABX.reset();
        return;
    }

    auto resumo = [&](const std::string& texto) { LogAlerta(texto); };
    switch (s.fim) {
        case efTimeout:
        case efFalhaEnvio:
        case efRecusado: {
            const auto& linhas = LinhasFimPasso();
            if (auto it = linhas.find(s.passoFim); it != linhas.end()) {
                const char* linha = s.fim == efTimeout      ? it->second.timeout
                                    : s.fim == efFalhaEnvio ? it->second.falhaEnvio
                                                            : it->second.recusado;
                if (*linha != '\0') LogEstado(linha);
            }
            resumo(Traduz(s.fim == efTimeout ? "Não foi possível receber configurações do PABX"
                          : s.fim == efFalhaEnvio
                              ? "Não foi possível solicitar configurações ao PABX"
                              : "Recusada solicitação de configuração ao PABX"));
            RegistraResultado(ResultadoFalha);
            break;
        }
        case efVersaoAntiga:
            resumo(Traduz("O sistema de gravação necessita de versão igual ou superior à") + " " +
                   config_->VersaoMinimaPABX + ". " + Traduz("Versão do PABX=") + " " + p.FVersao);
            // Nothing was brought over: the run did not succeed.
            RegistraResultado(ResultadoFalha);
            break;
        case efConcluido:
            // Every way through the transfer sets a result; one still open
            // would read as "running" for ever.
            if (Historico.DWN_RESULTADO == ResultadoEmAndamento)
                RegistraResultado(ResultadoSucesso);
            break;
        case efNenhum:
            // An unexpected error: its line and the result were written.
            if (s.acessoAberto) {
                try {
                    p.PedeAcessoGravacoes(false);
                } catch (...) {
                }
            }
            break;
    }

    p.Desconecta();
    ClientePABX.reset();
    LogEstado("Fim verificação cartão");
    // The row's last writes may have met the database away: its outcome is
    // written again once it is back, or the run would read as it stood then.
    RegravaHistoricoPendente();
    BDRegistraUltimoDownload();
}

void TPABXDownloadFTP::RegistraEstado(int operacao) {
    Historico.DWN_OPERATUAL = operacao;
    BDRegistraHistoricoDownload(HistoricoEstado);
}

void TPABXDownloadFTP::RegistraResultado(int resultado) {
    Historico.DWN_RESULTADO = resultado;
    BDRegistraHistoricoDownload(HistoricoEstado);
}

void TPABXDownloadFTP::LogAlerta(std::string_view texto) {
    const std::string linha = "PABX " + std::to_string(CodigoPABX) + ": " + std::string(texto);
    Log(LogSempre, true, linha);
    ambiente_.Alertas.EnfileiraAlertaEmail(AlertaFalha, nullptr, linha);
}

// ----------------------------------------------------------------- Helpers

DataHora TPABXDownloadFTP::AgoraLocal() const { return ambiente_.RelogioLocal.Agora(); }

std::string TPABXDownloadFTP::Traduz(std::string_view texto) const {
    return ambiente_.LogSrv.Traduz(texto);
}

std::shared_ptr<const ConfiguracaoGeral> TPABXDownloadFTP::ConfigGeral() const {
    return ambiente_.Banco.Configuracao();
}

ParametrosConexao TPABXDownloadFTP::ConexaoPrincipal() const {
    return ambiente_.Banco.ConexaoPrincipal();
}

ParametrosConexao TPABXDownloadFTP::ConexaoPABX() const {
    ParametrosConexao p = ambiente_.Banco.ConexaoPrincipal();
    p.banco = BaseDadosPABX;
    return p;
}
