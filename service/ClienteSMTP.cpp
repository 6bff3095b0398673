#include "service/ClienteSMTP.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <mutex>

#include "common/IniFile.h"

namespace {

struct LiberaCurl {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct LiberaLista {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct LiberaMime {
    void operator()(curl_mime* m) const { curl_mime_free(m); }
};
using ListaCurl = std::unique_ptr<curl_slist, LiberaLista>;

void Acrescenta(ListaCurl& lista, const std::string& item) {
    curl_slist* nova = curl_slist_append(lista.get(), item.c_str());
    if (nova == nullptr) throw std::bad_alloc();
    lista.release();
    lista.reset(nova);
}

void IniciaCurl() {
    static std::once_flag uma;
    std::call_once(uma, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool ComecaCom(const char* dados, std::size_t n, std::string_view prefixo) {
    if (n < prefixo.size()) return false;
    for (std::size_t i = 0; i < prefixo.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(dados[i])) != prefixo[i]) return false;
    return true;
}

// What the dialogue showed while it ran.
struct Sessao {
    const std::function<void()>* aoConectar = nullptr;
    const std::function<bool()>* cancelado = nullptr;
    bool conectou = false;
    std::string ultimaResposta;  // the server's last reply line

    void Conectou() {
        if (conectou) return;
        conectou = true;
        if (*aoConectar) (*aoConectar)();
    }
};

int Depura(CURL*, curl_infotype tipo, char* dados, std::size_t n, void* ctx) {
    auto& s = *static_cast<Sessao*>(ctx);
    try {
        if (tipo == CURLINFO_HEADER_OUT) {
            if (ComecaCom(dados, n, "AUTH ") || ComecaCom(dados, n, "MAIL FROM")) s.Conectou();
        } else if (tipo == CURLINFO_HEADER_IN) {
            std::string linha(dados, n);
            while (!linha.empty() && (linha.back() == '\n' || linha.back() == '\r'))
                linha.pop_back();
            if (!linha.empty()) s.ultimaResposta = linha;
        }
    } catch (...) {
    }
    return 0;
}

int Progresso(void* ctx, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto& s = *static_cast<Sessao*>(ctx);
    return (*s.cancelado && (*s.cancelado)()) ? 1 : 0;
}

// A 4xx or 5xx reply: the server refused something.
bool Recusa(const std::string& resposta) {
    return resposta.size() >= 3 && (resposta[0] == '4' || resposta[0] == '5') &&
           std::isdigit(static_cast<unsigned char>(resposta[1])) &&
           std::isdigit(static_cast<unsigned char>(resposta[2]));
}

// A host name or address literal, nothing a URL could read as more.
bool ServidorValido(const std::string& s) {
    if (s.empty()) return false;
    return std::all_of(s.begin(), s.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == ':';
    });
}

// The envelope form of an address item: "a@x", "<a@x>" and "Name <a@x>"
// all give "<a@x>".
std::string Envelope(const std::string& endereco) {
    const auto abre = endereco.rfind('<');
    const auto fecha = endereco.rfind('>');
    if (abre != std::string::npos && fecha != std::string::npos && fecha > abre)
        return endereco.substr(abre, fecha - abre + 1);
    return "<" + endereco + ">";
}

}  // namespace

SegurancaSMTP SegurancaDaConfiguracao(int valor) {
    switch (valor) {
        case 0: return SegurancaSMTP::Nenhuma;
        case 1: return SegurancaSMTP::SeOferecida;
        case 3: return SegurancaSMTP::Implicita;
        default: return SegurancaSMTP::Exigida;
    }
}

OpcoesSMTP LeOpcoesSMTP(const IniFile& ini) {
    OpcoesSMTP o;
    o.TimeOut = ini.ReadInteger("Veruzadu", "SMTPTimeOut", 30);
    if (o.TimeOut <= 0) o.TimeOut = 30;
    o.VerificaCertificado = ini.ReadBool("Veruzadu", "SMTPVerificaCertificado", true);
    o.ArquivoCA = ini.ReadString("Veruzadu", "SMTPArquivoCA", "");
    return o;
}

ResultadoSMTP EnviaSMTP(const ContaSMTP& conta, const OpcoesSMTP& opcoes,
                        const MensagemSMTP& mensagem, const std::function<void()>& aoConectar,
                        const std::function<bool()>& cancelado) {
    ResultadoSMTP r;
    if (!ServidorValido(conta.Servidor)) {
        r.mensagem = "Nome de servidor inválido";
        return r;
    }
    IniciaCurl();
    std::unique_ptr<CURL, LiberaCurl> curl(curl_easy_init());
    if (!curl) {
        r.mensagem = "curl_easy_init";
        return r;
    }
    CURL* c = curl.get();
    Sessao sessao;
    sessao.aoConectar = &aoConectar;
    sessao.cancelado = &cancelado;
    char erro[CURL_ERROR_SIZE] = {};

    const bool implicita = conta.Seguranca == SegurancaSMTP::Implicita;
    const std::string host =
        conta.Servidor.find(':') != std::string::npos ? "[" + conta.Servidor + "]" : conta.Servidor;
    // Port 0 (never set) takes the scheme's own: 25, or 465 for implicit TLS.
    const std::string url = std::string(implicita ? "smtps://" : "smtp://") + host +
                            (conta.Porta != 0 ? ":" + std::to_string(conta.Porta) : std::string());
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, erro);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_FORBID_REUSE, 1L);
    long usaTLS = CURLUSESSL_NONE;
    switch (conta.Seguranca) {
        case SegurancaSMTP::Nenhuma: usaTLS = CURLUSESSL_NONE; break;
        case SegurancaSMTP::SeOferecida: usaTLS = CURLUSESSL_TRY; break;
        case SegurancaSMTP::Exigida:
        case SegurancaSMTP::Implicita: usaTLS = CURLUSESSL_ALL; break;
    }
    curl_easy_setopt(c, CURLOPT_USE_SSL, usaTLS);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, opcoes.VerificaCertificado ? 1L : 0L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, opcoes.VerificaCertificado ? 2L : 0L);
    if (!opcoes.ArquivoCA.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, opcoes.ArquivoCA.c_str());
    if (conta.Autentica) {
        curl_easy_setopt(c, CURLOPT_USERNAME, conta.Usuario.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, conta.Senha.c_str());
    }
    const long limite = opcoes.TimeOut > 0 ? opcoes.TimeOut : 30;
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, limite);
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, limite);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, limite * 4);
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L);
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, Depura);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &sessao);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, Progresso);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, &sessao);

    const std::string remetente = Envelope(mensagem.Remetente);
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, remetente.c_str());
    ListaCurl destinatarios, cabecalhos;
    for (const auto& e : mensagem.Para) Acrescenta(destinatarios, Envelope(e));
    for (const auto& e : mensagem.Copia) Acrescenta(destinatarios, Envelope(e));
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, destinatarios.get());
    for (const auto& h : mensagem.Cabecalhos) Acrescenta(cabecalhos, h);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, cabecalhos.get());

    // Freed before the handle (declared after it); the handle lets go of it
    // right after the transfer.
    std::unique_ptr<curl_mime, LiberaMime> mime(curl_mime_init(c));
    curl_mimepart* parte = curl_mime_addpart(mime.get());
    curl_mime_data(parte, mensagem.Corpo.data(), mensagem.Corpo.size());
    curl_mime_type(parte, "text/plain; charset=UTF-8");
    curl_mime_encoder(parte, "quoted-printable");
    curl_easy_setopt(c, CURLOPT_MIMEPOST, mime.get());

    const CURLcode codigo = curl_easy_perform(c);
    curl_easy_setopt(c, CURLOPT_MIMEPOST, static_cast<curl_mime*>(nullptr));
    r.conectou = sessao.conectou;
    if (codigo == CURLE_OK) {
        r.etapa = ResultadoSMTP::Etapa::Enviado;
        return r;
    }
    // A refused login is a refusal of AUTH even when no mechanism matched.
    if (codigo == CURLE_LOGIN_DENIED && !sessao.conectou) {
        sessao.Conectou();
        r.conectou = true;
    }
    r.etapa = r.conectou ? ResultadoSMTP::Etapa::FalhaEnvio : ResultadoSMTP::Etapa::FalhaConexao;
    if (Recusa(sessao.ultimaResposta))
        r.mensagem = sessao.ultimaResposta;
    else
        r.mensagem = erro[0] != '\0' ? std::string(erro) : std::string(curl_easy_strerror(codigo));
    return r;
}
