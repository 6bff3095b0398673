// The outcome a whole run records in its statistics row (DWN_RESULTADO) when
// part of the unit's store could not be brought over or filed: the session
// with the simulated unit, the FTP transfer and the import into a unit
// database on the test server.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "tests/service/download/AmbienteDownload.h"
#include "tests/service/download/DownloadFTPServidor.h"
#include "tools/pabx-sim/Recordings.h"
#include "tools/pabx-sim/Simulator.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

int ResultadoDaLinha(AmbienteDownloadTeste& amb, int codigo) {
    Attachment att = amb.db.Conecta();
    Transaction tr(att, true);
    Statement st(tr, "SELECT DWN_RESULTADO FROM DWNHISTORY WHERE PAB_CODIGO = ?");
    st.SetInt(0, codigo);
    Cursor c = st.Abre();
    return c.Proxima() ? c.GetInt(0) : -1;
}

TEST(ResultadoExecucao, ArquivosDesistidosOuGravacoesRecusadasDaoFalha) {
    struct Caso {
        const char* nome;
        // Spoils the store (given its recordings) and gives the FTP server's options.
        std::function<std::vector<std::string>(const pabxsim::RecordingsSummary&)> prepara;
        int falhasDown;  // at least this many files given up
        int falhasImp;   // at least this many recordings refused by the filing
    } casos[] = {
        {"one file given up after every attempt",
         [](const pabxsim::RecordingsSummary& r) {
             return std::vector<std::string>{
                 "--fault", "cut-data:" + r.wavFiles.front().filename().string() + ":300"};
         },
         1, 0},
        {"one recording the filing refuses (cut inside its header)",
         [](const pabxsim::RecordingsSummary& r) {
             fs::resize_file(r.wavFiles.front(), 20);
             return std::vector<std::string>{};
         },
         0, 0},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        AmbienteDownloadTeste amb("resultado");
        EXIGE_BANCO(amb.db);
        constexpr int codigo = 16;
        amb.config.PABXTimeOut = 15;
        amb.config.FTPTentaDownload = 2;
        PABXTimeOut = 15;
        amb.RegistraUnidade(codigo);
        amb.CriaBancoUnidade();
        ASSERT_TRUE(amb.banco->BDCarregaConfiguracaoGeral());

        // Only whole recordings with their descriptions: a store that would
        // file cleanly but for the one item the case spoils.
        PastaTemporaria gerada, loja;
        const auto todas = pabxsim::MakeRecordings(gerada.Caminho(), 12, 5);
        pabxsim::RecordingsSummary resumo;
        for (const auto& w : todas.wavFiles) {
            fs::path x = w;
            x.replace_extension(".XML");
            if (!fs::exists(x) || fs::file_size(w) < 1000) continue;
            const fs::path destino = loja.Caminho() / fs::relative(w, gerada.Caminho());
            fs::create_directories(destino.parent_path());
            fs::copy_file(w, destino);
            fs::path destinoXML = destino;
            destinoXML.replace_extension(".XML");
            fs::copy_file(x, destinoXML);
            resumo.wavFiles.push_back(destino);
        }
        ASSERT_GE(resumo.wavFiles.size(), 2u);
        const auto opcoes = c.prepara(resumo);
        pabxsim::Scenario cenario;
        cenario.store = loja.Caminho();
        pabxsim::Simulator sim(cenario);
        sim.Start();
        ServidorFTPTeste ftp(loja.Caminho(), amb.pasta.Caminho() / "ftp", opcoes);

        auto t = amb.Run(codigo, sim.Port());
        t->FTPPorta = static_cast<std::uint16_t>(ftp.Porta());
        t->FTPUsuario = ftp.Usuario();
        t->FTPSenha = ftp.Senha();
        t->PausaReconexaoFTP = 100ms;
        t->Resume();
        ASSERT_TRUE(t->AguardaFim(240s));
        PABXTimeOut = 90;

        ASSERT_EQ(t->FimSessao(), efConcluido);
        EXPECT_GE(t->Historico.DWN_FALHASDOWN, c.falhasDown);
        EXPECT_GE(t->Historico.DWN_FALHASIMP, c.falhasImp);
        // Something was filed all the same: only the failure marks the run.
        EXPECT_GT(t->Historico.DWN_ARQIMPORTADO, 0);
        EXPECT_EQ(t->Historico.DWN_RESULTADO, ResultadoFalha);
        EXPECT_EQ(ResultadoDaLinha(amb, codigo), ResultadoFalha);
        // What could not be taken is still at the unit.
        EXPECT_TRUE(fs::exists(resumo.wavFiles.front()));
    }
}

}  // namespace
