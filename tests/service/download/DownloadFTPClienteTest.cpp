// The FTP client against the simulated unit's FTP server (pyftpdlib): listings
// by MLSD and LIST, odd names, 64-bit sizes, cuts, stalls, a silent server and
// the four security modes.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "service/download/ClienteFTP.h"
#include "tests/support/PastaTemporaria.h"
#include "tests/service/download/DownloadFTPServidor.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string Bytes(std::size_t n, char semente) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(semente + i * 31 + (i >> 9));
    return s;
}

OpcoesFTP Opcoes(const ServidorFTPTeste& s, int seguranca = 0, int timeoutMs = 10000) {
    OpcoesFTP o;
    o.host = "127.0.0.1";
    o.porta = s.Porta();
    o.usuario = s.Usuario();
    o.senha = s.Senha();
    o.seguranca = seguranca;
    o.timeoutMs = timeoutMs;
    return o;
}

std::vector<std::string> Nomes(const std::vector<EntradaFTP>& l, EntradaFTP::Tipo tipo) {
    std::vector<std::string> r;
    for (const auto& e : l)
        if (e.tipo == tipo) r.push_back(e.nome);
    std::sort(r.begin(), r.end());
    return r;
}

bool SemTemporarios(const fs::path& pasta) {
    for (const auto& e : fs::directory_iterator(pasta))
        if (e.path().filename().string().starts_with("~")) return false;
    return true;
}

class DownloadFTPClienteTest : public ::testing::Test {
  protected:
    PastaTemporaria tmp;
    fs::path raiz = tmp.Caminho() / "raiz";
    fs::path pasta = raiz / "NORVIKA" / "AUDIOREC" / "GR010124" / "X0001000";
    fs::path local = tmp.Caminho() / "local";
    void SetUp() override {
        fs::create_directories(pasta);
        fs::create_directories(local);
    }
};

const std::string kPasta = "/NORVIKA/AUDIOREC/GR010124/X0001000";

}  // namespace

TEST(DownloadFTPListagem, AnalisaMLSDeLIST) {
    const auto m = AnalisaMLSD("type=cdir;modify=20240101000000; .\r\n"
                               "type=pdir; ..\r\n"
                               "type=file;size=5368709120;modify=20240102030405; R 1.WAV\r\n"
                               "Type=Dir;Modify=20240101000000; GR010124\r\n"
                               "type=OS.unix=symlink;size=3; ligacao\r\n"
                               "lixo sem fatos\r\n");
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].nome, "R 1.WAV");
    EXPECT_EQ(m[0].tipo, EntradaFTP::Arquivo);
    EXPECT_EQ(*m[0].tamanho, 5368709120LL);
    EXPECT_EQ(*m[0].modificacao, 1704164645);  // 2024-01-02 03:04:05 UTC
    EXPECT_EQ(m[1].tipo, EntradaFTP::Pasta);
    EXPECT_EQ(m[2].tipo, EntradaFTP::Outro);

    const auto l =
        AnalisaLIST("total 12\r\n"
                    "-rw-r--r--   1 owner group 5368709120 Jan 01 00:00  R 2.WAV\r\n"
                    "drwxr-xr-x   2 owner group       4096 Jan 01  2024 GR010124\n"
                    "lrwxrwxrwx   1 owner group          9 Jan 01 00:00 l -> /etc/passwd\r\n"
                    "12-11-26  01:41PM       <DIR>          X0001000\r\n"
                    "12-11-26  01:41PM                 1234 R3.XML\r\n");
    ASSERT_EQ(l.size(), 5u);
    EXPECT_EQ(l[0].nome, " R 2.WAV");  // a leading blank is part of the name
    EXPECT_EQ(*l[0].tamanho, 5368709120LL);
    EXPECT_EQ(l[1].tipo, EntradaFTP::Pasta);
    EXPECT_EQ(l[2].tipo, EntradaFTP::Outro);
    EXPECT_EQ(l[3].tipo, EntradaFTP::Pasta);
    EXPECT_EQ(l[3].nome, "X0001000");
    EXPECT_EQ(*l[4].tamanho, 1234);
}

TEST(DownloadFTPListagem, ClassesDosCodigos) {
    struct Caso {
        CURLcode codigo;
        ClasseErroFTP classe;
    } casos[] = {
        {CURLE_COULDNT_CONNECT, ClasseErroFTP::Conexao},
        {CURLE_LOGIN_DENIED, ClasseErroFTP::Conexao},
        {CURLE_USE_SSL_FAILED, ClasseErroFTP::Conexao},
        {CURLE_RECV_ERROR, ClasseErroFTP::Queda},
        {CURLE_PARTIAL_FILE, ClasseErroFTP::Queda},
        {CURLE_REMOTE_FILE_NOT_FOUND, ClasseErroFTP::Arquivo},
        {CURLE_FTP_COULDNT_RETR_FILE, ClasseErroFTP::Arquivo},
        {CURLE_OPERATION_TIMEDOUT, ClasseErroFTP::Arquivo},
        {CURLE_WRITE_ERROR, ClasseErroFTP::Local},
        {CURLE_ABORTED_BY_CALLBACK, ClasseErroFTP::Parada},
    };
    for (const auto& c : casos) EXPECT_EQ(ClassificaErroFTP(c.codigo), c.classe) << c.codigo;
}

class DownloadFTPNomesTest : public DownloadFTPClienteTest,
                             public ::testing::WithParamInterface<bool> {};

TEST_P(DownloadFTPNomesTest, NomesEstranhosChegamInteiros) {
    const bool semMLSD = GetParam();
    const std::vector<std::string> nomes = {"R 1.WAV", "#R2.WAV", "R%3.WAV",
                                            "R\xe7\xe3o.WAV",  // Latin-1 bytes
                                            "r*.wav"};
    std::map<std::string, std::string> conteudo;
    char semente = 'a';
    for (const auto& n : nomes) {
        conteudo[n] = Bytes(1000 + semente, semente);
        GravaTeste(pasta / n, conteudo[n]);
        ++semente;
    }
    fs::create_directories(pasta / "SUB");
    ServidorFTPTeste srv(raiz, tmp.Caminho() / "srv",
                         semMLSD ? std::vector<std::string>{"--no-mlsd"}
                                 : std::vector<std::string>{});
    ClienteFTP c(Opcoes(srv));
    c.Conecta();
    const auto lista = c.Lista(kPasta);
    EXPECT_EQ(c.UsaLIST(), semMLSD);
    auto esperados = nomes;
    std::sort(esperados.begin(), esperados.end());
    EXPECT_EQ(Nomes(lista, EntradaFTP::Arquivo), esperados);
    EXPECT_EQ(Nomes(lista, EntradaFTP::Pasta), std::vector<std::string>{"SUB"});
    for (const auto& e : lista) {
        if (e.tipo != EntradaFTP::Arquivo) continue;
        ASSERT_TRUE(e.tamanho);
        EXPECT_EQ(*e.tamanho, static_cast<std::int64_t>(conteudo[e.nome].size()));
        const auto n = c.Baixa(kPasta, e.nome, local / e.nome, *e.tamanho, e.modificacao);
        EXPECT_EQ(n, *e.tamanho);
        EXPECT_TRUE(LeTudo(local / e.nome) == conteudo[e.nome]) << e.nome;
        // The local file carries the server's date (from MLSD, or MDTM).
        const auto remoto = fs::last_write_time(pasta / e.nome);
        EXPECT_LT(std::chrono::abs(fs::last_write_time(local / e.nome) - remoto), 2s) << e.nome;
    }
    EXPECT_TRUE(SemTemporarios(local));
}

INSTANTIATE_TEST_SUITE_P(MLSDeLIST, DownloadFTPNomesTest, ::testing::Bool());

TEST_F(DownloadFTPClienteTest, TamanhoDe64BitsPelaListagemEPeloSIZE) {
    { std::ofstream f(pasta / "R0000001.WAV"); }
    fs::resize_file(pasta / "R0000001.WAV", 5368709120ULL);  // sparse
    ServidorFTPTeste srv(raiz, tmp.Caminho() / "srv");
    ClienteFTP c(Opcoes(srv));
    c.Conecta();
    const auto lista = c.Lista(kPasta);
    ASSERT_EQ(lista.size(), 1u);
    EXPECT_EQ(*lista[0].tamanho, 5368709120LL);
    const auto a = c.Consulta(kPasta, "R0000001.WAV");
    EXPECT_EQ(a.tamanho, 5368709120LL);
    ASSERT_TRUE(a.modificacao);
}

TEST_F(DownloadFTPClienteTest, CorteNoMeioNaoDeixaArquivoParcialEVoltaInteiro) {
    const std::string dados = Bytes(400000, 'x');
    GravaTeste(pasta / "R0000001.WAV", dados);
    GravaTeste(pasta / "R0000002.WAV", dados);
    ServidorFTPTeste srv(raiz, tmp.Caminho() / "srv",
                         {"--fault", "cut-data:R0000001.WAV:150000:1", "--fault",
                          "cut-control:R0000002.WAV:150000:1"});
    ClienteFTP c(Opcoes(srv));
    c.Conecta();
    for (const std::string nome : {"R0000001.WAV", "R0000002.WAV"}) {
        try {
            c.Baixa(kPasta, nome, local / nome, 400000, std::nullopt);
            FAIL() << "the cut transfer of " << nome << " came through";
        } catch (const ErroFTP& e) {
            EXPECT_EQ(e.Classe(), ClasseErroFTP::Queda) << nome << ": " << e.what();
        }
        EXPECT_FALSE(fs::exists(local / nome));
        EXPECT_TRUE(SemTemporarios(local));
        c.Conecta();
        EXPECT_EQ(c.Baixa(kPasta, nome, local / nome, 400000, std::nullopt), 400000);
        EXPECT_TRUE(LeTudo(local / nome) == dados);
    }
}

TEST_F(DownloadFTPClienteTest, TransferenciaParadaTerminaPeloLimiteDeVelocidade) {
    GravaTeste(pasta / "R0000001.WAV", Bytes(400000, 'y'));
    ServidorFTPTeste srv(raiz, tmp.Caminho() / "srv", {"--fault", "stall:R0000001.WAV:100000"});
    ClienteFTP c(Opcoes(srv, 0, 2000));
    c.Conecta();
    const auto inicio = std::chrono::steady_clock::now();
    try {
        c.Baixa(kPasta, "R0000001.WAV", local / "R0000001.WAV", 400000, std::nullopt);
        FAIL() << "a stalled transfer came through";
    } catch (const ErroFTP& e) {
        EXPECT_EQ(e.Classe(), ClasseErroFTP::Arquivo) << e.what();
    }
    const auto tempo = std::chrono::steady_clock::now() - inicio;
    EXPECT_GE(tempo, 1500ms);
    EXPECT_LT(tempo, 30s);
    EXPECT_FALSE(fs::exists(local / "R0000001.WAV"));
    EXPECT_TRUE(SemTemporarios(local));
}

TEST_F(DownloadFTPClienteTest, ServidorQueNuncaSaudaEFalhaDeConexao) {
    ServidorFTPTeste srv(raiz, tmp.Caminho() / "srv", {"--fault", "no-greet"});
    ClienteFTP c(Opcoes(srv, 0, 2000));
    const auto inicio = std::chrono::steady_clock::now();
    try {
        c.Conecta();
        FAIL() << "connected to a server that never greets";
    } catch (const ErroFTP& e) {
        EXPECT_EQ(e.Classe(), ClasseErroFTP::Conexao) << e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, 30s);
    EXPECT_FALSE(c.Conectado());
}

TEST_F(DownloadFTPClienteTest, SenhaErradaNaoApareceNoTexto) {
    GravaTeste(pasta / "R0000001.WAV", "abc");
    ServidorFTPTeste srv(raiz, tmp.Caminho() / "srv");
    auto o = Opcoes(srv);
    o.senha = "Outr@SenhaSecreta";
    ClienteFTP c(o);
    try {
        c.Conecta();
        FAIL() << "a wrong password was accepted";
    } catch (const ErroFTP& e) {
        EXPECT_EQ(e.Classe(), ClasseErroFTP::Conexao);
        EXPECT_THAT(e.what(), ::testing::Not(::testing::HasSubstr("Outr@SenhaSecreta")));
        EXPECT_THAT(e.what(), ::testing::Not(::testing::HasSubstr(srv.Usuario())));
    }
    EXPECT_THAT(c.Url(kPasta), ::testing::Not(::testing::HasSubstr(srv.Usuario())));
}

TEST_F(DownloadFTPClienteTest, UsuarioVazioEntraComoAnonimo) {
    GravaTeste(pasta / "R0000001.WAV", "abc");
    // The server's only user is "anonymous" with the password "anonymous".
    ServidorFTPTeste srv(raiz, tmp.Caminho() / "srv", {}, "anonymous", "anonymous");
    auto o = Opcoes(srv);
    o.usuario.clear();
    o.senha = "ignorada";
    ClienteFTP c(o);
    c.Conecta();
    EXPECT_EQ(c.Lista(kPasta).size(), 1u);
}

TEST_F(DownloadFTPClienteTest, ParadaPeloServicoInterrompeATransferencia) {
    GravaTeste(pasta / "R0000001.WAV", Bytes(400000, 'z'));
    ServidorFTPTeste srv(raiz, tmp.Caminho() / "srv", {"--fault", "stall:R0000001.WAV:100000"});
    auto o = Opcoes(srv);
    const auto inicio = std::chrono::steady_clock::now();
    o.parar = [&] { return std::chrono::steady_clock::now() - inicio > 500ms; };
    ClienteFTP c(o);
    c.Conecta();
    try {
        c.Baixa(kPasta, "R0000001.WAV", local / "R0000001.WAV", 400000, std::nullopt);
        FAIL();
    } catch (const ErroFTP& e) {
        EXPECT_EQ(e.Classe(), ClasseErroFTP::Parada) << e.what();
    }
    EXPECT_TRUE(SemTemporarios(local));
}

struct CasoTLS {
    const char* servidor;  // "" plain, or the --tls mode
    int seguranca;
    bool conecta;
};

class DownloadFTPTLSTest : public DownloadFTPClienteTest,
                           public ::testing::WithParamInterface<CasoTLS> {};

TEST_P(DownloadFTPTLSTest, ModosDeSeguranca) {
    const auto caso = GetParam();
    GravaTeste(pasta / "R0000001.WAV", Bytes(70000, 't'));
    std::vector<std::string> op;
    if (*caso.servidor) op = {"--tls", caso.servidor};
    ServidorFTPTeste srv(raiz, tmp.Caminho() / "srv", op);
    ClienteFTP c(Opcoes(srv, caso.seguranca, 3000));
    bool conectou = false;
    try {
        c.Conecta();
        const auto lista = c.Lista(kPasta);
        ASSERT_EQ(lista.size(), 1u);
        c.Baixa(kPasta, "R0000001.WAV", local / "R0000001.WAV", *lista[0].tamanho,
                lista[0].modificacao);
        EXPECT_TRUE(LeTudo(local / "R0000001.WAV") == Bytes(70000, 't'));
        conectou = true;
    } catch (const ErroFTP& e) {
        EXPECT_EQ(e.Classe(), ClasseErroFTP::Conexao) << e.what();
        EXPECT_THAT(e.what(), ::testing::Not(::testing::HasSubstr(srv.Senha())));
    }
    EXPECT_EQ(conectou, caso.conecta);
}

INSTANTIATE_TEST_SUITE_P(
    Tabela, DownloadFTPTLSTest,
    ::testing::Values(CasoTLS{"", 0, true}, CasoTLS{"", 1, true}, CasoTLS{"", 2, false},
                      CasoTLS{"", 3, false}, CasoTLS{"explicit", 0, true},
                      CasoTLS{"explicit", 1, true}, CasoTLS{"explicit", 2, true},
                      CasoTLS{"explicit", 3, false}, CasoTLS{"required", 0, false},
                      CasoTLS{"required", 1, true}, CasoTLS{"required", 2, true},
                      CasoTLS{"implicit", 0, false}, CasoTLS{"implicit", 2, false},
                      CasoTLS{"implicit", 3, true}));
