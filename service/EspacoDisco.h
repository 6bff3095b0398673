#pragma once
// The daily free-space check of the disk that holds the databases: a line in
// the service log whenever less than a fifth of the disk is free, and at most
// one capacity alert e-mail a day.
//
// The file system is asked through ConsultaDisco so tests can set the sizes;
// the service uses ConsultaDiscoLocal (statvfs of the folder, its mount point
// standing for the drive). VerificacaoDisco runs on the service's main thread
// only; the log and alert objects are not owned and must outlive it. Nothing
// is thrown: failures are logged "Ver disk: " at level 4.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/DataHora.h"

class AlertasEmail;
class LogServico;

struct TamanhoDisco {
    std::uint64_t Livre = 0;  // bytes free to the service's user
    std::uint64_t Total = 0;  // bytes of the whole file system
    std::string Raiz;         // mount point of the file system ("/", "/var/lib/firebird")
};

class ConsultaDisco {
  public:
    virtual ~ConsultaDisco() = default;
    // Empty when the folder is not on this computer or cannot be asked.
    virtual std::optional<TamanhoDisco> Consulta(const std::string& pasta) const = 0;
};

class ConsultaDiscoLocal final : public ConsultaDisco {
  public:
    std::optional<TamanhoDisco> Consulta(const std::string& pasta) const override;
};

// Whether the free space is below a fifth of the total (exactly 20 % is not),
// in integers for any 64-bit sizes. False for a total of 0.
bool PoucoEspacoLivre(std::uint64_t livre, std::uint64_t total);

// Whether the database server named in the connection settings ("host",
// "host/port", "\\NAME") is this computer: empty, a loopback name or address,
// this computer's name or one of its addresses. The server's folder is a path
// on this computer only then.
bool ServidorNesteComputador(std::string_view servidor);

class VerificacaoDisco final {
  public:
    VerificacaoDisco(LogServico& log, AlertasEmail& alertas, const ConsultaDisco& consulta);
    VerificacaoDisco(const VerificacaoDisco&) = delete;
    VerificacaoDisco& operator=(const VerificacaoDisco&) = delete;

    // Checks the file system of `pasta` (the main database's folder on the
    // server, as a path on this computer). Time comes from the log's clock.
    void VerificaEspacoLivreEmDisco(const std::string& pasta);

    // Time of the last disk alert of this run; empty before the first.
    DataHora UltimoAlertaDisco() const { return ultimoAlertaDisco_; }

  private:
    LogServico& log_;
    AlertasEmail& alertas_;
    const ConsultaDisco& consulta_;
    DataHora ultimoAlertaDisco_;
};
