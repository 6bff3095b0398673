// The status window's units grid over PABX and DWNHISTORY rows on the server.

#include "ConsoleTeste.h"
#include "console/EstadoCentrais.h"

TEST(EstadoCentrais, DuracaoEDescricoes) {
    const DataHora ini{2026, 3, 10, 9, 0, 0, 0};
    EXPECT_EQ(FormataDuracao(ini, SomaSegundos(ini, 25 * 3600)), "25:00:00");
    EXPECT_EQ(FormataDuracao(ini, SomaSegundos(ini, 3723)), "01:02:03");
    EXPECT_EQ(FormataDuracao(ini, std::nullopt), "00:00:00");
    EXPECT_EQ(FormataDuracao(ini, SomaSegundos(ini, -60)), "00:00:00");
    EXPECT_EQ(DescricaoOperacaoDownload(12), "Iniciando download");
    EXPECT_EQ(DescricaoOperacaoDownload(24), "Falha login ao FTP");
    EXPECT_EQ(DescricaoOperacaoDownload(6), "");
}

TEST(EstadoCentrais, GradeSobreAsExecucoes) {
    ProgramaTeste p("estcen");
    EXIGE_SERVIDOR(p.inst);
    Console c;
    c.Mostra();
    ASSERT_TRUE(EsperaAte([&] { return c.Conectado(); }));
    {
        Attachment a = p.Admin();
        Transaction tr(a);
        tr.Executa("DELETE FROM PABX");
        Statement u(tr,
                    "INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_SDCARDTOTAL, PAB_SDCARDUSED) "
                    "VALUES (?, ?, ?, ?)");
        struct Unidade {
            int codigo;
            const char* nome;
            long long total, usado;
        } unidades[] = {{1, " Alfa ", 200, 50}, {2, "Beta", 0, 10},   {3, "Gama", 0, 0},
                        {4, "Delta", 0, 0},     {5, "Épsilon", 0, 0}, {6, "Zeta", 200, 50}};
        for (const Unidade& x : unidades)
            u.SetInt(0, x.codigo)
                .SetText(1, x.nome)
                .SetBigInt(2, x.total)
                .SetBigInt(3, x.usado)
                .Executa();
        Statement h(
            tr,
            "INSERT INTO DWNHISTORY (PAB_CODIGO, DWN_DTINIDOWN, DWN_OPERATUAL, "
            "DWN_RESULTADO, DWN_ARQBAIXAR, DWN_ARQIMPORTADO, DWN_FALHASOGG, "
            "DWN_BYTESBAIXADO, DWN_DTFIMDOWN, DWN_DTFIMIMP) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
        const DataHora t{2026, 3, 10, 9, 0, 0, 0};
        auto run = [&](int cod, const DataHora& ini, int op, int res, int baixar, int imp,
                       int falhas, long long bytes, std::optional<DataHora> fimDown,
                       std::optional<DataHora> fimImp) {
            h.SetInt(0, cod).SetTimestamp(1, ini).SetInt(2, op).SetInt(3, res).SetInt(4, baixar);
            h.SetInt(5, imp).SetInt(6, falhas).SetBigInt(7, bytes);
            if (fimDown)
                h.SetTimestamp(8, *fimDown);
            else
                h.SetNull(8);
            if (fimImp)
                h.SetTimestamp(9, *fimImp);
            else
                h.SetNull(9);
            h.Executa();
        };
        // Beta: an older run, then the latest: 7 of 14 imported, 2 failed conversions.
        run(2, SomaSegundos(t, -86400), 17, 1, 2, 1, 0, 0, t, t);
        run(2, t, 16, 0, 28, 7, 2, 0, SomaSegundos(t, 60), SomaSegundos(t, 3723));
        run(3, t, 12, 2, 0, 0, 0, 0, SomaSegundos(t, 5), std::nullopt);
        run(4, t, 17, 2, 4, 2, 0, 1294467072LL, SomaSegundos(t, 60), SomaSegundos(t, 25 * 3600));
        run(5, t, 99, 0, 0, 0, 0, 0, SomaSegundos(t, -5), std::nullopt);
        run(6, t, 13, 0, 0, 0, 0, 0, std::nullopt, std::nullopt);
        tr.Commit();
    }
    ModeloEstadoCentrais m;
    m.CarregaEstadoCentrais(c.ctx.dados);
    ASSERT_EQ(m.rowCount(), 6);
    EXPECT_EQ(m.headerData(6, Qt::Horizontal).toString(), "Tamanho Mb");
    auto linha = [&](int cod) {
        for (const auto& l : m.Linhas())
            if (l.codigo == cod) return l.colunas;
        return std::array<std::string, 8>{};
    };
    using C = std::array<std::string, 8>;
    EXPECT_EQ(linha(1), (C{"Alfa", "001", "", "", "", "", "", ""}));
    EXPECT_EQ(linha(2), (C{"Beta", "002", "", "10/03/26 09:00:00", "01:02:03", "7/14", "0,0",
                           "Importando arquivo (falhas: 2)"}));
    EXPECT_EQ(linha(3)[7], "Falha durante acesso ao FTP");
    EXPECT_EQ(linha(3)[4], "00:00:05");
    EXPECT_EQ(linha(4)[4], "25:00:00");
    EXPECT_EQ(linha(4)[6], "1.234,5");
    EXPECT_EQ(linha(4)[7], "Importação concluída (com erros)");
    EXPECT_EQ(linha(5)[4], "00:00:00");
    EXPECT_EQ(linha(5)[7], "");
    // Without a run even the SD-card cell stays empty; with one it shows.
    EXPECT_EQ(linha(6)[2], "25 %");
    EXPECT_EQ(linha(6)[4], "00:00:00");
    EXPECT_EQ(linha(6)[7], "Download de arquivo");
    // Ordered by description.
    EXPECT_EQ(m.Linhas().front().colunas[0], "Alfa");
}

TEST(EstadoCentrais, EnderecoDoServicoComONomeResolvido) {
    ProgramaTeste p("estend");
    EXIGE_SERVIDOR(p.inst);
    Console c;
    c.Mostra();
    ASSERT_TRUE(EsperaAte([&] { return c.Conectado(); }));
    auto controle = [&](const char* servidor, const char* ip, int porta) {
        Attachment a = p.Admin();
        Transaction tr(a);
        Statement st(tr, "UPDATE CONTROLE SET CRL_GRVSERVER = ?, CRL_GRVIP = ?, CRL_GRVPORTA = ?");
        st.SetText(0, servidor).SetText(1, ip).SetInt(2, porta).Executa();
        tr.Commit();
    };
    struct Caso {
        const char *servidor, *ip;
        std::string rotulo;
    } casos[] = {
        // Published without an address: the name's address.
        {"localhost", "", "localhost  127.0.0.1:51051"},
        // A stale address gives way to the name's.
        {" localhost ", "10.9.9.9", "localhost  127.0.0.1:51051"},
        // A name that does not resolve keeps the published address.
        {"nao-existe.invalid", "10.9.9.9", "nao-existe.invalid  10.9.9.9:51051"},
        // Nothing to connect to: no label, the previous address stays.
        {"nao-existe.invalid", "", ""},
    };
    ServidorGravacao s;
    for (const Caso& k : casos) {
        controle(k.servidor, k.ip, 51051);
        EXPECT_EQ(LeUltimoRegistro(c.ctx.dados, s), k.rotulo) << k.servidor << " " << k.ip;
    }
    EXPECT_EQ(s.CRL_GRVIP, "10.9.9.9");
}
