// A whole download run over FTP: the thread's session with the simulated unit,
// the transfer from the unit's FTP server and the import into a unit database
// on the test server. What the unit keeps afterwards is only what has no
// partner yet.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <set>

#include "tests/service/download/AmbienteDownload.h"
#include "tests/service/download/DownloadFTPServidor.h"
#include "tools/pabx-sim/Recordings.h"
#include "tools/pabx-sim/Simulator.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(ImportaSessao, DownloadFTPEImportacaoPelaSessao) {
    AmbienteDownloadTeste amb("impsessao");
    EXIGE_BANCO(amb.db);
    constexpr int codigo = 15;
    amb.config.PABXTimeOut = 15;
    PABXTimeOut = 15;
    amb.RegistraUnidade(codigo);
    amb.CriaBancoUnidade();
    ASSERT_TRUE(amb.banco->BDCarregaConfiguracaoGeral());

    PastaTemporaria loja;
    const auto resumo = pabxsim::MakeRecordings(loja.Caminho(), 20, 3);
    pabxsim::Scenario cenario;
    cenario.store = loja.Caminho();
    pabxsim::Simulator sim(cenario);
    sim.Start();
    ServidorFTPTeste ftp(loja.Caminho(), amb.pasta.Caminho() / "ftp");

    auto t = amb.Run(codigo, sim.Port());
    t->FTPPorta = static_cast<std::uint16_t>(ftp.Porta());
    t->FTPUsuario = ftp.Usuario();
    t->FTPSenha = ftp.Senha();
    t->Resume();
    ASSERT_TRUE(t->AguardaFim(240s));

    const auto imp = amb.LinhasIMP(codigo);
    for (const char* linha : {"Início download FTP", "Baixou arquivo", "Importando",
                              "Arquivo removido", "Pasta removida"})
        EXPECT_TRUE(Contem(imp, linha)) << linha;

    // Only the partnerless files stay at the unit: the description without
    // its recording and the recording without its description.
    std::set<std::string> restam;
    for (auto it = fs::recursive_directory_iterator(loja.Caminho());
         it != fs::recursive_directory_iterator(); ++it)
        if (it->is_regular_file()) restam.insert(it->path().filename().string());
    EXPECT_EQ(restam.size(), static_cast<std::size_t>(resumo.xmlOnly + resumo.wavOnly));
    for (const auto& n : restam) {
        const std::string base = n.substr(0, n.rfind('.'));
        EXPECT_FALSE(restam.count(base + ".WAV") && restam.count(base + ".XML")) << n;
    }
    PABXTimeOut = 90;
}
