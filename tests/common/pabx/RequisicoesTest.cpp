// Exact bytes of the requests, the trace record and the sender's rules.
#include <array>
#include <cctype>
#include <limits>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "common/pabx/TracePABX.h"
#include "tests/common/pabx/PABXSemRede.h"

namespace {

// "d" in the pattern stands for any decimal digit.
bool Casa(std::string_view texto, std::string_view padrao) {
    if (texto.size() != padrao.size()) return false;
    for (std::size_t i = 0; i < texto.size(); ++i)
        if (padrao[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(texto[i]))
                             : texto[i] != padrao[i])
            return false;
    return true;
}
}  // namespace

TEST(Requisicoes, BytesExatos) {
    struct Caso {
        const char* nome;
        std::function<bool(TPABX&)> pede;
        Bytes esperado;
    };
    const std::vector<Caso> casos = {
        {"login com senha de 4 caracteres",
         [](TPABX& p) {
             p.FSenha = "ab1Z";
             return p.EnviaLogin();
         },
         Hex("55 28 00 06 00 03 00 15 27 10 00"
             " 4B 00 65 00 6C 00 76 00 4D 00 6F 00 6E 00 69 00 74 00 6F 00 72 00 2C 00"
             " 61 00 62 00 31 00 5A 00")},
        {"leitura PROG 19/1", [](TPABX& p) { return p.PedeParametros(); },
         Hex("55 08 00 03 00 04 00 13 00 01 00")},
        {"acesso às gravações", [](TPABX& p) { return p.PedeAcessoGravacoes(true); },
         Hex("55 0E 00 06 00 02 00 8C 00 03 00 00 00 FF FF 01 00")},
        {"fecha acesso às gravações", [](TPABX& p) { return p.PedeAcessoGravacoes(false); },
         Hex("55 0E 00 06 00 02 00 8C 00 03 00 00 00 FF FF 00 00")},
        {"reconexão USB", [](TPABX& p) { return p.PedeReconexaoUSB(); },
         Hex("55 0C 00 06 00 02 00 8C 00 02 00 01 00 FF FF")},
        {"volume do SD card", [](TPABX& p) { return p.PedeVolumeSDCard(); },
         Hex("55 08 00 06 00 90 01 8C 00 00 00")},
        {"agenda XML", [](TPABX& p) { return p.PedeCTRL(26); },
         Hex("55 08 00 06 00 09 00 1A 00 00 00")},
        {"remoção de arquivo",
         [](TPABX& p) { return p.PedeRemocaoArquivo("GR101024", "x0001010", "R0001.wav"); },
         Hex("55 3C 00 06 00 02 00 8C 00 1A 00 02 00 FF FF") +
             Texto("0:/NORVIKA/AUDIOREC/GR101024/X0001010/R0001.WAV") + Bytes{0}},
        {"remoção a partir da cópia local",
         [](TPABX& p) {
             return p.PedeRemocaoArquivo(std::filesystem::path(
                 "/var/x/PABX001/NORVIKA/AUDIOREC/GR101024/X0001010/R0001.WAV"));
         },
         Hex("55 3C 00 06 00 02 00 8C 00 1A 00 02 00 FF FF") +
             Texto("0:/NORVIKA/AUDIOREC/GR101024/X0001010/R0001.WAV") + Bytes{0}},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nome);
        PABXSemRede link;
        ASSERT_TRUE(caso.pede(link.pabx));
        ASSERT_EQ(link.enviados.size(), 1u);
        EXPECT_EQ(link.enviados[0], caso.esperado);
    }
}

TEST(Requisicoes, TamanhosQueNaoCabemSaoRecusadosSemDarAVolta) {
    std::array<std::uint8_t, TamanhoQuadroTX> quadro{};
    const std::size_t enorme = std::numeric_limits<std::size_t>::max() - 5;
    EXPECT_EQ(MontaQuadroCTRL(quadro.data(), 2, 0x8C, enorme), 0u);
    EXPECT_EQ(MontaQuadroPROG(quadro.data(), FormaPROG::Escrita, 5, 1, 1, enorme), 0u);
    EXPECT_EQ(MontaQuadroCTRL(quadro.data(), 2, 0x8C, TamanhoQuadroTX - 10), 0u);
    EXPECT_EQ(MontaQuadroCTRL(quadro.data(), 2, 0x8C, TamanhoQuadroTX - 11), TamanhoQuadroTX);
    EXPECT_EQ(MontaQuadroPROG(quadro.data(), FormaPROG::Escrita, 5, 1, 1, TamanhoQuadroTX - 13),
              TamanhoQuadroTX);
    EXPECT_EQ(MontaQuadroPROG(quadro.data(), FormaPROG::Escrita, 5, 1, 1, TamanhoQuadroTX - 12),
              0u);
}

TEST(Requisicoes, LoginDefineModeloENaoEsvaziaStatusPROG) {
    PABXSemRede link;
    link.pabx.FStatusPROG.Grava("OK");
    link.pabx.FStatusCTRL.Grava("Falha");
    ASSERT_TRUE(link.pabx.EnviaLogin());
    EXPECT_EQ(link.pabx.FModelo, "NORVIKA");
    EXPECT_EQ(link.pabx.FStatusPROG.Le(), "OK");
    EXPECT_TRUE(link.pabx.FStatusCTRL.Vazio());
}

TEST(Requisicoes, RemocaoRecusaNomesQueSaemDaPastaEQuadroMaiorQueOBuffer) {
    PABXSemRede link;
    for (auto [a, b, c] : {std::tuple{"..", "X", "R.WAV"},
                           {"A", "X/..", "R.WAV"},
                           {"A", "X", ""},
                           {"A", "X", "..\\R.WAV"},
                           {"A", ".", "R.WAV"}})
        EXPECT_FALSE(link.pabx.PedeRemocaoArquivo(a, b, c)) << a << " " << b << " " << c;
    EXPECT_FALSE(link.pabx.PedeRemocaoArquivo("A", "B", std::string(4080, 'R')));
    EXPECT_TRUE(link.enviados.empty());
    // The longest path that still fits the 4096-byte buffer goes out.
    const std::size_t cabe = 4096 - 11 - 5 - std::string("0:/NORVIKA/AUDIOREC/A/B/").size();
    EXPECT_TRUE(link.pabx.PedeRemocaoArquivo("A", "B", std::string(cabe, 'R')));
    ASSERT_EQ(link.enviados.size(), 1u);
    EXPECT_EQ(link.enviados[0].size(), 4096u);
}

TEST(Requisicoes, BlocoEsperadoValeAntesDoEnvioERestauradoSeOEnvioFalha) {
    PABXSemRede link;
    // A unit that acknowledges before the send call returns.
    link.respostaImediata = Confirmacao(10005, 0);
    ASSERT_TRUE(link.pabx.EnviaLogin());
    EXPECT_EQ(link.pabx.FStatusPROG.Le(), "OK");

    // A failed send leaves the previous expectation in place.
    link.respostaImediata.clear();
    link.falhaEnvio = true;
    link.pabx.FStatusPROG.Esvazia();
    EXPECT_FALSE(link.pabx.PedeVersao());
    link.Recebe(Confirmacao(102, 0));
    EXPECT_TRUE(link.pabx.FStatusPROG.Vazio());
    link.Recebe(Confirmacao(10005, 0));
    EXPECT_EQ(link.pabx.FStatusPROG.Le(), "OK");
}

TEST(Requisicoes, ConfirmacaoDeOutroBlocoOuIndiceEIgnorada) {
    PABXSemRede link;
    ASSERT_TRUE(link.pabx.EnviaPROG(FormaPROG::Escrita, 5, 1005, 9, 4));
    link.Recebe(Confirmacao(1005, 10));
    link.Recebe(Confirmacao(1006, 9));
    EXPECT_TRUE(link.pabx.FStatusPROG.Vazio());
    link.Recebe(Confirmacao(1005, 9));
    EXPECT_EQ(link.pabx.FStatusPROG.Le(), "OK");
}

TEST(Trace, RegistroDaLeituraDoBloco19Indice1) {
    const Bytes quadro = Hex("55 08 00 03 00 04 00 13 00 01 00");
    const DataHora quando{2026, 12, 10, 7, 8, 9, 10};
    EXPECT_EQ(RegistroTrace(quando, 11, "TX PROG", quadro.data()),
              "\n07:08:09 010  11\nTX PROG: 55 08 00 03 00 04 00 13 00 01 00 \n");
    EXPECT_EQ(RegistroTrace(quando, 0, "Desconectou", nullptr),
              "\n07:08:09 010  0\nDesconectou: \n");
    const Bytes vinteEUm(21, 0xAB);
    std::string vinte;
    for (int i = 0; i < 20; ++i) vinte += "AB ";
    EXPECT_EQ(RegistroTrace(quando, 21, "RX CTRL", vinteEUm.data()),
              "\n07:08:09 010  21\nRX CTRL: " + vinte + "\n    AB \n");
    EXPECT_EQ(NomeArquivoTrace(quando), "COM_101226.TXT");
    EXPECT_EQ(NomeDumpPROG(2, 0), "S002B000.DAD");
}

TEST(Trace, SessaoDeixaTraceEDumpsSoComTraceLigado) {
    for (const bool trace : {false, true}) {
        SCOPED_TRACE(trace);
        PastaTemporaria pasta;
        PABXSemRede link;
        link.pabx.FPastaPABX = pasta.Texto();
        link.pabx.FTrace = trace;
        ASSERT_TRUE(link.pabx.PedeParametros());
        const Bytes resposta = RespostaPROG(19, 1, Bytes(128, 0));
        link.Recebe(resposta);
        ASSERT_TRUE(link.pabx.PedeVersao());
        link.Recebe(RespostaPROG(102, 0, {3, 0, 16, 0}));
        std::vector<std::string> nomes;
        for (const auto& e : std::filesystem::directory_iterator(pasta.Caminho()))
            nomes.push_back(e.path().filename().string());
        std::sort(nomes.begin(), nomes.end());
        if (!trace) {
            EXPECT_TRUE(nomes.empty());
            continue;
        }
        ASSERT_EQ(nomes.size(), 3u);
        EXPECT_TRUE(Casa(nomes[0], "COM_dddddd.TXT")) << nomes[0];
        EXPECT_EQ(nomes[1], "S019B001.DAD");
        EXPECT_EQ(nomes[2], "S102B000.DAD");
        const std::string dump = LeTudo(pasta.Caminho() / "S019B001.DAD");
        EXPECT_EQ(Bytes(dump.begin(), dump.end()), resposta);
        const std::string texto = LeTudo(pasta.Caminho() / nomes[0]);
        const std::string_view primeiro =
            "\ndd:dd:dd ddd  11\nTX PROG: 55 08 00 03 00 04 00 13 00 01 00 \n";
        EXPECT_TRUE(Casa(std::string_view(texto).substr(0, primeiro.size()), primeiro)) << texto;
        EXPECT_NE(texto.find("  143\nRX PROG: 55 8C 00 03 00 04 80 01 00 13 00 01 00 40 00 00 00 "
                             "00 00 00 \n    00 "),
                  std::string::npos)
            << texto;
    }
}

// The login frame carries the unit's password: neither link's trace may show
// it, and the trace and the dumps are for the owner and the group only.
TEST(Trace, SenhaDoLoginNuncaNoTraceEArquivosSoParaDonoEGrupo) {
    const auto antes = ::umask(022);
    for (const bool console : {false, true}) {
        SCOPED_TRACE(console ? "console" : "service");
        PastaTemporaria pasta;
        auto link =
            console ? std::make_unique<TPABX>(ModoPABX::Console) : std::make_unique<TPABX>();
        TPABX& pabx = *link;
        pabx.DefineEnvio([](const std::uint8_t*, std::size_t, std::string&) { return true; });
        pabx.FPastaPABX = pasta.Texto();
        pabx.FTrace = true;
        pabx.FSenha = "Zq9!x";
        ASSERT_TRUE(pabx.EnviaLogin());
        ASSERT_TRUE(pabx.PedeParametros());
        pabx.TCPRecebeu(RespostaPROG(19, 1, Bytes(16, 0)));

        std::string trace;
        int arquivos = 0;
        for (const auto& e : std::filesystem::directory_iterator(pasta.Caminho())) {
            ++arquivos;
            const auto modo = e.status().permissions();
            EXPECT_EQ(modo & std::filesystem::perms::others_all, std::filesystem::perms::none)
                << e.path().filename();
            EXPECT_NE(modo & std::filesystem::perms::owner_read, std::filesystem::perms::none);
            if (e.path().filename().string().rfind("COM_", 0) == 0) trace = LeTudo(e.path());
        }
        EXPECT_EQ(arquivos, console ? 1 : 2);  // the service also dumps the block
        // "KelvMonitor," stays readable; the password's bytes do not.
        EXPECT_NE(trace.find("4B 00 65 00 6C 00 76 00"), std::string::npos) << trace;
        EXPECT_EQ(trace.find("5A 00 71 00 39 00 21 00 78 00"), std::string::npos) << trace;
        EXPECT_EQ(trace.find("5A 00 71 00"), std::string::npos) << trace;
        EXPECT_NE(trace.find("** ** "), std::string::npos) << trace;
        // The other frames are traced whole.
        EXPECT_NE(trace.find("TX PROG: 55 08 00 03 00 04 00 13 00 01 00 \n"), std::string::npos)
            << trace;
    }
    ::umask(antes);
}
