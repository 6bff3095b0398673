#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/service/download/AmbienteDownload.h"

namespace {

struct Historico : AmbienteDownloadTeste {
    Historico() : AmbienteDownloadTeste("historico") {}

    struct Linha {
        int resultado, operacao, timeout, arqBaixar, arqBaixado;
        long long bytesBaixar, bytesBaixado;
        int convOgg, importado, falhasDown, falhasOgg, falhasXml, falhasImp, duplicados;
        DataHora inicio, fimDown, fimImp;
    };
    std::vector<Linha> Linhas() const {
        std::vector<Linha> r;
        Attachment att = db.Conecta();
        Transaction tr(att, true);
        Statement st(
            tr,
            "SELECT DWN_RESULTADO, DWN_OPERATUAL, DWN_TIMEOUT, DWN_ARQBAIXAR, DWN_ARQBAIXADO, "
            "DWN_BYTESBAIXAR, DWN_BYTESBAIXADO, DWN_ARQCONVOGG, DWN_ARQIMPORTADO, DWN_FALHASDOWN, "
            "DWN_FALHASOGG, DWN_FALHASXML, DWN_FALHASIMP, DWN_AVDUPIMP, DWN_DTINIDOWN, "
            "DWN_DTFIMDOWN, DWN_DTFIMIMP FROM DWNHISTORY ORDER BY DWN_DTINIDOWN");
        Cursor c = st.Abre();
        while (c.Proxima())
            r.push_back({c.GetInt(0), c.GetInt(1), c.GetInt(2), c.GetInt(3), c.GetInt(4),
                         c.GetBigInt(5), c.GetBigInt(6), c.GetInt(7), c.GetInt(8), c.GetInt(9),
                         c.GetInt(10), c.GetInt(11), c.GetInt(12), c.GetInt(13), c.GetTimestamp(14),
                         c.GetTimestamp(15), c.GetTimestamp(16)});
        return r;
    }
    // A run whose every counter holds a distinct value.
    std::unique_ptr<TPABXDownloadFTP> RunCheia() {
        auto t = Run(7, 0);
        THistoricoDownload& x = t->Historico;
        x.DWN_DTINIDOWN = Data(2026, 12, 10, 8, 0, 5);
        x.DWN_DTINIDOWN.milissegundo = 730;
        x.DWN_OPERATUAL = 2;
        x.DWN_RESULTADO = 0;
        x.DWN_TIMEOUT = 1;
        x.DWN_ARQBAIXAR = 11;
        x.DWN_ARQBAIXADO = 12;
        x.DWN_BYTESBAIXAR = 5'000'000'000LL;
        x.DWN_BYTESBAIXADO = 6'000'000'000LL;
        x.DWN_ARQCONVOGG = 13;
        x.DWN_ARQIMPORTADO = 14;
        x.DWN_FALHASDOWN = 15;
        x.DWN_FALHASOGG = 16;
        x.DWN_FALHASXML = 17;
        x.DWN_FALHASIMP = 18;
        x.DWN_AVDUPIMP = 19;
        x.DWN_DTFIMDOWN = Data(2026, 12, 10, 8, 10, 0);
        x.DWN_DTFIMIMP = Data(2026, 12, 10, 8, 20, 0);
        return t;
    }
};

TEST(LogDownload, MascaraNivelEConsole) {
    Historico h;
    h.relogio.Define(Data(2026, 12, 10, 9, 0));
    struct Caso {
        std::uint16_t mascara, nivel;
        bool console, conectado;
        bool noArquivo, noConsole;
    } casos[] = {
        {LogSempre, LogInfo, true, true, false, true},
        {LogSempre | LogInfo, LogInfo, false, true, true, false},
        {LogSempre | LogInfo, LogErro, true, true, false, true},
        {LogSempre | LogInfo | LogErro, LogErro, true, false, true, false},
        {LogSempre, LogSempre, true, true, true, true},
    };
    int n = 0;
    for (const auto& c : casos) {
        auto t = h.Run(7, 0);
        t->MascaraLog = c.mascara;
        h.log.DefineConsoleConectado(c.conectado);
        const std::string texto = "PABX 7: linha " + std::to_string(++n);
        t->Log(c.nivel, c.console, texto);
        EXPECT_EQ(Contem(h.LinhasIMP(7), texto), c.noArquivo) << n;
        const auto msgs = h.console->RetiraTodos();
        EXPECT_EQ(msgs.size(), c.noConsole ? 1u : 0u) << n;
        if (!msgs.empty()) {
            EXPECT_EQ(msgs[0].FTexto, "LOG;PABX007; linha " + std::to_string(n));
        }
    }
    // The file is the unit's monthly import log, each line with its time.
    const std::string arquivo = LeTudo(h.PastaUnidade(7) + "IMP202612.LOG");
    EXPECT_EQ(arquivo.substr(0, 23), "10/12/26 09:00:00 000  ");
}

// The service's log and the unit's import log name hosts, users and numbers:
// they are created for the owner and the group only.
TEST(LogDownload, LogsCriadosSoParaDonoEGrupo) {
    Historico h;
    const auto antes = ::umask(022);
    auto t = h.Run(7, 0);
    t->Log(LogSempre, false, "linha do run");
    h.log.Log(LogSempre, false, "linha do servico");
    ::umask(antes);
    const std::filesystem::path arquivos[] = {
        std::filesystem::path(h.PastaUnidade(7)) /
            ("IMP" + FormataDataHora(h.relogio.Agora(), "yyyymm") + ".LOG"),
        h.log.ArquivoDoMes(h.relogio.Agora()),
    };
    for (const auto& a : arquivos) {
        SCOPED_TRACE(a.string());
        ASSERT_TRUE(std::filesystem::exists(a));
        const auto modo = std::filesystem::status(a).permissions();
        EXPECT_EQ(modo & std::filesystem::perms::others_all, std::filesystem::perms::none);
        EXPECT_NE(modo & std::filesystem::perms::owner_write, std::filesystem::perms::none);
    }
}

TEST(LogDownload, PastaInexistenteNaoImpedeOConsole) {
    Historico h;
    auto t = h.Run(7, 0);
    t->PastaPABX = (h.pasta.Caminho() / "nao" / "existe").string() + "/";
    t->Log(LogSempre, true, "texto");
    EXPECT_EQ(h.console->Quantidade(), 1u);
}

TEST(HistoricoDownload, CadaTipoGravaSuasColunas) {
    Historico h;
    EXIGE_BANCO(h.db);
    auto t = h.RunCheia();
    ASSERT_TRUE(t->BDRegistraHistoricoDownload(HistoricoInsere));
    auto l = h.Linhas();
    ASSERT_EQ(l.size(), 1u);
    // Inserted with the step and result, every counter at zero, a whole second.
    EXPECT_EQ(l[0].operacao, 2);
    EXPECT_EQ(l[0].resultado, 0);
    EXPECT_EQ(l[0].inicio, Data(2026, 12, 10, 8, 0, 5));
    EXPECT_EQ(l[0].arqBaixar + l[0].arqBaixado + l[0].convOgg + l[0].importado + l[0].falhasDown +
                  l[0].falhasOgg + l[0].falhasXml + l[0].falhasImp + l[0].duplicados + l[0].timeout,
              0);
    EXPECT_EQ(l[0].bytesBaixar + l[0].bytesBaixado, 0);

    struct Passo {
        int tipo;
        std::function<void(const Historico::Linha&)> confere;
    } passos[] = {
        {HistoricoEstado, [](auto& r) { EXPECT_EQ(r.arqBaixar, 0); }},
        {99, [](auto& r) { EXPECT_EQ(r.arqBaixar, 0); }},
        {HistoricoAContar,
         [](auto& r) {
             EXPECT_EQ(r.arqBaixar, 11);
             EXPECT_EQ(r.bytesBaixar, 5'000'000'000LL);
             EXPECT_EQ(r.arqBaixado, 0);
         }},
        {HistoricoTransferidos,
         [](auto& r) {
             EXPECT_EQ(r.arqBaixado, 12);
             EXPECT_EQ(r.bytesBaixado, 6'000'000'000LL);
             EXPECT_EQ(r.falhasDown, 15);
             EXPECT_EQ(r.timeout, 0);
         }},
        {HistoricoFimTransferencia,
         [](auto& r) {
             EXPECT_EQ(r.timeout, 1);
             EXPECT_EQ(r.fimDown, Data(2026, 12, 10, 8, 10, 0));
             EXPECT_TRUE(r.fimImp.Vazia());
         }},
        {HistoricoImportados,
         [](auto& r) {
             EXPECT_EQ(r.convOgg, 13);
             EXPECT_EQ(r.importado, 14);
             EXPECT_EQ(r.falhasOgg, 16);
             EXPECT_EQ(r.falhasXml, 17);
             EXPECT_EQ(r.falhasImp, 18);
             EXPECT_EQ(r.duplicados, 19);
         }},
        {HistoricoFimImportacao,
         [](auto& r) { EXPECT_EQ(r.fimImp, Data(2026, 12, 10, 8, 20, 0)); }},
    };
    int operacao = 30;
    for (const auto& p : passos) {
        t->Historico.DWN_OPERATUAL = ++operacao;
        t->Historico.DWN_RESULTADO = operacao % 3;
        ASSERT_TRUE(t->BDRegistraHistoricoDownload(p.tipo)) << p.tipo;
        l = h.Linhas();
        ASSERT_EQ(l.size(), 1u);
        EXPECT_EQ(l[0].operacao, operacao) << p.tipo;
        EXPECT_EQ(l[0].resultado, operacao % 3) << p.tipo;
        p.confere(l[0]);
    }
}

TEST(HistoricoDownload, DuasExecucoesNoMesmoSegundoTemCadaUmaSuaLinha) {
    Historico h;
    EXIGE_BANCO(h.db);
    auto a = h.RunCheia();
    auto b = h.RunCheia();
    ASSERT_TRUE(a->BDRegistraHistoricoDownload(HistoricoInsere));
    ASSERT_TRUE(b->BDRegistraHistoricoDownload(HistoricoInsere));
    EXPECT_EQ(b->Historico.DWN_DTINIDOWN, Data(2026, 12, 10, 8, 0, 6));
    b->Historico.DWN_OPERATUAL = 17;
    ASSERT_TRUE(b->BDRegistraHistoricoDownload(HistoricoEstado));
    const auto l = h.Linhas();
    ASSERT_EQ(l.size(), 2u);
    EXPECT_EQ(l[0].operacao, 2);
    EXPECT_EQ(l[1].operacao, 17);
    EXPECT_FALSE(Contem(h.LinhasIMP(7), "DWNUPD: "));
}

TEST(HistoricoDownload, SemLinhaNadaMudaEDaCerto) {
    Historico h;
    EXIGE_BANCO(h.db);
    auto t = h.RunCheia();
    EXPECT_TRUE(t->BDRegistraHistoricoDownload(HistoricoEstado));
    t->Historico = {};
    EXPECT_TRUE(t->BDRegistraHistoricoDownload(HistoricoImportados));
    EXPECT_TRUE(h.Linhas().empty());
}

TEST(HistoricoDownload, RecusaDoBancoVaiParaOLogDaUnidade) {
    Historico h;
    EXIGE_BANCO(h.db);
    auto t = h.RunCheia();
    ASSERT_TRUE(t->BDRegistraHistoricoDownload(HistoricoInsere));
    // A value the table's constraint refuses.
    h.db.Executa(
        {"ALTER TABLE DWNHISTORY ADD CONSTRAINT CK_OPERACAO CHECK (DWN_OPERATUAL < 1000)"});
    t->Historico.DWN_OPERATUAL = 5000;
    EXPECT_FALSE(t->BDRegistraHistoricoDownload(HistoricoEstado));
    EXPECT_TRUE(Contem(h.LinhasIMP(7), "DWNUPD: "));
    // The connection dropped after the failure is opened afresh.
    t->Historico.DWN_OPERATUAL = 17;
    EXPECT_TRUE(t->BDRegistraHistoricoDownload(HistoricoEstado));
    EXPECT_EQ(h.Linhas()[0].operacao, 17);

    h.banco->DefineParametros(ParametrosInalcancaveis(h.db.Parametros(), h.db.arquivo));
    auto u = h.RunCheia();
    EXPECT_FALSE(u->BDRegistraHistoricoDownload(HistoricoEstado));
    EXPECT_FALSE(u->BDRegistraUltimoDownload());
    // A server out of reach is said once for the run, by the first statement
    // that met it, without the statement itself.
    EXPECT_TRUE(Contem(h.LinhasIMP(7), "DWNUPD: Conexão com o banco de dados perdida: "));
    EXPECT_FALSE(Contem(h.LinhasIMP(7), "UPDPBX: "));
    EXPECT_FALSE(Contem(h.LinhasIMP(7), "UPDATE PABX SET"));
}

TEST(HistoricoDownload, UltimoDownloadComAHoraDoServidor) {
    Historico h;
    EXIGE_BANCO(h.db);
    h.RegistraUnidade(7);
    h.relogio.Define(Data(2001, 1, 1));  // the local clock plays no part
    auto t = h.Run(7, 0);
    EXPECT_TRUE(t->BDRegistraUltimoDownload());
    Attachment att = h.db.Conecta();
    Transaction tr(att, true);
    Statement st(tr, "SELECT PAB_DTULTDOWN, CURRENT_TIMESTAMP FROM PABX WHERE PAB_CODIGO = 7");
    Cursor c = st.Abre();
    ASSERT_TRUE(c.Proxima());
    EXPECT_LE(SegundosEntre(c.GetTimestamp(0), c.GetTimestamp(1)), 60);
    // A unit without a row stays without one.
    auto u = h.Run(8, 0);
    EXPECT_TRUE(u->BDRegistraUltimoDownload());
}

}  // namespace
