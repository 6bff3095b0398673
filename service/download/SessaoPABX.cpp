#include "service/download/SessaoPABX.h"

#include <array>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "common/IniFile.h"
#include "common/Arquivos.h"
#include "common/Processos.h"
#include "common/Texto.h"
#include "common/pabx/RespostaLogin.h"
#include "service/download/PABXDownloadFTP.h"
#include "service/download/RegrasDownload.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// The session polls the link's status texts at this pace.
constexpr auto kPassoSessao = std::chrono::milliseconds(100);

using enum TipoPasso;
constexpr const char* kSem = nullptr;

constexpr std::array<PassoSessao, 24> kPassos{{
    // Connection and login: the connection's "OK" on either status, then the
    // login's acknowledgement (PROG) or its answer (CTRL).
    {epAguardaConexao, Proprio, nullptr, "Conectou ao PABX", epAguardaLogin,
     "Não foi possivel conectar ao PABX", kSem, "Não foi possivel conectar ao PABX"},
    {epAguardaLogin, Proprio, nullptr, "Login aceito", epPedeVersao,
     "Timeout: não foi possível conectar com KELV", kSem, "Login recusado"},
    // The unit's version, release and parameters (its model decides the gain).
    {epPedeVersao, Envia, [](TPABX& p) { return p.PedeVersao(); }, "Aguardando versão PABX",
     epAguardaVersao, kSem, "Não foi possivel solicitar versão", kSem},
    {epAguardaVersao, AguardaPROG, nullptr, "Tratando versão PABX", epPedeRelease,
     "Timeout: sem resposta ao pedido de versão", kSem, "Pedido versão recusado"},
    {epPedeRelease, Envia, [](TPABX& p) { return p.PedeRelease(); }, "Aguardando release PABX",
     epAguardaRelease, kSem, "Não foi possivel solicitar release", kSem},
    {epAguardaRelease, AguardaPROG, nullptr, "Tratando release PABX", epPedeParametros,
     "Timeout: sem resposta ao pedido de release", kSem, "Pedido release recusado"},
    {epPedeParametros, Envia, [](TPABX& p) { return p.PedeParametros(); },
     "Aguardando parâmetros PABX", epAguardaParametros, kSem, kSem, kSem},
    {epAguardaParametros, AguardaPROG, nullptr, nullptr, epPedeVolumeSDCard, kSem, kSem, kSem},
    // The SD-card volume: a unit without a readable card goes on without it.
    {epPedeVolumeSDCard, Envia, [](TPABX& p) { return p.PedeVolumeSDCard(); },
     "Aguardando volume SDCard", epAguardaVolumeSDCard, kSem, kSem, kSem},
    {epAguardaVolumeSDCard, Proprio, nullptr, "Tratando volume SDCard", epPedeNomesDNS, kSem, kSem,
     kSem},
    // The extension directory: names, indices, and the agenda where the unit has one.
    {epPedeNomesDNS, Envia, [](TPABX& p) { return p.PedeNomesDNS(); }, "Aguardando nomes DNS",
     epAguardaNomesDNS, kSem, "Não foi possivel solicitar nomes DNS", kSem},
    {epAguardaNomesDNS, AguardaPROG, nullptr, "Tratando nomes DNS", epPedeIndicesDNS,
     "Timeout: sem resposta ao pedido nomes DNS", kSem, "Pedido nomes DNS recusado"},
    {epPedeIndicesDNS, Envia, [](TPABX& p) { return p.PedeIndicesDNS(); }, "Aguardando indices DNS",
     epAguardaIndicesDNS, kSem, "Não foi possivel solicitar indices DNS", kSem},
    {epAguardaIndicesDNS, AguardaPROG, nullptr, "Tratanto indices DNS", epPedeReconexaoUSB,
     "Timeout: sem resposta ao pedido indices DNS", kSem, "Pedido indice DNS recusado"},
    {epPedeAgenda, Envia, [](TPABX& p) { return p.PedeAgenda(); }, "Aguardando agenda interna",
     epAguardaAgenda, kSem, kSem, kSem},
    {epAguardaAgenda, Proprio, nullptr, "Tratanto agenda", epPedeReconexaoUSB, kSem, kSem, kSem},
    // The recordings: the USB store reconnected, access opened, the transfer
    // and import, access closed.
    {epPedeReconexaoUSB, Envia, [](TPABX& p) { return p.PedeReconexaoUSB(); }, "Reconectando USB",
     epAguardaReconexaoUSB, kSem, "Não foi possivel enviar reconexão USB", kSem},
    {epAguardaReconexaoUSB, AguardaCTRL, nullptr, "USB reconectada", epPedeAcesso,
     "Timeout: sem resposta à reconexão USB", kSem, "Reconexão USB recusada"},
    {epPedeAcesso, Envia, [](TPABX& p) { return p.PedeAcessoGravacoes(true); },
     "Solicitando acesso às gravações", epTransfere, kSem,
     "Não foi possivel enviar controle de acesso", kSem},
    {epTransfere, AguardaCTRL, nullptr, nullptr, epPedeFimAcesso,
     "Timeout: sem resposta ao controle de acesso", kSem, "Controle de acesso recusado"},
    {epPedeFimAcesso, Envia, [](TPABX& p) { return p.PedeAcessoGravacoes(false); },
     "Solicitando fim de acesso às gravações", epAguardaFimAcesso, kSem,
     "Não foi possivel enviar controle de acesso", kSem},
    {epAguardaFimAcesso, AguardaCTRL, nullptr, "Acesso às gravações desabilitado",
     epPedeVolumeFinal, "Timeout: sem resposta ao controle de acesso", kSem,
     "Controle de acesso recusado"},
    // The volume once more, after the removals.
    {epPedeVolumeFinal, Envia, [](TPABX& p) { return p.PedeVolumeSDCard(); }, nullptr,
     epAguardaVolumeFinal, kSem, kSem, kSem},
    {epAguardaVolumeFinal, Proprio, nullptr, nullptr, epAguardaVolumeFinal, kSem, kSem, kSem},
}};

bool Contem(std::string_view texto, std::string_view parte) {
    return texto.find(parte) != std::string_view::npos;
}

}  // namespace

const PassoSessao* PassoDaSessao(int passo) {
    for (const PassoSessao& p : kPassos)
        if (p.passo == passo) return &p;
    return nullptr;
}

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
    PreparaLink(pabx, *this, &evento);

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
    const PassoSessao* passo = PassoDaSessao(s.passo);
    // Not a step of the session: a fault of this program, not of the unit.
    if (passo == nullptr)
        throw std::logic_error("passo de sessão desconhecido: " + std::to_string(s.passo));
    TPABX& p = s.pabx;

    switch (passo->tipo) {
        case TipoPasso::Proprio: return ExecutaPassoProprio(s, *passo);
        case TipoPasso::Envia:
            // The request goes out in this pass or the session ends.
            if (!passo->pedido(p)) return TerminaSessao(s, efFalhaEnvio);
            s.progresso = Clock::now();
            s.marcaTimeout = false;
            break;
        case TipoPasso::AguardaPROG:
        case TipoPasso::AguardaCTRL: {
            // A CTRL answer can never come once the link has dropped: that
            // ends the wait at once, like a refusal, instead of after the
            // whole time-out.
            if (passo->tipo == TipoPasso::AguardaCTRL && p.FStatusCTRL.Vazio() &&
                (p.FEstadoLink == elDesconectado || p.FEstadoLink == elFalhaConexao))
                return TerminaSessao(s, efRecusado);
            const std::string v =
                (passo->tipo == TipoPasso::AguardaPROG ? p.FStatusPROG : p.FStatusCTRL).Le();
            if (v != "OK") {
                // Any other answer is a refusal; none, by the time-out mark of
                // this pass, a time-out; else the step waits on.
                if (!v.empty())
                    TerminaSessao(s, efRecusado);
                else if (s.marcaTimeout)
                    TerminaSessao(s, efTimeout);
                return;
            }
            s.marcaTimeout = false;
            break;
        }
    }
    if (passo->linha != nullptr) LogEstado(passo->linha);
    const int proximo = PassouPasso(s, *passo);
    if (proximo == 0) return;
    s.progresso = Clock::now();
    s.passo = proximo;
}

void TPABXDownloadFTP::TerminaSessao(Sessao& s, TFimSessao fim) {
    s.fim = fim;
    s.passoFim = s.passo;
}

int TPABXDownloadFTP::PassouPasso(Sessao& s, const PassoSessao& passo) {
    switch (passo.passo) {
        case epAguardaParametros: return RegraModelo(s) ? passo.proximo : 0;
        case epAguardaIndicesDNS:
            if (s.pabx.AgendaHabilitada()) return epPedeAgenda;
            BDAtualizaDNS(s.pabx);
            return passo.proximo;
        case epPedeAcesso: s.acessoAberto = true; return passo.proximo;
        case epPedeFimAcesso: s.acessoAberto = false; return passo.proximo;
        case epTransfere: TransfereImporta(s); return s.parado ? 0 : passo.proximo;
        default: return passo.proximo;
    }
}

void TPABXDownloadFTP::ExecutaPassoProprio(Sessao& s, const PassoSessao& passo) {
    TPABX& p = s.pabx;
    switch (passo.passo) {
        case epAguardaConexao: {
            const bool ok = p.FStatusPROG == "OK" || p.FStatusCTRL == "OK";
            if (!ok) {
                if (!p.FStatusPROG.Vazio())
                    TerminaSessao(s, efRecusado);
                else if (s.marcaTimeout)
                    TerminaSessao(s, efTimeout);
                return;
            }
            s.marcaTimeout = false;
            LogEstado(passo.linha);
            RegistraEstado(OpConectado);
            // The connection's own "OK" must not pass for the login's answer.
            p.FStatusPROG.Esvazia();
            p.EnviaLogin();
            s.passo = passo.proximo;
            return;
        }
        case epAguardaLogin: {
            // A right password gives the acknowledgement of the login block
            // (PROG) and a CTRL "OK"; a wrong one a CTRL refusal.
            switch (AvaliaRespostaLogin(p.FStatusPROG.Le(), p.FStatusCTRL.Le())) {
                case RespostaLogin::Aceito:
                    s.marcaTimeout = false;
                    s.progresso = Clock::now();
                    LogEstado(passo.linha);
                    RegistraEstado(OpLoginAceito);
                    s.passo = passo.proximo;
                    break;
                case RespostaLogin::Recusado:
                    RegistraEstado(OpLoginRecusado);
                    TerminaSessao(s, efRecusado);
                    break;
                case RespostaLogin::Aguardando:
                    if (s.marcaTimeout) TerminaSessao(s, efTimeout);
                    break;
            }
            return;
        }
        case epAguardaVolumeSDCard: {
            const std::string v = p.FStatusCTRL.Le();
            if (v == "OK") {
                s.marcaTimeout = false;
                s.progresso = Clock::now();
                LogEstado(passo.linha);
                if (ambiente_.AtualizaSDCard)
                    ambiente_.AtualizaSDCard(false, CodigoPABX, DescricaoPABX, p.FVolumeSDCard);
                s.passo = p.FAgendaViaCTRL ? epPedeAgenda : passo.proximo;
            } else if (!v.empty() || p.FEstadoLink == elDesconectado) {
                // A unit without a readable card still serves its recordings.
                s.marcaTimeout = false;
                LogEstado("Volume SDCard não suportado");
                s.passo = passo.proximo;
            } else if (s.marcaTimeout) {
                TerminaSessao(s, efTimeout);
            }
            return;
        }
        case epAguardaAgenda: {
            // The agenda document is a CTRL request: its refusal comes there.
            if (p.FAgendaViaCTRL && p.FStatusPROG.Vazio() && !p.FStatusCTRL.Vazio() &&
                !(p.FStatusCTRL == "OK"))
                return TerminaSessao(s, efRecusado);
            const std::string v = p.FStatusPROG.Le();
            if (v == "OK") {
                s.marcaTimeout = false;
                s.progresso = Clock::now();
                BDAtualizaDNS(p);
                LogEstado(passo.linha);
                BDAtualizaNomesAgenda(p);
                s.passo = passo.proximo;
            } else if (!v.empty()) {
                TerminaSessao(s, efRecusado);
            } else if (s.marcaTimeout) {
                TerminaSessao(s, efTimeout);
            }
            return;
        }
        case epAguardaVolumeFinal: {
            const std::string v = p.FStatusCTRL.Le();
            if (v == "OK") {
                if (ambiente_.AtualizaSDCard)
                    ambiente_.AtualizaSDCard(false, CodigoPABX, DescricaoPABX, p.FVolumeSDCard);
                s.fim = efConcluido;
            } else if (!v.empty() || p.FEstadoLink == elDesconectado) {
                s.fim = efConcluido;
            } else if (s.marcaTimeout) {
                TerminaSessao(s, efTimeout);
            }
            return;
        }
        default:
            throw std::logic_error("passo de sessão sem tratamento: " + std::to_string(s.passo));
    }
}

bool TPABXDownloadFTP::RegraModelo(Sessao& s) {
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
        TerminaSessao(s, efVersaoAntiga);
        return false;
    } else {
        GanhoALaw = config_->GanhoPadrao;
    }
    return true;
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
            RegistraAContar();

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
            if (const PassoSessao* passo = PassoDaSessao(s.passoFim)) {
                const char* linha = s.fim == efTimeout      ? passo->linhaTimeout
                                    : s.fim == efFalhaEnvio ? passo->linhaFalhaEnvio
                                                            : passo->linhaRecusado;
                if (linha != nullptr) LogEstado(linha);
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
