// Contact files against the real server through the list window's buttons:
// export and import round trips in both formats (updates, no twins, what
// the files do not carry kept), an import refused at its 500th contact, an
// export that fails half-way, and the linking of recordings afterwards.

#include <QPushButton>
#include <QTimer>

#include "tests/console/ContatosTeste.h"
#include "common/IniFile.h"
#include "common/Texto.h"
#include "console/AgendaContatos.h"
#include "console/forms/EscolheArquivo.h"
#include "console/forms/FormClientes.h"

namespace fs = std::filesystem;

namespace {

struct BaseAgenda : BaseContatos {
    std::unique_ptr<FormClientes> f;
    void SetUp() override {
        BaseContatos::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        p.Ini().WriteString("Veruzadu", "DDD", "48");
        f = std::make_unique<FormClientes>(ctx);
    }
    fs::path Arquivo(const std::string& nome) { return p.pasta / nome; }
    bool Mostrou(const std::string& trecho) const {
        for (const auto& m : ctx.mensagens.Mostradas())
            if (m.texto.toStdString().find(trecho) != std::string::npos) return true;
        return false;
    }
    std::vector<std::string> Vinculos(Attachment& att) {
        Transaction tr(att);
        Statement st(tr,
                     "SELECT GRV_DESTINO || '=' || CLI_CODIGO FROM GRAVACAO ORDER BY GRV_CODIGO");
        auto c = st.Abre();
        std::vector<std::string> r;
        while (c.Proxima()) r.push_back(c.GetText(0));
        return r;
    }
};

// A destination that fails as a full disk would, or kills the console's
// connection before it writes.
class DestinoFalho final : public DestinoAgenda {
  public:
    DestinoFalho(std::unique_ptr<DestinoAgenda> real, std::function<void()> antes)
        : real_(std::move(real)), antes_(std::move(antes)) {}
    void Escreve(std::string_view bytes) override {
        antes_();
        real_->Escreve(bytes);
    }
    void Conclui() override { real_->Conclui(); }

  private:
    std::unique_ptr<DestinoAgenda> real_;
    std::function<void()> antes_;
};

}  // namespace

TEST_F(BaseAgenda, IdaEVoltaNosDoisFormatosAtualizaSemGemeos) {
    // A name of the full 40 characters comes back whole and finds its contact.
    ClienteAgenda alfa = Contato("Empresa Alfa Comércio e Serviços Ltda ME",
                                 {{"4833334444", 1}, {"00351912345678", 0}, {"48991234567", 2}});
    alfa.identificador = "11222333000181";
    alfa.endereco = "Rua das Flores";
    alfa.endernum = "100";
    alfa.bairro = "Centro";
    alfa.cidade = "Florianópolis";
    alfa.uf = "SC";
    alfa.cep = "88000000";
    alfa.contato = "Souza, Ana";
    ClienteAgenda ze = Contato("Zé \"Aspas\" €", {{"3333", 0}});
    ze.endereco = "Rua 1;2\r\nX";
    ze.endernum = "10";
    ze.bairro = "B";
    ze.cidade = "São José";
    ze.uf = "SC";
    ze.cep = "88100000";
    ze.email = std::string(60, 'z') + "@x";
    ASSERT_GT(Salva(alfa), 0) << UltimaMensagem();
    ASSERT_GT(Salva(ze), 0) << UltimaMensagem();
    const auto codigos = Coluna("SELECT CLI_CODIGO FROM CLIENTE ORDER BY CLI_CODIGO");

    for (int filtro : {1, 2}) {
        SCOPED_TRACE(filtro);
        const fs::path nome = Arquivo("agenda" + std::to_string(filtro));
        ProximoArquivo(QString::fromStdString(nome.string()), filtro);
        f->btnExportarClick();
        const fs::path csv = nome.string() + ".csv";
        EXPECT_EQ(UltimaMensagem(), "Arquivo " + csv.string() + " foi criado com sucesso");
        const std::string antes = LeBytes(csv);
        ASSERT_FALSE(antes.empty());
        EXPECT_EQ(antes.find("Resid\xEAncia;") != std::string::npos, filtro == 1);

        ProximoArquivo(QString::fromStdString(csv.string()), filtro);
        f->btnImportarClick();
        EXPECT_EQ(UltimaMensagem(), "Arquivo " + csv.string() + " foi importado");
        EXPECT_EQ(Coluna("SELECT CLI_CODIGO FROM CLIENTE ORDER BY CLI_CODIGO"), codigos);
        // What the files do not carry stays.
        EXPECT_EQ(Coluna("SELECT CLI_IDENTIFICADOR || '|' || CLI_CONTATO || '|' || CLI_CEP FROM "
                         "CLIENTE ORDER BY CLI_CODIGO"),
                  (std::vector<std::string>{"11222333000181|Souza, Ana|88000000", "||88100000"}));

        ProximoArquivo(QString::fromStdString(csv.string()), filtro);
        f->btnExportarClick();
        EXPECT_EQ(LeBytes(csv), antes);
    }
    EXPECT_EQ(Coluna("SELECT COUNT(*) FROM LOGHISTORY"), (std::vector<std::string>{"2"}));

    // A contact line without phones leaves them; one with two replaces them.
    const fs::path k = Arquivo("fones.csv");
    const std::string cab = CabecalhoAgenda(FormatoAgenda::Kandrup);
    const std::string linha = Utf8ParaWin1252(alfa.descricao) + ";;;;Rua das Flores;;;;;;0;";
    const std::string fonesAlfa =
        "SELECT TEL_NUMERO FROM TELEFONE WHERE CLI_CODIGO = " + codigos.at(0) + " ORDER BY 1";
    GravaBytes(k, cab + linha + ";;;;\r\n");
    ProximoArquivo(QString::fromStdString(k.string()), 2);
    f->btnImportarClick();
    EXPECT_EQ(Coluna(fonesAlfa).size(), 3u);
    GravaBytes(k, cab + linha + "32221111,E988887777@x,;;;;\r\n");
    ProximoArquivo(QString::fromStdString(k.string()), 2);
    f->btnImportarClick();
    EXPECT_EQ(Coluna(fonesAlfa), (std::vector<std::string>{"4832221111", "48988887777"}));
}

TEST_F(BaseAgenda, ImportacaoRecusadaNoQuingentesimoNaoMudaNada) {
    ASSERT_GT(Salva(Contato("Contato 0001", {{"999", 1}})), 0);
    std::string bytes;
    for (int i = 1; i <= 600; ++i) {
        char nome[32];
        std::snprintf(nome, sizeof nome, "Contato %04d", i);
        bytes += "PESSOA:" + std::string(nome) + ";FISICA;;;;;;;0;\r\nCONTATO:;;" +
                 std::to_string(5000000 + i) + ";Celular;;0;\r\n";
    }
    const fs::path arquivo = Arquivo("grande.csv");
    GravaBytes(arquivo, bytes);
    Falha("TESTE_CLIENTE", "CLIENTE", "BEFORE INSERT OR UPDATE",
          "NEW.CLI_DESCRICAO = 'Contato 0500'");
    ProximoArquivo(QString::fromStdString(arquivo.string()), 1);
    f->btnImportarClick();
    EXPECT_EQ(ctx.mensagens.Mostradas().back().caption, "Erro");
    EXPECT_NE(UltimaMensagem().find("Linha 999: "), std::string::npos) << UltimaMensagem();
    EXPECT_NE(UltimaMensagem().find("falha de teste"), std::string::npos);
    EXPECT_FALSE(Mostrou("foi importado"));
    EXPECT_EQ(Coluna("SELECT CLI_DESCRICAO FROM CLIENTE"),
              (std::vector<std::string>{"Contato 0001"}));
    EXPECT_EQ(Coluna("SELECT TEL_NUMERO FROM TELEFONE"), (std::vector<std::string>{"999"}));

    // A Kandrup file chosen as Vostrel is refused whole, before any row.
    GravaBytes(arquivo, CabecalhoAgenda(FormatoAgenda::Kandrup) + "Novo;;;;;;;;;;0;;;;;\r\n");
    ProximoArquivo(QString::fromStdString(arquivo.string()), 1);
    f->btnImportarClick();
    EXPECT_EQ(UltimaMensagem(), "Arquivo não está no formato CSV exportado pelo Vostrel");
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM CLIENTE"), 1);
}

TEST_F(BaseAgenda, ExportacaoQueFalhaDeixaOArquivoAnterior) {
    ASSERT_GT(Salva(Contato("Alfa", {{"1", 1}})), 0);
    const fs::path arquivo = Arquivo("contatos.csv");
    GravaBytes(arquivo, "antigo");
    auto soEsse = [&] {
        int n = 0;
        for (const auto& e : fs::directory_iterator(p.pasta.Caminho()))
            n += e.path().extension() != ".INI" && e.path().extension() != ".LNG" &&
                 e.path().extension() != ".LOG";
        return n;
    };
    const int arquivosAntes = soEsse();

    // Disk full while writing.
    f->CriaDestino = [](const fs::path& a) -> std::unique_ptr<DestinoAgenda> {
        return std::make_unique<DestinoFalho>(DestinoArquivoAgenda(a), [] {
            throw std::runtime_error("Erro ao gravar: No space left on device");
        });
    };
    ProximoArquivo(QString::fromStdString(arquivo.string()), 2);
    f->btnExportarClick();
    EXPECT_EQ(ctx.mensagens.Mostradas().back().caption, "Erro");
    EXPECT_NE(UltimaMensagem().find("No space left on device"), std::string::npos);
    EXPECT_EQ(LeBytes(arquivo), "antigo");
    EXPECT_EQ(soEsse(), arquivosAntes);

    // The console's connection killed in the middle: no file, no box (the
    // main window tells of the loss).
    std::int64_t id = 0;
    ctx.dados.Executa([&](Transaction& tr) {
        Statement st(tr, "SELECT CURRENT_CONNECTION FROM RDB$DATABASE");
        auto c = st.Abre();
        if (c.Proxima()) id = c.GetBigInt(0);
    });
    f->CriaDestino = [&](const fs::path& a) -> std::unique_ptr<DestinoAgenda> {
        return std::make_unique<DestinoFalho>(DestinoArquivoAgenda(a), [&] {
            Attachment admin = p.Admin();
            Transaction tr(admin);
            Statement st(tr, "DELETE FROM MON$ATTACHMENTS WHERE MON$ATTACHMENT_ID = ?");
            st.SetBigInt(0, id);
            st.Executa();
            tr.Commit();
        });
    };
    const std::size_t caixas = ctx.mensagens.Mostradas().size();
    ProximoArquivo(QString::fromStdString(arquivo.string()), 1);
    f->btnExportarClick();
    EXPECT_TRUE(ctx.dados.ConexaoPerdida());
    EXPECT_EQ(ctx.mensagens.Mostradas().size(), caixas);
    EXPECT_EQ(LeBytes(arquivo), "antigo");
    EXPECT_EQ(soEsse(), arquivosAntes);
}

TEST_F(BaseAgenda, ImportacaoVinculaGravacoesPorNumeroExato) {
    const int xis = Salva(Contato("Xis", {{"7777", 1}}));
    ASSERT_GT(xis, 0);
    {
        Attachment u = p.Unidade(1);
        int n = 0;
        for (const char* destino : {"4833334444", "33334444", "333344449999", "3333", "7777"}) {
            ++n;
            Transaction tr(u);
            Statement st(tr,
                         "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE, "
                         "GRV_DESTINO, CLI_CODIGO) VALUES (?, 1, CURRENT_TIMESTAMP, ?, ?, ?)");
            st.SetInt(0, n).SetText(1, "rec-" + std::to_string(n)).SetText(2, destino);
            // 7777 is Xis's number; 3333 was linked to Xis by hand in the
            // recordings editor.
            const std::string d = destino;
            st.SetInt(3, d == "7777" || d == "3333" ? xis : 0);
            st.Executa();
            tr.Commit();
        }
        Attachment att = p.Admin();
        att.Executa(
            "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE, GRV_DESTINO) "
            "VALUES (1, 1, CURRENT_TIMESTAMP, 'antiga', '4833334444')");
        // A unit whose database cannot be reached.
        att.Executa("INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO) VALUES (2, 'Filial')");
    }
    const fs::path arquivo = Arquivo("vinculo.csv");
    GravaBytes(arquivo, "PESSOA:Novo;FISICA;;;;;;;0;\r\nCONTATO:;;4833334444;Celular;;0;\r\n"
                        "PESSOA:Xis;FISICA;;;;;;;0;\r\nCONTATO:;;5555;Celular;;0;\r\n");
    for (int vez = 1; vez <= 2; ++vez) {
        SCOPED_TRACE(vez);
        ProximoArquivo(QString::fromStdString(arquivo.string()), 1);
        // The linking keeps the window answering: its progress window shows
        // and the event loop runs while the databases are linked (the same
        // file again links nothing).
        bool progresso = false;
        QTimer relogio;
        QObject::connect(&relogio, &QTimer::timeout, [&] {
            progresso = progresso || JanelaVisivel("FormProgresso") != nullptr;
        });
        relogio.start(5);
        f->btnImportarClick();
        relogio.stop();
        EXPECT_EQ(progresso, vez == 1);
        EXPECT_EQ(JanelaVisivel("FormProgresso"), nullptr);
        ASSERT_TRUE(Mostrou("foi importado"));
        if (vez == 1) {
            EXPECT_EQ(ctx.mensagens.Mostradas().back().caption, "Aviso");
            EXPECT_NE(UltimaMensagem().find("central 002 Filial"), std::string::npos)
                << UltimaMensagem();
        } else {
            // The same file again changes no number: no database is linked.
            EXPECT_EQ(UltimaMensagem().find("central 002 Filial"), std::string::npos)
                << UltimaMensagem();
        }
        const std::string novo =
            Coluna("SELECT CLI_CODIGO FROM CLIENTE WHERE CLI_DESCRICAO = 'Novo'").at(0);
        const std::string x = std::to_string(xis);
        Attachment u = p.Unidade(1);
        // Xis lost 7777, so its recording is unlinked; the link made by hand
        // stays, and so does (the second time, the same file again) the one
        // moved by hand from Novo to Xis after the first import.
        EXPECT_EQ(Vinculos(u), (std::vector<std::string>{"4833334444=" + novo,
                                                         "33334444=" + (vez == 1 ? novo : x),
                                                         "333344449999=0", "3333=" + x, "7777=0"}));
        Attachment att = p.Principal();
        EXPECT_EQ(Vinculos(att), (std::vector<std::string>{"4833334444=" + novo}));
        EXPECT_EQ(Conta("SELECT COUNT(*) FROM CLIENTE"), 2);
        if (vez == 1)
            u.Executa("UPDATE GRAVACAO SET CLI_CODIGO = " + x + " WHERE GRV_DESTINO = '33334444'");
    }

    // Many numbers at once (several round trips of rows): each its own code.
    {
        Attachment att = p.Admin();
        att.Executa(
            "EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 300) DO BEGIN "
            "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE, GRV_DESTINO) "
            "VALUES (100 + :I, 1, CURRENT_TIMESTAMP, 'lote' || :I, 5000 + :I); I = I + 1; END END");
    }
    VinculosAgenda muitos;
    for (int i = 0; i < 300; ++i) muitos.numeros.emplace_back(1000 + i, std::to_string(5000 + i));
    ctx.dados.Executa([&](Transaction& tr) { VinculaGravacoes(tr, muitos, "48"); });
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM GRAVACAO WHERE GRV_CODIGO >= 100 AND "
                    "CLI_CODIGO = 1000 + GRV_CODIGO - 100"),
              300);
}
