// The console's link: the frames of the extension-block requests, which
// replies answer them (and which never do), the console's result texts and
// trace, and a programming round against the simulated unit.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "common/IniFile.h"
#include "common/pabx/QuadroPABX.h"
#include "tests/common/pabx/PABXSemRede.h"

namespace {

std::string HexDe(const Bytes& b) {
    static const char* d = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i) s += ' ';
        s += d[b[i] >> 4];
        s += d[b[i] & 15];
    }
    return s;
}

// A console link without a network: frames sent are kept, replies fed.
struct ConsoleSemRede {
    TPABX pabx{ModoPABX::Console};
    std::vector<Bytes> enviados;
    ConsoleSemRede() {
        pabx.DefineEnvio([this](const std::uint8_t* b, std::size_t n, std::string&) {
            enviados.emplace_back(b, b + n);
            return true;
        });
    }
    void Recebe(const Bytes& b) { pabx.TCPRecebeu(b); }
};

}  // namespace

TEST(PABXConsole, QuadrosDosPedidosDeRamal) {
    struct Caso {
        const char* nome;
        std::function<bool(TPABX&)> pedido;
        const char* quadro;
    } casos[] = {
        {"lista do ramal",
         [](TPABX& p) {
             return p.GravaListaRamal(1001, {"1001", " 1002"});
         },
         "55 0E 00 03 00 05 00 E9 03 0A 00 02 00 E9 03 EA 03"},
        {"parametro", [](TPABX& p) { return p.GravaParametroRamal(1005, 7); },
         "55 0E 00 03 00 05 00 ED 03 09 00 02 00 07 00 00 00"},
        {"lista vazia", [](TPABX& p) { return p.GravaListaRamal(3999, {}); },
         "55 0A 00 03 00 05 00 9F 0F 0A 00 00 00"},
        {"lista de ramais",
         [](TPABX& p) {
             p.FListaRamais = {"3001", "1899"};
             return p.GravaListaRamais();
         },
         "55 0E 00 03 00 05 00 0A 00 23 00 02 00 B9 0B 6B 07"},
        {"pede lista de ramais", [](TPABX& p) { return p.PedeListaRamais(); },
         "55 0A 00 03 00 04 00 0A 00 23 00 00 00"},
        {"pede parametro", [](TPABX& p) { return p.PedeParametroRamal(3001); },
         "55 0A 00 03 00 04 00 B9 0B 09 00 00 00"},
        {"pede lista", [](TPABX& p) { return p.PedeListaRamal(1000); },
         "55 0A 00 03 00 04 00 E8 03 0A 00 00 00"},
    };
    for (const Caso& c : casos) {
        ConsoleSemRede l;
        l.pabx.FQuadroTX.fill(0xEE);  // each request zeroes it first
        ASSERT_TRUE(c.pedido(l.pabx)) << c.nome;
        ASSERT_EQ(l.enviados.size(), 1u) << c.nome;
        EXPECT_EQ(HexDe(l.enviados[0]), c.quadro) << c.nome;
    }
}

TEST(PABXConsole, NumeroForaDasFaixasNaoEnvia) {
    // 66537 would wrap to 1001 in 16 bits.
    for (int ramal : {0, 999, 1900, 1999, 2999, 4000, 66537, -1}) {
        ConsoleSemRede l;
        EXPECT_FALSE(l.pabx.GravaParametroRamal(ramal, 1)) << ramal;
        EXPECT_FALSE(l.pabx.PedeParametroRamal(ramal)) << ramal;
        EXPECT_FALSE(l.pabx.PedeListaRamal(ramal)) << ramal;
        EXPECT_FALSE(l.pabx.GravaListaRamal(1001, {"1002", std::to_string(ramal)})) << ramal;
        EXPECT_TRUE(l.enviados.empty()) << ramal;
    }
    ConsoleSemRede l;
    EXPECT_THROW(l.pabx.GravaListaRamal(1001, {"1002", "10a"}), std::invalid_argument);
    l.pabx.FListaRamais = {""};
    EXPECT_THROW(l.pabx.GravaListaRamais(), std::invalid_argument);
    EXPECT_TRUE(l.enviados.empty());
}

TEST(PABXConsole, RespostasAosBlocosDeRamal) {
    struct Caso {
        const char* nome;
        std::function<bool(TPABX&)> pedido;
        Bytes resposta;
        std::string status;
        Bytes dados;  // the copy, when the status is "OK"
    };
    Bytes enorme = RespostaPROG(1005, 9, Bytes(65535 - 12, 0));
    enorme[1] = enorme[2] = 0xFF;
    enorme[15] = 0x47;
    const Caso casos[] = {
        {"palavra", [](TPABX& p) { return p.PedeParametroRamal(1005); },
         RespostaPROG(1005, 9, Hex("07 00 00 00")), "OK", Hex("07 00 00 00")},
        {"faixa 3000", [](TPABX& p) { return p.PedeParametroRamal(3005); },
         RespostaPROG(3005, 9, Hex("47 80 00 00")), "OK", Hex("47 80 00 00")},
        {"lista", [](TPABX& p) { return p.PedeListaRamal(1005); },
         RespostaPROG(1005, 10, Hex("E9 03 EA 03")), "OK", Hex("E9 03 EA 03")},
        {"outro bloco",
         [](TPABX& p) { return p.PedeParametroRamal(1005); },
         RespostaPROG(1006, 9, Hex("07 00 00 00")),
         "",
         {}},
        {"outro indice",
         [](TPABX& p) { return p.PedeParametroRamal(1005); },
         RespostaPROG(1005, 10, Hex("E9 03")),
         "",
         {}},
        {"cortada", [](TPABX& p) { return p.PedeParametroRamal(1005); },
         RespostaPROG(1005, 9, Hex("07")), "OK", Hex("07")},
        {"grande demais", [](TPABX& p) { return p.PedeParametroRamal(1005); }, enorme, "OK",
         [&] {
             Bytes d(MaximoGuardadoRX - 15, 0);
             d[0] = 0x47;
             return d;
         }()},
        {"recusa de leitura",
         [](TPABX& p) { return p.PedeParametroRamal(1005); },
         RespostaCTRL(0x84, 4, 1005),
         "Negado",
         {}},
        {"recusa de escrita",
         [](TPABX& p) { return p.GravaListaRamal(1005, {"1001"}); },
         RespostaCTRL(0x85, 4, 1005),
         "Negado",
         {}},
        {"recusa de outro bloco",
         [](TPABX& p) { return p.PedeParametroRamal(1005); },
         RespostaCTRL(0x84, 4, 1006),
         "",
         {}},
        {"confirmacao",
         [](TPABX& p) { return p.GravaParametroRamal(1005, 1); },
         Confirmacao(1005, 9),
         "OK",
         {}},
        {"confirmacao de outro bloco",
         [](TPABX& p) { return p.GravaParametroRamal(1005, 1); },
         Confirmacao(1004, 9),
         "",
         {}},
    };
    for (const Caso& c : casos) {
        ConsoleSemRede l;
        ASSERT_TRUE(c.pedido(l.pabx)) << c.nome;
        l.Recebe(c.resposta);
        EXPECT_EQ(l.pabx.FStatusPROG.Le(), c.status) << c.nome;
        if (c.status == "OK" && !c.dados.empty()) {
            const TRespostaRamal r = l.pabx.RespostaRamal();
            EXPECT_EQ(r.Bloco, LePalavra(&c.resposta[9])) << c.nome;
            EXPECT_EQ(r.Dados, c.dados) << c.nome;
        }
        EXPECT_TRUE(l.pabx.NomesDNS().empty()) << c.nome;
        EXPECT_TRUE(l.pabx.ListaRamais().empty()) << c.nome;
    }
}

TEST(PABXConsole, MetadeDeQuadroNaoContaminaOProximoPedido) {
    ConsoleSemRede l;
    ASSERT_TRUE(l.pabx.PedeParametroRamal(1001));
    const Bytes r = RespostaPROG(1001, 9, Hex("07 00 00 00"));
    l.Recebe(Bytes(r.begin(), r.begin() + 9));
    EXPECT_TRUE(l.pabx.FStatusPROG.Vazio());
    ASSERT_TRUE(l.pabx.PedeParametroRamal(1002));
    l.Recebe(RespostaPROG(1002, 9, Hex("03 00 00 00")));
    EXPECT_EQ(l.pabx.FStatusPROG.Le(), "OK");
    EXPECT_EQ(l.pabx.RespostaRamal().Bloco, 1002);
    EXPECT_EQ(l.pabx.RespostaRamal().Dados, Hex("03 00 00 00"));
}

TEST(PABXConsole, ListaDeRamaisVersaoEResultadosCTRL) {
    ConsoleSemRede l;
    ASSERT_TRUE(l.pabx.PedeListaRamais());
    l.Recebe(RespostaPROG(10, 35, Hex("E9 03 00 00 B9 0B 05")));
    EXPECT_EQ(l.pabx.FStatusPROG.Le(), "OK");
    EXPECT_EQ(l.pabx.ListaRamais(), (std::vector<std::string>{"1001", "3001"}));

    ASSERT_TRUE(l.pabx.PedeVersao());
    l.Recebe(RespostaPROG(102, 0, Hex("03 00 05 00")));
    ASSERT_TRUE(l.pabx.PedeRelease());
    l.Recebe(RespostaPROG(102, 2, Hex("07 00")));
    EXPECT_EQ(l.pabx.Versao(), "3.5.7");

    struct Caso {
        std::uint16_t comando, resultado, subcodigo;
        Bytes dados;
        const char* texto;
    } casos[] = {
        {0x83, 1, 10005, {}, "OK"},
        {0x82, 1, 0x8C, Bytes(32, 9), "OK"},  // no volume branch in the console
        {0x82, 5, 0x8C, Hex("04 00"), "SdCard não conectado"},
        {0x83, 4, 10005, {}, "Negado"},
        {0x83, 9, 10005, {}, "Desconhecido"},
    };
    for (const Caso& c : casos) {
        ASSERT_TRUE(l.pabx.EnviaCTRL(c.comando & 0x7F, c.subcodigo, 0));
        l.Recebe(RespostaCTRL(c.comando, c.resultado, c.subcodigo, c.dados));
        EXPECT_EQ(l.pabx.FStatusCTRL.Le(), c.texto) << c.resultado;
    }
    EXPECT_EQ(l.pabx.VolumeSDCard().Total, 0);
}

TEST(PABXConsole, LimiteETraceDaPastaDoPrograma) {
    PastaTemporaria pasta;
    const char* antes = std::getenv("VERUZADU_HOME");
    const std::string anterior = antes ? antes : "";
    setenv("VERUZADU_HOME", pasta.Caminho().c_str(), 1);
    {
        TPABX padrao(ModoPABX::Console);
        EXPECT_EQ(padrao.FTempoLimite, 30);
        EXPECT_FALSE(padrao.FTrace);
    }
    {
        IniFile ini(pasta.Caminho() / "VERUZADU.INI");
        ini.WriteInteger("Veruzadu", "PABXTimeOut", 7);
        ini.WriteBool("Log", "PABX", true);
    }
    {
        ConsoleSemRede l;
        EXPECT_EQ(l.pabx.FTempoLimite, 7);
        ASSERT_TRUE(l.pabx.FTrace);
        ASSERT_TRUE(l.pabx.EnviaLogin());
        l.Recebe(Confirmacao(10005, 0) + RespostaCTRL(0x83, 1, 10005));
        ASSERT_TRUE(l.pabx.PedeNomesDNS());
        l.Recebe(RespostaPROG(2, 0, Hex("00 00 00 00") + Bytes(12, 'A')));
    }
    std::vector<std::string> arquivos;
    std::string trace;
    for (const auto& e : std::filesystem::directory_iterator(pasta.Caminho())) {
        arquivos.push_back(e.path().filename().string());
        if (e.path().filename().string().rfind("COM_", 0) == 0) {
            std::ifstream f(e.path());
            std::stringstream s;
            s << f.rdbuf();
            trace = s.str();
        }
    }
    for (const auto& a : arquivos) EXPECT_EQ(a.find(".DAD"), std::string::npos) << a;
    std::vector<std::string> rotulos;
    std::istringstream linhas(trace);
    for (std::string linha; std::getline(linhas, linha);)
        if (auto p = linha.find(": "); p != std::string::npos && linha.rfind("    ", 0) != 0 &&
                                       linha.find("  ") == std::string::npos)
            rotulos.push_back(linha.substr(0, p));
    EXPECT_EQ(rotulos,
              (std::vector<std::string>{"TX CTRL", "RX PROG", "RX CTRL", "TX PROG", "RX PROG"}));
    if (anterior.empty())
        unsetenv("VERUZADU_HOME");
    else
        setenv("VERUZADU_HOME", anterior.c_str(), 1);
}
