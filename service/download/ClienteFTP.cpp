#include "service/download/ClienteFTP.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "common/Texto.h"

namespace {

// libcurl's global set-up is not thread-safe: done once, before any handle.
void IniciaCurl() {
    static std::once_flag uma;
    std::call_once(uma, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

long SegundosAcima(int ms) { return ms <= 0 ? 1 : (ms + 999) / 1000; }

struct Descritor {
    int fd = -1;
    ~Descritor() {
        if (fd >= 0) ::close(fd);
    }
};

struct EscritaArquivo {
    int fd = -1;
    std::int64_t bytes = 0;
    int erro = 0;
};

std::size_t EscreveArquivo(char* dados, std::size_t, std::size_t n, void* destino) {
    auto* e = static_cast<EscritaArquivo*>(destino);
    std::size_t feito = 0;
    while (feito < n) {
        const ssize_t r = ::write(e->fd, dados + feito, n - feito);
        if (r < 0) {
            if (errno == EINTR) continue;
            e->erro = errno;
            return 0;  // libcurl ends the transfer with CURLE_WRITE_ERROR
        }
        feito += static_cast<std::size_t>(r);
    }
    e->bytes += static_cast<std::int64_t>(n);
    return n;
}

std::size_t EscreveTexto(char* dados, std::size_t, std::size_t n, void* destino) {
    static_cast<std::string*>(destino)->append(dados, n);
    return n;
}

std::size_t Descarta(char*, std::size_t, std::size_t n, void*) { return n; }

std::optional<std::int64_t> Inteiro(std::string_view s) {
    if (s.empty() || s.size() > 19) return std::nullopt;
    std::int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v;
}

// "YYYYMMDDHHMMSS[.sss]" (UTC) as a Unix instant.
std::optional<std::time_t> DataMLSD(std::string_view s) {
    if (s.size() < 14) return std::nullopt;
    std::tm t{};
    auto campo = [&](std::size_t de, std::size_t n) { return Inteiro(s.substr(de, n)); };
    auto a = campo(0, 4), me = campo(4, 2), d = campo(6, 2), h = campo(8, 2), mi = campo(10, 2),
         se = campo(12, 2);
    if (!a || !me || !d || !h || !mi || !se) return std::nullopt;
    t.tm_year = static_cast<int>(*a) - 1900;
    t.tm_mon = static_cast<int>(*me) - 1;
    t.tm_mday = static_cast<int>(*d);
    t.tm_hour = static_cast<int>(*h);
    t.tm_min = static_cast<int>(*mi);
    t.tm_sec = static_cast<int>(*se);
    return ::timegm(&t);
}

template <typename F> void PorLinha(std::string_view texto, F&& f) {
    while (!texto.empty()) {
        const std::size_t fim = texto.find('\n');
        std::string_view linha = texto.substr(0, fim);
        if (!linha.empty() && linha.back() == '\r') linha.remove_suffix(1);
        if (!linha.empty()) f(linha);
        if (fim == std::string_view::npos) break;
        texto.remove_prefix(fim + 1);
    }
}

}  // namespace

ClasseErroFTP ClassificaErroFTP(CURLcode codigo) {
    switch (codigo) {
        case CURLE_COULDNT_CONNECT:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_LOGIN_DENIED:
        case CURLE_USE_SSL_FAILED:
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_FTP_WEIRD_SERVER_REPLY:
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL: return ClasseErroFTP::Conexao;
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_GOT_NOTHING:
        case CURLE_FTP_CANT_GET_HOST:
        case CURLE_FTP_WEIRD_PASV_REPLY:
        case CURLE_FTP_WEIRD_227_FORMAT:
        case CURLE_FTP_ACCEPT_FAILED:
        case CURLE_FTP_PORT_FAILED:
        case CURLE_SSL_SHUTDOWN_FAILED: return ClasseErroFTP::Queda;
        case CURLE_WRITE_ERROR:
        case CURLE_OUT_OF_MEMORY: return ClasseErroFTP::Local;
        case CURLE_ABORTED_BY_CALLBACK: return ClasseErroFTP::Parada;
        default:
            // CURLE_REMOTE_FILE_NOT_FOUND, CURLE_FTP_COULDNT_RETR_FILE,
            // CURLE_REMOTE_ACCESS_DENIED, CURLE_OPERATION_TIMEDOUT (the
            // low-speed limit) and the rest: this file, not the connection.
            return ClasseErroFTP::Arquivo;
    }
}

ClienteFTP::ClienteFTP(OpcoesFTP opcoes) : opcoes_(std::move(opcoes)) {
    IniciaCurl();
    curl_.reset(curl_easy_init());
    if (!curl_) throw ErroFTP(CURLE_FAILED_INIT, ClasseErroFTP::Local, "curl_easy_init");
    Prepara();
}

ClienteFTP::~ClienteFTP() {
    multi_.reset();  // before the easy handle it may still hold
}

void ClienteFTP::Prepara() {
    CURL* c = curl_.get();
    const bool anonimo = opcoes_.usuario.empty();
    curl_easy_setopt(c, CURLOPT_USERNAME, anonimo ? "anonymous" : opcoes_.usuario.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, anonimo ? "anonymous" : opcoes_.senha.c_str());
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, erro_);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(opcoes_.timeoutMs));
    curl_easy_setopt(c, CURLOPT_FTP_RESPONSE_TIMEOUT, SegundosAcima(opcoes_.timeoutMs));
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, SegundosAcima(opcoes_.timeoutMs));
    curl_easy_setopt(c, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
    // Large reads: fewer calls per megabyte on big recordings.
    curl_easy_setopt(c, CURLOPT_BUFFERSIZE, 512L * 1024L);
    curl_easy_setopt(c, CURLOPT_TRANSFERTEXT, 0L);
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "ftp,ftps");
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, &ClienteFTP::Progresso);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, this);
    if (opcoes_.seguranca > 0) {
        curl_easy_setopt(
            c, CURLOPT_USE_SSL,
            static_cast<long>(opcoes_.seguranca == 1 ? CURLUSESSL_TRY : CURLUSESSL_ALL));
        // A unit's recording board carries its own self-made certificate:
        // there is no authority to check it against.
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 0L);
        // Older boards speak TLS 1.0; the system's own policy still decides.
        curl_easy_setopt(c, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_0));
    }
}

int ClienteFTP::Progresso(void* eu, curl_off_t, curl_off_t recebidos, curl_off_t, curl_off_t) {
    auto* c = static_cast<ClienteFTP*>(eu);
    if (c->opcoes_.parar && c->opcoes_.parar()) return 1;
    // A request that moves no byte for the whole time-out ends here, at once:
    // libcurl's own low-speed check averages over several seconds and would
    // let a stalled transfer hang on for twice as long.
    const auto agora = std::chrono::steady_clock::now();
    if (recebidos != c->ultimosBytes_) {
        c->ultimosBytes_ = recebidos;
        c->ultimoProgresso_ = agora;
    } else if (agora - c->ultimoProgresso_ > std::chrono::milliseconds(c->opcoes_.timeoutMs)) {
        c->parado_ = true;
        return 1;
    }
    return 0;
}

std::string ClienteFTP::Url(std::string_view caminho) const {
    std::string url = opcoes_.seguranca == 3 ? "ftps://" : "ftp://";
    if (opcoes_.host.find(':') != std::string::npos)
        url += "[" + opcoes_.host + "]";
    else
        url += opcoes_.host;
    url += ":" + std::to_string(opcoes_.porta);
    // Each part is escaped whole, so "#", "%", blanks and Latin-1 bytes reach
    // the server as they were listed.
    std::size_t i = 0;
    while (i < caminho.size() && caminho[i] == '/') ++i;
    url += "/";
    while (i < caminho.size()) {
        std::size_t fim = caminho.find('/', i);
        if (fim == std::string_view::npos) fim = caminho.size();
        const std::string_view parte = caminho.substr(i, fim - i);
        if (!parte.empty()) {
            char* e = curl_easy_escape(curl_.get(), parte.data(), static_cast<int>(parte.size()));
            if (!e) throw ErroFTP(CURLE_OUT_OF_MEMORY, ClasseErroFTP::Local, "curl_easy_escape");
            url += e;
            curl_free(e);
            if (fim < caminho.size()) url += "/";
        }
        i = fim + 1;
    }
    return url;
}

void ClienteFTP::Falha(CURLcode codigo, std::string_view oque) {
    std::string texto = curl_easy_strerror(codigo);
    if (erro_[0]) {
        texto += ": ";
        texto += erro_;
    }
    texto += " (";
    texto += oque;
    texto += ")";
    throw ErroFTP(codigo, ClassificaErroFTP(codigo), texto);
}

CURLcode ClienteFTP::Realiza() {
    // The transfer runs on our own multi handle, woken every few
    // milliseconds: libcurl's own perform may sleep a whole second before it
    // opens a passive data connection, once per file. The multi handle also
    // keeps the control connection from one request to the next.
    if (!multi_) multi_.reset(curl_multi_init());
    if (!multi_) return CURLE_OUT_OF_MEMORY;
    if (curl_multi_add_handle(multi_.get(), curl_.get()) != CURLM_OK) return CURLE_FAILED_INIT;
    int ativos = 1;
    CURLcode resultado = CURLE_OK;
    while (ativos > 0) {
        if (curl_multi_perform(multi_.get(), &ativos) != CURLM_OK) {
            resultado = CURLE_RECV_ERROR;
            break;
        }
        if (ativos > 0) curl_multi_poll(multi_.get(), nullptr, 0, 10, nullptr);
    }
    int restantes = 0;
    while (CURLMsg* m = curl_multi_info_read(multi_.get(), &restantes))
        if (m->msg == CURLMSG_DONE && m->easy_handle == curl_.get()) resultado = m->data.result;
    curl_multi_remove_handle(multi_.get(), curl_.get());
    return resultado;
}

void ClienteFTP::Executa(std::string_view oque) {
    erro_[0] = 0;
    parado_ = false;
    ultimosBytes_ = 0;
    ultimoProgresso_ = std::chrono::steady_clock::now();
    CURLcode r = Realiza();
    if (r == CURLE_ABORTED_BY_CALLBACK && parado_) {
        r = CURLE_OPERATION_TIMEDOUT;
        std::snprintf(erro_, sizeof erro_, "no data for %d ms", opcoes_.timeoutMs);
    }
    if (r != CURLE_OK) {
        const ClasseErroFTP classe = ClassificaErroFTP(r);
        if (classe == ClasseErroFTP::Queda || classe == ClasseErroFTP::Conexao) conectado_ = false;
        Falha(r, oque);
    }
    conectado_ = true;
}

void ClienteFTP::Conecta() {
    CURL* c = curl_.get();
    curl_easy_setopt(c, CURLOPT_URL, Url("").c_str());
    curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Descarta);
    curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, conectado_ ? 0L : 1L);
    try {
        Executa("login");
    } catch (const ErroFTP& e) {
        curl_easy_setopt(c, CURLOPT_NOBODY, 0L);
        curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, 0L);
        conectado_ = false;
        if (e.Classe() == ClasseErroFTP::Parada) throw;
        // Whatever stopped the login (time-out, refusal, a dead socket) is a
        // failed connection to the caller.
        throw ErroFTP(e.Codigo(), ClasseErroFTP::Conexao, e.what());
    }
    curl_easy_setopt(c, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, 0L);
}

void ClienteFTP::Desconecta() {
    // Cleaning the multi handle closes its connections (QUIT on a live one);
    // fresh handles with the same options serve a later Conecta.
    multi_.reset();
    curl_.reset(curl_easy_init());
    if (curl_) Prepara();
    conectado_ = false;
}

std::vector<EntradaFTP> ClienteFTP::ListaCom(std::string_view pasta, const char* comando) {
    CURL* c = curl_.get();
    const std::string caminho = ComBarraOuRaiz(std::string(pasta));
    std::string texto;
    curl_easy_setopt(c, CURLOPT_URL, Url(caminho).c_str());
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, comando);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &EscreveTexto);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &texto);
    try {
        Executa(std::string(comando) + " " + caminho);
    } catch (...) {
        curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, nullptr);
        throw;
    }
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, nullptr);
    return std::string_view(comando) == "MLSD" ? AnalisaMLSD(texto) : AnalisaLIST(texto);
}

std::vector<EntradaFTP> ClienteFTP::Lista(std::string_view pasta) {
    if (usaLIST_) return ListaCom(pasta, "LIST");
    try {
        return ListaCom(pasta, "MLSD");
    } catch (const ErroFTP& e) {
        if (e.Classe() != ClasseErroFTP::Arquivo) throw;
        // Refused: a server without MLSD answers LIST, and then keeps doing
        // so for the whole run. A folder that cannot be listed fails LIST too.
        auto lista = ListaCom(pasta, "LIST");
        usaLIST_ = true;
        return lista;
    }
}

ClienteFTP::Atributos ClienteFTP::Consulta(std::string_view pasta, std::string_view nome) {
    CURL* c = curl_.get();
    const std::string caminho = ComBarraOuRaiz(std::string(pasta)) + std::string(nome);
    curl_easy_setopt(c, CURLOPT_URL, Url(caminho).c_str());
    curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(c, CURLOPT_FILETIME, 1L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Descarta);
    Atributos a;
    try {
        Executa("SIZE " + caminho);
    } catch (...) {
        curl_easy_setopt(c, CURLOPT_NOBODY, 0L);
        curl_easy_setopt(c, CURLOPT_FILETIME, 0L);
        throw;
    }
    curl_off_t tamanho = -1, data = -1;
    curl_easy_getinfo(c, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &tamanho);
    curl_easy_getinfo(c, CURLINFO_FILETIME_T, &data);
    curl_easy_setopt(c, CURLOPT_NOBODY, 0L);
    curl_easy_setopt(c, CURLOPT_FILETIME, 0L);
    a.tamanho = tamanho;
    if (data >= 0) a.modificacao = static_cast<std::time_t>(data);
    return a;
}

std::string ClienteFTP::NomeTemporario(std::string_view nome) {
    return "~" + std::string(nome) + ".baixando";
}

std::int64_t ClienteFTP::Baixa(std::string_view pasta, std::string_view nome,
                               const std::filesystem::path& destino, std::int64_t tamanhoEsperado,
                               std::optional<std::time_t> modificacao) {
    CURL* c = curl_.get();
    const std::string caminho = ComBarraOuRaiz(std::string(pasta)) + std::string(nome);
    const std::filesystem::path temporario =
        destino.parent_path() / NomeTemporario(destino.filename().string());

    Descritor arquivo;
    arquivo.fd =
        ::open(temporario.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (arquivo.fd < 0)
        throw ErroFTP(CURLE_WRITE_ERROR, ClasseErroFTP::Local,
                      std::string("Falha ao criar ") + temporario.string() + ": " +
                          std::strerror(errno));
    auto descarta = [&] {
        std::error_code ec;
        std::filesystem::remove(temporario, ec);
    };

    EscritaArquivo escrita{arquivo.fd};
    curl_easy_setopt(c, CURLOPT_URL, Url(caminho).c_str());
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &EscreveArquivo);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &escrita);
    curl_easy_setopt(c, CURLOPT_FILETIME, modificacao ? 0L : 1L);
    try {
        Executa("RETR " + caminho);
    } catch (const ErroFTP& e) {
        curl_easy_setopt(c, CURLOPT_FILETIME, 0L);
        descarta();
        if (escrita.erro)
            throw ErroFTP(CURLE_WRITE_ERROR, ClasseErroFTP::Local,
                          std::string(e.what()) + ": " + std::strerror(escrita.erro));
        throw;
    }
    curl_easy_setopt(c, CURLOPT_FILETIME, 0L);
    if (tamanhoEsperado >= 0 && escrita.bytes < tamanhoEsperado) {
        descarta();
        // The server ended the transfer early without saying so: a dropped
        // connection as far as the file is concerned.
        throw ErroFTP(CURLE_PARTIAL_FILE, ClasseErroFTP::Queda,
                      "Connection Closed: " + std::to_string(escrita.bytes) + " de " +
                          std::to_string(tamanhoEsperado) + " bytes (RETR " + caminho + ")");
    }
    if (!modificacao) {
        curl_off_t data = -1;
        curl_easy_getinfo(c, CURLINFO_FILETIME_T, &data);
        if (data >= 0) modificacao = static_cast<std::time_t>(data);
    }
    if (modificacao) {
        timespec tempos[2] = {{*modificacao, 0}, {*modificacao, 0}};
        ::futimens(arquivo.fd, tempos);
    }
    const int fd = arquivo.fd;
    arquivo.fd = -1;
    if (::close(fd) != 0) {
        const int erro = errno;
        descarta();
        throw ErroFTP(CURLE_WRITE_ERROR, ClasseErroFTP::Local,
                      "Falha ao gravar " + temporario.string() + ": " + std::strerror(erro));
    }
    std::error_code ec;
    std::filesystem::rename(temporario, destino, ec);
    if (ec) {
        descarta();
        throw ErroFTP(CURLE_WRITE_ERROR, ClasseErroFTP::Local,
                      "Falha ao renomear " + temporario.string() + ": " + ec.message());
    }
    return escrita.bytes;
}

std::vector<EntradaFTP> AnalisaMLSD(std::string_view texto) {
    std::vector<EntradaFTP> lista;
    PorLinha(texto, [&](std::string_view linha) {
        const std::size_t espaco = linha.find(' ');
        if (espaco == std::string_view::npos) return;
        std::string_view fatos = linha.substr(0, espaco);
        EntradaFTP e;
        e.nome = std::string(linha.substr(espaco + 1));
        bool temFato = false;
        while (!fatos.empty()) {
            std::size_t fim = fatos.find(';');
            std::string_view fato = fatos.substr(0, fim);
            fatos.remove_prefix(fim == std::string_view::npos ? fatos.size() : fim + 1);
            const std::size_t igual = fato.find('=');
            if (igual == std::string_view::npos) continue;
            temFato = true;
            const std::string_view chave = fato.substr(0, igual), valor = fato.substr(igual + 1);
            if (IgualSemCaixa(chave, "type")) {
                if (IgualSemCaixa(valor, "file"))
                    e.tipo = EntradaFTP::Arquivo;
                else if (IgualSemCaixa(valor, "dir"))
                    e.tipo = EntradaFTP::Pasta;
                else if (IgualSemCaixa(valor, "cdir") || IgualSemCaixa(valor, "pdir"))
                    e.nome.clear();  // the folder itself or its parent
                else
                    e.tipo = EntradaFTP::Outro;
            } else if (IgualSemCaixa(chave, "size")) {
                e.tamanho = Inteiro(valor);
            } else if (IgualSemCaixa(chave, "modify")) {
                e.modificacao = DataMLSD(valor);
            }
        }
        if (temFato && (!e.nome.empty() || e.tipo != EntradaFTP::Outro))
            lista.push_back(std::move(e));
    });
    return lista;
}

std::vector<EntradaFTP> AnalisaLIST(std::string_view texto) {
    std::vector<EntradaFTP> lista;
    PorLinha(texto, [&](std::string_view linha) {
        // Fields split by runs of blanks; the name is whatever follows the
        // field before it and one blank, so inner and leading blanks stay.
        auto campos = [&](int n, std::vector<std::string_view>& saida) -> std::string_view {
            std::string_view resto = linha;
            for (int i = 0; i < n; ++i) {
                while (!resto.empty() && resto.front() == ' ') resto.remove_prefix(1);
                const std::size_t fim = resto.find(' ');
                if (fim == std::string_view::npos) return {};
                saida.push_back(resto.substr(0, fim));
                resto.remove_prefix(fim);
            }
            if (resto.size() < 2) return {};
            return resto.substr(1);
        };
        EntradaFTP e;
        std::vector<std::string_view> f;
        const char tipo = linha.front();
        if (std::string_view("-dlbcps").find(tipo) != std::string_view::npos && linha.size() > 10) {
            const std::string_view nome = campos(8, f);
            if (f.size() != 8 || nome.empty()) return;
            e.nome = std::string(nome);
            e.tipo = tipo == 'd'   ? EntradaFTP::Pasta
                     : tipo == '-' ? EntradaFTP::Arquivo
                                   : EntradaFTP::Outro;
            if (e.tipo == EntradaFTP::Arquivo) e.tamanho = Inteiro(f[4]);
        } else if (linha.size() > 8 && std::isdigit(static_cast<unsigned char>(tipo)) &&
                   linha[2] == '-') {
            // DOS form: "12-11-26  01:41PM       <DIR>          NAME"
            const std::string_view nome = campos(3, f);
            if (f.size() != 3 || nome.empty()) return;
            e.nome = std::string(AparaEspacos(nome));
            if (f[2] == "<DIR>") {
                e.tipo = EntradaFTP::Pasta;
            } else {
                e.tipo = EntradaFTP::Arquivo;
                e.tamanho = Inteiro(f[2]);
            }
        } else {
            return;  // "total N" and anything unknown
        }
        if (e.nome == "." || e.nome == "..") return;
        lista.push_back(std::move(e));
    });
    return lista;
}
