#include "common/db/FirebirdError.h"

#include <firebird/Interface.h>

#include <algorithm>
#include <array>

FirebirdError::FirebirdError(std::vector<std::intptr_t> codigos, const std::string& mensagem)
    : std::runtime_error(mensagem), codigos_(std::move(codigos)) {}

FirebirdError FirebirdError::DeVetor(const std::intptr_t* vetor) {
    std::vector<std::intptr_t> codigos;
    for (const std::intptr_t* p = vetor; p && *p != isc_arg_end;) {
        switch (*p) {
            case isc_arg_gds:
                codigos.push_back(p[1]);
                p += 2;
                break;
            case isc_arg_cstring: p += 3; break;
            default: p += 2; break;
        }
    }
    // fb_interpret walks the vector message by message; each becomes one part
    // of a single line so that a log entry stays one line.
    std::string mensagem;
    std::array<char, 1024> buffer{};
    const ISC_STATUS* cursor = reinterpret_cast<const ISC_STATUS*>(vetor);
    while (vetor && fb_interpret(buffer.data(), buffer.size(), &cursor) > 0) {
        std::string parte(buffer.data());
        std::replace(parte.begin(), parte.end(), '\n', ' ');
        if (!mensagem.empty()) mensagem += " - ";
        mensagem += parte;
    }
    if (mensagem.empty()) mensagem = "Firebird error";
    return FirebirdError(std::move(codigos), mensagem);
}

bool FirebirdError::Tem(std::intptr_t codigo) const {
    return std::find(codigos_.begin(), codigos_.end(), codigo) != codigos_.end();
}

bool FirebirdError::LoginRecusado() const { return Tem(isc_login); }

bool FirebirdError::ChaveDuplicada() const {
    return Tem(isc_unique_key_violation) || Tem(isc_no_dup);
}

bool FirebirdError::ConexaoPerdida() const {
    static constexpr std::intptr_t perdida[] = {
        isc_network_error,
        isc_net_read_err,
        isc_net_write_err,
        isc_net_connect_err,
        isc_net_connect_listen_err,
        isc_net_lookup_err,
        isc_net_init_error,
        isc_lost_db_connection,
        isc_conn_lost,
        isc_att_shutdown,
        isc_shutdown,
        isc_bad_db_handle,
    };
    return std::any_of(std::begin(perdida), std::end(perdida),
                       [this](std::intptr_t c) { return Tem(c); });
}

bool FirebirdError::ConflitoAtualizacao() const {
    static constexpr std::intptr_t conflito[] = {
        isc_update_conflict,
        isc_lock_conflict,
        isc_deadlock,
        isc_read_conflict,
    };
    return std::any_of(std::begin(conflito), std::end(conflito),
                       [this](std::intptr_t c) { return Tem(c); });
}
