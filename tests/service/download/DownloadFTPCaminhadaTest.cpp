// The download run's FTP walk and USB copy against the simulated unit's FTP
// server: what arrives, what is refused, what stays at the unit, the error
// mail, the window end.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>

#include "service/download/ClienteFTP.h"
#include "tests/support/PastaTemporaria.h"
#include "tests/service/download/DownloadFTPExecucao.h"
#include "tests/service/download/DownloadFTPServidor.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

std::string Bytes(std::size_t n, char semente) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(semente + i * 7 + (i >> 8));
    return s;
}

// Every regular file below `raiz`, as paths relative to it.
std::set<std::string> Arquivos(const fs::path& raiz) {
    std::set<std::string> r;
    if (!fs::exists(raiz)) return r;
    for (auto it = fs::recursive_directory_iterator(raiz); it != fs::recursive_directory_iterator();
         ++it)
        if (it->is_regular_file()) r.insert(fs::relative(it->path(), raiz).string());
    return r;
}

class DownloadFTPCaminhada : public ::testing::Test {
  protected:
    PastaTemporaria tmp;
    fs::path loja = tmp.Caminho() / "loja";                   // the unit's store (FTP root)
    fs::path pastaPABX = tmp.Caminho() / "prog" / "PABX001";  // the run's working folder
    fs::path gr = loja / "NORVIKA" / "AUDIOREC" / "GR050324" / "X0001000";
    ExecucaoFTPTeste exec{tmp.Caminho() / "prog"};

    std::unique_ptr<TPABXDownloadFTP> Execucao(const ServidorFTPTeste& srv) {
        auto r = exec.Cria(1, pastaPABX);
        r->FTPHost = "127.0.0.1";
        r->FTPPorta = static_cast<std::uint16_t>(srv.Porta());
        r->FTPUsuario = srv.Usuario();
        r->FTPSenha = srv.Senha();
        return r;
    }
    fs::path Local() const { return pastaPABX / "NORVIKA" / "AUDIOREC" / "GR050324" / "X0001000"; }
    std::string Mail() const {
        for (const auto& e : fs::directory_iterator(pastaPABX))
            if (e.path().filename().string().starts_with("MAIL")) return LeTudo(e.path());
        return {};
    }
};

}  // namespace

TEST(DownloadFTPAuxiliares, RetiraParteCaminhoEBuscaArquivos) {
    EXPECT_EQ(TPABXDownloadFTP::RetiraParteCaminho("/p/A/B/C.WAV", 3), "A/B/C.WAV");
    EXPECT_EQ(TPABXDownloadFTP::RetiraParteCaminho("/p/A/B/C.WAV", 1), "C.WAV");
    EXPECT_EQ(TPABXDownloadFTP::RetiraParteCaminho("A/B/C.WAV", 2), "B/C.WAV");
    try {
        TPABXDownloadFTP::RetiraParteCaminho("A/B/C.WAV", 3);
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(),
                     "Caminho original é muito curto, não foi possível retirar parte do caminho.");
    }
    EXPECT_EQ(TPABXDownloadFTP::Minimo(3, -2), -2);

    PastaTemporaria tmp;
    GravaTeste(tmp.Caminho() / "b" / "R2.WAV", "x");
    GravaTeste(tmp.Caminho() / "a" / "r1.xml", "x");
    GravaTeste(tmp.Caminho() / "R0.WAV", "x");
    GravaTeste(tmp.Caminho() / "X.WAV", "x");
    fs::create_symlink(tmp.Caminho() / "R0.WAV", tmp.Caminho() / "R9.WAV");
    std::vector<std::string> lista;
    TPABXDownloadFTP::BuscaArquivos(lista, tmp.Caminho().string(), "R*.*", true);
    const std::string b = tmp.Caminho().string() + "/";
    EXPECT_EQ(lista, (std::vector<std::string>{b + "R0.WAV", b + "a/r1.xml", b + "b/R2.WAV"}));
}

class DownloadFTPNomesHostis : public DownloadFTPCaminhada,
                               public ::testing::WithParamInterface<bool> {};

TEST_P(DownloadFTPNomesHostis, RecusadosNadaSaiDaPastaORestoChega) {
    GravaTeste(gr / "R0000001.WAV", Bytes(3000, 'a'));
    GravaTeste(gr / "R0000001.XML", "<xml/>");
    GravaTeste(gr / "r0000001.wav", "gemeo");  // a case twin of the recording
    GravaTeste(gr / "R 0000002.WAV", Bytes(100, 'b'));
    GravaTeste(gr / "#R%3.WAV", Bytes(10, 'c'));
    GravaTeste(loja / "segredo.txt", "fora da loja");
    fs::create_symlink("/etc/passwd", gr / "R0000004.WAV");
    const auto listagem = tmp.Caminho() / "listagem.json";
    GravaTeste(listagem, R"({"NORVIKA/AUDIOREC/GR050324/X0001000": [
        {"name": "..", "type": "dir"}, {"name": ".", "type": "dir"},
        {"name": "../../x", "size": 3}, {"name": "a/b", "size": 3},
        {"name": "/etc/x", "size": 3}, {"name": "a\\b", "size": 3},
        {"name": "R5\u0000.WAV", "size": 3}, {"name": "R6\r\n.WAV", "size": 3},
        {"name": "../../../fora", "type": "dir"}, {"name": "", "size": 1}]})");
    std::vector<std::string> op = {"--listing", listagem.string()};
    if (GetParam()) op.push_back("--no-mlsd");
    ServidorFTPTeste srv(loja, tmp.Caminho() / "srv", op);
    const auto antes = Arquivos(tmp.Caminho());
    auto r = Execucao(srv);
    EXPECT_TRUE(r->DownloadFTP());

    EXPECT_TRUE(LeTudo(Local() / "R0000001.WAV") == Bytes(3000, 'a'));
    EXPECT_EQ(LeTudo(Local() / "R0000001.XML"), "<xml/>");
    EXPECT_TRUE(LeTudo(Local() / "R 0000002.WAV") == Bytes(100, 'b'));
    EXPECT_TRUE(LeTudo(Local() / "#R%3.WAV") == Bytes(10, 'c'));
    EXPECT_FALSE(fs::exists(Local() / "r0000001.wav"));
    // Whatever the listing said, every new file is inside PastaPABX/NORVIKA,
    // or is the run's error mail.
    for (const auto& f : Arquivos(tmp.Caminho())) {
        if (antes.count(f)) continue;
        // the store's copy, or the run's own logs and mail
        const bool dentro =
            f.starts_with("prog/PABX001/NORVIKA/") ||
            (f.starts_with("prog/PABX001/") && f.find('/', 13) == std::string::npos) ||
            (f.starts_with("prog/") && f.find('/', 5) == std::string::npos);
        EXPECT_TRUE(dentro) << f;
    }
    const std::string mail = Mail();
    EXPECT_THAT(mail, HasSubstr("Nome de arquivo recusado"));
    EXPECT_THAT(mail, HasSubstr("../../x"));
    EXPECT_THAT(mail, HasSubstr("r0000001.wav"));
    EXPECT_THAT(mail, Not(HasSubstr(srv.Senha())));
    EXPECT_GE(exec.fila->Quantidade(), 1u);
    EXPECT_EQ(r->Historico.DWN_RESULTADO, ResultadoSucesso);
}

INSTANTIATE_TEST_SUITE_P(MLSDeLIST, DownloadFTPNomesHostis, ::testing::Bool());

TEST_F(DownloadFTPCaminhada, ArquivoEsparsoDe5GiBContaTodosOsBytes) {
    fs::create_directories(gr);
    { std::ofstream f(gr / "R0000001.WAV"); }
    fs::resize_file(gr / "R0000001.WAV", 5368709120ULL);
    GravaTeste(gr / "R0000001.XML", "12345");
    ServidorFTPTeste srv(loja, tmp.Caminho() / "srv");
    auto r = Execucao(srv);
    OpcoesFTP o;
    o.host = "127.0.0.1";
    o.porta = srv.Porta();
    o.usuario = srv.Usuario();
    o.senha = srv.Senha();
    ClienteFTP ftp(o);
    ftp.Conecta();
    EXPECT_EQ(r->CalculaTamanhoFTP(ftp, "/NORVIKA"), 5368709125LL);
    EXPECT_EQ(r->Historico.DWN_ARQBAIXAR, 2);
}

TEST_F(DownloadFTPCaminhada, CorteUmaVezReconectaEChegaInteiro) {
    GravaTeste(gr / "R0000001.WAV", Bytes(300000, 'd'));
    GravaTeste(gr / "R0000001.XML", "<a/>");
    GravaTeste(gr / "R0000002.WAV", Bytes(1000, 'e'));
    ServidorFTPTeste srv(loja, tmp.Caminho() / "srv",
                         {"--fault", "cut-control:R0000001.WAV:100000:1"});
    auto r = Execucao(srv);
    EXPECT_TRUE(r->DownloadFTP());
    EXPECT_TRUE(LeTudo(Local() / "R0000001.WAV") == Bytes(300000, 'd'));
    EXPECT_EQ(r->Historico.DWN_ARQBAIXADO, 3) << Mail();
    EXPECT_EQ(r->Historico.DWN_FALHASDOWN, 0);
    EXPECT_EQ(r->Historico.DWN_BYTESBAIXADO, 300000 + 4 + 1000);
    EXPECT_THAT(Arquivos(pastaPABX / "NORVIKA"), ::testing::Each(Not(HasSubstr("~"))));
}

TEST_F(DownloadFTPCaminhada, CorteDuasVezesDesisteMantemNaUnidadeEVemInteiroDepois) {
    GravaTeste(gr / "R0000001.WAV", Bytes(300000, 'f'));
    GravaTeste(gr / "R0000001.XML", "<a/>");
    GravaTeste(gr / "R0000002.WAV", Bytes(1000, 'g'));
    {
        ServidorFTPTeste srv(loja, tmp.Caminho() / "srv",
                             {"--fault", "cut-data:R0000001.WAV:100000:2"});
        auto r = Execucao(srv);
        EXPECT_TRUE(r->DownloadFTP());  // the others came: importable
        EXPECT_FALSE(fs::exists(Local() / "R0000001.WAV"));
        EXPECT_TRUE(fs::exists(Local() / "R0000002.WAV"));  // the walk went on
        EXPECT_EQ(r->Historico.DWN_FALHASDOWN, 1);
        EXPECT_THAT(Mail(), HasSubstr("R0000001.WAV"));
        EXPECT_TRUE(fs::exists(gr / "R0000001.WAV"));  // still at the unit
    }
    ServidorFTPTeste srv(loja, tmp.Caminho() / "srv2");
    auto r = Execucao(srv);
    EXPECT_TRUE(r->DownloadFTP());
    EXPECT_TRUE(LeTudo(Local() / "R0000001.WAV") == Bytes(300000, 'f'));
    EXPECT_EQ(r->Historico.DWN_FALHASDOWN, 0);
}

TEST_F(DownloadFTPCaminhada, TransferenciaParadaCadaTentativaAcabaNoLimite) {
    GravaTeste(gr / "R0000001.WAV", Bytes(300000, 'h'));
    GravaTeste(gr / "R0000001.XML", "<a/>");
    exec.config->FTPTimeOut = 2000;
    exec.config->FTPTentaDownload = 2;
    ServidorFTPTeste srv(loja, tmp.Caminho() / "srv", {"--fault", "stall:R0000001.WAV:100000"});
    auto r = Execucao(srv);
    const auto inicio = std::chrono::steady_clock::now();
    r->DownloadFTP();
    const auto tempo = std::chrono::steady_clock::now() - inicio;
    EXPECT_GE(tempo, 3s);  // two tries of about two seconds each
    EXPECT_LT(tempo, 90s);
    EXPECT_FALSE(fs::exists(Local() / "R0000001.WAV"));
    EXPECT_EQ(r->Historico.DWN_FALHASDOWN, 1);
    EXPECT_TRUE(fs::exists(gr / "R0000001.WAV"));
}

TEST_F(DownloadFTPCaminhada, ServidorMudoNaoConectaEAvisa) {
    exec.config->FTPTimeOut = 2000;
    GravaTeste(gr / "R0000001.WAV", "x");
    ServidorFTPTeste srv(loja, tmp.Caminho() / "srv", {"--fault", "no-greet"});
    auto r = Execucao(srv);
    EXPECT_FALSE(r->DownloadFTP());
    EXPECT_EQ(r->Historico.DWN_OPERATUAL, OpLoginRecusado);
    EXPECT_EQ(r->Historico.DWN_RESULTADO, ResultadoFalha);
    EXPECT_THAT(Mail(), HasSubstr("Não foi possível conectar FTP"));
    ASSERT_EQ(exec.fila->Quantidade(), 1u);
    const auto alerta = exec.fila->RetiraPrimeiro();
    EXPECT_EQ(alerta->FCategoria, AlertaFalha);
    EXPECT_EQ(alerta->FLinhas.front(), "PABX 1 - Unidade de teste");
    EXPECT_FALSE(fs::exists(pastaPABX / "NORVIKA"));
}

TEST_F(DownloadFTPCaminhada, SenhaErradaEmNenhumArquivoNemLinhaDeComando) {
    GravaTeste(gr / "R0000001.WAV", "x");
    ServidorFTPTeste srv(loja, tmp.Caminho() / "srv");
    auto r = Execucao(srv);
    r->FTPSenha = "Senh@QueNaoPodeVazar";
    EXPECT_FALSE(r->DownloadFTP());
    for (const auto& f : Arquivos(tmp.Caminho() / "prog"))
        EXPECT_THAT(LeTudo(tmp.Caminho() / "prog" / f), Not(HasSubstr("Senh@QueNaoPodeVazar")))
            << f;
    for (const int pid : {static_cast<int>(::getpid()), srv.Pid()}) {
        const std::string linha = LeTudo("/proc/" + std::to_string(pid) + "/cmdline");
        EXPECT_THAT(linha, Not(HasSubstr(srv.Senha())));
        EXPECT_THAT(linha, Not(HasSubstr("Senh@QueNaoPodeVazar")));
    }
}

TEST_F(DownloadFTPCaminhada, FimDaJanelaEntreOWAVESeuXML) {
    for (const char* n : {"R0000001", "R0000002"}) {
        GravaTeste(gr / (std::string(n) + ".WAV"), Bytes(2000, 'i'));
        GravaTeste(gr / (std::string(n) + ".XML"), "<a/>");
    }
    ServidorFTPTeste srv(loja, tmp.Caminho() / "srv");
    auto r = Execucao(srv);
    // The window ends as soon as the first recording's audio has arrived.
    exec.relogio.Define([this] {
        return fs::exists(Local() / "R0000001.WAV") ? DataHora{2024, 3, 5, 23, 59, 30, 0}
                                                    : DataHora{2024, 3, 5, 10, 0, 0, 0};
    });
    EXPECT_TRUE(r->DownloadFTP());
    EXPECT_TRUE(fs::exists(Local() / "R0000001.WAV"));
    EXPECT_TRUE(fs::exists(Local() / "R0000001.XML"));  // its description still comes
    EXPECT_FALSE(fs::exists(Local() / "R0000002.WAV"));
    EXPECT_EQ(r->Historico.DWN_TIMEOUT, 1);
    EXPECT_THAT(Mail(), HasSubstr("05/03/2024 00:00:00 - 05/03/2024 23:59:00"));
}

TEST_F(DownloadFTPCaminhada, UsuarioVazioEntraComoAnonimo) {
    GravaTeste(gr / "R0000001.WAV", "abc");
    ServidorFTPTeste srv(loja, tmp.Caminho() / "srv", {}, "anonymous", "anonymous");
    auto r = Execucao(srv);
    r->FTPUsuario.clear();
    r->FTPSenha.clear();
    EXPECT_TRUE(r->DownloadFTP());
    EXPECT_EQ(LeTudo(Local() / "R0000001.WAV"), "abc");
}

TEST_F(DownloadFTPCaminhada, CopiaUSBPulaLigacoesEEspeciais) {
    const fs::path usb = tmp.Caminho() / "usb";
    const fs::path grUSB = usb / "norvika" / "audiorec" / "GR050324" / "X0001000";
    GravaTeste(grUSB / "R0000001.WAV", Bytes(500, 'j'));
    GravaTeste(grUSB / "R0000001.XML", "<a/>");
    GravaTeste(tmp.Caminho() / "fora.txt", "fora");
    fs::create_symlink(tmp.Caminho() / "fora.txt", grUSB / "R0000002.WAV");
    fs::create_directory_symlink(tmp.Caminho(), grUSB / "LIGADA");
    ASSERT_EQ(::mkfifo((grUSB / "R0000003.WAV").c_str(), 0600), 0);
    GravaTeste(grUSB / "R0000004.WAV", "sem leitura");
    ::chmod((grUSB / "R0000004.WAV").c_str(), 0);
    const bool root = ::geteuid() == 0;
    auto r = exec.Cria(1, pastaPABX);
    r->CopiaPasta((usb / "norvika").string() + "/", r->PastaPABX + "NORVIKA/");
    const fs::path local = pastaPABX / "NORVIKA" / "AUDIOREC" / "GR050324" / "X0001000";
    EXPECT_TRUE(LeTudo(local / "R0000001.WAV") == Bytes(500, 'j'));
    EXPECT_TRUE(fs::exists(local / "R0000001.XML"));
    EXPECT_FALSE(fs::exists(local / "R0000002.WAV"));
    EXPECT_FALSE(fs::exists(local / "R0000003.WAV"));
    EXPECT_FALSE(fs::exists(local / "LIGADA"));
    EXPECT_EQ(fs::exists(local / "R0000004.WAV"), root);  // root reads it anyway
    EXPECT_EQ(r->Historico.DWN_ARQBAIXADO, root ? 3 : 2);
    EXPECT_EQ(r->TamanhoPasta((usb / "norvika").string()), 500 + 4 + 11);
}

namespace {

// Folders below `raiz` more than `limite` levels down.
std::vector<std::string> PastasAlemDe(const fs::path& raiz, int limite) {
    std::vector<std::string> r;
    if (!fs::exists(raiz)) return r;
    for (auto it = fs::recursive_directory_iterator(raiz); it != fs::recursive_directory_iterator();
         ++it)
        if (it->is_directory() && it.depth() >= limite) {
            r.push_back(fs::relative(it->path(), raiz).string());
            it.disable_recursion_pending();
        }
    return r;
}

std::string LinhasIMP(const fs::path& pastaPABX) {
    std::string r;
    for (const auto& e : fs::directory_iterator(pastaPABX))
        if (e.path().filename().string().starts_with("IMP")) r += LeTudo(e.path());
    return r;
}

}  // namespace

// A name the working folder cannot hold beside its temporary name is left at
// the unit with a log line; the walk goes on to the next folder.
TEST_F(DownloadFTPCaminhada, NomeLongoDemaisFicaNaUnidadeECaminhadaSegue) {
    struct Caso {
        std::size_t tamanho;
        bool listado;  // only in the listing (no file system holds it)
        bool baixa;
    };
    for (const Caso c : {Caso{240, false, true}, Caso{250, false, false}, Caso{255, false, false},
                         Caso{300, true, false}}) {
        SCOPED_TRACE(c.tamanho);
        fs::remove_all(loja);
        fs::remove_all(pastaPABX);
        const std::string longo = std::string(c.tamanho - 4, 'X') + ".WAV";
        GravaTeste(gr / "R0000001.WAV", Bytes(500, 'k'));
        GravaTeste(gr / "R0000001.XML", "<a/>");
        GravaTeste(gr.parent_path() / "X0002000" / "R0000002.WAV", Bytes(700, 'l'));
        std::vector<std::string> op;
        if (c.listado) {
            const auto listagem = tmp.Caminho() / "longo.json";
            GravaTeste(listagem, R"({"NORVIKA/AUDIOREC/GR050324/X0001000": [{"name": ")" + longo +
                                     R"(", "size": 5}]})");
            op = {"--listing", listagem.string()};
        } else {
            GravaTeste(gr / longo, "longo");
        }
        ServidorFTPTeste srv(loja, tmp.Caminho() / ("srv" + std::to_string(c.tamanho)), op);
        auto r = Execucao(srv);
        EXPECT_TRUE(r->DownloadFTP());
        EXPECT_TRUE(fs::exists(Local() / "R0000001.XML"));
        EXPECT_TRUE(LeTudo(Local().parent_path() / "X0002000" / "R0000002.WAV") == Bytes(700, 'l'));
        std::error_code ec;  // a name longer than the file system holds
        EXPECT_EQ(fs::exists(Local() / longo, ec), c.baixa);
        EXPECT_EQ(r->Historico.DWN_RESULTADO, ResultadoSucesso);
        if (!c.baixa) {
            EXPECT_THAT(LinhasIMP(pastaPABX), HasSubstr(longo));
            EXPECT_TRUE(r->FicamNaUnidade.count("AUDIOREC/GR050324/X0001000/" + longo));
        }
        EXPECT_THAT(Arquivos(pastaPABX / "NORVIKA"), ::testing::Each(Not(HasSubstr("~"))));
        if (!c.listado) {
            EXPECT_TRUE(fs::exists(gr / longo));
        }
    }
}

// The store has two folder levels under AUDIOREC: a deeper folder, or a link
// that the server lists as a folder and that leads back up the tree, is not
// walked, and its device folder is noted as keeping something at the unit.
TEST_F(DownloadFTPCaminhada, ProfundidadeLimitadaLacosEPastasFundas) {
    struct Caso {
        const char* nome;
        std::function<void(const fs::path&)> prepara;
        const char* pasta;
    };
    const std::vector<Caso> casos = {
        {"ligacao para a propria pasta",
         [](const fs::path& p) { fs::create_directory_symlink(".", p / "LACO"); }, "LACO"},
        {"ligacao para AUDIOREC",
         [](const fs::path& p) { fs::create_directory_symlink("../..", p / "VOLTA"); }, "VOLTA"},
        {"pastas reais mais fundas",
         [](const fs::path& p) { GravaTeste(p / "A" / "B" / "R0000009.WAV", "fundo"); }, "A"},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nome);
        fs::remove_all(loja);
        fs::remove_all(pastaPABX);
        GravaTeste(gr / "R0000001.WAV", Bytes(500, 'm'));
        GravaTeste(gr / "R0000001.XML", "<a/>");
        caso.prepara(gr);
        ServidorFTPTeste srv(loja, tmp.Caminho() / (std::string("srv-") + caso.pasta));
        auto r = Execucao(srv);
        EXPECT_TRUE(r->DownloadFTP());
        EXPECT_THAT(PastasAlemDe(pastaPABX / "NORVIKA", 3), ::testing::IsEmpty());
        EXPECT_EQ(Arquivos(pastaPABX / "NORVIKA"),
                  (std::set<std::string>{"AUDIOREC/GR050324/X0001000/R0000001.WAV",
                                         "AUDIOREC/GR050324/X0001000/R0000001.XML"}));
        EXPECT_EQ(r->Historico.DWN_ARQBAIXAR, 2);
        EXPECT_TRUE(
            r->FicamNaUnidade.count(std::string("AUDIOREC/GR050324/X0001000/") + caso.pasta + "/"));
    }
}
