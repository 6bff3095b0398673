// The import of a downloaded store into a unit database on the test Firebird
// server, with the PABX simulator answering the removals over its control
// link: what is filed, what leaves the unit, what stays, what is set aside.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>

#include "tests/support/PastaTemporaria.h"
#include "tests/support/InstalacaoTeste.h"
#include "tests/service/download/DownloadFTPExecucao.h"
#include "tests/service/download/DownloadFTPServidor.h"
#include "tools/pabx-sim/Recordings.h"
#include "tools/pabx-sim/Simulator.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;

namespace {

std::set<std::string> Arquivos(const fs::path& raiz) {
    std::set<std::string> r;
    if (!fs::exists(raiz)) return r;
    for (auto it = fs::recursive_directory_iterator(raiz); it != fs::recursive_directory_iterator();
         ++it)
        if (it->is_regular_file()) r.insert(fs::relative(it->path(), raiz).string());
    return r;
}

std::set<std::string> Pastas(const fs::path& raiz) {
    std::set<std::string> r;
    if (!fs::exists(raiz)) return r;
    for (auto it = fs::recursive_directory_iterator(raiz); it != fs::recursive_directory_iterator();
         ++it)
        if (it->is_directory()) r.insert(fs::relative(it->path(), raiz).string());
    return r;
}

class ImportaArquivos : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { inst_ = new InstalacaoTeste("imp15", {1}); }
    static void TearDownTestSuite() {
        delete inst_;
        inst_ = nullptr;
    }

    void SetUp() override {
        EXIGE_SERVIDOR(*inst_);
        static int proximo = 500;
        codigo_ = ++proximo;
        const auto p = inst_->Principal();
        exec_ = std::make_unique<ExecucaoFTPTeste>(
            tmp_.Caminho() / "prog",
            ParametrosBDServico{inst_->srv.host, p.banco, p.usuario, p.senha});
        exec_->config->PABXTimeOut = 10;
        ASSERT_TRUE(exec_->banco.BDCarregaConfiguracaoGeral());
        PABXTimeOut = 10;
    }
    void TearDown() override {
        if (pabx_) pabx_->Desconecta();
        PABXTimeOut = 90;
    }

    // The unit: simulator over the store, with faults; the link logged in
    // and access to the recordings opened, as the session leaves it.
    void IniciaUnidade(const std::vector<std::string>& falhas = {}) {
        pabxsim::Scenario sc;
        sc.password = "4321";
        sc.store = loja_;
        sc.faults = falhas;
        pabxsim::SimulatorOptions op;
        op.keepFrames = true;
        sim_ = std::make_unique<pabxsim::Simulator>(sc, op);
        sim_->Start();
        pabx_ = std::make_unique<TPABX>();
        pabx_->FEnderecoIP = "127.0.0.1";
        pabx_->FPorta = sim_->Port();
        pabx_->FSenha = sc.password;
        pabx_->Conecta();
        ASSERT_TRUE(pabx_->AguardaResposta());
        ASSERT_EQ(pabx_->FEstadoLink, elConectado);
        pabx_->FStatusPROG.Esvazia();
        ASSERT_TRUE(pabx_->EnviaLogin());
        ASSERT_TRUE(pabx_->AguardaResposta());
        ASSERT_TRUE(pabx_->PedeAcessoGravacoes(true));
        ASSERT_TRUE(pabx_->AguardaStatus(pabx_->FStatusCTRL));
    }

    // The download's part: the store's tree into the working folder.
    void Transfere() {
        fs::remove_all(pastaPABX_ / "NORVIKA");
        fs::create_directories(pastaPABX_);
        fs::copy(loja_ / "NORVIKA", pastaPABX_ / "NORVIKA", fs::copy_options::recursive);
    }

    std::unique_ptr<TPABXDownloadFTP> Execucao() {
        auto r = exec_->Cria(codigo_, pastaPABX_);
        r->BaseDadosPABX = inst_->Unidade(1).banco;
        return r;
    }

    // Rows of this test's unit: IDFILE -> GRV_TEMAUDIO.
    std::multimap<std::string, int> Linhas() {
        Attachment att = Attachment::Conecta(inst_->Unidade(1));
        Transaction tr(att, true);
        Statement st(tr, "SELECT GRV_IDFILE, GRV_TEMAUDIO FROM GRAVACAO WHERE PAB_CODIGO=?");
        st.SetInt(0, codigo_);
        std::multimap<std::string, int> r;
        for (Cursor c = st.Abre(); c.Proxima();) r.emplace(c.GetText(0), c.GetInt(1));
        return r;
    }

    // Removal requests the unit received, as the paths they carried.
    std::vector<std::string> Remocoes() {
        std::vector<std::string> r;
        for (const auto& q : sim_->ReceivedFrames()) {
            const std::string s(q.begin(), q.end());
            const auto i = s.find("0:/NORVIKA/");
            if (i != std::string::npos) r.push_back(s.substr(i, s.find('\0', i) - i));
        }
        return r;
    }

    fs::path Audiorec() const { return loja_ / "NORVIKA" / "AUDIOREC"; }

    // One run of the download road over FTP: the store fetched from a server
    // started with `opcoesFTP`, then imported over the unit's link when the
    // transfer brought anything (as the session does).
    std::unique_ptr<TPABXDownloadFTP> CorridaFTP(const std::vector<std::string>& opcoesFTP = {}) {
        ServidorFTPTeste srv(loja_, tmp_.Caminho() / ("srv" + std::to_string(++servidores_)),
                             opcoesFTP);
        auto r = Execucao();
        r->FTPHost = "127.0.0.1";
        r->FTPPorta = static_cast<std::uint16_t>(srv.Porta());
        r->FTPUsuario = srv.Usuario();
        r->FTPSenha = srv.Senha();
        if (r->DownloadFTP()) r->ImportaArquivos(*pabx_);
        return r;
    }

    // Folder removals asked of the unit for the date folder `l1` or its
    // device folder `l1/l2`.
    std::vector<std::string> RemocoesDePasta(const std::string& l1, const std::string& l2) {
        std::vector<std::string> r;
        for (std::string p : Remocoes()) {
            if (!p.empty() && p.back() == '/') p.pop_back();
            if (p == "0:/NORVIKA/AUDIOREC/" + l1 || p == "0:/NORVIKA/AUDIOREC/" + l1 + "/" + l2)
                r.push_back(p);
        }
        return r;
    }

    static InstalacaoTeste* inst_;
    int codigo_ = 0;
    PastaTemporaria tmp_;
    fs::path loja_ = tmp_.Caminho() / "loja";
    fs::path pastaPABX_ = tmp_.Caminho() / "prog" / "PABX001";
    std::unique_ptr<ExecucaoFTPTeste> exec_;
    std::unique_ptr<pabxsim::Simulator> sim_;
    std::unique_ptr<TPABX> pabx_;
    int servidores_ = 0;
};

InstalacaoTeste* ImportaArquivos::inst_ = nullptr;

}  // namespace

TEST_F(ImportaArquivos, TodasArquivadasUmaLinhaCadaPastasRemovidas) {
    const auto resumo = pabxsim::MakeRecordings(loja_, 2, 7);
    IniciaUnidade();
    Transfere();
    auto r = Execucao();
    EXPECT_TRUE(r->ImportaArquivos(*pabx_));
    EXPECT_EQ(Linhas().size(), 2u);
    EXPECT_TRUE(Arquivos(Audiorec()).empty());
    EXPECT_TRUE(Pastas(Audiorec()).empty()) << *Pastas(Audiorec()).begin();
    EXPECT_EQ(r->Historico.DWN_RESULTADO, ResultadoSucesso);
    EXPECT_EQ(r->Historico.DWN_OPERATUAL, OpImportacaoFim);
    EXPECT_FALSE(r->Historico.DWN_DTFIMIMP.Vazia());
    EXPECT_FALSE(fs::exists(pastaPABX_ / "NORVIKA"));  // DelDir
}

TEST_F(ImportaArquivos, UmaFalhaFicaNaUnidadeSemPedirSuasPastas) {
    const auto resumo = pabxsim::MakeRecordings(loja_, 2, 11);
    // A second device folder whose recording is cut inside its WAV header.
    const fs::path ruim = resumo.wavFiles[1].parent_path().parent_path() / "X0009999";
    fs::create_directories(ruim);
    fs::copy_file(resumo.wavFiles[1], ruim / "R0000099.WAV");
    fs::copy_file(resumo.xmlFiles[1], ruim / "R0000099.XML");
    fs::resize_file(ruim / "R0000099.WAV", 20);
    IniciaUnidade();
    Transfere();
    auto r = Execucao();
    EXPECT_FALSE(r->ImportaArquivos(*pabx_));
    EXPECT_EQ(Linhas().size(), 2u);
    EXPECT_EQ(r->Historico.DWN_RESULTADO, ResultadoFalha);
    const std::string l1 = ruim.parent_path().filename().string();
    EXPECT_EQ(Arquivos(Audiorec()), (std::set<std::string>{l1 + "/X0009999/R0000099.WAV",
                                                           l1 + "/X0009999/R0000099.XML"}));
    for (const auto& p : Remocoes()) {
        EXPECT_THAT(p, ::testing::Not(HasSubstr("X0009999"))) << p;
        EXPECT_NE(p, "0:/NORVIKA/AUDIOREC/" + l1) << p;
    }
    EXPECT_TRUE(fs::exists(pastaPABX_ / "NORVIKA"));  // kept after a failed run
}

TEST_F(ImportaArquivos, XMLQueFaltaSeparaEDepoisArquivaComAudio) {
    const auto resumo = pabxsim::MakeRecordings(loja_, 1, 3);
    const fs::path xml = resumo.xmlFiles[0];
    const std::string guardado = LeTudo(xml);
    fs::remove(xml);
    IniciaUnidade();
    Transfere();
    auto r = Execucao();
    EXPECT_TRUE(r->ImportaArquivos(*pabx_));
    EXPECT_TRUE(Linhas().empty());
    EXPECT_TRUE(fs::exists(resumo.wavFiles[0]));  // stays at the unit
    EXPECT_EQ(Arquivos(pastaPABX_ / "ARQNOK").size(), 1u);

    GravaTeste(xml, guardado);  // the description shows up
    Transfere();
    auto r2 = Execucao();
    EXPECT_TRUE(r2->ImportaArquivos(*pabx_));
    const auto linhas = Linhas();
    ASSERT_EQ(linhas.size(), 1u);
    EXPECT_EQ(linhas.begin()->second, 1);  // with its audio
    EXPECT_TRUE(Arquivos(Audiorec()).empty());
    EXPECT_TRUE(Arquivos(pastaPABX_ / "ARQNOK").empty());
}

TEST_F(ImportaArquivos, WAVSozinhoNaSegundaVezArquivadoComAudio) {
    const auto resumo = pabxsim::MakeRecordings(loja_, 1, 5);
    fs::remove(resumo.xmlFiles[0]);
    IniciaUnidade();
    for (int vez = 0; vez < 2; ++vez) {
        Transfere();
        auto r = Execucao();
        EXPECT_TRUE(r->ImportaArquivos(*pabx_));
    }
    const auto linhas = Linhas();
    ASSERT_EQ(linhas.size(), 1u);
    EXPECT_EQ(linhas.begin()->second, 1);
    EXPECT_FALSE(fs::exists(resumo.wavFiles[0]));
}

TEST_F(ImportaArquivos, DescricaoSemWAVSeparaDepoisRegistraSozinha) {
    const auto resumo = pabxsim::MakeRecordings(loja_, 1, 9);
    fs::remove(resumo.wavFiles[0]);
    IniciaUnidade();
    Transfere();
    EXPECT_TRUE(Execucao()->ImportaArquivos(*pabx_));
    EXPECT_TRUE(Linhas().empty());
    EXPECT_TRUE(fs::exists(resumo.xmlFiles[0]));
    Transfere();
    EXPECT_TRUE(Execucao()->ImportaArquivos(*pabx_));
    const auto linhas = Linhas();
    ASSERT_EQ(linhas.size(), 1u);
    EXPECT_NE(linhas.begin()->second, 1);  // no audio
    EXPECT_FALSE(fs::exists(resumo.xmlFiles[0]));
    EXPECT_TRUE(Arquivos(pastaPABX_ / "ARQNOK").empty());
}

TEST_F(ImportaArquivos, MesmoArquivoDuasVezesUmaLinha) {
    const auto resumo = pabxsim::MakeRecordings(loja_, 1, 13);
    IniciaUnidade({"remove refuse times=2"});  // both tries of the first removal
    Transfere();
    EXPECT_TRUE(Execucao()->ImportaArquivos(*pabx_));
    EXPECT_TRUE(fs::exists(resumo.wavFiles[0]));
    Transfere();
    auto r = Execucao();
    EXPECT_TRUE(r->ImportaArquivos(*pabx_));  // already filed: result 1
    EXPECT_EQ(Linhas().size(), 1u);
    EXPECT_EQ(r->Historico.DWN_RESULTADO, ResultadoSucesso);
    EXPECT_TRUE(Arquivos(Audiorec()).empty());
}

TEST_F(ImportaArquivos, DuasRecusasComTentaDel2NaoPedeODescritivo) {
    const auto resumo = pabxsim::MakeRecordings(loja_, 1, 17);
    exec_->config->PABXTentaDel = 2;
    IniciaUnidade({"remove refuse"});
    Transfere();
    EXPECT_TRUE(Execucao()->ImportaArquivos(*pabx_));
    const auto remocoes = Remocoes();
    ASSERT_EQ(remocoes.size(), 2u);  // the WAV twice; no XML, no folder
    EXPECT_THAT(remocoes[0], HasSubstr(".WAV"));
    EXPECT_EQ(remocoes[0], remocoes[1]);
}

TEST_F(ImportaArquivos, DelXMLFalsoSoOWAVSai) {
    const auto resumo = pabxsim::MakeRecordings(loja_, 1, 19);
    exec_->config->DelXML = false;
    IniciaUnidade();
    Transfere();
    EXPECT_TRUE(Execucao()->ImportaArquivos(*pabx_));
    EXPECT_FALSE(fs::exists(resumo.wavFiles[0]));
    EXPECT_TRUE(fs::exists(resumo.xmlFiles[0]));
    for (const auto& p : Remocoes()) EXPECT_THAT(p, HasSubstr(".WAV"));
}

TEST_F(ImportaArquivos, PastaDeDataVaziaRemovidaPeloNome) {
    pabxsim::MakeRecordings(loja_, 1, 23);
    fs::create_directories(Audiorec() / "GR311299");
    IniciaUnidade();
    Transfere();
    EXPECT_TRUE(Execucao()->ImportaArquivos(*pabx_));
    const auto remocoes = Remocoes();
    EXPECT_THAT(remocoes, ::testing::Contains("0:/NORVIKA/AUDIOREC/GR311299"));
    EXPECT_THAT(remocoes, ::testing::Not(::testing::Contains("0:/NORVIKA/AUDIOREC")));
    EXPECT_TRUE(Pastas(Audiorec()).empty());
}

TEST_F(ImportaArquivos, LigacaoDesconectadaArquivaENadaRemove) {
    pabxsim::MakeRecordings(loja_, 2, 29);
    const auto antes = Arquivos(Audiorec());
    Transfere();
    TPABX desligado;  // the local run's unconnected link
    EXPECT_TRUE(Execucao()->ImportaArquivos(desligado));
    EXPECT_EQ(Linhas().size(), 2u);
    EXPECT_EQ(Arquivos(Audiorec()), antes);
}

TEST_F(ImportaArquivos, LigacaoCaiNoMeioCadaUmArquivadoUmaVezOuAindaNaUnidade) {
    const auto resumo = pabxsim::MakeRecordings(loja_, 6, 31);
    IniciaUnidade({"remove drop nth=3"});
    Transfere();
    Execucao()->ImportaArquivos(*pabx_);
    const auto linhas = Linhas();
    std::set<std::string> unicos;
    for (const auto& [id, audio] : linhas) unicos.insert(id);
    EXPECT_EQ(unicos.size(), linhas.size());  // never twice
    // Whatever was removed at the unit is in the database.
    std::size_t removidos = 0;
    for (const auto& w : resumo.wavFiles) removidos += fs::exists(w) ? 0 : 1;
    EXPECT_LE(removidos, linhas.size());
    // A later run with a new link finishes the job, still once each.
    pabx_->Desconecta();
    IniciaUnidade();
    Transfere();
    Execucao()->ImportaArquivos(*pabx_);
    std::set<std::string> depois;
    const auto linhas2 = Linhas();
    for (const auto& [id, audio] : linhas2) depois.insert(id);
    EXPECT_EQ(depois.size(), linhas2.size());
    EXPECT_GE(linhas2.size(), linhas.size());
    std::size_t restam = 0;
    for (const auto& w : resumo.wavFiles) restam += fs::exists(w) ? 1 : 0;
    EXPECT_EQ(restam, 0u);
}

TEST_F(ImportaArquivos, DoFTPAoBancoDeAPonta) {
    pabxsim::MakeRecordings(loja_, 3, 37);
    IniciaUnidade();
    ServidorFTPTeste srv(loja_, tmp_.Caminho() / "srv");
    auto r = Execucao();
    r->FTPHost = "127.0.0.1";
    r->FTPPorta = static_cast<std::uint16_t>(srv.Porta());
    r->FTPUsuario = srv.Usuario();
    r->FTPSenha = srv.Senha();
    ASSERT_TRUE(r->DownloadFTP());
    EXPECT_TRUE(r->ImportaArquivos(*pabx_));
    EXPECT_EQ(Linhas().size(), 3u);
    EXPECT_TRUE(Arquivos(Audiorec()).empty());
    EXPECT_TRUE(Pastas(Audiorec()).empty());
}

// A description whose recording could not be fetched waits for it: the pair is
// filed together, once, whatever the server did to the audio meanwhile.
TEST_F(ImportaArquivos, DescricaoEsperaSeuWAVQueFicouNaUnidade) {
    for (const char* falha : {"refuse:R0000001.WAV:0", "cut-data:R0000001.WAV:1000"}) {
        SCOPED_TRACE(falha);
        fs::remove_all(loja_);
        fs::remove_all(pastaPABX_);
        codigo_ += 100;  // rows of a unit of its own
        const auto resumo = pabxsim::MakeRecordings(loja_, 2, 41);
        IniciaUnidade();
        for (int vez = 0; vez < 2; ++vez) {
            auto r = CorridaFTP({"--fault", falha});
            EXPECT_EQ(r->Historico.DWN_FALHASDOWN, 1);
            EXPECT_EQ(Linhas().size(), 1u) << "run " << vez + 1;  // the other recording only
            EXPECT_TRUE(fs::exists(resumo.wavFiles[0]));
            EXPECT_TRUE(fs::exists(resumo.xmlFiles[0])) << "run " << vez + 1;
        }
        CorridaFTP();
        const auto linhas = Linhas();
        EXPECT_EQ(linhas.size(), 2u);
        for (const auto& [id, audio] : linhas) EXPECT_EQ(audio, 1) << id;
        EXPECT_TRUE(Arquivos(Audiorec()).empty());
        EXPECT_TRUE(Arquivos(pastaPABX_ / "ARQNOK").empty());
        pabx_->Desconecta();
    }
}

// Whatever the walk listed in a folder and did not bring keeps the folder
// (and its date folder) at the unit: their removal is never asked.
TEST_F(ImportaArquivos, PastaComArquivosNaoBaixadosNaoPedidaParaRemocao) {
    struct Caso {
        const char* nome;
        std::vector<std::string> servidor;
        std::function<void(const fs::path& pastaGravacao)> prepara;
    };
    const std::vector<Caso> casos = {
        {"ambos os arquivos recusados",
         {"--fault", "refuse:R0000001.WAV:0", "--fault", "refuse:R0000001.XML:0"},
         [](const fs::path&) {}},
        {"gemeo de caixa recusado pela caminhada",
         {},
         [](const fs::path& p) { GravaTeste(p / "r0000001.xml", "<gemeo/>"); }},
        {"pasta abaixo da pasta do ramal",
         {},
         [](const fs::path& p) { GravaTeste(p / "SUB" / "R0000099.WAV", "fundo"); }},
    };
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nome);
        fs::remove_all(loja_);
        fs::remove_all(pastaPABX_);
        codigo_ += 100;
        const auto resumo = pabxsim::MakeRecordings(loja_, 2, 43);
        const fs::path pasta = resumo.wavFiles[0].parent_path();
        caso.prepara(pasta);
        const auto antes = Arquivos(pasta);
        IniciaUnidade();
        auto r = CorridaFTP(caso.servidor);
        EXPECT_GE(Linhas().size(), 1u);
        EXPECT_THAT(
            RemocoesDePasta(pasta.parent_path().filename().string(), pasta.filename().string()),
            ::testing::IsEmpty());
        EXPECT_FALSE(Arquivos(pasta).empty());
        pabx_->Desconecta();
    }
}

// The store's folders in another case on the FTP server: every recording is
// filed and leaves the unit.
TEST_F(ImportaArquivos, PastasDaLojaEmOutraCaixaArquivadas) {
    const std::vector<std::pair<std::string, std::string>> grafias = {{"NORVIKA", "audiorec"},
                                                                      {"NORVIKA", "AudioRec"},
                                                                      {"norvika", "AUDIOREC"},
                                                                      {"Norvika", "audiorec"}};
    for (const auto& [norvika, audiorec] : grafias) {
        SCOPED_TRACE(norvika + "/" + audiorec);
        fs::remove_all(loja_);
        fs::remove_all(pastaPABX_);
        codigo_ += 100;
        pabxsim::MakeRecordings(loja_, 2, 47);
        fs::rename(loja_ / "NORVIKA" / "AUDIOREC", loja_ / "NORVIKA" / audiorec);
        fs::rename(loja_ / "NORVIKA", loja_ / norvika);
        IniciaUnidade();
        auto r = CorridaFTP();
        const auto linhas = Linhas();
        EXPECT_EQ(linhas.size(), 2u);
        for (const auto& [id, audio] : linhas) EXPECT_EQ(audio, 1) << id;
        EXPECT_TRUE(Arquivos(loja_ / norvika / audiorec).empty());
        EXPECT_EQ(r->Historico.DWN_RESULTADO, ResultadoSucesso);
        pabx_->Desconecta();
    }
}

// A stop asked while a recording is being removed: that removal ends with its
// answers, nothing is sent twice, and no further recording is filed.
TEST_F(ImportaArquivos, ParadaNoMeioTerminaARemocaoEmCursoENaoArquivaMais) {
    pabxsim::MakeRecordings(loja_, 3, 53);
    IniciaUnidade({"remove delay=400"});
    Transfere();
    auto r = Execucao();
    std::atomic<bool> fim{false};
    std::thread vigia([&] {
        while (!fim && Remocoes().empty())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        r->Terminate();
    });
    r->ImportaArquivos(*pabx_);
    fim = true;
    vigia.join();
    EXPECT_EQ(Linhas().size(), 1u);
    const auto remocoes = Remocoes();
    EXPECT_EQ(remocoes.size(), 2u);  // the WAV and its description, once each
    EXPECT_EQ(std::set<std::string>(remocoes.begin(), remocoes.end()).size(), remocoes.size());
    EXPECT_EQ(Arquivos(Audiorec()).size(), 4u);  // the other two recordings, whole
}
