// Contacts against the real server: a contact's round trip with its history
// rows, codes never given twice, saves and removals that fail half-way,
// numbers of other contacts, a contact removed while edited, the generator
// an older database gets, and the local area code.

#include "ContatosTeste.h"
#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "console/CodigoCliente.h"

TEST_F(BaseContatos, IdaEVoltaComHistoricoECodigosNuncaRepetidos) {
    ClienteAgenda c = Contato("  Alfa Ltda ", {{"4833334444", 1}, {"4899998888", 0}, {" ", 2}});
    c.email = "alfa@exemplo.com";
    c.uf = "SC";
    c.endereco = std::string(40, 'R');
    const int codigo = Salva(c);
    ASSERT_EQ(codigo, 1) << UltimaMensagem();

    ClienteAgenda lido;
    ASSERT_TRUE(CarregaCliente(ctx.dados, codigo, lido));
    EXPECT_EQ(lido.descricao, "Alfa Ltda");
    EXPECT_EQ(lido.endereco, std::string(40, 'R'));
    EXPECT_EQ(lido.fones, (std::vector<FoneAgenda>{{"4833334444", 1}, {"4899998888", 0}}));
    EXPECT_EQ(Coluna("SELECT CLI_UPDATE FROM CLIENTE"), (std::vector<std::string>{"1"}));

    lido.descricao = "Alfa S/A";
    lido.fones = {{"4833335555", 2}};
    ASSERT_EQ(Salva(lido, "Alfa Ltda"), codigo) << UltimaMensagem();
    EXPECT_EQ(Coluna("SELECT TEL_NUMERO || '/' || TEL_TIPO FROM TELEFONE"),
              (std::vector<std::string>{"4833335555/2"}));

    // A recording of the contact keeps its code after the removal; the next
    // contact gets another code although the table is empty again.
    {
        Attachment u = p.Unidade(1);
        u.Executa(
            "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE, CLI_CODIGO) "
            "VALUES (1, 1, CURRENT_TIMESTAMP, 'rec-1', 1)");
    }
    ASSERT_TRUE(RemoveCliente(ctx.dados, ctx.mensagens, codigo, "Alfa S/A", autor));
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM CLIENTE"), 0);
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM TELEFONE"), 0);
    EXPECT_EQ(Salva(Contato("Beta")), 2);
    {
        Attachment u = p.Unidade(1);
        Transaction tr(u);
        Statement st(tr, "SELECT CLI_CODIGO FROM GRAVACAO");
        auto cur = st.Abre();
        ASSERT_TRUE(cur.Proxima());
        EXPECT_EQ(cur.GetInt(0), 1);
    }
    EXPECT_EQ(Historico(),
              (std::vector<std::string>{"14:Alfa Ltda", "16:Alfa Ltda", "15:Alfa S/A", "14:Beta"}));
    EXPECT_TRUE(ctx.mensagens.Mostradas().empty());
}

TEST_F(BaseContatos, FalhaNoMeioDoSalvarOuApagarNaoMudaNada) {
    const int codigo = Salva(Contato("Gama", {{"111", 1}}));
    ASSERT_GT(codigo, 0);
    Falha("TESTE_FONE", "TELEFONE", "BEFORE INSERT", "NEW.TEL_NUMERO = '666'");
    Falha("TESTE_APAGA", "CLIENTE", "BEFORE DELETE", "OLD.CLI_DESCRICAO = 'Gama'");

    // New contact, edit and removal each fail on the marked row.
    EXPECT_EQ(Salva(Contato("Delta", {{"222", 1}, {"666", 1}})), 0);
    EXPECT_NE(UltimaMensagem().find("Não foi possível salvar informações do contato"),
              std::string::npos);
    EXPECT_NE(UltimaMensagem().find("falha de teste"), std::string::npos) << UltimaMensagem();
    EXPECT_EQ(ctx.mensagens.Mostradas().back().caption, "Erro");
    ClienteAgenda g = Contato("Gama Nova", {{"666", 1}});
    g.codigo = codigo;
    EXPECT_EQ(Salva(g, "Gama"), 0);
    EXPECT_FALSE(RemoveCliente(ctx.dados, ctx.mensagens, codigo, "Gama", autor));
    EXPECT_NE(UltimaMensagem().find("Não foi possível apagar o contato"), std::string::npos);

    EXPECT_EQ(Coluna("SELECT CLI_DESCRICAO FROM CLIENTE"), (std::vector<std::string>{"Gama"}));
    EXPECT_EQ(Coluna("SELECT TEL_NUMERO FROM TELEFONE"), (std::vector<std::string>{"111"}));
    EXPECT_EQ(Historico(), (std::vector<std::string>{"14:Gama"}));
}

TEST_F(BaseContatos, NumeroDeOutroContatoEContatoApagadoEnquantoEditado) {
    const int a = Salva(Contato("Ana", {{"4833334444", 1}}));
    const int b = Salva(Contato("Bia", {{"4899990000", 0}}));
    ASSERT_GT(b, a);
    EXPECT_EQ(DonoTelefone(ctx.dados, "4833334444", b), a);
    EXPECT_EQ(DonoTelefone(ctx.dados, "4833334444", a), 0);
    EXPECT_EQ(DonoTelefone(ctx.dados, "4833334444", 0), a);

    // The grid passed the phone dialog's check long ago; the save checks again.
    ClienteAgenda bia = Contato("Bia", {{"4899990000", 0}, {"4833334444", 1}});
    bia.codigo = b;
    EXPECT_EQ(Salva(bia, "Bia"), 0);
    EXPECT_EQ(UltimaMensagem(), "Não foi possível salvar informações do contato\nNúmero 4833334444 "
                                "já está registrado para outro contato");
    EXPECT_EQ(Coluna("SELECT TEL_NUMERO FROM TELEFONE WHERE CLI_CODIGO = " + std::to_string(b)),
              (std::vector<std::string>{"4899990000"}));

    // Another console removes Bia while she is edited: the save fails and
    // leaves no phones behind.
    {
        ContextoConsole outra;
        std::string erro;
        ASSERT_TRUE(outra.dados.ConectaBancoDados(erro)) << erro;
        ASSERT_TRUE(RemoveCliente(outra.dados, outra.mensagens, b, "Bia", autor));
    }
    bia.fones = {{"4811112222", 1}};
    EXPECT_EQ(Salva(bia, "Bia"), 0);
    EXPECT_NE(UltimaMensagem().find("O contato foi removido por outro usuário"), std::string::npos);
    EXPECT_EQ(Conta("SELECT COUNT(*) FROM TELEFONE WHERE CLI_CODIGO = " + std::to_string(b)), 0);

    // The editor's checks come first.
    EXPECT_EQ(ValidaCliente(Contato("  ")), "Informe o nome do contato");
    ClienteAgenda e = Contato("E");
    e.email = "sem-arroba";
    EXPECT_EQ(ValidaCliente(e), "Informe um endereço de email válido");
    e.email = " ";
    EXPECT_EQ(ValidaCliente(e), "");
}

TEST_F(BaseContatos, BancoAntigoGanhaGeradorAcimaDosCodigos) {
    {
        Attachment att = p.Admin();
        att.Executa("DROP GENERATOR GEN_CLI_ID");
        att.Executa("INSERT INTO CLIENTE (CLI_CODIGO, CLI_DESCRICAO) VALUES (7, 'Velho')");
        att.Executa(
            "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE, CLI_CODIGO) "
            "VALUES (1, 1, CURRENT_TIMESTAMP, 'antiga', 9)");
    }
    ContextoConsole outro;
    std::string erro;
    ASSERT_TRUE(outro.dados.ConectaBancoDados(erro)) << erro;
    std::int32_t n = 0;
    outro.dados.Executa([&](Transaction& tr) { n = NovoCodigoCliente(tr); });
    EXPECT_EQ(n, 10);
    // A row written by an older console ("highest plus one") pushes the
    // generator past it.
    {
        Attachment att = p.Principal();
        att.Executa("INSERT INTO CLIENTE (CLI_CODIGO, CLI_DESCRICAO) VALUES (40, 'Outro')");
    }
    outro.dados.Executa([&](Transaction& tr) { n = ReservaCodigosCliente(tr, 3); });
    EXPECT_EQ(n, 41);
    outro.dados.Executa([&](Transaction& tr) { n = NovoCodigoCliente(tr); });
    EXPECT_EQ(n, 44);
}

TEST_F(BaseContatos, CodigoDDDLocal) {
    IniFile ini = p.Ini();
    EXPECT_FALSE(LeDDDLocal().has_value());
    EXPECT_EQ(GravaDDDLocal(""), "");
    EXPECT_EQ(ini.ReadString("Veruzadu", "DDD", "?"), "00");
    EXPECT_EQ(LeDDDLocal(), std::optional<std::string>(""));
    EXPECT_EQ(GravaDDDLocal("48"), "48");
    ini.WriteString("Veruzadu", "DDD", " 4899 ");
    EXPECT_EQ(LeDDDLocal(), std::optional<std::string>("48"));
    EXPECT_EQ(CodigoTipoFone(DescricaoTipoFone(2)), 2);
    EXPECT_EQ(CodigoTipoFone(DescricaoTipoFone(1)), 1);
    EXPECT_EQ(CodigoTipoFone("qualquer"), 0);
    EXPECT_EQ(DescricaoTipoFone(7), "");
}
