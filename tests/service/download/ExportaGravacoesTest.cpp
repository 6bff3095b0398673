// The export of a period's recordings out of a unit database on the test
// Firebird server to both backup targets, the request's clearing, and the
// local test run over the simulated unit's FTP store.

#include "common/ArquivoCriptografado.h"
#include "common/IniFile.h"
#include "tests/service/download/BackupTeste.h"
#include "tools/pabx-sim/Recordings.h"

using namespace backupteste;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

const std::string kSenhaCifra = "chave-das-gravacoes";

struct LinhaGravacao {
    int codigo;
    DataHora data;
    std::string id;
    int tipo;
    std::string dados;
};

class ExportaGravacoes : public BackupBase {
  protected:
    void SetUp() override {
        BackupBase::SetUp();
        if (IsSkipped()) return;
        Executa("DELETE FROM GRAVACAO");
        fs::create_directories(raizFTP_);
        fs::create_directories(tmp_ / "prog");
    }

    void Executa(const std::string& sql) {
        Attachment att = Attachment::Conecta(inst_->Unidade(1));
        Transaction tr(att);
        tr.Executa(sql);
        tr.Commit();
    }
    void Insere(const LinhaGravacao& l) {
        Attachment att = Attachment::Conecta(inst_->Unidade(1));
        Transaction tr(att);
        Statement st(
            tr, "INSERT INTO GRAVACAO (GRV_CODIGO,PAB_CODIGO,GRV_DATAGRV,GRV_CONTROLE,GRV_IDFILE,"
                "GRV_TPFILE,GRV_BINDADOS) VALUES (?,1,?,?,?,?,?)");
        st.SetInt(0, l.codigo).SetTimestamp(1, l.data);
        st.SetText(2, (l.tipo & 0x80) ? CriptografaBytes(kSenhaCifra) : std::string());
        st.SetText(3, l.id).SetInt(4, l.tipo);
        if (l.dados.empty())
            st.SetNull(5);
        else
            st.SetBlob(5, (l.tipo & 0x80) ? CriptografaBytesDad(l.dados, kSenhaCifra) : l.dados);
        st.Executa();
        tr.Commit();
    }
    int ContaLinhas() {
        Attachment att = Attachment::Conecta(inst_->Unidade(1));
        Transaction tr(att, true);
        Statement st(tr, "SELECT COUNT(*) FROM GRAVACAO");
        Cursor c = st.Abre();
        c.Proxima();
        return c.GetInt(0);
    }

    IniFile Ini() const { return IniFile(tmp_ / "prog" / "VERUZADU.INI"); }
    void Pede(const std::string& inicio, const std::string& fim) {
        IniFile ini = Ini();
        ASSERT_TRUE(ini.WriteInteger("Exporta", "PABX", 1));
        ASSERT_TRUE(ini.WriteString("Exporta", "DataInicio", inicio));
        ASSERT_TRUE(ini.WriteString("Exporta", "DataFim", fim));
    }
    bool PedidoLimpo() const {
        const IniFile ini = Ini();
        return ini.ReadInteger("Exporta", "PABX", -1) == 0 &&
               ini.ReadString("Exporta", "DataInicio", "x").empty() &&
               ini.ReadString("Exporta", "DataFim", "x").empty();
    }

    // The period's rows: WAV, Ogg, encrypted WAV and Ogg, an empty BLOB; and
    // rows on both sides of it.
    void PeriodoTipico() {
        Insere(
            {1, Data(2024, 2, 1, 0, 0, 0), "D0000001\\X0000001\\R0000001.WAV", 1, Bytes(7000, 1)});
        Insere(
            {2, Data(2024, 2, 2, 9, 30, 0), "D0000001\\X0000001\\R0000002.WAV", 2, Bytes(5000, 2)});
        Insere({3, Data(2024, 2, 10, 12, 0, 0), "D0000001\\X0000002\\R0000003.WAV", 0x81,
                Bytes(6001, 3)});
        Insere({4, Data(2024, 2, 20, 18, 0, 0), "D0000001\\X0000002\\R0000004.WAV", 0x82,
                Bytes(4099, 4)});
        Insere({5, Data(2024, 2, 29, 23, 59, 59), "D0000001\\X0000002\\R0000005.WAV", 1, ""});
        Insere({6, Data(2024, 1, 31, 23, 59, 59), "D0000001\\X0000001\\R0000006.WAV", 1,
                Bytes(100, 6)});
        Insere(
            {7, Data(2024, 3, 1, 0, 0, 0), "D0000001\\X0000001\\R0000007.WAV", 1, Bytes(100, 7)});
    }
    std::map<std::string, std::string> EsperadoTipico() const {
        const std::string a = "PABX001/D0000001/X0000001/", b = "PABX001/D0000001/X0000002/";
        return {{a + "R0000001.WAV", Bytes(7000, 1)},
                {a + "R0000002.OGG", Bytes(5000, 2)},
                {b + "R0000003.WAV", Bytes(6001, 3)},
                {b + "R0000004.OGG", Bytes(4099, 4)},
                {b + "R0000005.WAV", ""}};
    }
    // The encrypted files at a target decipher to their plain copies.
    void ConfereCifrados(const fs::path& alvo) {
        const fs::path b = alvo / "PABX001/D0000001/X0000002";
        EXPECT_EQ(DescriptografaBytesDad(LeTudo(b / "R0000003.DAD"), kSenhaCifra), Bytes(6001, 3));
        EXPECT_EQ(DescriptografaBytesDad(LeTudo(b / "R0000004.DAD"), kSenhaCifra), Bytes(4099, 4));
    }
    std::map<std::string, std::string> SemCifrados(std::map<std::string, std::string> m) {
        std::erase_if(m, [](const auto& p) { return p.first.ends_with(".DAD"); });
        return m;
    }

    fs::path destino_ = tmp_ / "rede";
    fs::path raizFTP_ = tmp_ / "ftp";
};

TEST_F(ExportaGravacoes, PeriodoVaiAosDoisAlvosEmTodoFormato) {
    PeriodoTipico();
    ServidorFTPTeste srv(raizFTP_, tmp_ / "ftpw");
    for (int formato : {1, 2, 3}) {
        SCOPED_TRACE(formato);
        fs::remove_all(destino_);
        fs::remove_all(raizFTP_);
        fs::create_directories(raizFTP_);
        Alvos a = FTP(srv, formato);
        a.net = formato;
        a.pastaNet = destino_.string();
        Configura(a);
        Pede("01/02/2024", "29/02/2024");
        auto r = Execucao();
        EXPECT_TRUE(r->ExportaGravacoes(Data(2024, 2, 1, 0, 0, 0), Data(2024, 2, 29, 23, 59, 59)));
        for (const fs::path& alvo : {destino_, raizFTP_}) {
            SCOPED_TRACE(alvo.string());
            const auto la = Conteudo(alvo);
            EXPECT_EQ(SemCifrados(la), EsperadoTipico());
            EXPECT_EQ(la.size(), EsperadoTipico().size() + 2);
            ConfereCifrados(alvo);
        }
        EXPECT_TRUE(PedidoLimpo());
        EXPECT_FALSE(fs::exists(pastaPABX_ / "NORVIKA"));  // DelDir
        EXPECT_TRUE(Alertas().empty());
        const std::string log = Log();
        EXPECT_THAT(log, HasSubstr("Inicio exportação"));
        EXPECT_THAT(log,
                    HasSubstr("Exportar arquivos(5): 02/01/2024 00:00:00 à 02/29/2024 23:59:59"));
        EXPECT_THAT(log, HasSubstr("Fim exportação"));
        ApagaLog();
    }
}

TEST_F(ExportaGravacoes, SemBackupConfiguradoAlertaEGuardaOPedido) {
    PeriodoTipico();
    Configura(Alvos{});
    Pede("01/02/2024", "");
    auto r = Execucao();
    EXPECT_TRUE(r->ExportaGravacoes(Data(2024, 2, 1), DataHora{}));
    EXPECT_EQ(Alertas(), std::vector<std::string>{"Backup não está configurado"});
    EXPECT_EQ(Ini().ReadString("Exporta", "DataInicio", ""), "01/02/2024");
    EXPECT_EQ(Ini().ReadInteger("Exporta", "PABX", 0), 1);
    EXPECT_FALSE(fs::exists(pastaPABX_ / "NORVIKA"));
    EXPECT_THAT(Log(), Not(HasSubstr("Inicio exportação")));

    // An unreadable start: nothing at all, the request as it was.
    Alvos a;
    a.net = 1;
    a.pastaNet = destino_.string();
    Configura(a);
    EXPECT_FALSE(Execucao()->ExportaGravacoes(DataHora{}, DataHora{}));
    EXPECT_EQ(Ini().ReadString("Exporta", "DataInicio", ""), "01/02/2024");
    EXPECT_EQ(Ini().ReadInteger("Exporta", "PABX", 0), 1);
    EXPECT_FALSE(fs::exists(destino_));
}

TEST_F(ExportaGravacoes, IdentificacaoHostilNaoSaiDaPastaNemFazBackup) {
    PeriodoTipico();
    Insere({8, Data(2024, 2, 15), "..\\..\\x", 1, Bytes(50, 8)});
    Insere({9, Data(2024, 2, 16), "D0000001\\..\\x", 1, Bytes(50, 9)});
    Alvos a;
    a.net = 1;
    a.pastaNet = destino_.string();
    Configura(a);
    Pede("01/02/2024", "29/02/2024");
    auto r = Execucao();
    r->PastaPABX = (tmp_ / "prog" / "PABX001").string() + "/";
    EXPECT_FALSE(r->ExportaGravacoes(Data(2024, 2, 1), Data(2024, 2, 29, 23, 59, 59)));
    const std::string log = Log();
    EXPECT_THAT(log, HasSubstr("Ao exportar: ..\\..\\x ocorreu erro: "));
    EXPECT_THAT(log, HasSubstr("Ao exportar: D0000001\\..\\x ocorreu erro: "));
    EXPECT_THAT(log, Not(HasSubstr("Fim exportação")));
    EXPECT_FALSE(fs::exists(destino_));  // no backup run
    EXPECT_TRUE(PedidoLimpo());
    // Nothing was written anywhere but the unit's own folder (since gone).
    for (const auto& [nome, bytes] : Conteudo(tmp_.Caminho())) {
        EXPECT_THAT(nome, Not(HasSubstr("x"))) << nome;
        EXPECT_NE(bytes, Bytes(50, 8)) << nome;
    }
}

TEST_F(ExportaGravacoes, PeriodoVazioContaZeroELimpa) {
    PeriodoTipico();
    Alvos a;
    a.net = 2;
    a.pastaNet = destino_.string();
    Configura(a);
    Pede("01/01/2020", "31/12/2020");
    EXPECT_TRUE(Execucao()->ExportaGravacoes(Data(2020, 1, 1), Data(2020, 12, 31, 23, 59, 59)));
    const std::string log = Log();
    EXPECT_THAT(log, HasSubstr("Exportar arquivos(0): "));
    EXPECT_THAT(log, HasSubstr("Fim exportação"));
    EXPECT_TRUE(PedidoLimpo());
    EXPECT_TRUE(Conteudo(destino_).empty());
    EXPECT_TRUE(Alertas().empty());
}

TEST_F(ExportaGravacoes, ModoLocalApagaTudoEImportaALoja) {
    PeriodoTipico();
    const fs::path loja = tmp_ / "loja";
    pabxsim::MakeRecordings(loja, 3, 5);
    ServidorFTPTeste srv(loja, tmp_ / "ftpw");
    Configura(Alvos{});

    // The board's server down: the rows go all the same.
    {
        auto r = Execucao();
        r->FTPHost = "127.0.0.1";
        r->FTPPorta = 1;
        r->FTPUsuario = srv.Usuario();
        r->FTPSenha = srv.Senha();
        r->ProcessaLocal();
        EXPECT_EQ(ContaLinhas(), 0);
        EXPECT_THAT(Log(), Not(HasSubstr("Arquivos importados")));
    }
    PeriodoTipico();
    auto r = Execucao();
    r->FTPHost = "127.0.0.1";
    r->FTPPorta = static_cast<std::uint16_t>(srv.Porta());
    r->FTPUsuario = srv.Usuario();
    r->FTPSenha = srv.Senha();
    r->InicioPeriodo = Data(2000, 1, 1);
    r->FimPeriodo = Data(2099, 1, 1);
    r->ProcessaLocal();
    EXPECT_EQ(ContaLinhas(), 3);
    EXPECT_THAT(Log(), HasSubstr("Arquivos importados"));
}

}  // namespace

namespace {

// A request the operator writes while the export runs is the next one: it
// stays. The FTP target holds the export (a stalled upload) while it is written.
TEST_F(ExportaGravacoes, PedidoNovoDuranteAExportacaoFica) {
    PeriodoTipico();
    ServidorFTPTeste srv(raizFTP_, tmp_ / "ftpw", {"--fault-stor", "stall:R0000001:10"});
    Configura(FTP(srv, 1));
    Pede("01/02/2024", "29/02/2024");
    auto r = Execucao();
    std::thread t([&] { r->ExportaGravacoes(Data(2024, 2, 1), Data(2024, 2, 29, 23, 59, 59)); });
    const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < limite &&
           !fs::exists(raizFTP_ / "PABX001/D0000001/X0000001/~R0000001.WAV.enviando"))
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    IniFile ini = Ini();
    ASSERT_TRUE(ini.WriteString("Exporta", "DataInicio", "01/03/2024"));
    t.join();
    EXPECT_EQ(Ini().ReadString("Exporta", "DataInicio", ""), "01/03/2024");
    EXPECT_EQ(Ini().ReadInteger("Exporta", "PABX", 0), 1);
    EXPECT_THAT(Log(), HasSubstr("Fim exportação"));
}

}  // namespace
