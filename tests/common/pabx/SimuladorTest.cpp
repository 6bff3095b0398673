// TPABX against the simulated unit over real TCP: what a session reads, the
// result texts, the SD-card check and the link's failures.
#include <chrono>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "common/pabx/TracePABX.h"
#include "tests/common/pabx/PABXSemRede.h"
#include "tools/pabx-probe/Sonda.h"
#include "tools/pabx-sim/Simulator.h"

namespace {
using namespace std::chrono;

pabxsim::Scenario Cenario(const std::string& modelo) {
    pabxsim::Scenario s;
    s.password = "4321";
    s.model = modelo;
    s.sdTotal = 8'000'000'000;
    s.sdFree = 6'500'000'000;
    s.sdUsed = 1'500'000'000;
    s.dnsNames = {{false, "Recepcao"}, {true, "Oculto"}, {false, "Vendas"}};
    s.dnsIndexes = {{2, 1000, 0},  {45, 1005, 1}, {7, 1006, 0},
                    {45, 3001, 2}, {2, 3002, 0},  {3, 1007, 2}};
    s.agenda = {{1000, "Rec", "Recepção Principal da Empresa Norvika"},
                {1001, "Ana", "Ana Souza"},
                {1001, "Outra", "Outra Pessoa"},
                {3001, "Ponte", "bridge "},
                {3005, "Jo", "João"}};
    return s;
}

struct Sessao {
    pabxsim::Simulator sim;
    EventoPABX evento;
    TPABX pabx;

    explicit Sessao(const pabxsim::Scenario& cenario) : sim(cenario) {
        sim.Start();
        pabx.FTempoLimite = 1;
        pabx.FEvento = &evento;
        pabx.FEnderecoIP = "127.0.0.1";
        pabx.FPorta = sim.Port();
        pabx.FSenha = cenario.password;
    }
    ~Sessao() { pabx.Desconecta(); }
    bool Conecta() {
        pabx.Conecta();
        return pabx.AguardaResposta() && pabx.FEstadoLink == elConectado;
    }
    // As the download run does: the login leaves the connection's "OK" alone,
    // so wait on the acknowledgement itself here.
    bool Login() {
        pabx.FStatusPROG.Esvazia();
        return pabx.EnviaLogin() && Aguarda();
    }
    bool Aguarda() { return pabx.AguardaResposta() && pabx.FStatusPROG == "OK"; }
    bool Le(bool enviado) { return enviado && Aguarda(); }
    std::string Ctrl(bool enviado) {
        if (!enviado) return "não enviado";
        pabx.AguardaStatus(pabx.FStatusCTRL);
        return pabx.FStatusCTRL.Le();
    }
    const TRamalPABX& Ramal(int n) const {
        return pabx.FRamais[static_cast<std::size_t>(TPABX::IndiceRamal(n))];
    }
};
}  // namespace

TEST(Simulador, SessaoLeVersaoModeloENomesNasTresFormasDeAgenda) {
    enum Forma { Curta, Longa, XML };
    struct Caso {
        const char* modelo;
        Forma forma;
    };
    for (const Caso c : {Caso{"KVX 24", Curta}, Caso{"Norvika ORVAL500", Longa},
                         Caso{"BRELVO 16", XML}, Caso{"TK506_4M", XML}}) {
        SCOPED_TRACE(c.modelo);
        Sessao s(Cenario(c.modelo));
        ASSERT_TRUE(s.Conecta());
        ASSERT_TRUE(s.Login());
        ASSERT_TRUE(s.Le(s.pabx.PedeVersao()));
        ASSERT_TRUE(s.Le(s.pabx.PedeRelease()));
        EXPECT_EQ(s.pabx.FVersao, "3.16.50");
        ASSERT_TRUE(s.Le(s.pabx.PedeParametros()));
        std::string maiusculo = c.modelo;
        for (auto& ch : maiusculo)
            ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        EXPECT_EQ(s.pabx.FModelo, maiusculo);
        EXPECT_EQ(s.pabx.FAgendaLonga, c.forma == Longa);
        EXPECT_EQ(s.pabx.FAgendaViaCTRL, c.forma == XML);

        ASSERT_TRUE(s.Le(s.pabx.PedeNomesDNS()));
        ASSERT_TRUE(s.Le(s.pabx.PedeIndicesDNS()));
        // DNS rules: enabled name, accepted type.
        EXPECT_EQ(s.Ramal(1000).NomeDNS, "Recepcao");
        EXPECT_EQ(s.Ramal(1007).NomeDNS, "Vendas");
        EXPECT_EQ(s.Ramal(3001).NomeDNS, "Vendas");
        for (int sem : {1005, 1006, 3002}) EXPECT_EQ(s.Ramal(sem).NomeDNS, "") << sem;
        EXPECT_EQ(s.pabx.BuscaRamalPorNome("Vendas"), 1007);

        ASSERT_TRUE(s.Le(s.pabx.PedeAgenda()));
        switch (c.forma) {
            case Curta:
                EXPECT_EQ(s.Ramal(1000).Nome, "Recepção Principal");
                EXPECT_EQ(s.Ramal(1001).Nome, "Outra Pessoa");
                EXPECT_EQ(s.Ramal(3001).NomeDNS, "");  // "bridge " clears both names
                EXPECT_EQ(s.Ramal(3001).Nome, "");
                EXPECT_EQ(s.Ramal(3005).Nome, "João");
                EXPECT_EQ(s.pabx.FAgendaRamais,
                          (std::vector<std::string>{"3001;bridge", "3005;João"}));
                break;
            case Longa:
                EXPECT_EQ(s.Ramal(1000).Nome, "Recepção Principal da Empresa ");
                EXPECT_EQ(s.Ramal(3001).Nome, "");
                EXPECT_EQ(s.Ramal(3001).NomeDNS, "");
                EXPECT_TRUE(s.pabx.FAgendaRamais.empty());
                break;
            case XML:
                // The document's short names replace the DNS names; a number
                // listed twice keeps its first pair.
                EXPECT_EQ(s.Ramal(1000).NomeDNS, "Rec");
                EXPECT_EQ(s.Ramal(1000).Nome, "Recepção Principal da Empresa ");
                EXPECT_EQ(s.Ramal(1001).NomeDNS, "Ana");
                EXPECT_EQ(s.Ramal(1001).Nome, "Ana Souza");
                EXPECT_EQ(s.Ramal(3005).Nome, "João");
                break;
        }
    }
}

TEST(Simulador, TextosDoResultadoCTRL) {
    PastaTemporaria loja;
    std::filesystem::create_directories(loja.Caminho() / "NORVIKA/AUDIOREC/GR101024/X0001010");
    std::ofstream(loja.Caminho() / "NORVIKA/AUDIOREC/GR101024/X0001010/R0001.WAV") << "RIFF";
    pabxsim::Scenario cenario = Cenario("KVX");
    cenario.store = loja.Caminho();
    Sessao s(cenario);
    ASSERT_TRUE(s.Conecta());
    ASSERT_TRUE(s.Login());
    TPABX& p = s.pabx;

    EXPECT_EQ(s.Ctrl(p.PedeRemocaoArquivo("GR101024", "X0001010", "R0001.WAV")),
              "Negado");  // access closed
    EXPECT_EQ(s.Ctrl(p.PedeAcessoGravacoes(true)), "OK");
    EXPECT_EQ(s.Ctrl(p.PedeRemocaoArquivo("gr101024", "x0001010", "r0001.wav")), "OK");
    EXPECT_FALSE(
        std::filesystem::exists(loja.Caminho() / "NORVIKA/AUDIOREC/GR101024/X0001010/R0001.WAV"));
    EXPECT_EQ(s.Ctrl(p.PedeRemocaoArquivo("GR101024", "X0001010", "R0001.WAV")), "Falha");
    EXPECT_EQ(s.Ctrl(p.PedeReconexaoUSB()), "OK");
    EXPECT_EQ(p.FStatusPROG.Le(), "OK");  // CTRL requests leave the PROG status alone

    struct Caso {
        const char* regra;
        bool ignora;
        const char* texto;
    };
    for (const Caso c :
         {Caso{"usb refuse=2", true, "Falha"}, Caso{"usb refuse=3", true, "TimeOut"},
          Caso{"usb refuse=4", true, "Negado"}, Caso{"sdcard refuse=5", true, "IOCTRL Error"},
          Caso{"usb refuse=9", true, "OK"}, Caso{"usb refuse=9", false, "Desconhecido"}}) {
        SCOPED_TRACE(c.regra);
        s.sim.ClearFaults();
        s.sim.AddFault(c.regra);
        p.FIgnoraCTRLDesconhecido = c.ignora;
        const bool usb = std::string_view(c.regra).starts_with("usb");
        EXPECT_EQ(s.Ctrl(usb ? p.PedeReconexaoUSB() : p.PedeVolumeSDCard()), c.texto);
    }
}

TEST(Simulador, VerificaSDCard) {
    {
        Sessao s(Cenario("KVX"));
        std::string mensagem;
        EXPECT_TRUE(s.pabx.VerificaSDCard(mensagem));
        EXPECT_EQ(mensagem, "Tratando volume SDCard");
        EXPECT_EQ(s.pabx.FVolumeSDCard.Total, 8'000'000'000);
        EXPECT_EQ(s.pabx.FVolumeSDCard.Livre, 6'500'000'000);
        EXPECT_EQ(s.pabx.FVolumeSDCard.Usado, 1'500'000'000);
    }
    for (const char* regra : {"sdcard noreply", "sdcard refuse=4"}) {
        SCOPED_TRACE(regra);
        Sessao s(Cenario("KVX"));
        s.sim.AddFault(regra);
        std::string mensagem;
        EXPECT_FALSE(s.pabx.VerificaSDCard(mensagem));
        EXPECT_EQ(mensagem, "Volume SDCard não suportado");
    }
    {
        // A wrong password: the unit answers nothing but the refusal, and the
        // refusal decides at once (a long limit shows whether it was waited).
        pabxsim::Scenario cenario = Cenario("KVX");
        Sessao s(cenario);
        s.pabx.FSenha = "0000";
        s.pabx.FTempoLimite = 120;
        std::string mensagem;
        const auto inicio = steady_clock::now();
        EXPECT_FALSE(s.pabx.VerificaSDCard(mensagem));
        EXPECT_LT(steady_clock::now() - inicio, seconds(60));
        EXPECT_EQ(mensagem, "Resposta ao login falhou");
    }
}

TEST(Simulador, RespostaAtrasadaNaoMexeNasTabelasQueODonoLe) {
    Sessao s(Cenario("KVX"));
    s.sim.AddFault("dnsindexes delay=1500 times=1");
    ASSERT_TRUE(s.Conecta());
    ASSERT_TRUE(s.Login());
    ASSERT_TRUE(s.Le(s.pabx.PedeNomesDNS()));
    // The owner gives up after its limit and reads the tables while the
    // reply it no longer awaits comes in.
    EXPECT_FALSE(s.Le(s.pabx.PedeIndicesDNS()));
    const auto fim = steady_clock::now() + milliseconds(1500);
    std::size_t nomes = 0;
    while (steady_clock::now() < fim) {
        for (const auto& r : s.pabx.FRamais) nomes += r.NomeDNS.size();
        nomes += s.pabx.FNomesDNS.size();
        std::this_thread::sleep_for(milliseconds(1));
    }
    EXPECT_TRUE(s.Ramal(1000).NomeDNS.empty());
    EXPECT_TRUE(s.pabx.FStatusPROG.Vazio());
    // The next request is answered as usual, and its reply is taken.
    ASSERT_TRUE(s.Le(s.pabx.PedeIndicesDNS()));
    EXPECT_EQ(s.Ramal(1000).NomeDNS, "Recepcao");
    EXPECT_EQ(s.pabx.Ramais()[0].NomeDNS, "Recepcao");
    EXPECT_GT(nomes, 0u);
}

TEST(Simulador, ObjetoReusadoNaoHerdaOStatusDaConexaoAnterior) {
    Sessao s(Cenario("KVX"));
    ASSERT_TRUE(s.Conecta());
    s.sim.Stop();
    // The drop leaves "NOK"; a new connect must not answer with it.
    for (int i = 0; i < 500 && s.pabx.FEstadoLink != elDesconectado; ++i)
        std::this_thread::sleep_for(milliseconds(10));
    ASSERT_EQ(s.pabx.FStatusPROG.Le(), "NOK");
    s.sim.Start();
    s.pabx.FPorta = s.sim.Port();
    s.pabx.FTempoLimite = 30;
    s.pabx.Conecta();
    EXPECT_TRUE(s.pabx.FStatusPROG.Vazio() || s.pabx.FStatusPROG == "OK");
    ASSERT_TRUE(s.pabx.AguardaResposta());
    EXPECT_EQ(s.pabx.FStatusPROG.Le(), "OK");
    EXPECT_EQ(s.pabx.FEstadoLink, elConectado);
}

TEST(Simulador, UnidadeMudaFalhaAposPABXTimeOut) {
    Sessao s(Cenario("KVX"));
    s.sim.AddFault("* noreply");
    ASSERT_TRUE(s.Conecta());
    const auto inicio = steady_clock::now();
    EXPECT_FALSE(s.Login());
    EXPECT_GE(steady_clock::now() - inicio, milliseconds(900));
    EXPECT_TRUE(s.pabx.FStatusPROG.Vazio());
    EXPECT_EQ(s.pabx.FEstadoLink, elConectado);
}

TEST(Simulador, ConexaoDerrubadaDaNOK) {
    PastaTemporaria pasta;
    Sessao s(Cenario("KVX"));
    s.pabx.FPastaPABX = pasta.Texto();
    s.pabx.FTrace = true;
    s.sim.AddFault("version drop");
    ASSERT_TRUE(s.Conecta());
    ASSERT_TRUE(s.Login());
    ASSERT_TRUE(s.pabx.PedeVersao());
    EXPECT_TRUE(s.pabx.AguardaResposta());
    EXPECT_EQ(s.pabx.FStatusPROG.Le(), "NOK");
    EXPECT_EQ(s.pabx.FEstadoLink, elDesconectado);
    EXPECT_FALSE(s.pabx.PedeRelease());
    s.pabx.Desconecta();
    std::ifstream f(pasta.Caminho() / NomeArquivoTrace(Agora()));
    std::stringstream texto;
    texto << f.rdbuf();
    EXPECT_NE(texto.str().find("\nDesconectou: \n"), std::string::npos);
}

TEST(Simulador, RespostasEstragadas) {
    struct Caso {
        const char* regra;
        bool responde;
    };
    for (const Caso c : {Caso{"version split=1", true}, Caso{"version junk=7", true},
                         Caso{"version wrongack", false}, Caso{"version short", false},
                         Caso{"version oversize", true}, Caso{"version malformed", false},
                         Caso{"version delay=200", true}}) {
        SCOPED_TRACE(c.regra);
        Sessao s(Cenario("KVX"));
        s.sim.AddFault(c.regra);
        ASSERT_TRUE(s.Conecta());
        ASSERT_TRUE(s.Login());
        EXPECT_EQ(s.Le(s.pabx.PedeVersao()), c.responde);
        if (c.responde) {
            EXPECT_EQ(s.pabx.FVersao, "3.16");
        }
        // The link recovers: the next request is answered.
        EXPECT_TRUE(s.Le(s.pabx.PedeRelease()));
    }
    {
        SCOPED_TRACE("xml badxml");
        Sessao s(Cenario("BRELVO"));
        s.sim.AddFault("xml badxml");
        ASSERT_TRUE(s.Conecta());
        ASSERT_TRUE(s.Login());
        ASSERT_TRUE(s.Le(s.pabx.PedeParametros()));
        EXPECT_FALSE(s.Le(s.pabx.PedeAgenda()));
        EXPECT_TRUE(s.pabx.FStatusPROG.Vazio());
    }
}

TEST(Simulador, SondaImprimeOsValoresDoCenario) {
    pabxsim::Simulator sim(Cenario("Norvika ORVAL500"));
    sim.Start();
    PABXTimeOut = 1;
    std::ostringstream saida, erros;
    EXPECT_EQ(ExecutaSonda({"127.0.0.1", sim.Port(), "4321", ""}, saida, erros), 0) << erros.str();
    EXPECT_EQ(saida.str(), "Versão: 3.16.50\n"
                           "Modelo: NORVIKA ORVAL500\n"
                           "Agenda: longa\n"
                           "SD card: total 8000000000, livre 6500000000, usado 1500000000\n"
                           "Ramal: 1000;Recepcao;Recepção Principal da Empresa \n"
                           "Ramal: 1001;;Outra Pessoa\n"
                           "Ramal: 1007;Vendas;Vendas\n"
                           "Ramal: 3005;;João\n");
    std::ostringstream saida2, erros2;
    EXPECT_EQ(ExecutaSonda({"127.0.0.1", sim.Port(), "errada", ""}, saida2, erros2), 2);
    EXPECT_EQ(erros2.str(), "Login recusado: Negado\n");
    // A unit that cannot be reached is named, with the reason.
    sim.Stop();
    std::ostringstream saida3, erros3;
    OpcoesSonda fechada{"127.0.0.1", sim.Port(), "4321", ""};
    fechada.tempoLimite = 5;
    EXPECT_EQ(ExecutaSonda(fechada, saida3, erros3), 2);
    EXPECT_EQ(erros3.str().rfind("Falha ao conectar PABX 127.0.0.1:" + std::to_string(sim.Port()) +
                                     " (127.0.0.1:",
                                 0),
              0u)
        << erros3.str();
    PABXTimeOut = 90;
}
