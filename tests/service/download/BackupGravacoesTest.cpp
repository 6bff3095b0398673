// The recordings backup against temporary folders and the test FTP server:
// what lands at each target (names and bytes), the lines, the alerts, and
// that one target's failure leaves the other running.

#include <sys/mount.h>

#include "tests/service/download/BackupTeste.h"

using namespace backupteste;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::string D1 = "D0000001/X0000001/";
const std::string D2 = "D0000001/X0000002/";

class BackupGravacoes : public BackupBase {
  protected:
    void SetUp() override {
        BackupBase::SetUp();
        if (IsSkipped()) return;
        fs::create_directories(raizFTP_);
        // The working files as download, import and filing leave them: the
        // unit's ".wav"/".xml", the filing's copies; one recording without
        // its description; one file outside the L1/L2 folders.
        Arquivo(D1 + "R0000001.wav", 1);
        Arquivo(D1 + "r0000001.xml", 2, 300);
        Arquivo(D1 + "C0000001.WAV", 3);
        Arquivo(D1 + "C0000001.ogg", 4);
        Arquivo(D1 + "C0000001.dad", 5);
        Arquivo(D2 + "R0000002.WAV", 6);
        Arquivo(D2 + "C0000002.OGG", 7);
        Arquivo(D2 + "C0000002.DAD", 8);
        Arquivo("R0000009.WAV", 9);
    }

    void Arquivo(const std::string& nome, unsigned semente, std::size_t n = 0) {
        const fs::path p = Audiorec() / nome;
        fs::create_directories(p.parent_path());
        Grava(p, Bytes(n ? n : tamanho_ + semente, semente));
        fonte_[nome] = LeTudo(p);
    }
    // What a target must hold, from the working files: {source, name there}.
    std::map<std::string, std::string>
    Esperado(const std::vector<std::pair<std::string, std::string>>& itens) {
        std::map<std::string, std::string> r;
        for (const auto& [origem, nome] : itens) r["PABX001/" + nome] = fonte_.at(origem);
        return r;
    }

    std::size_t tamanho_ = 5000;
    std::map<std::string, std::string> fonte_;
    fs::path destino_ = tmp_ / "rede" / "backup";
    fs::path raizFTP_ = tmp_ / "ftp";
};

TEST_F(BackupGravacoes, PastaFormato1LevaGravacoesEDescricoesUmaVez) {
    Alvos a;
    a.net = 1;
    a.pastaNet = destino_.string();  // no trailing separator; the folder is missing
    Configura(a);
    auto r = Execucao();
    r->BackupArquivos(true);
    const auto esperado = Esperado({{D1 + "R0000001.wav", D1 + "R0000001.wav"},
                                    {D1 + "r0000001.xml", D1 + "R0000001.XML"},
                                    {D2 + "R0000002.WAV", D2 + "R0000002.WAV"}});
    EXPECT_EQ(Conteudo(destino_), esperado);
    const std::string log = Log();
    EXPECT_THAT(log, HasSubstr("Início backup arquivos"));
    EXPECT_THAT(log, HasSubstr("Backup XML não existe arquivo: " + (Audiorec() / D2).string() +
                               "R0000002.XML"));
    EXPECT_THAT(log, HasSubstr("Fim backup arquivos"));
    EXPECT_TRUE(Alertas().empty());
    EXPECT_EQ(r->ConfigGeral()->CFG_NETDSTPATH, destino_.string());  // the snapshot is untouched

    // A second run copies nothing; a target cut short is replaced.
    const fs::path um = destino_ / "PABX001" / D1 / "R0000001.wav";
    const fs::path dois = destino_ / "PABX001" / D2 / "R0000002.WAV";
    Grava(um, std::string(fonte_[D1 + "R0000001.wav"].size(), 'x'));
    fs::resize_file(dois, 100);
    Execucao()->BackupArquivos(true);
    EXPECT_EQ(LeTudo(um), std::string(fonte_[D1 + "R0000001.wav"].size(), 'x'));
    EXPECT_EQ(LeTudo(dois), fonte_[D2 + "R0000002.WAV"]);
    EXPECT_EQ(Conteudo(destino_).size(), esperado.size());
}

TEST_F(BackupGravacoes, PastaFormato3LevaCifradosComADescricaoR) {
    Alvos a;
    a.net = 3;
    a.pastaNet = destino_.string() + "/";
    Configura(a);
    Execucao()->BackupArquivos(true);
    EXPECT_EQ(Conteudo(destino_), Esperado({{D1 + "C0000001.dad", D1 + "C0000001.dad"},
                                            {D1 + "r0000001.xml", D1 + "R0000001.XML"},
                                            {D2 + "C0000002.DAD", D2 + "C0000002.DAD"}}));
    EXPECT_TRUE(Alertas().empty());
}

TEST_F(BackupGravacoes, PastaInutilizavelNaoGravaNada) {
    // An fstab entry for the share's mount point that is not mounted.
    Grava(tmp_ / "fstab", "//srv/share " + (tmp_ / "rede").string() + " cifs defaults 0 0\n");
    Grava(tmp_ / "mountinfo", "");
    fs::create_directories(tmp_ / "rede");
    const fs::path cwd = fs::current_path();
    fs::current_path(tmp_.Caminho());
    struct Caso {
        std::string pasta;
    };
    for (const Caso& c : {Caso{""}, Caso{"relativa/backup"}, Caso{destino_.string()}}) {
        SCOPED_TRACE(c.pasta);
        Alvos a;
        a.net = 1;
        a.pastaNet = c.pasta;
        Configura(a);
        auto r = Execucao();
        r->TabelaFstab = tmp_ / "fstab";
        r->TabelaMontagens = tmp_ / "mountinfo";
        r->BackupArquivos(true);
        EXPECT_FALSE(fs::exists(tmp_ / "relativa"));
        EXPECT_FALSE(fs::exists(destino_));
        EXPECT_FALSE(fs::exists("/PABX001"));
        const auto alertas = Alertas();
        ASSERT_EQ(alertas.size(), 1u);
        EXPECT_THAT(alertas[0], HasSubstr("PABX 1: Erro ao acessar pasta de backup: "));
    }
    fs::current_path(cwd);
}

TEST_F(BackupGravacoes, DiscoCheioNaoDeixaArquivoParcial) {
    const fs::path ponto = tmp_ / "cheio";
    fs::create_directories(ponto);
    if (::mount("tmpfs", ponto.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    struct Desmonta {
        fs::path p;
        ~Desmonta() { ::umount2(p.c_str(), MNT_DETACH); }
    } desmonta{ponto};
    for (const std::string& d : {D1, D2}) fs::remove_all(Audiorec() / d);
    for (int i = 1; i <= 4; ++i)
        Arquivo(D1 + "R000000" + std::to_string(i) + ".WAV", i, 400 * 1024);
    Alvos a;
    a.net = 1;
    a.pastaNet = ponto.string();
    Configura(a);
    Execucao()->BackupArquivos(true);
    const auto alertas = Alertas();
    ASSERT_EQ(alertas.size(), 1u);
    EXPECT_THAT(alertas[0], HasSubstr("Não foi possível criar o arquivo de backup: "));
    EXPECT_THAT(alertas[0], HasSubstr(" para: "));
    // Whatever is there under a recording's name is whole; nothing else is left.
    const auto la = Conteudo(ponto);
    EXPECT_EQ(la.size(), 2u);
    for (const auto& [nome, bytes] : la)
        EXPECT_EQ(bytes, fonte_.at(fs::path(nome).lexically_relative("PABX001").string())) << nome;
}

TEST_F(BackupGravacoes, FTPFormato2SubstituiNaSegundaVez) {
    ServidorFTPTeste srv(raizFTP_, tmp_ / "ftpw");
    Configura(FTP(srv, 2));
    Execucao()->BackupArquivos(true);
    const auto esperado = Esperado({{D1 + "C0000001.ogg", D1 + "C0000001.ogg"},
                                    {D1 + "r0000001.xml", D1 + "R0000001.XML"},
                                    {D2 + "C0000002.OGG", D2 + "C0000002.OGG"}});
    EXPECT_EQ(Conteudo(raizFTP_), esperado);
    EXPECT_THAT(Log(), HasSubstr("Fim backup FTP"));
    EXPECT_TRUE(Alertas().empty());

    Grava(raizFTP_ / "PABX001" / D1 / "C0000001.ogg", "velho");
    Execucao()->BackupArquivos(true);
    EXPECT_EQ(Conteudo(raizFTP_), esperado);
}

TEST_F(BackupGravacoes, FTPOutrosServidoresMesmaArvore) {
    struct Caso {
        std::vector<std::string> opcoes;
        int seguranca;
    };
    for (const Caso& c : {Caso{{"--syst", "Windows_NT"}, 0}, Caso{{"--tls", "required"}, 2},
                          Caso{{"--no-mlsd"}, 0}}) {
        SCOPED_TRACE(c.opcoes[0]);
        fs::remove_all(raizFTP_);
        fs::create_directories(raizFTP_);
        ServidorFTPTeste srv(raizFTP_, tmp_ / "ftpw", c.opcoes);
        Alvos a = FTP(srv, 1);
        a.seguranca = c.seguranca;
        Configura(a);
        Execucao()->BackupArquivos(true);
        EXPECT_EQ(Conteudo(raizFTP_), Esperado({{D1 + "R0000001.wav", D1 + "R0000001.wav"},
                                                {D1 + "r0000001.xml", D1 + "R0000001.XML"},
                                                {D2 + "R0000002.WAV", D2 + "R0000002.WAV"}}));
        EXPECT_TRUE(Alertas().empty());
    }
}

// FTP failures, with the folder target on too: it still runs, whole.
TEST_F(BackupGravacoes, FTPFalhasTerminamSoOAlvoFTP) {
    tamanho_ = 300 * 1024;
    for (const std::string& d : {D1, D2}) fs::remove_all(Audiorec() / d);
    Arquivo(D1 + "R0000001.wav", 1);
    Arquivo(D2 + "R0000002.WAV", 2);
    struct Caso {
        std::vector<std::string> opcoes;
        bool senhaErrada;
        std::string texto;
    };
    const std::vector<Caso> casos = {
        {{}, true, "Falha ao conectar FTP de backup"},
        {{"--refuse-stor"}, false, "Falha ao fazer upload em FTP de backup"},
        {{"--fault-stor", "cut-control:R0000001:100000"},
         false,
         "Conexão com servidor FTP de backup foi perdida"},
        {{"--fault-stor", "stall:R0000001:100000"},
         false,
         "Falha ao fazer upload em FTP de backup"},
        {{"--fault", "no-greet"}, false, "Falha ao conectar FTP de backup"},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.texto + (c.opcoes.empty() ? "" : " " + c.opcoes[0]));
        fs::remove_all(raizFTP_);
        fs::remove_all(destino_);
        fs::create_directories(raizFTP_);
        ServidorFTPTeste srv(raizFTP_, tmp_ / "ftpw", c.opcoes);
        Alvos a = FTP(srv, 1);
        if (c.senhaErrada) a.senha = "errada";
        a.net = 1;
        a.pastaNet = destino_.string();
        Configura(a);
        const auto inicio = std::chrono::steady_clock::now();
        Execucao()->BackupArquivos(true);
        // Every wait is bounded by FTPTimeOut (3 s here), a few times over.
        EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(60));
        const auto alertas = Alertas();
        ASSERT_EQ(alertas.size(), 1u);
        EXPECT_THAT(alertas[0], HasSubstr("PABX 1: " + c.texto));
        EXPECT_THAT(alertas[0], Not(HasSubstr(srv.Senha())));
        EXPECT_THAT(Log(), Not(HasSubstr(srv.Senha())));
        // Nothing under a recording's final name at the server; the first
        // failure ends the pass, so the second recording is not tried.
        for (const auto& [nome, bytes] : Conteudo(raizFTP_)) {
            EXPECT_THAT(nome, Not(HasSubstr("R0000002"))) << nome;
            if (fs::path(nome).filename().string().front() != '~') ADD_FAILURE() << nome;
        }
        EXPECT_EQ(Conteudo(destino_).size(), 2u);
    }
}

TEST_F(BackupGravacoes, AmbosLigadosComAPastaFalhandoDuasLinhasDoisAlertas) {
    ServidorFTPTeste srv(raizFTP_, tmp_ / "ftpw", {"--refuse-stor"});
    Alvos a = FTP(srv, 3);
    a.net = 3;
    a.pastaNet = "relativa";
    Configura(a);
    Execucao()->BackupArquivos(true);
    const auto alertas = Alertas();
    ASSERT_EQ(alertas.size(), 2u);
    EXPECT_THAT(alertas[0], HasSubstr("PABX 1: Erro ao acessar pasta de backup"));
    EXPECT_THAT(alertas[1], HasSubstr("PABX 1: Falha ao fazer upload em FTP de backup"));
    const std::string log = Log();
    EXPECT_THAT(log, HasSubstr("Início backup FTP"));
    EXPECT_THAT(log, HasSubstr("Fim backup FTP"));
}

}  // namespace

namespace {

// A name with a line break would end a command to the server and start
// another: it is refused before anything is sent.
TEST_F(BackupGravacoes, FTPNomeComQuebraDeLinhaNaoViraComando) {
    Arquivo(D1 + "R\r\nDELE R0000001.wav", 10);
    ServidorFTPTeste srv(raizFTP_, tmp_ / "ftpw");
    Configura(FTP(srv, 1));
    Execucao()->BackupArquivos(true);
    const auto alertas = Alertas();
    ASSERT_EQ(alertas.size(), 1u);
    EXPECT_THAT(alertas[0], HasSubstr("PABX 1: Falha ao fazer upload em FTP de backup"));
    EXPECT_TRUE(Conteudo(raizFTP_).empty());
}

}  // namespace
