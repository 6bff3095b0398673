#pragma once
// ClienteFTP: the FTP client of one download run (or one recordings backup),
// over one libcurl easy handle so that the control connection, its login and
// TLS session are kept from one request to the next.
//
// Owned and used by one thread (the run's); never shared. Every wait is
// bounded: the connect phase (TCP, TLS, greeting and login) by the configured
// time-out, each server reply by the same time-out, and a transfer that moves
// less than one byte a second for that long is cut. There is no cap on a whole
// transfer, so large files come whatever they take.
//
// Credentials go to libcurl only as CURLOPT_USERNAME / CURLOPT_PASSWORD: they
// never appear in a URL, an error text or a log line.
//
// Errors: every failure throws ErroFTP carrying the CURLcode and its class
// (see ClassificaErroFTP); the text never holds the password.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <curl/curl.h>

// How the walk reacts to a failure.
enum class ClasseErroFTP {
    Conexao,  // could not connect or log in
    Queda,    // the connection dropped (or fewer bytes came than listed)
    Arquivo,  // this file (or folder) could not be had; the connection is fine
    Local,    // writing here failed: the walk ends
    Parada,   // the run was asked to stop
};

// The one table from libcurl's codes to the classes above.
ClasseErroFTP ClassificaErroFTP(CURLcode codigo);

class ErroFTP : public std::runtime_error {
  public:
    ErroFTP(CURLcode codigo, ClasseErroFTP classe, const std::string& texto)
        : std::runtime_error(texto), codigo_(codigo), classe_(classe) {}
    CURLcode Codigo() const { return codigo_; }
    ClasseErroFTP Classe() const { return classe_; }

  private:
    CURLcode codigo_;
    ClasseErroFTP classe_;
};

struct EntradaFTP {
    enum Tipo { Arquivo, Pasta, Outro };
    std::string nome;  // as listed (raw bytes)
    Tipo tipo = Outro;
    std::optional<std::int64_t> tamanho;     // from the listing, when it says
    std::optional<std::time_t> modificacao;  // UTC, from MLSD's "modify"
};

struct OpcoesFTP {
    std::string host;
    int porta = 21;
    std::string usuario;  // empty: "anonymous" / "anonymous"
    std::string senha;
    // <=0 plain; 1 TLS when offered; 2 TLS required; 3 implicit TLS.
    int seguranca = 0;
    int timeoutMs = 30000;
    // Polled during transfers; true aborts them with ClasseErroFTP::Parada.
    std::function<bool()> parar;
};

class ClienteFTP final {
  public:
    explicit ClienteFTP(OpcoesFTP opcoes);
    ~ClienteFTP();
    ClienteFTP(const ClienteFTP&) = delete;
    ClienteFTP& operator=(const ClienteFTP&) = delete;

    // Opens the control connection and logs in (again, after a drop).
    // Throws ErroFTP of class Conexao (or Parada).
    void Conecta();
    bool Conectado() const { return conectado_; }
    // Closes the control connection (QUIT when it is alive).
    void Desconecta();

    // The folder's entries, by MLSD; when the server refuses MLSD, by LIST
    // for the rest of the run. `pasta` is a path from the login folder with
    // "/" separators ("/NORVIKA/AUDIOREC").
    std::vector<EntradaFTP> Lista(std::string_view pasta);
    bool UsaLIST() const { return usaLIST_; }

    // The server's size (SIZE) and date (MDTM) of a file; the date is empty
    // when the server does not give it.
    struct Atributos {
        std::int64_t tamanho = -1;
        std::optional<std::time_t> modificacao;
    };
    Atributos Consulta(std::string_view pasta, std::string_view nome);

    // Fetches pasta/nome into `destino` through a temporary name in the same
    // folder (never a recording's name), checks the byte count against
    // `tamanhoEsperado` (when >= 0), stamps the date (`modificacao`, else the
    // server's MDTM when it gives one) and renames it into place. On any
    // failure the temporary file is removed and `destino` is untouched.
    // Returns the bytes written.
    std::int64_t Baixa(std::string_view pasta, std::string_view nome,
                       const std::filesystem::path& destino, std::int64_t tamanhoEsperado,
                       std::optional<std::time_t> modificacao);

    // The URL of a remote path, percent-encoded, without credentials.
    std::string Url(std::string_view caminho) const;

    // The temporary name a download uses beside its target.
    static std::string NomeTemporario(std::string_view nome);

    // ---- Uploads (the recordings backup; ClienteFTPEnvio.cpp). ----------
    // Folders are entered one CWD per name from the login folder, so no path
    // separator reaches the server, whatever system it runs.

    // Creates `pasta` (a path from the login folder, "/" between names) and
    // its missing parents. Throws ErroFTP (class Arquivo when the server
    // refuses to create or enter one).
    void CriaPasta(std::string_view pasta);
    // Sends `origem` to pasta/nome through a temporary name in that folder,
    // checks the server's SIZE (when it answers one) against the bytes sent
    // and renames it over `nome` (replacing a file of that name). `nome`
    // never holds a partial file; on failure the temporary file is deleted
    // when the connection still allows it. Returns the bytes sent.
    std::int64_t Envia(std::string_view pasta, std::string_view nome,
                       const std::filesystem::path& origem);
    // The temporary name an upload uses beside its target.
    static std::string NomeTemporarioEnvio(std::string_view nome);

  private:
    struct LiberaCurl {
        void operator()(CURL* c) const { curl_easy_cleanup(c); }
    };
    struct LiberaMulti {
        void operator()(CURLM* m) const { curl_multi_cleanup(m); }
    };
    void Prepara();
    [[noreturn]] void Falha(CURLcode codigo, std::string_view oque);
    void Executa(std::string_view oque);
    CURLcode Realiza();
    std::vector<EntradaFTP> ListaCom(std::string_view pasta, const char* comando);
    static int Progresso(void* eu, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
    void ComandosNaPasta(std::string_view pasta, const std::vector<std::string>& comandos);

    OpcoesFTP opcoes_;
    // The easy handle is in the multi handle only while a request runs.
    std::unique_ptr<CURLM, LiberaMulti> multi_;
    std::unique_ptr<CURL, LiberaCurl> curl_;
    char erro_[CURL_ERROR_SIZE] = {};
    bool conectado_ = false;
    // Progress of the running request: bytes seen and when they last grew.
    curl_off_t ultimosBytes_ = 0;
    std::chrono::steady_clock::time_point ultimoProgresso_;
    bool parado_ = false;  // the request was ended for want of progress
    bool usaLIST_ = false;
};

// Listing parsers (pure; exposed for tests). Lines that are not entries are
// skipped; "." and ".." entries (cdir/pdir) are dropped.
std::vector<EntradaFTP> AnalisaMLSD(std::string_view texto);
std::vector<EntradaFTP> AnalisaLIST(std::string_view texto);
