// PABX sessions of a download run against the simulated unit, the test
// database server and a unit's working folder: the step lines of the import
// log, the statistics row, the alert, the last-run stamp and the time taken.
// The transfer itself is not reached here except through the USB drive wait.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "service/AgendaDownload.h"
#include "service/download/SessaoPABX.h"
#include "service/download/UnidadePABX.h"
#include "tests/support/PastaTemporaria.h"
#include "tests/service/download/AmbienteDownload.h"
#include "tools/pabx-sim/Simulator.h"

namespace {

using namespace std::chrono_literals;
constexpr int kCodigo = 7;

// A port on which nothing listens.
std::uint16_t PortaFechada() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t n = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    ::close(fd);
    return ntohs(a.sin_port);
}

struct Sessao : AmbienteDownloadTeste {
    pabxsim::Scenario cenario;
    std::unique_ptr<pabxsim::Simulator> sim;
    PastaTemporaria store;

    Sessao() : AmbienteDownloadTeste("sessao") {
        cenario.store = store.Caminho();
        // A unit that answers is never cut short by a loaded machine; the
        // tests of silent units shorten this themselves.
        config.PABXTimeOut = 15;
        if (db.Pronto()) RegistraUnidade(kCodigo);
    }
    std::uint16_t Inicia(std::vector<std::string> falhas = {}) {
        sim = std::make_unique<pabxsim::Simulator>(cenario);
        sim->Start();
        for (const auto& f : falhas) sim->AddFault(f);
        return sim->Port();
    }
    // A USB-mode run whose drive never shows: the session goes through the
    // whole dialogue without any transfer.
    std::unique_ptr<TPABXDownloadFTP> RunUSB(std::uint16_t porta, int espera = 0) {
        auto t = Run(kCodigo, porta);
        t->ModoUSB = 1;
        t->EsperaUSB = espera;
        const std::string raiz = (pasta.Caminho() / "usb").string() + "/";
        t->RaizUSB = raiz;
        t->CaminhoUSB = raiz + "norvika/audiorec";
        return t;
    }
    // Runs the thread to its end, as the main loop would; the time it took.
    std::chrono::milliseconds Executa(TPABXDownloadFTP& t) {
        const auto ini = std::chrono::steady_clock::now();
        t.Resume();
        EXPECT_TRUE(t.AguardaFim(120s));
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - ini);
    }
    struct Linha {
        int resultado = -1, operacao = -1;
    };
    Linha Historico() const {
        Attachment att = db.Conecta();
        Transaction tr(att, true);
        Statement st(tr,
                     "SELECT DWN_RESULTADO, DWN_OPERATUAL FROM DWNHISTORY WHERE PAB_CODIGO = ?");
        st.SetInt(0, kCodigo);
        Cursor c = st.Abre();
        Linha l;
        if (c.Proxima()) l = {c.GetInt(0), c.GetInt(1)};
        EXPECT_FALSE(c.Proxima()) << "one row per run";
        return l;
    }
    bool Carimbado() const {
        Attachment att = db.Conecta();
        Transaction tr(att, true);
        Statement st(tr, "SELECT PAB_DTULTDOWN FROM PABX WHERE PAB_CODIGO = ?");
        st.SetInt(0, kCodigo);
        Cursor c = st.Abre();
        return c.Proxima() && !c.IsNull(0);
    }
    std::vector<std::string> Alertas() {
        std::vector<std::string> r;
        while (auto m = emails->RetiraPrimeiro()) {
            EXPECT_EQ(m->FCategoria, AlertaFalha);
            for (auto& l : m->FLinhas) r.push_back(l);
        }
        return r;
    }
};

// ------------------------------------------------------------ failed ends

TEST(SessaoPABX, LoginRecusado) {
    Sessao s;
    EXIGE_BANCO(s.db);
    auto t = s.Run(kCodigo, s.Inicia(), "errada");
    const auto tempo = s.Executa(*t);
    EXPECT_LT(tempo, 5s);
    const auto imp = s.LinhasIMP(kCodigo);
    EXPECT_TRUE(Contem(imp, "Conectou ao PABX"));
    EXPECT_TRUE(Contem(imp, "Login recusado"));
    EXPECT_FALSE(Contem(imp, "Login aceito"));
    EXPECT_TRUE(Contem(imp, "PABX 7: Recusada solicitação de configuração ao PABX"));
    EXPECT_TRUE(Contem(imp, "Fim verificação cartão"));
    const auto h = s.Historico();
    EXPECT_EQ(h.operacao, OpLoginRecusado);
    EXPECT_EQ(h.resultado, ResultadoFalha);
    EXPECT_TRUE(s.Carimbado());
    EXPECT_EQ(s.Alertas(),
              std::vector<std::string>{"PABX 7: Recusada solicitação de configuração ao PABX"});
    EXPECT_EQ(t->FimSessao(), efRecusado);
    EXPECT_EQ(t->PassoFimSessao(), epAguardaLogin);
}

TEST(SessaoPABX, UnidadeMudaOuCaida) {
    struct Caso {
        const char* nome;
        const char* falha;  // null: nothing listens at all
        TFimSessao fim;
        int passo;
        const char* linhaPasso;  // null: the end has no step line
        const char* resumo;
    } casos[] = {
        {"sem servidor", nullptr, efRecusado, 1, "Não foi possivel conectar ao PABX",
         "Recusada solicitação de configuração ao PABX"},
        {"mudo", "* noreply", efTimeout, 2, "Timeout: não foi possível conectar com KELV",
         "Não foi possível receber configurações do PABX"},
        {"sem versão", "version noreply", efTimeout, 22,
         "Timeout: sem resposta ao pedido de versão",
         "Não foi possível receber configurações do PABX"},
        {"sem parâmetros", "params noreply", efTimeout, 28, nullptr,
         "Não foi possível receber configurações do PABX"},
        {"cai na versão", "version drop", efRecusado, 22, "Pedido versão recusado",
         "Recusada solicitação de configuração ao PABX"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        Sessao s;
        EXIGE_BANCO(s.db);
        s.config.PABXTimeOut = 2;
        const std::uint16_t porta = c.falha ? s.Inicia({c.falha}) : PortaFechada();
        auto t = s.Run(kCodigo, porta);
        const auto tempo = s.Executa(*t);
        // PABXTimeOut is 2 s: a silent unit costs about that, never the default 90 s.
        EXPECT_LT(tempo, 15s);
        EXPECT_EQ(t->FimSessao(), c.fim);
        EXPECT_EQ(t->PassoFimSessao(), c.passo);
        const auto imp = s.LinhasIMP(kCodigo);
        if (c.linhaPasso) {
            EXPECT_TRUE(Contem(imp, c.linhaPasso));
        } else {
            EXPECT_FALSE(Contem(imp, "Timeout:"));
        }
        EXPECT_TRUE(Contem(imp, std::string("PABX 7: ") + c.resumo));
        EXPECT_EQ(s.Historico().resultado, ResultadoFalha);
        EXPECT_TRUE(s.Carimbado());
        EXPECT_EQ(s.Alertas().size(), 1u);
    }
}

TEST(SessaoPABX, VersoesComparadasComoNumeros) {
    struct Caso {
        const char* modelo;
        std::uint16_t maior, menor, release;
        bool recusada;
        const char* linha;  // a line the model rule writes, or null
        int ganho;          // the run's gain (defaults: padrão 8, Brelvo 5, ORVAL500 0)
    } casos[] = {
        {"NORVIKA", 3, 16, 49, true, nullptr, 8},
        {"NORVIKA", 3, 16, 50, false, nullptr, 8},
        {"NORVIKA", 3, 9, 0, true, nullptr, 8},
        {"NORVIKA", 10, 0, 0, false, nullptr, 8},
        {"NORVIKA", 3, 100, 0, false, nullptr, 8},
        {"BRELVO", 1, 0, 0, false, nullptr, 5},
        {"ORVAL500", 1, 6, 10, false, "Ampliação de nível de sinal: TRUE", 8},
        {"ORVAL500", 1, 6, 11, false, "Ampliação de nível de sinal: FALSE", 0},
    };
    for (const auto& c : casos) {
        const std::string versao = std::to_string(c.maior) + "." + (c.menor < 10 ? "0" : "") +
                                   std::to_string(c.menor) + "." + (c.release < 10 ? "0" : "") +
                                   std::to_string(c.release);
        SCOPED_TRACE(std::string(c.modelo) + " " + versao);
        Sessao s;
        EXIGE_BANCO(s.db);
        s.cenario.model = c.modelo;
        s.cenario.versionMajor = c.maior;
        s.cenario.versionMinor = c.menor;
        s.cenario.release = c.release;
        auto t = s.RunUSB(s.Inicia());
        s.Executa(*t);
        const auto imp = s.LinhasIMP(kCodigo);
        EXPECT_TRUE(Contem(imp, std::string("Tratando parâmetros PABX: ") + c.modelo));
        if (c.linha) {
            EXPECT_TRUE(Contem(imp, c.linha));
        }
        if (c.recusada) {
            EXPECT_EQ(t->FimSessao(), efVersaoAntiga);
            EXPECT_TRUE(
                Contem(imp, "PABX 7: O sistema de gravação necessita de versão igual ou superior à "
                            "3.16.50. Versão do PABX= " +
                                versao));
            EXPECT_FALSE(Contem(imp, "Aguardando volume SDCard"));
            EXPECT_EQ(s.Historico().resultado, ResultadoFalha);
        } else {
            EXPECT_EQ(t->FimSessao(), efConcluido);
            EXPECT_TRUE(Contem(imp, "Aguardando volume SDCard"));
            EXPECT_EQ(t->GanhoALaw, c.ganho);
        }
        EXPECT_TRUE(s.Carimbado());
    }
}

TEST(SessaoPABX, DuasUnidadesDeModelosDiferentesGuardamSeuGanho) {
    Sessao a, b;
    EXIGE_BANCO(a.db);
    a.cenario.model = "ORVAL500";
    a.cenario.versionMajor = 1;
    a.cenario.versionMinor = 6;
    a.cenario.release = 11;
    b.cenario.model = "BRELVO";
    auto ta = a.RunUSB(a.Inicia(), 2);
    auto tb = b.RunUSB(b.Inicia(), 2);
    ta->Resume();
    tb->Resume();
    EXPECT_TRUE(ta->AguardaFim(120s));
    EXPECT_TRUE(tb->AguardaFim(120s));
    EXPECT_EQ(ta->GanhoALaw, 0);
    EXPECT_EQ(tb->GanhoALaw, 5);
}

// ---------------------------------------------------- SD card and USB drive

TEST(SessaoPABX, CartaoNaoSuportadoNaoImpedeODownload) {
    Sessao s;
    EXIGE_BANCO(s.db);
    s.cenario.model = "BRELVO";  // the agenda comes as a document over CTRL
    auto t = s.RunUSB(s.Inicia({"sdcard refuse nth=1"}));
    s.Executa(*t);
    const auto imp = s.LinhasIMP(kCodigo);
    EXPECT_EQ(t->FimSessao(), efConcluido);
    // The names and indexes are read first (steps 3-6), then the agenda.
    std::vector<std::string> esperadas{"Volume SDCard não suportado",
                                       "Aguardando nomes DNS",
                                       "Tratanto indices DNS",
                                       "Aguardando agenda interna",
                                       "Tratanto agenda",
                                       "Reconectando USB",
                                       "Habilitado acesso às gravações",
                                       "Acesso às gravações desabilitado",
                                       "Fim verificação cartão"};
    std::size_t i = 0;
    for (const auto& l : imp)
        if (i < esperadas.size() && l.find(esperadas[i]) != std::string::npos) ++i;
    EXPECT_EQ(i, esperadas.size()) << "missing: " << (i < esperadas.size() ? esperadas[i] : "");
    EXPECT_FALSE(Contem(imp, "Recusada solicitação"));
}

TEST(SessaoPABX, DiscoUSBQueNuncaAparece) {
    Sessao s;
    EXIGE_BANCO(s.db);
    auto t = s.RunUSB(s.Inicia(), 1);
    s.Executa(*t);
    const auto imp = s.LinhasIMP(kCodigo);
    const std::string raiz = t->RaizUSB;
    EXPECT_TRUE(Contem(imp, "PABX 7: Disco " + raiz +
                                " não disponível. Não foi possível copiar arquivos do cartão"));
    EXPECT_EQ(s.Historico().operacao, OpUSBIndisponivel);
    EXPECT_EQ(s.Historico().resultado, ResultadoFalha);
    EXPECT_EQ(s.Alertas().size(), 1u);
    EXPECT_EQ(t->FimSessao(), efConcluido);
    EXPECT_TRUE(Contem(imp, "Acesso às gravações desabilitado"));
    EXPECT_TRUE(s.Carimbado());
}

TEST(SessaoPABX, DiscoUSBQueApareceDepoisDeTresSegundos) {
    Sessao s;
    EXIGE_BANCO(s.db);
    auto t = s.RunUSB(s.Inicia(), 10);
    const std::filesystem::path raiz = t->RaizUSB;
    std::chrono::steady_clock::time_point acesso{};
    t->AoExecutarPasso = [&](int passo) {
        if (passo == epTransfere && acesso == std::chrono::steady_clock::time_point{})
            acesso = std::chrono::steady_clock::now();
    };
    t->Resume();
    // The drive appears 3 s after access was asked.
    for (int i = 0; i < 600 && acesso == std::chrono::steady_clock::time_point{}; ++i)
        std::this_thread::sleep_for(50ms);
    std::this_thread::sleep_for(3s);
    std::filesystem::create_directories(raiz / "NORVIKA" / "AUDIOREC");
    const auto montado = std::chrono::steady_clock::now();
    ASSERT_TRUE(t->AguardaFim(120s));
    const auto imp = s.LinhasIMP(kCodigo);
    EXPECT_TRUE(Contem(imp, "Disco " + raiz.string() + " pronto. Lendo arquivos..."));
    EXPECT_FALSE(Contem(imp, "não disponível"));
    EXPECT_GE(montado - acesso, 3s);
    EXPECT_TRUE(Contem(imp, "Origem : " + (raiz / "NORVIKA").string() + "/"));
}

// ------------------------------------------------ errors, stops, deletions

TEST(SessaoPABX, ErroInesperadoEmUmPasso) {
    Sessao s;
    EXIGE_BANCO(s.db);
    auto t = s.Run(kCodigo, s.Inicia());
    t->AoExecutarPasso = [](int passo) {
        if (passo == epPedeRelease) throw std::runtime_error("falha de teste");
    };
    s.Executa(*t);
    const auto imp = s.LinhasIMP(kCodigo);
    EXPECT_TRUE(Contem(imp, "ERRDOWNPABX: falha de teste"));
    EXPECT_TRUE(Contem(imp, "Fim verificação cartão"));
    EXPECT_EQ(s.Historico().resultado, ResultadoFalha);
    EXPECT_TRUE(s.Carimbado());
    EXPECT_EQ(t->ClientePABX, nullptr);
}

TEST(SessaoPABX, ParadaComUnidadeMuda) {
    Sessao s;
    EXIGE_BANCO(s.db);
    s.config.PABXTimeOut = 60;
    auto t = s.Run(kCodigo, s.Inicia({"* noreply"}));
    std::atomic<bool> noLogin{false};
    t->AoExecutarPasso = [&](int passo) {
        if (passo == epAguardaLogin) noLogin = true;
    };
    t->Resume();
    for (int i = 0; i < 600 && !noLogin; ++i) std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(noLogin);
    const auto ini = std::chrono::steady_clock::now();
    t->Terminate();
    ASSERT_TRUE(t->AguardaFim(30s));
    EXPECT_LT(std::chrono::steady_clock::now() - ini, 10s);
    EXPECT_EQ(s.Historico().resultado, ResultadoFalha);
    // Not stamped: the unit stays due in its window.
    EXPECT_FALSE(s.Carimbado());
    EXPECT_TRUE(Contem(s.LinhasIMP(kCodigo), "Fim verificação cartão"));
}

TEST(SessaoPABX, ParadaEsperandoODiscoUSB) {
    Sessao s;
    EXIGE_BANCO(s.db);
    auto t = s.RunUSB(s.Inicia(), 60);
    std::atomic<bool> noAcesso{false};
    t->AoExecutarPasso = [&](int passo) {
        if (passo == epTransfere) noAcesso = true;
    };
    t->Resume();
    for (int i = 0; i < 600 && !noAcesso; ++i) std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(noAcesso);
    std::this_thread::sleep_for(1500ms);
    const auto ini = std::chrono::steady_clock::now();
    t->Terminate();
    ASSERT_TRUE(t->AguardaFim(30s));
    EXPECT_LT(std::chrono::steady_clock::now() - ini, 10s);
    EXPECT_EQ(s.Historico().resultado, ResultadoFalha);
    EXPECT_FALSE(s.Carimbado());
    EXPECT_FALSE(Contem(s.LinhasIMP(kCodigo), "não disponível"));
}

TEST(SessaoPABX, UnidadeApagadaDuranteAExecucao) {
    Sessao s;
    EXIGE_BANCO(s.db);
    auto t = s.RunUSB(s.Inicia({"access delay=3000"}));
    AmbienteDownload amb = s.Ambiente();
    std::atomic<bool> noAcesso{false};
    t->AoExecutarPasso = [&](int passo) {
        if (passo == epTransfere) noAcesso = true;
    };
    t->Resume();
    for (int i = 0; i < 600 && !noAcesso; ++i) std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(noAcesso);
    s.db.Executa({"DELETE FROM PABX WHERE PAB_CODIGO = 7"});
    ASSERT_TRUE(t->AguardaFim(120s));
    EXPECT_EQ(t->FimSessao(), efConcluido);
    {
        Attachment att = s.db.Conecta();
        Transaction tr(att, true);
        Statement st(tr, "SELECT COUNT(*) FROM PABX");
        Cursor c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetInt(0), 0);
    }
    // And the next window check lists nothing for it.
    s.db.Executa(
        {"INSERT INTO DOWNPABX (PAB_CODIGO, DOW_HORAINI, DOW_HORAFIM) VALUES (7, '00:00', '')"});
    ListaThreads downloads, sdcards;
    AgendaDownload agenda(s.log, *s.banco, s.alertas, s.relogio, downloads, sdcards,
                          [&s] { return s.Config(); });
    agenda.BDVerificaDownloadPeriodo();
    EXPECT_EQ(downloads.Contagem() + sdcards.Contagem(), 0u);
}

// ---------------------------------------------------- extension directory

TEST(SessaoPABX, DiretorioDeRamaisAlargadoERegravado) {
    Sessao s;
    EXIGE_BANCO(s.db);
    s.CriaBancoUnidade();
    {
        Attachment att = Attachment::Conecta(s.unidadeParametros);
        // An old unit database: both columns narrower (a column cannot shrink).
        att.Executa("DROP TABLE DNSPABX");
        att.Executa("CREATE TABLE DNSPABX (PAB_CODIGO INTEGER NOT NULL, DNS_INDICE INTEGER, "
                    "DNS_NUMERO VARCHAR(20), DNS_NOME VARCHAR(20))");
        att.Executa("INSERT INTO DNSPABX (PAB_CODIGO, DNS_INDICE, DNS_NOME, DNS_NUMERO) VALUES (7, "
                    "1999, 'velho', 'velho')");
        att.Executa("INSERT INTO DNSPABX (PAB_CODIGO, DNS_INDICE, DNS_NOME, DNS_NUMERO) VALUES (8, "
                    "1999, 'outra', 'outra')");
    }
    s.cenario.dnsNames = {{false, "Recepcao"}, {false, "Financeiro"}};
    s.cenario.dnsIndexes = {{2, 1001, 0}, {45, 3005, 1}};
    s.cenario.agenda = {{1001, "Rec", "Recepcao Principal"}, {3005, "Fin", "Contas a Pagar"}};
    auto t = s.RunUSB(s.Inicia());
    s.Executa(*t);
    ASSERT_EQ(t->FimSessao(), efConcluido);

    Attachment att = Attachment::Conecta(s.unidadeParametros);
    Transaction tr(att, true);
    EXPECT_EQ(TamanhoCampo(tr, "DNSPABX", "DNS_NUMERO"), 30);
    EXPECT_EQ(TamanhoCampo(tr, "DNSPABX", "DNS_NOME"), 30);
    Statement st(tr, "SELECT PAB_CODIGO, DNS_INDICE, DNS_NUMERO, DNS_NOME FROM DNSPABX ORDER BY "
                     "PAB_CODIGO, DNS_INDICE");
    Cursor c = st.Abre();
    std::vector<std::string> linhas;
    while (c.Proxima())
        linhas.push_back(c.GetText(0) + ";" + c.GetText(1) + ";" + c.GetText(2) + ";" +
                         c.GetText(3));
    ASSERT_EQ(linhas.size(), 3u);
    EXPECT_EQ(linhas[0], "7;1001;Recepcao;Recepcao Principal");
    // The agenda's name of a 3000-range extension, cut to 10, replaces its name.
    EXPECT_EQ(linhas[1], "7;3005;Financeiro;Contas a P");
    EXPECT_EQ(linhas[2], "8;1999;outra;outra");
}

}  // namespace

// The session's table against the simulated unit, without a run: every
// request it sends is answered "OK" on the status its next step reads, along
// the whole road from the version to the final volume.
TEST(SessaoPABXTabela, CadaPedidoTemRespostaNoStatusDoPassoSeguinte) {
    pabxsim::Scenario cenario;
    PastaTemporaria store, trabalho;
    cenario.store = store.Caminho();
    pabxsim::Simulator sim(cenario);
    sim.Start();

    UnidadePABX u;
    u.PastaPABX = trabalho.Caminho().string() + "/";
    u.KELVEnderIP = "127.0.0.1";
    u.KELVPorta = sim.Port();
    u.KELVSenha = cenario.password;
    EventoPABX evento;
    TPABX pabx;
    pabx.FTempoLimite = 10;
    PreparaLink(pabx, u, &evento);
    pabx.Conecta();
    ASSERT_TRUE(pabx.AguardaResposta() && pabx.FEstadoLink == elConectado);
    pabx.FStatusPROG.Esvazia();
    ASSERT_TRUE(pabx.EnviaLogin());
    ASSERT_TRUE(pabx.AguardaStatus(pabx.FStatusPROG));

    std::vector<int> caminho;
    const PassoSessao* passo = PassoDaSessao(epPedeVersao);
    while (passo != nullptr && passo->passo != epAguardaVolumeFinal) {
        caminho.push_back(passo->passo);
        SCOPED_TRACE(passo->passo);
        ASSERT_EQ(passo->tipo, TipoPasso::Envia);
        ASSERT_NE(passo->pedido, nullptr);
        pabx.FStatusPROG.Esvazia();
        pabx.FStatusCTRL.Esvazia();
        ASSERT_TRUE(passo->pedido(pabx));
        const PassoSessao* espera = PassoDaSessao(passo->proximo);
        ASSERT_NE(espera, nullptr);
        caminho.push_back(espera->passo);
        // The volume and the access answer on CTRL; the rest on PROG.
        const bool ctrl = espera->tipo == TipoPasso::AguardaCTRL ||
                          espera->passo == epAguardaVolumeSDCard ||
                          espera->passo == epAguardaVolumeFinal;
        TextoStatus& status = ctrl ? pabx.FStatusCTRL : pabx.FStatusPROG;
        ASSERT_TRUE(pabx.AguardaStatus(status));
        EXPECT_EQ(status.Le(), "OK");
        if (espera->passo == epAguardaVolumeFinal) break;
        // A unit with an agenda is asked it after its directory indices.
        const bool agenda = espera->passo == epAguardaIndicesDNS && pabx.AgendaHabilitada();
        passo = PassoDaSessao(agenda ? epPedeAgenda : espera->proximo);
    }
    EXPECT_EQ(caminho,
              (std::vector<int>{
                  epPedeVersao,      epAguardaVersao,     epPedeRelease,      epAguardaRelease,
                  epPedeParametros,  epAguardaParametros, epPedeVolumeSDCard, epAguardaVolumeSDCard,
                  epPedeNomesDNS,    epAguardaNomesDNS,   epPedeIndicesDNS,   epAguardaIndicesDNS,
                  epPedeAgenda,      epAguardaAgenda,     epPedeReconexaoUSB, epAguardaReconexaoUSB,
                  epPedeAcesso,      epTransfere,         epPedeFimAcesso,    epAguardaFimAcesso,
                  epPedeVolumeFinal, epAguardaVolumeFinal}));
    EXPECT_EQ(pabx.FVolumeSDCard.Total, cenario.sdTotal);
    pabx.Desconecta();
}
