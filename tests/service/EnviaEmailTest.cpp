// Alert e-mails through real SMTP sinks (scripts/smtp-sink, aiosmtpd) with the
// SMTP settings in a real main database.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "common/CifraTexto.h"
#include "service/AlertaEmail.h"
#include "service/ClienteSMTP.h"
#include "service/MensagemEmail.h"
#include "tests/support/BancoServicoTeste.h"
#include "tests/service/SorvedouroSMTP.h"

namespace {

// The service side: a main database with its CONFIG row, the log, the queue.
struct Envio {
    BancoServicoTeste db{"email"};
    PastaTemporaria pasta;
    DataHora agora{2026, 3, 10, 8, 5, 9, 0};
    LogServico log{pasta.Caminho(), [this] { return agora; }};
    std::unique_ptr<BancoServico> banco;
    AlertasEmail alertas{[this] {
        auto c = banco ? banco->Configuracao() : nullptr;
        return c ? c->CFG_ALMALERTA : 0;
    }};
    std::shared_ptr<FilaEmails> fila = std::make_shared<FilaEmails>();
    OpcoesSMTP opcoes;
    std::size_t lido = 0;

    Envio() {
        // Generous for waits that must succeed on a loaded machine; the tests
        // that expect a silent server shorten it.
        opcoes.TimeOut = 30;
        log.DefineMascara(31);
        alertas.DefineFila(fila);
        if (!db.Pronto()) return;
        banco = std::make_unique<BancoServico>(log, db.Parametros());
    }

    struct Smtp {
        std::string servidor = "127.0.0.1";
        int porta = 25;
        int autentica = 0;
        std::string usuario = "alerta";
        std::string senha = "segredo";
        int seguranca = 0;
        std::string para = "a@x.test; b@x.test";
        std::string copia = "c@x.test";
        int categorias = 3;
        std::string remetente = "gravacao@x.test";
    };
    void Configura(const Smtp& s) {
        Attachment att = db.Conecta();
        Transaction tr(att);
        Statement st(tr, "UPDATE CONFIG SET CFG_SMTPSERVER=?, CFG_SMTPPORTA=?, CFG_SMTPMAIL=?, "
                         "CFG_SMTPAUTH=?, CFG_SMTPUSERNAME=?, CFG_SMTPUSERPASS=?, "
                         "CFG_SMTPSECURITY=?, CFG_ALMMAILTO=?, CFG_ALMMAILCC=?, CFG_ALMALERTA=?");
        st.SetText(0, s.servidor).SetInt(1, s.porta).SetText(2, s.remetente).SetInt(3, s.autentica);
        st.SetText(4, s.usuario).SetText(5, CriptografaTexto(s.senha)).SetInt(6, s.seguranca);
        st.SetText(7, s.para).SetText(8, s.copia).SetInt(9, s.categorias);
        st.Executa();
        tr.Commit();
        att.Desconecta();
        ASSERT_TRUE(banco->BDCarregaConfiguracaoGeral());
    }
    void Alerta(const std::vector<std::string>& linhas) {
        alertas.EnfileiraAlertaEmail(AlertaFalha, &linhas, "");
    }
    void Envia() { EnviaEmailAlerta(alertas, *banco, opcoes); }
    // Service log lines written since the last call, without their time.
    std::vector<std::string> Linhas() {
        std::vector<std::string> r;
        const std::string texto = LeTudo(log.ArquivoDoMes(agora));
        for (std::size_t i = lido; i < texto.size();) {
            const std::size_t fim = texto.find("\r\n", i);
            r.push_back(texto.substr(i + 23, fim - i - 23));
            i = fim + 2;
        }
        lido = texto.size();
        return r;
    }
};

bool Contem(const std::vector<std::string>& linhas, const std::string& inicio) {
    return std::any_of(linhas.begin(), linhas.end(),
                       [&](const std::string& l) { return l.rfind(inicio, 0) == 0; });
}

}  // namespace

TEST(MensagemEmail, CabecalhosSegurosECodificados) {
    EXPECT_EQ(SemControles("a\r\nBcc: x@y\t\x7f"), "aBcc: x@y");
    EXPECT_EQ(TextoCabecalho("Alerta simples"), "Alerta simples");
    EXPECT_EQ(TextoCabecalho("Alerta Serviço"), "=?UTF-8?B?QWxlcnRhIFNlcnZpw6dv?=");
    EXPECT_EQ(TextoCabecalho("=?x?="), "=?UTF-8?B?PT94Pz0=?=");
    // Long texts: several words, none over 75 characters, no character split.
    const std::string longo(40, 'x');
    const std::string t = TextoCabecalho(longo + "ção" + longo);
    std::size_t palavras = 0;
    for (std::size_t i = 0, fim; i < t.size(); i = fim + 1, ++palavras) {
        fim = t.find(' ', i);
        if (fim == std::string::npos) fim = t.size();
        EXPECT_LE(fim - i, 75u);
    }
    EXPECT_EQ(palavras, 2u);
    EXPECT_EQ(EnderecoCabecalho("alerta", "g@x"), "alerta <g@x>");
    EXPECT_EQ(EnderecoCabecalho("", "g@x"), "<g@x>");
    EXPECT_EQ(EnderecoCabecalho("a\r\nBcc: e@x", "g@x\r\n"), "=?UTF-8?B?YUJjYzogZUB4?= <g@x>");
    EXPECT_EQ(SeparaEnderecos(" a@x;b@x ;; \t;c@x\r\n"),
              (std::vector<std::string>{"a@x", "b@x", "c@x"}));
    EXPECT_TRUE(SeparaEnderecos(" ; ").empty());
    EXPECT_EQ(RemovePrimeiroError("Socket Error: Error: 10061"), "Socket  Error: 10061");
    EXPECT_EQ(RemovePrimeiroError("sem erro"), "sem erro");
    EXPECT_EQ(LinhaUtf8("Cora\xe7\xe3o"), "Coração");
    EXPECT_EQ(LinhaUtf8("Coração"), "Coração");
    EXPECT_EQ(CorpoEmail({"a", "b\nc", ""}), "a\r\nb\r\nc\r\n\r\n");
    EXPECT_EQ(SegurancaDaConfiguracao(0), SegurancaSMTP::Nenhuma);
    EXPECT_EQ(SegurancaDaConfiguracao(1), SegurancaSMTP::SeOferecida);
    EXPECT_EQ(SegurancaDaConfiguracao(2), SegurancaSMTP::Exigida);
    EXPECT_EQ(SegurancaDaConfiguracao(3), SegurancaSMTP::Implicita);
    EXPECT_EQ(SegurancaDaConfiguracao(-1), SegurancaSMTP::Exigida);
    EXPECT_EQ(SegurancaDaConfiguracao(9), SegurancaSMTP::Exigida);
}

TEST(EnviaEmail, MensagemCompletaNoSorvedouro) {
    Envio e;
    EXIGE_BANCO(e.db);
    Sorvedouro s("plain");
    EXIGE_SORVEDOURO(s);
    Envio::Smtp cfg;
    cfg.porta = s.Porta();
    cfg.usuario = "Central\r\nBcc: intruso@x.test";
    cfg.copia = " Chefe <c@x.test> ";
    e.Configura(cfg);
    const std::string longa(2000, 'L');
    e.Alerta({"PABX 007: falha no download", "Cora\xe7\xe3o (Latin-1)", longa, ".", "fim"});
    e.Linhas();
    e.Envia();

    EXPECT_EQ(e.Linhas(), (std::vector<std::string>{
                              "Enviando email", "SMTP conectado",
                              "Alerta para: a@x.test; b@x.test  PABX 007: falha no download",
                              "SMTP desconectado", "Fim envio de email"}));
    const auto mensagens = s.Mensagens();
    ASSERT_EQ(mensagens.size(), 1u);
    const std::string& m = mensagens[0];
    EXPECT_EQ(Campo(m, "Envelope-From"), "gravacao@x.test");
    EXPECT_EQ(Campo(m, "Envelope-To"), "a@x.test,b@x.test,c@x.test");
    EXPECT_EQ(Campo(m, "To"), "a@x.test, b@x.test");
    EXPECT_EQ(Campo(m, "Cc"), "Chefe <c@x.test>");
    EXPECT_EQ(Campo(m, "Subject"), "Alerta Serviço de Gravação");
    // The reader quotes the name, whose CR LF never reached the header.
    EXPECT_EQ(Campo(m, "From"), "\"CentralBcc: intruso@x.test\" <gravacao@x.test>");
    EXPECT_EQ(Campo(m, "Content-Type"), "text/plain");
    const std::string cabecalhos = Campo(m, "Headers");
    EXPECT_EQ(cabecalhos.find("Bcc"), std::string::npos) << cabecalhos;
    EXPECT_EQ(Corpo(m),
              "\nEsta é uma mensagem automática do Serviço de Gravação\n\n"
              "10/03/2026 08:05:09\n"
              "PABX 007: falha no download\nCoração (Latin-1)\n" +
                  longa +
                  "\n.\nfim\n\n"
                  "Respostas para esta mensagem não serão monitoradas ou respondidas, pois o "
                  "endereço de email é utilizado apenas para envio de mensagens\n");
}

TEST(EnviaEmail, ConfiguracaoIncompletaDescartaOAlerta) {
    Envio e;
    EXIGE_BANCO(e.db);
    struct Caso {
        const char* nome;
        Envio::Smtp cfg;
        std::vector<std::string> linhas;
    };
    Envio::Smtp semServidor, semDestino, desligado;
    semServidor.servidor = "  ";
    semDestino.para = " ; ";
    desligado.categorias = 0;
    const Caso casos[] = {
        {"sem servidor",
         semServidor,
         {"Enviando email", "Servidor SMTP não está configurado", "Fim envio de email"}},
        {"sem destino",
         semDestino,
         {"Enviando email", "Email de destino não está configurado", "Fim envio de email"}},
        {"alertas desligados", desligado, {"Email não configurado"}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        e.Configura(Envio::Smtp{});
        e.Alerta({"x"});
        e.Configura(c.cfg);
        e.Linhas();
        e.Envia();
        EXPECT_EQ(e.Linhas(), c.linhas);
        EXPECT_EQ(e.fila->Quantidade(), 0u);
    }
}

TEST(EnviaEmail, FalhaAoLerConfiguracaoEErroDoBanco) {
    Envio e;
    EXIGE_BANCO(e.db);
    e.Configura(Envio::Smtp{});
    e.Alerta({"x"});
    e.banco->DefineParametros(ParametrosInalcancaveis(e.db.Parametros(), e.db.arquivo));
    e.Linhas();
    e.Envia();
    const auto linhas = e.Linhas();
    ASSERT_EQ(linhas.size(), 3u);
    EXPECT_EQ(linhas[0], "Enviando email");
    EXPECT_EQ(linhas[1].rfind("SELSMTP: ", 0), 0u) << linhas[1];
    EXPECT_EQ(linhas[2], "Fim envio de email");
}

TEST(EnviaEmail, SegurancaComESemAutenticacao) {
    Envio e;
    EXIGE_BANCO(e.db);
    Sorvedouro plain("plain"), starttls("starttls"), tls("tls");
    EXIGE_SORVEDOURO(plain);
    EXIGE_SORVEDOURO(starttls);
    EXIGE_SORVEDOURO(tls);
    struct Sink {
        const char* nome;
        Sorvedouro* s;
        // Outcome for settings 0, 1, 2, 3 and 7: 0 not delivered, 1 in clear, 2 over TLS.
        int resultado[5];
    } sinks[] = {
        {"sem STARTTLS", &plain, {1, 1, 0, 0, 0}},
        {"com STARTTLS", &starttls, {1, 2, 2, 0, 2}},
        {"TLS implícito", &tls, {0, 0, 0, 2, 0}},
    };
    const int valores[] = {0, 1, 2, 3, 7};
    for (const auto& k : sinks) {
        std::size_t recebidas = 0;
        for (int autentica : {0, 1}) {
            for (int i = 0; i < 5; ++i) {
                SCOPED_TRACE(std::string(k.nome) + ", autenticação " + std::to_string(autentica) +
                             ", segurança " + std::to_string(valores[i]));
                Envio::Smtp cfg;
                cfg.porta = k.s->Porta();
                cfg.autentica = autentica;
                cfg.seguranca = valores[i];
                e.Configura(cfg);
                e.opcoes.ArquivoCA = k.s->CA();
                // A plain client at a TLS port waits for a greeting that never comes.
                e.opcoes.TimeOut = k.resultado[i] == 0 ? 2 : 30;
                e.Alerta({"alerta"});
                e.Linhas();
                e.Envia();
                const auto linhas = e.Linhas();
                const auto mensagens = k.s->Mensagens();
                if (k.resultado[i] == 0) {
                    EXPECT_TRUE(
                        Contem(linhas, "Não foi possível conectar com servidor SMTP 127.0.0.1 ("));
                    EXPECT_FALSE(Contem(linhas, "SMTP conectado"));
                    EXPECT_EQ(mensagens.size(), recebidas);
                    continue;
                }
                EXPECT_TRUE(Contem(linhas, "Alerta para: "));
                ASSERT_EQ(mensagens.size(), recebidas + 1);
                recebidas = mensagens.size();
                EXPECT_EQ(Campo(mensagens.back(), "TLS"), k.resultado[i] == 2 ? "1" : "0");
                EXPECT_EQ(Campo(mensagens.back(), "User"), autentica ? "alerta" : "");
            }
        }
    }
}

TEST(EnviaEmail, CertificadoNaoConfiavelESenhaErrada) {
    Envio e;
    EXIGE_BANCO(e.db);
    Sorvedouro s("starttls", true);
    EXIGE_SORVEDOURO(s);
    Envio::Smtp cfg;
    cfg.porta = s.Porta();
    cfg.autentica = 1;
    cfg.seguranca = 2;
    e.Configura(cfg);

    // Not signed by anything this computer trusts.
    e.Alerta({"x"});
    e.Linhas();
    e.Envia();
    EXPECT_TRUE(Contem(e.Linhas(), "Não foi possível conectar com servidor SMTP 127.0.0.1 ("));
    EXPECT_TRUE(s.Mensagens().empty());
    // The same with verification switched off.
    e.opcoes.VerificaCertificado = false;
    e.Alerta({"x"});
    e.Envia();
    EXPECT_TRUE(Contem(e.Linhas(), "Alerta para: "));
    EXPECT_EQ(s.Mensagens().size(), 1u);

    // A wrong password: refused after the connection, with the server's reply.
    e.opcoes.VerificaCertificado = true;
    e.opcoes.ArquivoCA = s.CA();
    cfg.senha = "errada";
    e.Configura(cfg);
    e.Alerta({"x"});
    e.Envia();
    const auto linhas = e.Linhas();
    EXPECT_TRUE(Contem(linhas, "SMTP conectado"));
    EXPECT_TRUE(Contem(linhas, "Não foi possível enviar email para a@x.test; b@x.test (535"))
        << ::testing::PrintToString(linhas);
    EXPECT_TRUE(Contem(linhas, "SMTP desconectado"));
    EXPECT_EQ(s.Mensagens().size(), 1u);
}

TEST(EnviaEmail, ServidorMudoOuAusenteNaoPrendeOLaco) {
    Envio e;
    EXIGE_BANCO(e.db);
    Sorvedouro mudo("silent");
    EXIGE_SORVEDOURO(mudo);
    e.opcoes.TimeOut = 2;
    Envio::Smtp cfg;
    cfg.porta = mudo.Porta();
    e.Configura(cfg);
    // Two passes, each ended by the time-out; the second runs after the first.
    e.Alerta({"um"});
    e.Alerta({"dois"});
    e.Linhas();
    for (int passo = 0; passo < 2; ++passo) {
        const auto inicio = std::chrono::steady_clock::now();
        e.Envia();
        EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(60));
        const auto linhas = e.Linhas();
        EXPECT_TRUE(Contem(linhas, "Não foi possível conectar com servidor SMTP 127.0.0.1 ("))
            << ::testing::PrintToString(linhas);
    }
    EXPECT_EQ(e.fila->Quantidade(), 0u);

    // Nothing listening: refused at once, long before a generous time-out.
    e.opcoes.TimeOut = 120;
    cfg.porta = PortaFechada();
    e.Configura(cfg);
    e.Alerta({"tres"});
    const auto inicio = std::chrono::steady_clock::now();
    e.Envia();
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(60));
    EXPECT_TRUE(Contem(e.Linhas(), "Não foi possível conectar com servidor SMTP 127.0.0.1 ("));

    // A stop request ends a wait on a silent server.
    cfg.porta = mudo.Porta();
    e.Configura(cfg);
    e.Alerta({"quatro"});
    const auto antes = std::chrono::steady_clock::now();
    EnviaEmailAlerta(e.alertas, *e.banco, e.opcoes, [&] {
        return std::chrono::steady_clock::now() - antes > std::chrono::milliseconds(200);
    });
    EXPECT_LT(std::chrono::steady_clock::now() - antes, std::chrono::seconds(60));
    EXPECT_TRUE(Contem(e.Linhas(), "Não foi possível conectar com servidor SMTP 127.0.0.1 ("));
}
