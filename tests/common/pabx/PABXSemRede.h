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
    std::string pasta;
    PastaProgramaDeTeste() {
        const char* base = std::getenv("VERUZADU_TEST_TMP");
        std::string modelo = std::string(base ? base : "/tmp") + "/pabx-home-XXXXXX";
        if (mkdtemp(modelo.data()) == nullptr) return;
        pasta = modelo;
        setenv("VERUZADU_HOME", pasta.c_str(), 1);
    }
    ~PastaProgramaDeTeste() {
        std::error_code e;
        if (!pasta.empty()) std::filesystem::remove_all(pasta, e);
    }
};
inline PastaProgramaDeTeste pastaProgramaDeTeste;

// A private scratch folder (with trailing "/"), removed at the end.
struct PastaTemporaria {
    std::filesystem::path caminho;
    PastaTemporaria() {
        const char* base = std::getenv("VERUZADU_TEST_TMP");
        std::string modelo = std::string(base ? base : "/tmp") + "/pabx-XXXXXX";
        caminho = mkdtemp(modelo.data());
    }
    ~PastaTemporaria() {
        std::error_code e;
        std::filesystem::remove_all(caminho, e);
    }
    std::string Texto() const { return caminho.string() + "/"; }
};
