// The service object end to end: an SD-card check listed for the main loop
// finds a simulated unit 85 % full, the alert is queued, and the next pass
// mails it to a real sink with the settings of the installed main database.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "common/CifraTexto.h"
#include "common/IniFile.h"
#include "service/ServicoVeruzaduQuv.h"
#include "service/VerificaSDCard.h"
#include "tests/support/InstalacaoTeste.h"
#include "tests/service/SorvedouroSMTP.h"
#include "tests/support/PastaTemporaria.h"
#include "tools/pabx-sim/Simulator.h"

TEST(AlertasServico, CartaoCheioViraEmailNoLacoPrincipal) {
    InstalacaoTeste inst{"alertas"};
    if (!inst.Pronta()) GTEST_SKIP() << "no test database server (run scripts/test)";
    Sorvedouro sorvedouro("starttls");
    EXIGE_SORVEDOURO(sorvedouro);
    PastaTemporaria home;
    {
        IniFile ini(home.Caminho() / "VERUZADU.INI");
        ini.WriteString("BD", "Server", inst.srv.Servidor());
        ini.WriteString("BD", "Alias", inst.opcoes.alias);
        ini.WriteBool("Log", "Info", true);
        ini.WriteBool("Log", "Erro", true);
        ini.WriteBool("Log", "SDCard", true);
        ini.WriteInteger("Veruzadu", "Porta", 51781);
        ini.WriteString("Veruzadu", "SMTPArquivoCA", sorvedouro.CA());
        ini.WriteInteger("Veruzadu", "SMTPTimeOut", 20);
    }
    {
        Attachment att = Attachment::Conecta(inst.Principal());
        Transaction tr(att);
        Statement st(tr, "UPDATE CONFIG SET CFG_SMTPSERVER=?, CFG_SMTPPORTA=?, CFG_SMTPMAIL=?, "
                         "CFG_SMTPAUTH=1, CFG_SMTPUSERNAME=?, CFG_SMTPUSERPASS=?, "
                         "CFG_SMTPSECURITY=2, CFG_ALMMAILTO=?, CFG_ALMALERTA=1");
        st.SetText(0, "127.0.0.1").SetInt(1, sorvedouro.Porta()).SetText(2, "gravacao@x.test");
        st.SetText(3, "Gravação").SetText(4, CriptografaTexto("segredo")).SetText(5, "ti@x.test");
        st.Executa();
        Statement pabx(tr, "INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO) VALUES (41, 'Matriz')");
        pabx.Executa();
        tr.Commit();
        att.Desconecta();
    }
    pabxsim::Scenario cenario;
    cenario.sdTotal = 1'000'000'000;
    cenario.sdUsed = 850'000'000;
    cenario.sdFree = 150'000'000;
    pabxsim::Simulator unidade(cenario);
    unidade.Start();

    setenv("VERUZADU_HOME", home.Caminho().c_str(), 1);
    RelogioSistema relogio;
    {
        TServicoVeruzaduQuv servico(PastaPrograma(), relogio);
        ASSERT_TRUE(servico.ServiceStart());
        DadosVerificaSDCard dados;
        dados.CodigoPABX = 41;
        dados.MascaraLog = servico.Log().Mascara();
        dados.DescricaoPABX = "Matriz";
        dados.PastaPABX = PastaPABX(41);
        dados.KELVEnderIP = "127.0.0.1";
        dados.KELVPorta = unidade.Port();
        dados.KELVSenha = cenario.password;
        servico.ListaThreadsSDCard()->AdicionaSeAusente(std::make_unique<TPABXVerificaSDCard>(
            dados, ContextoSDCard{servico.Banco(), servico.Alertas(),
                                  servico.Configuracao()->TempoAlertaSDCard}));
        std::thread laco([&] { servico.ServiceExecute(); });
        const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        auto comSDCard = [&] {
            for (const auto& m : sorvedouro.Mensagens())
                if (Corpo(m).find("SDCard da central 041 - Matriz") != std::string::npos)
                    return true;
            return false;
        };
        while (!comSDCard() && std::chrono::steady_clock::now() < limite)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        servico.SolicitaParada();
        laco.join();
    }
    unsetenv("VERUZADU_HOME");

    const std::string log =
        LeTudo(home.Caminho() / ("GRV" + FormataDataHora(Agora(), "yyyymm") + ".LOG"));
    const std::string alerta =
        "Alerta: ultrapassado 80% da capacidade do SDCard da central 041 - Matriz";
    EXPECT_NE(log.find("Enviando email"), std::string::npos) << log;
    EXPECT_NE(log.find("Alerta para: ti@x.test  " + alerta), std::string::npos) << log;
    bool achou = false;
    for (const auto& m : sorvedouro.Mensagens()) {
        if (Corpo(m).find(alerta) == std::string::npos) continue;
        achou = true;
        EXPECT_EQ(Campo(m, "TLS"), "1");
        EXPECT_EQ(Campo(m, "User"), "Gravação");
        EXPECT_EQ(Campo(m, "From"), "Gravação <gravacao@x.test>");
    }
    EXPECT_TRUE(achou);
    const std::string sdcard = LeTudo(home.Caminho() / "PABX041" /
                                      ("SDCard" + FormataDataHora(Agora(), "yyyymm") + ".LOG"));
    EXPECT_NE(sdcard.find("Usado: 850000000"), std::string::npos) << sdcard;
}
