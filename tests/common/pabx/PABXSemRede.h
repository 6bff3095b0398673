#pragma once
// A TPABX whose frames go to a list instead of a socket; replies are fed to
// its receiver directly. For the frame bytes and the handlers; the link itself
// is tested against the simulator.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "common/pabx/PABX.h"
#include "tests/common/pabx/QuadrosTeste.h"
#include "tests/support/PastaTemporaria.h"

struct PABXSemRede {
    TPABX pabx;
    std::vector<Bytes> enviados;
    bool falhaEnvio = false;
    Bytes respostaImediata;  // fed to the receiver before the send returns

    PABXSemRede() {
        pabx.DefineEnvio([this](const std::uint8_t* b, std::size_t n, std::string& erro) {
            if (falhaEnvio) {
                erro = "Broken pipe";
                return false;
            }
            enviados.emplace_back(b, b + n);
            if (!respostaImediata.empty()) Recebe(respostaImediata);
            return true;
        });
    }
    void Recebe(const Bytes& b) { pabx.TCPRecebeu(b); }
};

// The messages of the SD-card check pass through the language file of the
// program folder: point it at a scratch folder, made before any test runs and
// removed at exit.
struct PastaProgramaDeTeste {
    PastaTemporaria pasta;
    PastaProgramaDeTeste() { setenv("VERUZADU_HOME", pasta.Caminho().c_str(), 1); }
};
inline PastaProgramaDeTeste pastaProgramaDeTeste;
