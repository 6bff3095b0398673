// The encrypted recording format against a known answer and against the
// openssl command-line tool as an independent implementation of the same
// cipher (CBC for the whole blocks, one ECB block for the tail rule).

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "common/ArquivoCriptografado.h"
#include "common/Processos.h"
#include "common/Texto.h"
#include "tests/support/PastaTemporaria.h"

namespace fs = std::filesystem;

namespace {

// Salt 00..07 then IV 08..0F.
FonteAleatoria FonteFixa() {
    auto proximo = std::make_shared<std::uint8_t>(0);
    return [proximo](std::uint8_t* d, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) d[i] = (*proximo)++;
    };
}

std::string Hex(std::string_view b) {
    static const char* h = "0123456789abcdef";
    std::string s;
    for (unsigned char c : b) {
        s += h[c >> 4];
        s += h[c & 15];
    }
    return s;
}

std::string Bytes(std::mt19937& rng, std::size_t n) {
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

const std::string SenhaLatin1 = Utf8ParaLatin1("Conexão");

// The openssl tool, run without a shell; true when it exited with 0.
bool OpenSSL(std::vector<std::string> args) {
    args.insert(args.begin(), "openssl");
    return ExecutaEAguarda(args) == 0;
}

class Openssl {
  public:
    explicit Openssl(const PastaTemporaria& p) : pasta(p) {}

    // Key of a file with this salt: SHA-1(salt || passphrase) by the tool, plus 4 zero bytes.
    std::string Chave(std::string_view salt, std::string_view senha) {
        Grava(pasta / "k.in", std::string(salt) + std::string(senha));
        EXPECT_TRUE(OpenSSL({"dgst", "-sha1", "-binary", "-out", (pasta / "k.out").string(),
                             (pasta / "k.in").string()}));
        return Hex(LeTudo(pasta / "k.out")) + "00000000";
    }
    std::string Roda(const std::string& modo, bool cifra, const std::string& chave,
                     std::string_view iv, std::string_view dados) {
        Grava(pasta / "e.in", dados);
        std::vector<std::string> a = {"enc", cifra ? "-e" : "-d", "-" + modo, "-nopad", "-K",
                                      chave};
        if (modo.ends_with("cbc")) a.insert(a.end(), {"-iv", Hex(iv)});
        a.insert(a.end(), {"-in", (pasta / "e.in").string(), "-out", (pasta / "e.out").string()});
        EXPECT_TRUE(OpenSSL(a));
        return LeTudo(pasta / "e.out");
    }
    // Deciphers a whole .dad file with the tool.
    std::string Decifra(const std::string& dad, std::string_view senha) {
        const std::string salt = dad.substr(0, 8), iv = dad.substr(8, 8), c = dad.substr(16);
        const std::string chave = Chave(salt, senha);
        const std::size_t inteiros = c.size() / 8 * 8;
        std::string p =
            inteiros ? Roda("des-ede3-cbc", false, chave, iv, c.substr(0, inteiros)) : "";
        if (inteiros < c.size()) {
            const std::string cv = inteiros ? c.substr(inteiros - 8, 8) : iv;
            const std::string fluxo = Roda("des-ede3-ecb", true, chave, "", cv);
            for (std::size_t i = inteiros; i < c.size(); ++i)
                p += static_cast<char>(c[i] ^ fluxo[i - inteiros]);
        }
        return p;
    }
    // Builds a .dad file with the tool.
    std::string Cifra(const std::string& p, std::string_view salt, std::string_view iv,
                      std::string_view senha) {
        const std::string chave = Chave(salt, senha);
        const std::size_t inteiros = p.size() / 8 * 8;
        std::string c =
            inteiros ? Roda("des-ede3-cbc", true, chave, iv, p.substr(0, inteiros)) : "";
        if (inteiros < p.size()) {
            const std::string cv = inteiros ? c.substr(inteiros - 8, 8) : std::string(iv);
            const std::string fluxo = Roda("des-ede3-ecb", true, chave, "", cv);
            for (std::size_t i = inteiros; i < p.size(); ++i)
                c += static_cast<char>(p[i] ^ fluxo[i - inteiros]);
        }
        return std::string(salt) + std::string(iv) + c;
    }

    const PastaTemporaria& pasta;
};

}  // namespace

TEST(ArquivoCriptografado, RespostaConhecida) {
    const std::string dad = CriptografaBytesDad("Norvika 2024!", SenhaLatin1, FonteFixa());
    EXPECT_EQ(Hex(dad), "000102030405060708090a0b0c0d0e0f2081a0430ed06dfff1469f5381");
    EXPECT_EQ(DescriptografaBytesDad(dad, SenhaLatin1), "Norvika 2024!");
    // The passphrase is hashed as Latin-1 bytes: its UTF-8 form is another key.
    EXPECT_NE(DescriptografaBytesDad(dad, "Conexão"), "Norvika 2024!");
}

TEST(ArquivoCriptografado, ArquivosConferemComOpenssl) {
    PastaTemporaria pasta;
    Openssl tool(pasta);
    std::mt19937 rng(7);
    // 180 s of 16-bit 8 kHz PCM behind a 44-byte header: the size of a 3-minute PCM copy.
    for (std::size_t n : {std::size_t{0}, std::size_t{5}, std::size_t{8}, std::size_t{13},
                          std::size_t{8192 + 3}, std::size_t{44 + 180 * 16000}}) {
        SCOPED_TRACE(n);
        const std::string plano = Bytes(rng, n);
        Grava(pasta / "p.wav", plano);
        CriptografaArquivoDad(pasta / "p.wav", pasta / "p.dad", SenhaLatin1);
        const std::string dad = LeTudo(pasta / "p.dad");
        ASSERT_EQ(dad.size(), n + 16);
        EXPECT_EQ(tool.Decifra(dad, SenhaLatin1), plano);

        // The reverse: the tool writes, the project reads.
        const std::string salt = Bytes(rng, 8), iv = Bytes(rng, 8);
        Grava(pasta / "q.dad", tool.Cifra(plano, salt, iv, SenhaLatin1));
        DescriptografaArquivoDad(pasta / "q.dad", pasta / "q.wav", SenhaLatin1);
        EXPECT_EQ(LeTudo(pasta / "q.wav"), plano);
    }
}

TEST(ArquivoCriptografado, PedacosDaoOMesmoQueUmaPassagem) {
    // 1024 whole blocks in the first piece, then a 3-byte tail chained on the last one.
    std::mt19937 rng(3);
    const std::string plano = Bytes(rng, 8192 + 3);
    const std::string inteiro = CriptografaBytesDad(plano, "k", FonteFixa());
    std::array<std::uint8_t, 8> salt{0, 1, 2, 3, 4, 5, 6, 7}, iv{8, 9, 10, 11, 12, 13, 14, 15};
    CifraDad cifra(CifraDad::Sentido::Cifra, salt, "k", iv);
    std::string pedacos = plano;
    auto* p = reinterpret_cast<std::uint8_t*>(pedacos.data());
    cifra.Processa(p, 4096, p);
    cifra.Processa(p + 4096, 4096, p + 4096);
    cifra.Processa(p + 8192, 3, p + 8192);
    EXPECT_EQ(pedacos, inteiro.substr(16));
    EXPECT_THROW(cifra.Processa(p, 8, p), std::logic_error);
}

TEST(ArquivoCriptografado, DuasCifragensDiferemEChaveErradaDaRuido) {
    const std::string plano(1000, 'x');
    const std::string a = CriptografaBytesDad(plano, SenhaLatin1),
                      b = CriptografaBytesDad(plano, SenhaLatin1);
    EXPECT_NE(a.substr(0, 8), b.substr(0, 8));
    EXPECT_NE(a.substr(16), b.substr(16));
    const std::string errado = DescriptografaBytesDad(a, "outra");
    EXPECT_EQ(errado.size(), plano.size());
    EXPECT_NE(errado, plano);
}

TEST(ArquivoCriptografado, FalhasNaoDeixamArquivoParcial) {
    PastaTemporaria pasta;
    // Shorter than salt and IV: nothing is written.
    Grava(pasta / "curto.dad", std::string(15, 'a'));
    EXPECT_THROW(DescriptografaArquivoDad(pasta / "curto.dad", pasta / "curto.wav", "k"),
                 std::runtime_error);
    // A missing source and a destination folder that cannot be written.
    EXPECT_THROW(CriptografaArquivoDad(pasta / "nao-existe.wav", pasta / "x.dad", "k"),
                 std::runtime_error);
    Grava(pasta / "p.wav", std::string(100, 'p'));
    EXPECT_THROW(CriptografaArquivoDad(pasta / "p.wav", pasta / "sem-pasta" / "x.dad", "k"),
                 std::runtime_error);
    // An empty file gives the 16-byte header alone, and back an empty file.
    Grava(pasta / "vazio.wav", "");
    CriptografaArquivoDad(pasta / "vazio.wav", pasta / "vazio.dad", "k");
    EXPECT_EQ(fs::file_size(pasta / "vazio.dad"), 16u);
    DescriptografaArquivoDad(pasta / "vazio.dad", pasta / "vazio2.wav", "k");
    EXPECT_EQ(fs::file_size(pasta / "vazio2.wav"), 0u);
    // A random source that fails leaves no output either.
    auto falha = [](std::uint8_t*, std::size_t) { throw std::runtime_error("sem entropia"); };
    EXPECT_THROW(CriptografaArquivoDad(pasta / "p.wav", pasta / "y.dad", "k", falha),
                 std::runtime_error);

    std::vector<std::string> nomes;
    for (auto& e : fs::directory_iterator(pasta.Caminho()))
        nomes.push_back(e.path().filename().string());
    std::sort(nomes.begin(), nomes.end());
    EXPECT_EQ(nomes, (std::vector<std::string>{"curto.dad", "p.wav", "vazio.dad", "vazio.wav",
                                               "vazio2.wav"}));
}

TEST(ArquivoCriptografado, ExtensaoTipoArquivo) {
    const std::pair<int, const char*> casos[] = {
        {0x80, ".DAD"}, {0x81, ".DAD"}, {0x82, ".DAD"}, {0x83, ".DAD"}, {0x84, ".DAD"},
        {1, ".WAV"},    {2, ".OGG"},    {3, ".WAV"},    {4, ".MP3"},    {0, ".WAV"}};
    for (auto [tipo, ext] : casos) EXPECT_EQ(ExtensaoTipoArquivo(tipo), ext) << tipo;
    // The reader names its output from the type without the encryption bit.
    EXPECT_EQ(ExtensaoTipoArquivo(0x81 & 0x7F), ".WAV");
    EXPECT_EQ(ExtensaoTipoArquivo(0x82 & 0x7F), ".OGG");
}
