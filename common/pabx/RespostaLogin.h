#pragma once
// What a unit has answered to a login so far, from the link's two status
// texts. The login goes out with both emptied: a right password brings the
// acknowledgement of the login block (PROG "OK") and then a CTRL "OK"; a
// wrong one a CTRL result; a dropped link a PROG "NOK". Either "OK" accepts,
// any other answer refuses, and with neither there is nothing yet.
//
// Pure: the service's download session and the console's read-out and
// programming steps all decide the login here.

#include <string_view>

enum class RespostaLogin { Aguardando, Aceito, Recusado };

inline RespostaLogin AvaliaRespostaLogin(std::string_view prog, std::string_view ctrl) {
    if (prog == "OK" || ctrl == "OK") return RespostaLogin::Aceito;
    if (!prog.empty() || !ctrl.empty()) return RespostaLogin::Recusado;
    return RespostaLogin::Aguardando;
}
