#include "service/AlertaEmail.h"

#include <ctime>
#include <utility>

#include "common/CifraTexto.h"
#include "common/Texto.h"
#include "common/db/Firebird.h"
#include "common/db/LinhaConfig.h"
#include "service/BancoServico.h"
#include "service/ClienteSMTP.h"
#include "service/LogServico.h"
#include "service/MensagemEmail.h"

void FilaEmails::Adiciona(TMsgMailVeruzadu item) {
    std::lock_guard lock(trava_);
    itens_.push_back(std::move(item));
}

std::size_t FilaEmails::Quantidade() const {
    std::lock_guard lock(trava_);
    return itens_.size();
}

std::optional<TMsgMailVeruzadu> FilaEmails::RetiraPrimeiro() {
    std::lock_guard lock(trava_);
    if (itens_.empty()) return std::nullopt;
    TMsgMailVeruzadu item = std::move(itens_.front());
    itens_.pop_front();
    return item;
}

AlertasEmail::AlertasEmail(std::function<int()> categorias) : categorias_(std::move(categorias)) {}

void AlertasEmail::EnfileiraAlertaEmail(std::uint16_t categoria,
                                        const std::vector<std::string>* linhas,
                                        std::string_view texto) {
    const int ativas = categorias_ ? categorias_() : 0;
    if ((ativas & categoria) != categoria) return;
    if (linhas == nullptr && texto.empty()) return;
    TMsgMailVeruzadu msg;
    msg.FCategoria = categoria;
    if (linhas != nullptr)
        msg.FLinhas = *linhas;
    else
        msg.FLinhas.emplace_back(texto);
    if (auto fila = Fila()) fila->Adiciona(std::move(msg));
}

void AlertasEmail::DefineFila(std::shared_ptr<FilaEmails> fila) {
    std::lock_guard lock(trava_);
    fila_ = std::move(fila);
}

std::shared_ptr<FilaEmails> AlertasEmail::Fila() const {
    std::lock_guard lock(trava_);
    return fila_;
}

std::size_t AlertasEmail::ContagemFilaEmails() const {
    auto fila = Fila();
    return fila ? fila->Quantidade() : 0;
}

// ---- sending ----

bool BDLeConfiguracaoSMTP(BancoServico& banco, ContaSMTP& conta, std::string& remetente) {
    std::optional<ConexaoServico> con;
    try {
        con.emplace(banco.ConexaoPrincipal());
        Transaction tr(con->Conexao(), true);
        con->Comando(SelecaoLinhaConfig);
        const std::optional<LinhaConfig> linha = LeLinhaConfig(tr);
        tr.Commit();
        if (linha) {
            const auto texto = [](const std::string& t) { return std::string(AparaEspacos(t)); };
            conta.Servidor = texto(linha->CFG_SMTPSERVER);
            conta.Porta = static_cast<std::uint16_t>(linha->CFG_SMTPPORTA);
            remetente = texto(linha->CFG_SMTPMAIL);
            conta.Autentica = linha->CFG_SMTPAUTH == 1;
            conta.Usuario = texto(linha->CFG_SMTPUSERNAME);
            const std::string_view senha = AparaEspacos(linha->CFG_SMTPUSERPASS);
            conta.Senha = senha.empty() ? std::string() : CortaUtf8(DescriptografaTexto(senha), 40);
            conta.Seguranca = SegurancaDaConfiguracao(linha->CFG_SMTPSECURITY);
        }
        return true;
    } catch (const FirebirdError& e) {
        banco.Log().Log(LogErro, false, LinhaErroBD("SELSMTP", e, con ? con->ComandoAtual() : ""));
        return false;
    }
}

namespace {

std::string Junta(const std::vector<std::string>& itens) {
    std::string r;
    for (const auto& i : itens) r += (r.empty() ? "" : ", ") + i;
    return r;
}

// Steps between "Enviando email" and "Fim envio de email".
void Envia(const TMsgMailVeruzadu& alerta, const ConfiguracaoGeral& cfg, BancoServico& banco,
           const OpcoesSMTP& opcoes, const std::function<bool()>& cancelado) {
    LogServico& log = banco.Log();
    const auto T = [&](std::string_view t) { return log.Traduz(t); };

    ContaSMTP conta;
    std::string remetente;
    if (!BDLeConfiguracaoSMTP(banco, conta, remetente)) return;
    if (conta.Servidor.empty()) {
        log.Log(LogSempre, true, T("Servidor SMTP não está configurado"));
        return;
    }
    const std::vector<std::string> para = SeparaEnderecos(cfg.CFG_ALMMAILTO);
    if (para.empty()) {
        log.Log(LogSempre, true, T("Email de destino não está configurado"));
        return;
    }

    MensagemSMTP m;
    m.Remetente = SemControles(remetente);
    m.Para = para;
    m.Copia = SeparaEnderecos(cfg.CFG_ALMMAILCC);
    m.Cabecalhos.push_back("Date: " + DataCabecalho(static_cast<long long>(std::time(nullptr))));
    m.Cabecalhos.push_back("From: " + EnderecoCabecalho(conta.Usuario, remetente));
    m.Cabecalhos.push_back("To: " + Junta(m.Para));
    if (!m.Copia.empty()) m.Cabecalhos.push_back("Cc: " + Junta(m.Copia));
    m.Cabecalhos.push_back("Subject: " + TextoCabecalho(T("Alerta Serviço de Gravação")));
    std::vector<std::string> linhas = {
        "", T("Esta é uma mensagem automática do Serviço de Gravação"), "",
        FormataDataHora(log.AgoraLocal(), "dd/mm/yyyy hh:nn:ss")};
    linhas.insert(linhas.end(), alerta.FLinhas.begin(), alerta.FLinhas.end());
    linhas.push_back("");
    linhas.push_back(T("Respostas para esta mensagem não serão monitoradas ou respondidas, pois o "
                       "endereço de email é utilizado apenas para envio de mensagens"));
    m.Corpo = CorpoEmail(linhas);

    const ResultadoSMTP r = EnviaSMTP(
        conta, opcoes, m, [&] { log.Log(LogInfo, true, T("SMTP conectado")); }, cancelado);
    const std::string motivo = RemovePrimeiroError(r.mensagem);
    switch (r.etapa) {
        case ResultadoSMTP::Etapa::Enviado:
            log.Log(LogInfo, true,
                    T("Alerta para") + ": " + cfg.CFG_ALMMAILTO + "  " + alerta.FLinhas.front());
            break;
        case ResultadoSMTP::Etapa::FalhaConexao:
            log.Log(LogSempre, true,
                    T("Não foi possível conectar com servidor SMTP") + " " + conta.Servidor + " (" +
                        motivo + ")");
            break;
        case ResultadoSMTP::Etapa::FalhaEnvio:
            log.Log(LogSempre, true,
                    T("Não foi possível enviar email para") + " " + cfg.CFG_ALMMAILTO + " (" +
                        motivo + ")");
            break;
    }
    if (r.conectou) log.Log(LogInfo, true, T("SMTP desconectado"));
}

}  // namespace

void EnviaEmailAlerta(AlertasEmail& alertas, BancoServico& banco, const OpcoesSMTP& opcoes,
                      const std::function<bool()>& cancelado) {
    const auto fila = alertas.Fila();
    if (!fila) return;
    const std::optional<TMsgMailVeruzadu> alerta = fila->RetiraPrimeiro();
    if (!alerta) return;
    LogServico& log = banco.Log();
    try {
        const auto cfg = banco.Configuracao();
        if (!cfg || cfg->CFG_ALMALERTA <= 0 || alerta->FLinhas.empty()) {
            log.Log(LogSempre, true, log.Traduz("Email não configurado"));
            return;
        }
        log.Log(LogInfo, true, log.Traduz("Enviando email"));
        Envia(*alerta, *cfg, banco, opcoes, cancelado);
    } catch (const std::exception& e) {
        log.Log(LogErro, true, std::string("Email: ") + e.what());
    }
    log.Log(LogInfo, true, log.Traduz("Fim envio de email"));
}
