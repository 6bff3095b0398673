#pragma once
// Where the test Firebird server is: scripts/test exports VERUZADU_FB_HOST,
// _PORT, _USER, _PASSWORD and _DATA (a folder the server's user writes in).
// Tests that need the server skip themselves when these are missing, unless
// VERUZADU_EXIGE_SERVIDOR is set (scripts/test sets it once the server is up):
// then a test that finds no server fails, so a broken set-up never passes as
// a run of skipped tests.

#include <cstdlib>
#include <optional>
#include <string>

#include "common/db/Firebird.h"

struct ServidorTeste {
    std::string host;
    int porta = 3050;
    std::string usuario;
    std::string senha;
    std::string pasta;  // data folder on the server

    // Empty when the variables are missing.
    static std::optional<ServidorTeste> DoAmbiente() {
        auto env = [](const char* n) {
            const char* v = std::getenv(n);
            return std::string(v ? v : "");
        };
        ServidorTeste s;
        s.host = env("VERUZADU_FB_HOST");
        s.usuario = env("VERUZADU_FB_USER");
        s.senha = env("VERUZADU_FB_PASSWORD");
        s.pasta = env("VERUZADU_FB_DATA");
        const std::string porta = env("VERUZADU_FB_PORT");
        s.porta = porta.empty() ? 3050 : std::atoi(porta.c_str());
        if (s.host.empty() || s.usuario.empty() || s.pasta.empty()) return std::nullopt;
        return s;
    }
    // "host" or "host/port", as connection strings and the services manager take it.
    std::string Servidor() const {
        return porta == 3050 ? host : host + "/" + std::to_string(porta);
    }
    std::string Conexao(const std::string& arquivo) const {
        return MontaStringConexao(host, porta, arquivo);
    }
    ParametrosConexao Parametros(const std::string& arquivo) const {
        return ParametrosConexao{Conexao(arquivo), usuario, senha};
    }
};

inline bool ServidorExigido() {
    const char* v = std::getenv("VERUZADU_EXIGE_SERVIDOR");
    return v && *v && std::string(v) != "0";
}

// In place of GTEST_SKIP() where the test server is missing: one statement
// (safe after an unbraced if), a skip or, when the server is required, a
// fatal failure, with the caller's message streamed after it.
#define SEM_SERVIDOR_TESTE()                                                                       \
    return ::testing::internal::AssertHelper(                                                      \
               ServidorExigido() ? ::testing::TestPartResult::kFatalFailure                        \
                                 : ::testing::TestPartResult::kSkip,                               \
               __FILE__, __LINE__,                                                                 \
               ServidorExigido() ? "no test server, though VERUZADU_EXIGE_SERVIDOR is set"         \
                                 : "Skipped") = ::testing::Message()
