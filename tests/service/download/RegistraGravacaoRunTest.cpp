// The download run's filing members: what the import calls, with the run's
// own fields, log and statistics row.

#include <gtest/gtest.h>

#include "common/ALaw.h"
#include "common/db/Esquema.h"
#include "tests/service/download/AmbienteDownload.h"
#include "tools/pabx-sim/Recordings.h"

namespace fs = std::filesystem;

TEST(RegistraGravacaoRun, MembrosDaCorridaUsamSeusCamposEContadores) {
    AmbienteDownloadTeste a("registra");
    EXIGE_BANCO(a.db);
    a.relogio.Define(Data(2026, 12, 10, 9, 0));
    // A unit database of this test from the installation's own script.
    const std::string arquivo = a.db.srv.pasta + "/registra-" + std::to_string(::getpid()) + ".fdb";
    const ParametrosConexao unidade{MontaStringConexao(a.db.srv.host, a.db.srv.porta, arquivo),
                                    a.db.srv.usuario, a.db.srv.senha};
    {
        Attachment att = Attachment::Cria(unidade, "WIN1252");
        ExecutaScript(att, ScriptBancoPABX());
    }
    struct Apaga {
        const ParametrosConexao& p;
        ~Apaga() {
            try {
                Attachment::Conecta(p).ApagaBanco();
            } catch (...) {
            }
        }
    } apaga{unidade};
    a.RegistraUnidade(7);
    auto t = a.Run(7, 0);
    t->BaseDadosPABX = unidade.banco;
    t->GanhoALaw = 4;
    t->Historico.DWN_DTINIDOWN = a.relogio.Agora();
    ASSERT_TRUE(t->BDRegistraHistoricoDownload(HistoricoInsere));

    const pabxsim::RecordingsSummary loja = pabxsim::MakeRecordings(t->PastaPABX, 2, 3);
    ASSERT_EQ(loja.pairs, 2);
    TPABX link;  // not connected: no extension has a name
    const fs::path w = loja.wavFiles[0];
    const std::string pasta = w.parent_path().string() + "/";
    EXPECT_EQ(t->BDRegistraGravacao(link, pasta, w.filename().string()), 0);
    EXPECT_EQ(t->BDRegistraGravacao(link, pasta, w.filename().string()), 1);
    EXPECT_EQ(t->Historico.DWN_ARQIMPORTADO, 1);
    EXPECT_EQ(t->Historico.DWN_AVDUPIMP, 1);

    // The statistics row holds the counters after every filing.
    {
        Attachment att = a.db.Conecta();
        Transaction tr(att, true);
        Statement st(tr,
                     "SELECT DWN_ARQIMPORTADO, DWN_AVDUPIMP FROM DWNHISTORY WHERE PAB_CODIGO = 7");
        Cursor c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        EXPECT_EQ(c.GetInt(0), 1);
        EXPECT_EQ(c.GetInt(1), 1);
    }
    // The row is in the unit's database, its PCM copy made with the run's gain.
    {
        Attachment att = Attachment::Conecta(unidade);
        Transaction tr(att, true);
        Statement st(tr, "SELECT GRV_BINDADOS FROM GRAVACAO WHERE PAB_CODIGO = 7");
        Cursor c = st.Abre();
        ASSERT_TRUE(c.Proxima());
        const std::string pcm = c.ReadBlob(0);
        const std::string alaw = LeTudo(w);
        ASSERT_EQ(pcm.size(), 44 + 2 * (alaw.size() - 44));
        const TabelaALaw tabela(4);
        for (std::size_t i = 44; i < 1044; ++i) {
            const auto amostra =
                static_cast<std::int16_t>(static_cast<std::uint8_t>(pcm[44 + 2 * (i - 44)]) |
                                          (static_cast<std::uint8_t>(pcm[45 + 2 * (i - 44)]) << 8));
            ASSERT_EQ(amostra, tabela[static_cast<std::uint8_t>(alaw[i])]) << i;
        }
        EXPECT_FALSE(c.Proxima());
    }
    const auto linhas = a.LinhasIMP(7);
    EXPECT_TRUE(Contem(linhas, "Registrou arquivo: " + pasta + "C"));
    EXPECT_TRUE(Contem(linhas, "Arquivo duplicado: "));

    // The encrypted-file members: a file of the run's folder and back.
    Grava(fs::path(t->PastaPABX) / "x.WAV", "dados de teste");
    ASSERT_TRUE(t->CriptografaArquivo(t->PastaPABX, "x.WAV"));
    fs::rename(fs::path(t->PastaPABX) / "x.WAV", fs::path(t->PastaPABX) / "original.WAV");
    ASSERT_TRUE(t->DescriptografaArquivo(0x81, a.banco->Configuracao()->CFG_CRIPTOKEY,
                                         t->PastaPABX + "x.dad"));
    EXPECT_EQ(LeTudo(fs::path(t->PastaPABX) / "x.WAV"), "dados de teste");
    EXPECT_EQ(TPABXDownloadFTP::ExtensaoTipoArquivo(0x82), ".DAD");
    EXPECT_EQ(TPABXDownloadFTP::ExtensaoTipoArquivo(2), ".OGG");
}
