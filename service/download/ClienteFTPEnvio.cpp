// Uploads of the FTP client: folder creation, a file sent under a temporary
// name and renamed over its final name once the server holds all of it.

#include "service/download/ClienteFTP.h"

#include "common/Texto.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>

namespace {

struct LeituraArquivo {
    int fd = -1;
    int erro = 0;
    ~LeituraArquivo() {
        if (fd >= 0) ::close(fd);
    }
};

std::size_t LeArquivo(char* destino, std::size_t, std::size_t n, void* origem) {
    auto* l = static_cast<LeituraArquivo*>(origem);
    for (;;) {
        const ssize_t r = ::read(l->fd, destino, n);
        if (r >= 0) return static_cast<std::size_t>(r);
        if (errno == EINTR) continue;
        l->erro = errno;
        return CURL_READFUNC_ABORT;
    }
}

std::size_t Descarta(char*, std::size_t, std::size_t n, void*) { return n; }

// A libcurl string list, freed with its owner.
struct ListaCurl {
    curl_slist* lista = nullptr;
    explicit ListaCurl(const std::vector<std::string>& itens) {
        for (const auto& i : itens) {
            curl_slist* nova = curl_slist_append(lista, i.c_str());
            if (!nova)
                throw ErroFTP(CURLE_OUT_OF_MEMORY, ClasseErroFTP::Local, "curl_slist_append");
            lista = nova;
        }
    }
    ~ListaCurl() { curl_slist_free_all(lista); }
    ListaCurl(const ListaCurl&) = delete;
    ListaCurl& operator=(const ListaCurl&) = delete;
};

// Puts the handle back as the download's requests expect it, whatever way
// an upload request ends.
struct RestauraOpcoes {
    CURL* c;
    ~RestauraOpcoes() {
        curl_easy_setopt(c, CURLOPT_UPLOAD, 0L);
        curl_easy_setopt(c, CURLOPT_NOBODY, 0L);
        curl_easy_setopt(c, CURLOPT_POSTQUOTE, nullptr);
        curl_easy_setopt(c, CURLOPT_READFUNCTION, nullptr);
        curl_easy_setopt(c, CURLOPT_READDATA, nullptr);
        curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
        curl_easy_setopt(c, CURLOPT_FTP_CREATE_MISSING_DIRS,
                         static_cast<long>(CURLFTP_CREATE_DIR_NONE));
        curl_easy_setopt(c, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_SINGLECWD));
        curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, nullptr);
        curl_easy_setopt(c, CURLOPT_HEADERDATA, nullptr);
    }
};

// The server's answers of one request (libcurl hands FTP replies to the
// header callback).
std::size_t GuardaResposta(char* dados, std::size_t, std::size_t n, void* destino) {
    auto* s = static_cast<std::string*>(destino);
    if (s->size() < 64 * 1024) s->append(dados, n);
    return n;
}

// The size in the last "213 <n>" reply, when there is one.
std::optional<std::int64_t> TamanhoSIZE(std::string_view respostas) {
    std::optional<std::int64_t> r;
    std::size_t i = 0;
    while (i < respostas.size()) {
        std::size_t fim = respostas.find('\n', i);
        if (fim == std::string_view::npos) fim = respostas.size();
        std::string_view linha = respostas.substr(i, fim - i);
        i = fim + 1;
        if (!linha.empty() && linha.back() == '\r') linha.remove_suffix(1);
        if (linha.size() < 5 || linha.substr(0, 4) != "213 ") continue;
        std::int64_t v = 0;
        bool ok = true;
        for (char ch : linha.substr(4)) {
            if (ch < '0' || ch > '9' || v > (INT64_MAX - 9) / 10) {
                ok = false;
                break;
            }
            v = v * 10 + (ch - '0');
        }
        if (ok) r = v;
    }
    return r;
}

// Names go to the server inside commands (RNFR, RNTO, DELE): a line break or
// NUL would end the command and start another.
void ExigeNomeSeguro(std::string_view texto) {
    if (texto.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        throw ErroFTP(CURLE_URL_MALFORMAT, ClasseErroFTP::Arquivo,
                      "Nome inválido para o servidor FTP");
}

}  // namespace

std::string ClienteFTP::NomeTemporarioEnvio(std::string_view nome) {
    return "~" + std::string(nome) + ".enviando";
}

void ClienteFTP::CriaPasta(std::string_view pasta) {
    ExigeNomeSeguro(pasta);
    CURL* c = curl_.get();
    RestauraOpcoes restaura{c};
    const std::string caminho = ComBarraOuRaiz(std::string(pasta));
    curl_easy_setopt(c, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_MULTICWD));
    curl_easy_setopt(c, CURLOPT_FTP_CREATE_MISSING_DIRS,
                     static_cast<long>(CURLFTP_CREATE_DIR_RETRY));
    curl_easy_setopt(c, CURLOPT_URL, Url(caminho).c_str());
    curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Descarta);
    Executa("MKD " + caminho);
}

void ClienteFTP::ComandosNaPasta(std::string_view pasta, const std::vector<std::string>& comandos) {
    CURL* c = curl_.get();
    RestauraOpcoes restaura{c};
    const std::string caminho = ComBarraOuRaiz(std::string(pasta));
    ListaCurl lista(comandos);
    curl_easy_setopt(c, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_MULTICWD));
    curl_easy_setopt(c, CURLOPT_URL, Url(caminho).c_str());
    curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Descarta);
    curl_easy_setopt(c, CURLOPT_POSTQUOTE, lista.lista);
    Executa(comandos.empty() ? "CWD " + caminho : comandos.front());
}

std::int64_t ClienteFTP::Envia(std::string_view pasta, std::string_view nome,
                               const std::filesystem::path& origem) {
    ExigeNomeSeguro(pasta);
    ExigeNomeSeguro(nome);
    if (nome.empty() || nome.find('/') != std::string_view::npos)
        throw ErroFTP(CURLE_URL_MALFORMAT, ClasseErroFTP::Arquivo,
                      "Nome inválido para o servidor FTP");
    CURL* c = curl_.get();
    const std::string dir = ComBarraOuRaiz(std::string(pasta));
    const std::string temporario = NomeTemporarioEnvio(nome);

    LeituraArquivo leitura;
    leitura.fd = ::open(origem.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (leitura.fd < 0 || ::fstat(leitura.fd, &st) != 0)
        throw ErroFTP(CURLE_READ_ERROR, ClasseErroFTP::Local,
                      "Falha ao abrir " + origem.string() + ": " + std::strerror(errno));
    const std::int64_t tamanho = st.st_size;

    auto apagaTemporario = [&] {
        if (!conectado_) return;
        try {
            ComandosNaPasta(dir, {"*DELE " + temporario});
        } catch (const ErroFTP&) {
            // Only a leftover under the temporary name; the next run replaces it.
        }
    };

    // One request: the STOR, then the server's SIZE of what it stored (a
    // server without SIZE just leaves it unknown).
    std::optional<std::int64_t> noServidor;
    {
        RestauraOpcoes restaura{c};
        ListaCurl depois({"*SIZE " + temporario});
        curl_easy_setopt(c, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_MULTICWD));
        curl_easy_setopt(c, CURLOPT_URL, Url(dir + temporario).c_str());
        curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(c, CURLOPT_READFUNCTION, &LeArquivo);
        curl_easy_setopt(c, CURLOPT_READDATA, &leitura);
        curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(tamanho));
        curl_easy_setopt(c, CURLOPT_POSTQUOTE, depois.lista);
        std::string respostas;
        curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &GuardaResposta);
        curl_easy_setopt(c, CURLOPT_HEADERDATA, &respostas);
        try {
            Executa("STOR " + dir + temporario);
        } catch (const ErroFTP& e) {
            if (leitura.erro) {
                apagaTemporario();
                throw ErroFTP(CURLE_READ_ERROR, ClasseErroFTP::Local,
                              std::string(e.what()) + ": " + std::strerror(leitura.erro));
            }
            apagaTemporario();
            throw;
        }
        curl_off_t enviados = -1;
        curl_easy_getinfo(c, CURLINFO_SIZE_UPLOAD_T, &enviados);
        if (enviados != tamanho) {
            apagaTemporario();
            throw ErroFTP(CURLE_PARTIAL_FILE, ClasseErroFTP::Queda,
                          "Connection Closed: " + std::to_string(enviados) + " de " +
                              std::to_string(tamanho) + " bytes (STOR " + dir + temporario + ")");
        }
        noServidor = TamanhoSIZE(respostas);
    }
    if (noServidor && *noServidor != tamanho) {
        apagaTemporario();
        throw ErroFTP(CURLE_PARTIAL_FILE, ClasseErroFTP::Arquivo,
                      "O servidor recebeu " + std::to_string(*noServidor) + " de " +
                          std::to_string(tamanho) + " bytes (" + dir + temporario + ")");
    }

    const std::string final(nome);
    try {
        ComandosNaPasta(dir, {"RNFR " + temporario, "RNTO " + final});
    } catch (const ErroFTP& e) {
        if (e.Codigo() != CURLE_QUOTE_ERROR) throw;
        // Servers that will not rename over an existing file: that file goes
        // first (the complete copy stays under the temporary name meanwhile).
        try {
            ComandosNaPasta(dir, {"*DELE " + final, "RNFR " + temporario, "RNTO " + final});
        } catch (const ErroFTP&) {
            apagaTemporario();
            throw;
        }
    }
    return tamanho;
}
