// Filing recordings into a unit database installed on the test server, from a
// store the PABX simulator fills the way a unit does.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <mutex>

#include "common/CifraTexto.h"
#include "common/Configuracao.h"
#include "common/Arquivos.h"
#include "common/DataHora.h"
#include "common/Processos.h"
#include "service/download/ArquivamentoGravacao.h"
#include "service/download/ConversaoAudio.h"
#include "tests/support/InstalacaoTeste.h"
#include "tests/support/PastaTemporaria.h"
#include "tools/pabx-sim/Recordings.h"

namespace fs = std::filesystem;

namespace {

struct LinhaLog {
    std::uint16_t nivel;
    bool console;
    std::string texto;
};

class RegistraGravacao : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { inst_ = new InstalacaoTeste("grv16", {1}); }
    static void TearDownTestSuite() {
        delete inst_;
        inst_ = nullptr;
    }

    void SetUp() override {
        EXIGE_SERVIDOR(*inst_);
        static int proximo = 100;
        codigo_ = ++proximo;
        pastaPABX_ = pasta_.Caminho() / "PABX001";
        fs::create_directories(pastaPABX_);
        loja_ = pastaPABX_ / "baixados";
        cfg_ = std::make_shared<ConfiguracaoGeral>();
    }

    ContextoArquivamento Contexto() {
        ContextoArquivamento c;
        c.CodigoPABX = codigo_;
        c.PastaPABX = pastaPABX_;
        c.BaseDadosPABX = inst_->Unidade(1);
        c.BaseDadosPrincipal = inst_->Principal();
        c.Tabela = TabelaALaw(8);
        c.Configuracao = [this] { return std::shared_ptr<const ConfiguracaoGeral>(cfg_); };
        c.Log = [this](std::uint16_t n, bool console, const std::string& t) {
            log_.push_back({n, console, t});
        };
        c.Relogio = [] { return DataHora{2024, 3, 5, 7, 8, 9, 0}; };
        return c;
    }

    // Rows of this test's unit code, in filing order.
    struct Linha {
        std::string comanda, ramal, destino, conta, controle, idfile;
        DataHora datagrv;
        int tpfile = 0, tpliga = 0, cliente = 0, duracao = 0, temaudio = 0;
        bool blobNulo = true;
        std::string blob;
    };
    std::vector<Linha> Linhas() {
        Attachment att = Attachment::Conecta(inst_->Unidade(1));
        Transaction tr(att, true);
        Statement st(tr,
                     "SELECT GRV_COMANDA, GRV_RAMGRAVADO, GRV_DESTINO, GRV_CODCONTA, GRV_CONTROLE, "
                     "GRV_IDFILE, "
                     "GRV_DATAGRV, GRV_TPFILE, GRV_TPLIGA, CLI_CODIGO, GRV_DURACAO, GRV_TEMAUDIO, "
                     "GRV_BINDADOS, "
                     "GRV_DATARG FROM GRAVACAO WHERE PAB_CODIGO=? ORDER BY GRV_CODIGO");
        st.SetInt(0, codigo_);
        std::vector<Linha> r;
        for (Cursor c = st.Abre(); c.Proxima();) {
            Linha l;
            l.comanda = c.GetText(0);
            l.ramal = c.GetText(1);
            l.destino = c.GetText(2);
            l.conta = c.GetText(3);
            l.controle = c.GetText(4);
            l.idfile = c.GetText(5);
            l.datagrv = c.GetTimestamp(6);
            l.tpfile = c.GetInt(7);
            l.tpliga = c.GetInt(8);
            l.cliente = c.GetInt(9);
            l.duracao = c.GetInt(10);
            l.temaudio = c.GetInt(11);
            l.blobNulo = c.IsNull(12);
            if (!l.blobNulo) l.blob = c.ReadBlob(12);
            EXPECT_FALSE(c.IsNull(13));
            r.push_back(std::move(l));
        }
        return r;
    }

    bool Logou(std::string_view inicio, std::uint16_t nivel) const {
        return std::any_of(log_.begin(), log_.end(), [&](const LinhaLog& l) {
            return l.nivel == nivel && l.texto.starts_with(inicio);
        });
    }

    // Files of the working folder other than the downloaded recordings and NOK/.
    std::vector<std::string> Sobras() const {
        std::vector<std::string> r;
        for (auto it = fs::recursive_directory_iterator(pastaPABX_);
             it != fs::recursive_directory_iterator(); ++it) {
            const std::string nome = it->path().filename().string();
            if (it->is_regular_file() && !nome.starts_with("R") &&
                it->path().string().find("/NOK/") == std::string::npos)
                r.push_back(fs::relative(it->path(), pastaPABX_).string());
        }
        return r;
    }

    // One recording in a folder of the store, with its description.
    fs::path UmaGravacao(const std::string& xml, double segundos = 2.0,
                         const std::string& nome = "R0000001") {
        const fs::path pasta = loja_ / "GR101024" / "X0001001";
        fs::create_directories(pasta);
        const auto n = static_cast<std::uint32_t>(segundos * 8000);
        pabxsim::Bytes h = pabxsim::ALawWavHeader(n);
        std::string bytes(h.begin(), h.end());
        for (std::uint32_t i = 0; i < n; ++i) bytes.push_back(static_cast<char>(0xD5 ^ (i % 64)));
        if (segundos > 0) Grava(pasta / (nome + ".WAV"), bytes);
        if (!xml.empty()) Grava(pasta / (nome + ".XML"), xml);
        return pasta;
    }

    static std::string Xml(const std::string& destino = "(48) 1234-5678",
                           const std::string& tipo = "SAIDA",
                           const std::string& inicio = "1728550000",
                           const std::string& extra = "<audio>sim</audio>",
                           const std::string& conta = "") {
        return "<?xml version=\"1.0\" "
               "encoding=\"ISO-8859-1\"?>\r\n<gravacao><ramalcomanda>1001</ramalcomanda>"
               "<ramalgravado>1001</ramalgravado><nomedestino>" +
               destino + "</nomedestino><codconta>" + conta + "</codconta>" +
               (tipo == "-" ? "" : "<tipoligacao>" + tipo + "</tipoligacao>") + "<iniciogravacao>" +
               inicio + "</iniciogravacao>" + extra + "</gravacao>\r\n";
    }

    static InstalacaoTeste* inst_;
    PastaTemporaria pasta_;
    fs::path pastaPABX_, loja_;
    int codigo_ = 0;
    std::shared_ptr<ConfiguracaoGeral> cfg_;
    std::vector<LinhaLog> log_;
};
InstalacaoTeste* RegistraGravacao::inst_ = nullptr;

// The same description declared as UTF-8.
std::string Utf8(std::string xml) {
    const std::string de = "ISO-8859-1";
    xml.replace(xml.find(de), de.size(), "UTF-8");
    return xml;
}

std::string Sox(const fs::path& pasta, std::vector<std::string> args) {
    OpcoesProcesso o;
    o.saida = pasta / "sox.out";
    o.limite = std::chrono::minutes(2);
    EXPECT_TRUE(ExecutaProcesso(args, o).Sucesso());
    std::string s = LeTudo(o.saida);
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

}  // namespace

TEST_F(RegistraGravacao, LojaDoSimuladorUmaLinhaPorItemESegundaPassagemDuplicada) {
    const pabxsim::RecordingsSummary loja = pabxsim::MakeRecordings(loja_, 20, 16);
    // The import files every WAV, and a description without its WAV under the WAV's name.
    std::vector<fs::path> itens = loja.wavFiles;
    for (const auto& x : loja.xmlFiles) {
        fs::path w = x;
        w.replace_extension(".WAV");
        if (!fs::exists(w)) itens.push_back(w);
    }
    std::sort(itens.begin(), itens.end());
    ASSERT_EQ(itens.size(), 20u);

    ArquivamentoGravacao a(Contexto());
    ContadoresArquivamento c;
    for (const auto& w : itens)
        EXPECT_EQ(a.Registra(w.parent_path(), w.filename().string(), c), 0) << w;
    EXPECT_EQ(c.DWN_ARQIMPORTADO, 20);
    EXPECT_EQ(c.DWN_FALHASXML, loja.wavOnly);
    EXPECT_EQ(c.DWN_FALHASIMP + c.DWN_AVDUPIMP + c.DWN_ARQCONVOGG + c.DWN_FALHASOGG, 0);
    EXPECT_TRUE(Logou("XML inexistente: ", LogInfo));
    EXPECT_TRUE(std::any_of(log_.begin(), log_.end(), [](const LinhaLog& l) {
        return l.console && l.texto.starts_with("Registrou arquivo: ");
    }));

    const auto linhas = Linhas();
    ASSERT_EQ(linhas.size(), 20u);
    int comAudio = 0, semWav = 0, semAudio = 0;
    for (std::size_t i = 0; i < itens.size(); ++i) {
        SCOPED_TRACE(itens[i].string());
        const fs::path& w = itens[i];
        const Linha& l = linhas[i];
        EXPECT_EQ(l.idfile, w.parent_path().parent_path().filename().string() + "\\" +
                                w.parent_path().filename().string() + "\\" + w.filename().string());
        fs::path xml = w;
        xml.replace_extension(".XML");
        DadosGravacao d;
        if (LeDescricaoGravacao(xml, d).estado == EstadoXML::Lido) {
            EXPECT_EQ(l.comanda, d.Comanda);
            EXPECT_EQ(l.ramal, d.RamalGravado);
            EXPECT_EQ(l.destino, d.NumeroDestino);
            EXPECT_EQ(l.tpliga, d.TipoLigacao);
            EXPECT_EQ(l.datagrv, UnixParaData(d.Inicio));
        }
        const bool wavCheio = TamanhoArquivo(w) > 0;
        const bool audioNao = ArquivoContemTexto(xml, "<audio>nao</audio>");
        // A WAV with audio is stored whatever its description says.
        if (wavCheio) {
            ++comAudio;
            EXPECT_EQ(l.temaudio, 1);
            EXPECT_EQ(l.tpfile, 1);
            EXPECT_EQ(l.duracao, DuracaoWAV(w));
            fs::path copia = w.parent_path() / ("C" + w.filename().string().substr(1));
            EXPECT_EQ(l.blob, LeTudo(copia));
        } else {
            EXPECT_TRUE(l.blobNulo);
            EXPECT_EQ(l.duracao, 0);
            if (audioNao) {
                ++semAudio;
                EXPECT_EQ(l.temaudio, 0);
            } else {
                ++semWav;
                EXPECT_EQ(l.temaudio, 2);
            }
        }
    }
    EXPECT_EQ(comAudio, loja.pairs + loja.wavOnly + loja.noAudioElement + loja.audioNotSim);
    EXPECT_EQ(semWav, loja.emptyWav + loja.xmlOnly);
    EXPECT_EQ(semAudio, 0);

    // A stored BLOB is a WAV sox reads at 8 kHz.
    const auto primeiro =
        std::find_if(linhas.begin(), linhas.end(), [](const Linha& l) { return !l.blobNulo; });
    ASSERT_NE(primeiro, linhas.end());
    Grava(pasta_.Caminho() / "blob.wav", primeiro->blob);
    EXPECT_EQ(Sox(pasta_.Caminho(), {"soxi", "-r", (pasta_.Caminho() / "blob.wav").string()}),
              "8000");

    // Filed again (a second download of the same store): all duplicates, no new row.
    ContadoresArquivamento c2;
    for (const auto& w : itens)
        EXPECT_EQ(a.Registra(w.parent_path(), w.filename().string(), c2), 1) << w;
    EXPECT_EQ(c2.DWN_AVDUPIMP, 20);
    EXPECT_EQ(c2.DWN_ARQIMPORTADO, 0);
    EXPECT_EQ(Linhas().size(), 20u);
    EXPECT_TRUE(Logou("Arquivo duplicado: ", LogInfo));
    // One listing: begin and end of two separate copies are no range.
    const auto sobras = Sobras();
    EXPECT_TRUE(std::all_of(sobras.begin(), sobras.end(), [](const std::string& s) {
        return fs::path(s).filename().string().starts_with("C");
    })) << sobras.size();
}

TEST_F(RegistraGravacao, OggCriptografadoDecifraComSuaPropriaChaveDepoisDaTroca) {
    cfg_->CFG_CONVERTOGG = 1;
    cfg_->CFG_CRIPTOGRAFIA = 1;
    cfg_->CFG_CRIPTOKEY = CriptografaTexto("Conexão");
    const std::string chaveAntiga = cfg_->CFG_CRIPTOKEY;
    // The configuration is reloaded while the filing runs: every later read sees the new key.
    auto ctx = Contexto();
    int leituras = 0;
    ctx.Configuracao = [&]() -> std::shared_ptr<const ConfiguracaoGeral> {
        auto c = std::make_shared<ConfiguracaoGeral>(*cfg_);
        if (leituras++ > 0) c->CFG_CRIPTOKEY = CriptografaTexto("outra chave");
        return c;
    };
    const fs::path pasta = UmaGravacao(Xml(), 3.0);
    ArquivamentoGravacao a(std::move(ctx));
    ContadoresArquivamento c;
    ASSERT_EQ(a.Registra(pasta, "R0000001.WAV", c), 0);
    EXPECT_EQ(c.DWN_ARQCONVOGG, 1);

    const auto linhas = Linhas();
    ASSERT_EQ(linhas.size(), 1u);
    EXPECT_EQ(linhas[0].tpfile, 0x82);
    EXPECT_EQ(linhas[0].controle, chaveAntiga);
    EXPECT_EQ(linhas[0].blob, LeTudo(pasta / "C0000001.dad"));

    const fs::path dad = pasta_.Caminho() / "saida" / "X.dad";
    fs::create_directories(dad.parent_path());
    Grava(dad, linhas[0].blob);
    ASSERT_TRUE(a.DescriptografaArquivo(linhas[0].tpfile, linhas[0].controle, dad));
    const fs::path ogg = dad.parent_path() / "X.OGG";
    EXPECT_EQ(LeTudo(ogg), LeTudo(pasta / "C0000001.ogg"));
    EXPECT_EQ(Sox(pasta_.Caminho(), {"soxi", "-t", ogg.string()}), "vorbis");
    EXPECT_TRUE(Logou("Criptografando: ", LogInfo));
    EXPECT_TRUE(Logou("Fim criptografia: ", LogInfo));
    EXPECT_TRUE(Logou("Resultado conversão to OGG (Sucesso): ", LogInfo));

    // A file shorter than its header gives the reader's line and no output.
    Grava(dad.parent_path() / "Y.dad", "curto");
    EXPECT_FALSE(a.DescriptografaArquivo(0x81, linhas[0].controle, dad.parent_path() / "Y.dad"));
    EXPECT_FALSE(fs::exists(dad.parent_path() / "Y.WAV"));
    EXPECT_TRUE(Logou("Ocorreu erro ao processar arquivo", LogInfo));
}

TEST_F(RegistraGravacao, FormatosDeBackupNaoMudamOArquivoGuardado) {
    struct Caso {
        const char* nome;
        int ogg, cripto, net, ftp;
        std::string chave;
        int tpfile;
        std::vector<std::string> arquivos;  // working outputs beside the WAV
        int convOgg;
    };
    const Caso casos[] = {
        {"ogg so para backup", 0, 0, 2, 0, "", 1, {"C0000001.WAV", "C0000001.ogg"}, 1},
        {"dad so para backup",
         0,
         0,
         0,
         3,
         CriptografaTexto("k"),
         1,
         {"C0000001.WAV", "C0000001.dad"},
         0},
        {"chave em branco", 0, 1, 0, 0, CriptografaTexto("   "), 1, {"C0000001.WAV"}, 0},
        {"wav cifrado",
         0,
         1,
         0,
         0,
         CriptografaTexto("k"),
         0x81,
         {"C0000001.WAV", "C0000001.dad"},
         0},
    };
    int n = 0;
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nome);
        *cfg_ = ConfiguracaoGeral{};
        cfg_->CFG_CONVERTOGG = caso.ogg;
        cfg_->CFG_CRIPTOGRAFIA = caso.cripto;
        cfg_->CFG_NETBACKUP = caso.net;
        cfg_->CFG_FTPBACKUP = caso.ftp;
        cfg_->CFG_CRIPTOKEY = caso.chave;
        const fs::path pasta = UmaGravacao(Xml("1", "SAIDA", std::to_string(1728550000 + ++n)));
        for (const auto& e : fs::directory_iterator(pasta))
            if (e.path().filename().string().starts_with("C")) fs::remove(e.path());
        ArquivamentoGravacao a(Contexto());
        ContadoresArquivamento c;
        ASSERT_EQ(a.Registra(pasta, "R0000001.WAV", c), 0);
        EXPECT_EQ(c.DWN_ARQCONVOGG, caso.convOgg);
        const Linha l = Linhas().back();
        EXPECT_EQ(l.tpfile, caso.tpfile);
        EXPECT_EQ(l.controle, caso.tpfile & 0x80 ? caso.chave : "");
        EXPECT_EQ(l.blob, LeTudo(pasta / (caso.tpfile & 0x80 ? "C0000001.dad" : "C0000001.WAV")));
        std::vector<std::string> achados;
        for (const auto& e : fs::directory_iterator(pasta))
            if (e.path().filename().string().starts_with("C"))
                achados.push_back(e.path().filename().string());
        std::sort(achados.begin(), achados.end());
        EXPECT_EQ(achados, caso.arquivos);
    }
}

TEST_F(RegistraGravacao, DescricoesDificeisGuardamOAudio) {
    struct Caso {
        const char* nome;
        std::string xml;
        int temaudio;
        bool falhaXML;
        const char* linhaLog;
        std::string destino, conta;
        int tpliga;
    };
    const Caso casos[] = {
        {"sem elemento audio", Xml("1", "SAIDA", "1728550001", ""), 1, false, nullptr, "1", "", 1},
        {"audio SIM", Xml("1", "SAIDA", "1728550002", "<audio>SIM</audio>"), 1, false, nullptr, "1",
         "", 1},
        {"2 MiB", Xml("1", "SAIDA", "1728550003") + std::string(2 << 20, ' '), 1, true,
         "Erro em XML: ", "", "", 1},
        {"nao e XML", "<<<", 1, true, "Erro em XML: ", "", "", 1},
        {"audio num comentario", Xml("1", "SAIDA", "1728550004", "<!-- <audio> -->"), 1, true,
         "Erro em XML: ", "1", "", 1},
        {"fora do WIN1252 e 25 digitos",
         Utf8(Xml("1234567890123456789012345", "ENTRADA", "1728550005", "<audio>sim</audio>",
                  "日本")),
         1, false, nullptr, "12345678901234567890", "??", 2},
        // Without a call type the link decides: "1001" names an extension.
        {"sem tipoligacao", Xml("1001", "-", "1728550006"), 1, true, "Erro em XML: ", "1001", "",
         0},
    };
    int n = 0;
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nome);
        log_.clear();
        const std::string nome = "R000010" + std::to_string(++n);
        const fs::path pasta = UmaGravacao(caso.xml, 1.0, nome);
        auto ctx = Contexto();
        ArquivamentoGravacao a(std::move(ctx));
        a.DefineBuscaRamal([](std::string_view s) { return s == "1001" ? 1001 : 0; });
        ContadoresArquivamento c;
        ASSERT_EQ(a.Registra(pasta, nome + ".WAV", c), 0);
        EXPECT_EQ(c.DWN_FALHASXML, caso.falhaXML ? 1 : 0);
        const Linha l = Linhas().back();
        EXPECT_EQ(l.temaudio, caso.temaudio);
        EXPECT_EQ(l.blobNulo, caso.temaudio != 1);
        EXPECT_EQ(l.tpliga, caso.tpliga);
        if (!caso.destino.empty()) {
            EXPECT_EQ(l.destino, caso.destino);
        }
        EXPECT_EQ(l.conta, caso.conta);
        if (caso.linhaLog) {
            EXPECT_TRUE(Logou(caso.linhaLog, LogErro));
            // The unreadable description is kept under NOK/ with its two folders.
            EXPECT_TRUE(fs::exists(pastaPABX_ / "NOK" / "GR101024" / "X0001001" / (nome + ".XML")));
        }
    }
}

TEST_F(RegistraGravacao, DataDaGravacaoEContato) {
    // Without a start time the WAV's own date is the recording's date.
    const fs::path pasta = UmaGravacao(Xml("(48) 1234-5678", "SAIDA", "0"));
    const DataHora data{2024, 10, 9, 14, 30, 15, 0};
    ASSERT_TRUE(AjustaDataArquivo(pasta / "R0000001.WAV", data));
    // A ten-digit number with the area code is looked up without it.
    cfg_->DDD = "48";
    {
        Attachment att = Attachment::Conecta(inst_->Principal(true));
        att.Executa("INSERT INTO TELEFONE (CLI_CODIGO, TEL_NUMERO) VALUES (" +
                    std::to_string(codigo_) + ", '12345678')");
    }
    ArquivamentoGravacao a(Contexto());
    ContadoresArquivamento c;
    ASSERT_EQ(a.Registra(pasta, "R0000001.WAV", c), 0);
    Linha l = Linhas().back();
    EXPECT_EQ(l.datagrv, data);
    EXPECT_EQ(l.cliente, codigo_);
    EXPECT_EQ(a.BDBuscaCliente("48123456", "48"), 0);  // eight digits: looked up unchanged
    EXPECT_EQ(a.BDBuscaCliente("4812345678", "48"), codigo_);

    // A description filed alone (its WAV never came) keeps its own date, so it
    // is recognised when it comes again.
    const fs::path sozinha = UmaGravacao(Xml("1", "SAIDA", "0"), 0, "R0000002");
    const DataHora dataXml{2024, 10, 9, 15, 0, 0, 0};
    ASSERT_TRUE(AjustaDataArquivo(sozinha / "R0000002.XML", dataXml));
    EXPECT_EQ(a.Registra(sozinha, "R0000002.WAV", c), 0);
    EXPECT_EQ(Linhas().back().datagrv, dataXml);
    EXPECT_EQ(Linhas().back().temaudio, 2);
    EXPECT_EQ(a.Registra(sozinha, "R0000002.WAV", c), 1);
}

TEST_F(RegistraGravacao, FalhasDeixamAGravacaoNoPABXESemArquivoParcial) {
    // A WAV whose header is not canonical A-law: 6, a copy under NOK, no row.
    {
        const fs::path pasta = UmaGravacao(Xml());
        std::string wav = LeTudo(pasta / "R0000001.WAV");
        wav[20] = 1;  // PCM
        Grava(pasta / "R0000001.WAV", wav);
        ArquivamentoGravacao a(Contexto());
        ContadoresArquivamento c;
        EXPECT_EQ(a.Registra(pasta, "R0000001.WAV", c), 6);
        EXPECT_TRUE(Logou("Erro em WAV: ", LogErro));
        EXPECT_TRUE(Logou("Falhou conversão WAV: ", LogErro));
        EXPECT_TRUE(fs::exists(pastaPABX_ / "NOK" / "R0000001.WAV"));
        EXPECT_TRUE(Linhas().empty());
        EXPECT_EQ(Sobras(), std::vector<std::string>{});
        fs::remove_all(loja_);
    }
    // The unit's database unreachable: 7, the line says the connection is
    // lost (without the statement, the same for every one of them); the
    // working outputs of the failed filing are gone.
    {
        log_.clear();
        cfg_->CFG_CONVERTOGG = 1;
        const fs::path pasta = UmaGravacao(Xml());
        auto ctx = Contexto();
        ctx.BaseDadosPABX.banco = MontaStringConexao("127.0.0.1", 1, "/nada.fdb");
        ArquivamentoGravacao a(std::move(ctx));
        ContadoresArquivamento c;
        EXPECT_EQ(a.Registra(pasta, "R0000001.WAV", c), 7);
        EXPECT_EQ(c.DWN_FALHASIMP, 1);
        EXPECT_TRUE(Logou("INSGRV: Conexão com o banco de dados perdida: ", LogErro));
        EXPECT_FALSE(std::any_of(log_.begin(), log_.end(), [](const LinhaLog& l) {
            return l.texto.find("INSERT INTO GRAVACAO") != std::string::npos;
        }));
        EXPECT_EQ(Sobras(), std::vector<std::string>{});
        fs::remove_all(loja_);
    }
    // The stored file unreadable when its BLOB is written: 5, rolled back.
    {
        log_.clear();
        cfg_->CFG_CONVERTOGG = 0;
        const fs::path pasta = UmaGravacao(Xml());
        auto ctx = Contexto();
        ctx.AntesDeGravar = [](const fs::path& arquivo) {
            fs::remove(arquivo);
            fs::create_directory(arquivo);
        };
        ArquivamentoGravacao a(std::move(ctx));
        ContadoresArquivamento c;
        EXPECT_EQ(a.Registra(pasta, "R0000001.WAV", c), 5);
        EXPECT_EQ(c.DWN_FALHASIMP, 1);
        EXPECT_TRUE(Logou("Erro grv: ", LogInfo));
        EXPECT_TRUE(Linhas().empty());
        fs::remove_all(pasta / "C0000001.WAV");
        // And missing altogether: 5 as well, with a line.
        log_.clear();
        auto ctx2 = Contexto();
        ctx2.AntesDeGravar = [](const fs::path& arquivo) { fs::remove(arquivo); };
        ArquivamentoGravacao b(std::move(ctx2));
        EXPECT_EQ(b.Registra(pasta, "R0000001.WAV", c), 5);
        EXPECT_TRUE(Logou("Erro grv: ", LogInfo));
        EXPECT_TRUE(Linhas().empty());
        EXPECT_EQ(Sobras(), std::vector<std::string>{});
        fs::remove_all(loja_);
    }
    // A working folder where nothing can be written (a file stands in its
    // place): the conversion fails with 6 and nothing is left behind.
    {
        log_.clear();
        const fs::path pasta = UmaGravacao(Xml());
        auto ctx = Contexto();
        ctx.PastaPABX = pasta_.Caminho() / "arquivo-no-lugar-da-pasta";
        Grava(ctx.PastaPABX, "x");
        ArquivamentoGravacao a(std::move(ctx));
        ContadoresArquivamento c;
        EXPECT_EQ(a.Registra(pasta, "R0000001.WAV", c), 6);
        EXPECT_TRUE(Logou("Erro em WAV: ", LogErro));
        EXPECT_TRUE(Linhas().empty());
        EXPECT_EQ(Sobras(), std::vector<std::string>{});
    }
    // The finished copy cannot take its place beside the WAV (a folder holds
    // the name): 6, and the private copy is gone too.
    {
        log_.clear();
        fs::remove_all(loja_);
        const fs::path pasta = UmaGravacao(Xml());
        fs::create_directories(pasta / "C0000001.WAV" / "ocupado");
        ArquivamentoGravacao a(Contexto());
        ContadoresArquivamento c;
        EXPECT_EQ(a.Registra(pasta, "R0000001.WAV", c), 6);
        EXPECT_TRUE(Logou("Erro em WAV: ", LogErro));
        EXPECT_TRUE(Linhas().empty());
        EXPECT_EQ(Sobras(), std::vector<std::string>{});
    }
    // A killed run's half-written outputs are cleared by the next run's object.
    fs::create_directory(pastaPABX_ / ".arquivando-abc123");
    Grava(pastaPABX_ / ".arquivando-abc123" / "C0000001.WAV", "meio");
    { ArquivamentoGravacao a(Contexto()); }
    EXPECT_FALSE(fs::exists(pastaPABX_ / ".arquivando-abc123"));
}

TEST_F(RegistraGravacao, ConexaoDaCorridaPerdidaEhRefeita) {
    ArquivamentoGravacao a(Contexto());
    ContadoresArquivamento c;
    const fs::path pasta = UmaGravacao(Xml("1", "SAIDA", "1728550100"));
    ASSERT_EQ(a.Registra(pasta, "R0000001.WAV", c), 0);
    // The server ends the run's kept connection (as a restart or an administrator would).
    {
        ParametrosConexao admin = inst_->Unidade(1);
        admin.usuario = inst_->srv.usuario;
        admin.senha = inst_->srv.senha;
        Attachment att = Attachment::Conecta(admin);
        const auto n =
            att.Executa("DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID <> CURRENT_CONNECTION "
                        "AND MON$SYSTEM_FLAG = 0");
        ASSERT_GE(n, 1u);
    }
    const fs::path outra = UmaGravacao(Xml("1", "SAIDA", "1728550101"), 1.0, "R0000002");
    EXPECT_EQ(a.Registra(outra, "R0000002.WAV", c), 0);
    EXPECT_EQ(c.DWN_ARQIMPORTADO, 2);
    EXPECT_EQ(Linhas().size(), 2u);
}

TEST_F(RegistraGravacao, ErroXMLDecideSeADescricaoIlegivelConta) {
    for (bool erroXML : {false, true}) {
        SCOPED_TRACE(erroXML);
        const std::string nome = erroXML ? "R0000012" : "R0000011";
        const fs::path pasta = UmaGravacao("<gravacao>", 1.0, nome);
        auto ctx = Contexto();
        ctx.ErroXML = erroXML;
        ArquivamentoGravacao a(std::move(ctx));
        ContadoresArquivamento c;
        EXPECT_EQ(a.Registra(pasta, nome + ".WAV", c), 0);
        EXPECT_EQ(c.DWN_FALHASXML, erroXML ? 0 : 1);
        EXPECT_TRUE(Logou("Erro em XML: ", LogErro));
    }
    // A name that would leave its folder is refused before anything is read.
    ArquivamentoGravacao a(Contexto());
    ContadoresArquivamento c;
    EXPECT_EQ(a.Registra(loja_, "..", c), 5);
    EXPECT_EQ(a.Registra(loja_, "", c), 5);
    EXPECT_EQ(c.DWN_FALHASIMP, 2);
}

// What the description says of the audio against what the WAV holds: a WAV
// with audio is always stored (and a description that denies it is logged);
// an empty WAV is a missing file only when the description says "sim".
TEST_F(RegistraGravacao, AudioDaDescricaoContraOWAV) {
    struct Caso {
        const char* audio;  // the <audio> element's text
        bool wavCheio;
        int temaudio;
        bool linhaSemAudio;  // "XML indica gravação sem áudio..." logged
    };
    const Caso casos[] = {
        {"sim", true, 1, false},    {"SIM", true, 1, false},  {"Sim", true, 1, false},
        {" sim", true, 1, false},   {"sim ", true, 1, false}, {"\r\n sim\t", true, 1, false},
        {"nao", true, 1, true},     {"", true, 1, true},      {"SIM", false, 2, false},
        {" sim ", false, 2, false}, {"nao", false, 0, false},
    };
    int n = 0;
    for (const auto& caso : casos) {
        SCOPED_TRACE(std::string("[") + caso.audio + "] " + (caso.wavCheio ? "cheio" : "vazio"));
        log_.clear();
        const std::string nome = "R00002" + std::to_string(10 + ++n);
        const fs::path pasta = UmaGravacao(Xml("1", "SAIDA", std::to_string(1728551000 + n),
                                               std::string("<audio>") + caso.audio + "</audio>"),
                                           1.0, nome);
        if (!caso.wavCheio) Grava(pasta / (nome + ".WAV"), "");
        ArquivamentoGravacao a(Contexto());
        ContadoresArquivamento c;
        ASSERT_EQ(a.Registra(pasta, nome + ".WAV", c), 0);
        EXPECT_EQ(c.DWN_FALHASXML, 0);
        const Linha l = Linhas().back();
        EXPECT_EQ(l.temaudio, caso.temaudio);
        EXPECT_EQ(l.blobNulo, caso.temaudio != 1);
        if (caso.temaudio == 1) {
            EXPECT_EQ(l.blob, LeTudo(pasta / ("C" + nome.substr(1) + ".WAV")));
            EXPECT_EQ(l.duracao, 1);
        }
        EXPECT_EQ(Logou("XML indica gravação sem áudio, áudio do WAV registrado: " +
                            (pasta / (nome + ".WAV")).string(),
                        LogInfo),
                  caso.linhaSemAudio);
    }
}

// The description is found beside its WAV whatever the case of its name.
TEST_F(RegistraGravacao, DescricaoComNomeEmOutraCaixa) {
    int n = 0;
    for (const char* xml : {"r%.xml", "R%.Xml", "r%.XML", "R%.xml", "r%.xMl"}) {
        SCOPED_TRACE(xml);
        log_.clear();
        const std::string nome = "R00003" + std::to_string(10 + ++n);
        const fs::path pasta = UmaGravacao("", 1.0, nome);
        std::string nomeXml = xml;
        nomeXml.replace(nomeXml.find('%'), 1, nome.substr(1));
        Grava(pasta / nomeXml, Xml("(48) 5555-0101", "ENTRADA", std::to_string(1728552000 + n)));
        ArquivamentoGravacao a(Contexto());
        ContadoresArquivamento c;
        ASSERT_EQ(a.Registra(pasta, nome + ".WAV", c), 0);
        EXPECT_EQ(c.DWN_FALHASXML, 0);
        EXPECT_FALSE(Logou("XML inexistente", LogInfo));
        const Linha l = Linhas().back();
        EXPECT_EQ(l.comanda, "1001");
        EXPECT_EQ(l.destino, "4855550101");
        EXPECT_EQ(l.tpliga, 2);
        EXPECT_EQ(l.datagrv, UnixParaData(1728552000 + n));
        EXPECT_EQ(l.temaudio, 1);
    }
}

// Without a start in the description the row's date is the file's own, which
// a server without file times makes the moment of each download: the same
// file brought again (its removal failed, or the run was killed after the
// commit) is still recognised, and another call under the same name is not
// taken for it.
TEST_F(RegistraGravacao, SemInicioAMesmaGravacaoBaixadaDeNovoNaoDuplica) {
    struct Caso {
        const char* nome;
        std::string inicio;  // "-": no description at all
        bool comWav;
    };
    const Caso casos[] = {
        {"iniciogravacao 0", "0", true},
        {"iniciogravacao vazio", "", true},
        {"iniciogravacao nao numerico", "x", true},
        {"sem descricao", "-", true},
        {"descricao sem WAV", "0", false},
    };
    int n = 0;
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nome);
        const std::string nome = "R00004" + std::to_string(10 + ++n);
        const fs::path pasta = UmaGravacao(caso.inicio == "-" ? "" : Xml("1", "SAIDA", caso.inicio),
                                           caso.comWav ? 1.0 : 0, nome);
        const fs::path wav = pasta / (nome + ".WAV");
        const fs::path xml = pasta / (nome + ".XML");
        auto baixado = [&](const DataHora& quando) {
            if (caso.comWav) {
                ASSERT_TRUE(AjustaDataArquivo(wav, quando));
            }
            if (caso.inicio != "-") {
                ASSERT_TRUE(AjustaDataArquivo(xml, quando));
            }
        };
        const std::size_t antes = Linhas().size();
        baixado(DataHora{2024, 10, 9, 14, 30, 15, 0});
        {
            ArquivamentoGravacao a(Contexto());
            ContadoresArquivamento c;
            ASSERT_EQ(a.Registra(pasta, nome + ".WAV", c), 0);
        }
        // Downloaded again a minute later, by a new run.
        baixado(DataHora{2024, 10, 9, 14, 31, 15, 0});
        log_.clear();
        {
            ArquivamentoGravacao a(Contexto());
            ContadoresArquivamento c;
            EXPECT_EQ(a.Registra(pasta, nome + ".WAV", c), 1);
            EXPECT_EQ(c.DWN_AVDUPIMP, 1);
            EXPECT_EQ(c.DWN_ARQIMPORTADO, 0);
        }
        EXPECT_TRUE(Logou("Arquivo duplicado: " + wav.string(), LogInfo));
        ASSERT_EQ(Linhas().size(), antes + 1);
        EXPECT_EQ(Linhas().back().datagrv, (DataHora{2024, 10, 9, 14, 30, 15, 0}));
    }
    // The unit numbered its files anew: another call under the same name
    // (another party, another length) is a recording of its own.
    const fs::path pasta = UmaGravacao(Xml("1", "SAIDA", "0"), 1.0, "R0000499");
    ASSERT_TRUE(AjustaDataArquivo(pasta / "R0000499.WAV", DataHora{2024, 10, 10, 9, 0, 0, 0}));
    Grava(pasta / "R0000499.XML", Xml("2", "SAIDA", "0"));
    ArquivamentoGravacao a(Contexto());
    ContadoresArquivamento c;
    EXPECT_EQ(a.Registra(pasta, "R0000499.WAV", c), 0);
    UmaGravacao(Xml("1", "SAIDA", "0"), 2.0, "R0000499");
    ASSERT_TRUE(AjustaDataArquivo(pasta / "R0000499.WAV", DataHora{2024, 10, 10, 9, 5, 0, 0}));
    EXPECT_EQ(a.Registra(pasta, "R0000499.WAV", c), 0);
    EXPECT_EQ(c.DWN_ARQIMPORTADO, 2);
}

// A unique-key refusal counts as "already filed" only when it is the
// recording's own key and its row is there; any other refusal is a failure
// and the recording stays at the unit.
TEST_F(RegistraGravacao, SoAPropriaChaveComALinhaPresenteEhDuplicada) {
    auto admin = [&] {
        ParametrosConexao p = inst_->Unidade(1);
        p.usuario = inst_->srv.usuario;
        p.senha = inst_->srv.senha;
        return Attachment::Conecta(p);
    };
    struct Caso {
        const char* nome;
        std::string pasta;              // device folder
        std::string primeira, segunda;  // descriptions
        bool segundaSemWav;             // the first filing's WAV empty
        bool geradorAtrasado;           // code generator behind the codes
        int resultado;
    };
    const std::string x1 = Xml("1", "SAIDA", "1728553000");
    const Caso casos[] = {
        {"a mesma gravacao", "X0001001", x1, x1, false, false, 1},
        {"gerador atras dos codigos", "X0001001", Xml("1", "SAIDA", "1728553001"),
         Xml("2", "SAIDA", "1728553002"), false, true, 7},
        // "GR101024\X0001001-longa-demais\R" for both: the identifier is cut at 30.
        {"identificadores cortados iguais", "X0001001-longa-demais",
         Xml("1", "SAIDA", "1728553003"), Xml("2", "SAIDA", "1728553003"), false, false, 7},
        {"linha da gravacao sem audio", "X0001001", Xml("1", "SAIDA", "1728553004"),
         Xml("1", "SAIDA", "1728553004"), true, false, 7},
    };
    int n = 0;
    for (const auto& caso : casos) {
        SCOPED_TRACE(caso.nome);
        log_.clear();
        fs::remove_all(loja_);
        const fs::path pasta = loja_ / "GR101024" / caso.pasta;
        const std::string nome1 = "R00005" + std::to_string(10 + ++n);
        const std::string nome2 =
            caso.resultado == 1 || caso.segundaSemWav ? nome1 : "R00005" + std::to_string(50 + n);
        UmaGravacao("", 1.0, nome1);
        fs::rename(loja_ / "GR101024" / "X0001001", loja_ / "GR101024" / "tmp");
        fs::create_directories(pasta.parent_path());
        fs::rename(loja_ / "GR101024" / "tmp", pasta);
        Grava(pasta / (nome1 + ".XML"), caso.primeira);
        const std::string wavCheio = LeTudo(pasta / (nome1 + ".WAV"));
        if (caso.segundaSemWav) Grava(pasta / (nome1 + ".WAV"), "");
        {
            ArquivamentoGravacao a(Contexto());
            ContadoresArquivamento c;
            ASSERT_EQ(a.Registra(pasta, nome1 + ".WAV", c), 0);
        }
        if (caso.geradorAtrasado) {
            Attachment att = admin();
            att.Executa("SET GENERATOR GEN_GRV_ID TO 0");
        }
        Grava(pasta / (nome2 + ".WAV"), wavCheio);
        Grava(pasta / (nome2 + ".XML"), caso.segunda);
        const std::size_t antes = Linhas().size();
        ArquivamentoGravacao a(Contexto());
        ContadoresArquivamento c;
        EXPECT_EQ(a.Registra(pasta, nome2 + ".WAV", c), caso.resultado);
        EXPECT_EQ(Linhas().size(), antes);
        if (caso.resultado == 1) {
            EXPECT_EQ(c.DWN_AVDUPIMP, 1);
            // The recording is named, not its working copy.
            EXPECT_TRUE(
                Logou("Arquivo duplicado: " + (pasta / (nome2 + ".WAV")).string(), LogInfo));
        } else {
            EXPECT_EQ(c.DWN_AVDUPIMP, 0);
            EXPECT_EQ(c.DWN_FALHASIMP, 1);
            EXPECT_FALSE(Logou("Arquivo duplicado", LogInfo));
            EXPECT_TRUE(Logou("INSGRV: ", LogErro));
        }
        if (caso.geradorAtrasado) {
            // Put back past the codes in use for the cases that follow.
            Attachment att = admin();
            att.Executa("SET GENERATOR GEN_GRV_ID TO 1000000");
        }
    }
}
