#pragma once
// One SMTP delivery over libcurl: connection (plain, STARTTLS when offered,
// STARTTLS required, or TLS from the first byte), optional authentication, one
// text/plain UTF-8 message, disconnection.
//
// Every wait is bounded: the connection and each wait for the server by
// OpcoesSMTP::TimeOut seconds, the whole delivery by four times that, and the
// caller may cancel it (checked about once a second). A setting that asks for
// TLS never lets anything go out in clear. Certificates and host names are
// verified unless switched off. Blocks the calling thread; safe to run on
// several threads at once (one handle each). Nothing is thrown for a failed
// delivery: the result tells at which stage it failed and why.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class IniFile;

enum class SegurancaSMTP { Nenhuma, SeOferecida, Exigida, Implicita };

// CFG_SMTPSECURITY: 0 none, 1 STARTTLS when offered, 2 STARTTLS required,
// 3 implicit TLS; any other value counts as 2.
SegurancaSMTP SegurancaDaConfiguracao(int valor);

struct ContaSMTP {
    std::string Servidor;
    std::uint16_t Porta = 25;
    bool Autentica = false;
    std::string Usuario;
    std::string Senha;
    SegurancaSMTP Seguranca = SegurancaSMTP::Nenhuma;
};

// [Veruzadu] SMTPTimeOut (seconds, default 30), SMTPVerificaCertificado
// (default on), SMTPArquivoCA (default: the system's certificate store).
struct OpcoesSMTP {
    int TimeOut = 30;
    bool VerificaCertificado = true;
    std::string ArquivoCA;
};
OpcoesSMTP LeOpcoesSMTP(const IniFile& ini);

struct MensagemSMTP {
    std::string Remetente;                // envelope and From address
    std::vector<std::string> Para;        // To, also envelope recipients
    std::vector<std::string> Copia;       // Cc, also envelope recipients
    std::vector<std::string> Cabecalhos;  // complete header lines, without CR LF
    std::string Corpo;                    // UTF-8 text, lines ending in CR LF
};

struct ResultadoSMTP {
    enum class Etapa {
        Enviado,
        FalhaConexao,  // connect, greeting, EHLO or TLS
        FalhaEnvio,    // AUTH, MAIL, RCPT or DATA refused, or the link lost after them
    };
    Etapa etapa = Etapa::FalhaConexao;
    std::string mensagem;   // the server's refusal, or the client's error text
    bool conectou = false;  // the session got past the connection stage
};

// aoConectar runs once, on this thread, when the session has got past the
// connection stage (just before AUTH or MAIL goes out). cancelado is polled
// while waiting; returning true abandons the delivery.
ResultadoSMTP EnviaSMTP(const ContaSMTP& conta, const OpcoesSMTP& opcoes,
                        const MensagemSMTP& mensagem, const std::function<void()>& aoConectar,
                        const std::function<bool()>& cancelado);
