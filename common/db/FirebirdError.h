#pragma once
// The one exception the database layer raises. It keeps every error code of
// the client library's status vector (callers look for a code anywhere in it,
// not only the first) and the messages joined into one line, ready for a log.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

class FirebirdError : public std::runtime_error {
  public:
    // Codes as the status vector gives them (isc_arg_gds entries, in order).
    FirebirdError(std::vector<std::intptr_t> codigos, const std::string& mensagem);

    // Builds the error from a raw status vector (isc_arg_end terminated).
    static FirebirdError DeVetor(const std::intptr_t* vetor);

    const std::vector<std::intptr_t>& Codigos() const { return codigos_; }
    // First code, or 0 when the error did not come from the server.
    std::intptr_t Codigo() const { return codigos_.empty() ? 0 : codigos_.front(); }
    bool Tem(std::intptr_t codigo) const;

    // The server refused user name or password (also an unknown user).
    bool LoginRecusado() const;
    // A unique or primary key was violated.
    bool ChaveDuplicada() const;
    // The connection to the server is gone (or was never made): network
    // errors, shutdown of the database, attachment killed.
    bool ConexaoPerdida() const;
    // Another transaction changed or holds the same row (update conflict,
    // lock conflict, deadlock, read conflict; a row lock wait that ran out
    // its limit comes as an update conflict too): the work can be done again
    // in a fresh transaction.
    bool ConflitoAtualizacao() const;

  private:
    std::vector<std::intptr_t> codigos_;
};

// Well-known codes, named for the callers that test them.
namespace fbcodigo {
inline constexpr std::intptr_t Login = 335544472;         // isc_login
inline constexpr std::intptr_t UniqueKey = 335544665;     // isc_unique_key_violation
inline constexpr std::intptr_t NoDup = 335544349;         // isc_no_dup
inline constexpr std::intptr_t NetworkError = 335544721;  // isc_network_error
inline constexpr std::intptr_t StringTruncation =
    335544321;  // isc_arith_except (over-long text and the like)
inline constexpr std::intptr_t UserExists = 335544754;  // isc_error_adding_sec_record (user exists)
}  // namespace fbcodigo
