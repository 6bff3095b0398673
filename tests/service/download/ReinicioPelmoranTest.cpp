// The recording service as a program with a unit in its download window:
// killed (SIGKILL) while a run talks to the unit, and started again. The
// killed run's statistics row is closed as failed and the unit, not stamped,
// runs again in the same window.

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>

#include "common/CifraTexto.h"
#include "common/IniFile.h"
#include "tests/support/InstalacaoTeste.h"
#include "tests/support/PastaTemporaria.h"
#include "common/Processos.h"
#include "tools/pabx-sim/Simulator.h"

namespace {

using namespace std::chrono_literals;

struct Execucao {
    int resultado, operacao;
};

std::vector<Execucao> Execucoes(const InstalacaoTeste& inst) {
    std::vector<Execucao> r;
    Attachment att = Attachment::Conecta(inst.Principal());
    Transaction tr(att, true);
    Statement st(tr, "SELECT DWN_RESULTADO, DWN_OPERATUAL FROM DWNHISTORY WHERE PAB_CODIGO = 7 "
                     "ORDER BY DWN_DTINIDOWN");
    Cursor c = st.Abre();
    while (c.Proxima()) r.push_back({c.GetInt(0), c.GetInt(1)});
    return r;
}

bool Carimbado(const InstalacaoTeste& inst) {
    Attachment att = Attachment::Conecta(inst.Principal());
    Transaction tr(att, true);
    Statement st(tr, "SELECT PAB_DTULTDOWN FROM PABX WHERE PAB_CODIGO = 7");
    Cursor c = st.Abre();
    return c.Proxima() && !c.IsNull(0);
}

template <typename F> bool Espera(F condicao, std::chrono::seconds limite) {
    const auto fim = std::chrono::steady_clock::now() + limite;
    while (std::chrono::steady_clock::now() < fim) {
        if (condicao()) return true;
        std::this_thread::sleep_for(200ms);
    }
    return condicao();
}

TEST(ReinicioPelmoran, MortoDuranteUmaExecucaoFechaALinhaEBaixaDeNovo) {
    InstalacaoTeste inst{"dwnkill"};
    EXIGE_SERVIDOR(inst);
    PastaTemporaria home, store;

    // A USB-attached unit without a drive: the second run goes through the
    // whole dialogue and transfers nothing.
    pabxsim::Scenario cenario;
    cenario.store = store.Caminho();
    pabxsim::Simulator sim(cenario);
    sim.Start();
    sim.AddFault("* noreply");  // the first run hangs waiting for the login

    {
        IniFile ini(home.Caminho() / "VERUZADU.INI");
        ini.WriteString("BD", "Server", inst.srv.Servidor());
        ini.WriteString("BD", "Alias", inst.opcoes.alias);
        ini.WriteBool("Log", "Info", true);
        ini.WriteBool("Log", "Erro", true);
        ini.WriteInteger("Veruzadu", "Porta", 52000 + ::getpid() % 1000);
        ini.WriteInteger("Veruzadu", "TempoVerDownload", 1);
        ini.WriteInteger("Veruzadu", "PABXTimeOut", 60);
    }
    {
        Attachment att = Attachment::Conecta(inst.Principal());
        Transaction tr(att);
        Statement st(tr,
                     "INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_KELVENDERIP, PAB_KELVPORTA, "
                     "PAB_KELVSENHA, PAB_USB_ZIMB, PAB_USBWAIT, PAB_ULTVERIFSDC) "
                     "VALUES (7, 'Reinicio', '127.0.0.1', ?, ?, 1, 0, CURRENT_TIMESTAMP)");
        st.SetInt(0, sim.Port()).SetText(1, CriptografaTexto(cenario.password)).Executa();
        Statement janela(
            tr,
            "INSERT INTO DOWNPABX (PAB_CODIGO, DOW_HORAINI, DOW_HORAFIM) VALUES (7, '00:00', '')");
        janela.Executa();
        tr.Commit();
    }
    const OpcoesProcesso opcoes{
        {}, {"VERUZADU_HOME=" + home.Caminho().string()}, home.Caminho() / "saida.txt"};

    {
        ProcessoFilho servico({PELMORAN_EXE}, opcoes);
        ASSERT_TRUE(servico.Iniciado());
        ASSERT_TRUE(Espera(
            [&] {
                auto e = Execucoes(inst);
                return e.size() == 1 && e[0].operacao >= 3;
            },
            90s))
            << LeTudo(home.Caminho() / "saida.txt");
        servico.Sinaliza(SIGKILL);
        int status = 0;
        ASSERT_TRUE(servico.Aguarda(30s, status));
    }
    auto e = Execucoes(inst);
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(e[0].resultado, 0);
    const int operacaoMorta = e[0].operacao;
    EXPECT_FALSE(Carimbado(inst));

    sim.ClearFaults();
    ProcessoFilho servico({PELMORAN_EXE}, opcoes);
    ASSERT_TRUE(servico.Iniciado());
    // The unit runs again in its window and this time ends its run (stamped).
    EXPECT_TRUE(Espera([&] { return Carimbado(inst); }, 120s))
        << LeTudo(home.Caminho() / "saida.txt");
    servico.Sinaliza(SIGTERM);
    int status = 0;
    EXPECT_TRUE(servico.Aguarda(90s, status));

    e = Execucoes(inst);
    ASSERT_GE(e.size(), 2u) << LeTudo(home.Caminho() /
                                      ("GRV" + FormataDataHora(Agora(), "yyyymm") + ".LOG"))
                            << LeTudo(home.Caminho() / "PABX007" /
                                      ("IMP" + FormataDataHora(Agora(), "yyyymm") + ".LOG"));
    EXPECT_EQ(e[0].resultado, 2);
    EXPECT_EQ(e[0].operacao, operacaoMorta);
    const std::string imp =
        LeTudo(home.Caminho() / "PABX007" / ("IMP" + FormataDataHora(Agora(), "yyyymm") + ".LOG"));
    EXPECT_NE(e[1].resultado, 0);
    // This time the unit answered: the run went past the login.
    EXPECT_NE(imp.find("Login aceito"), std::string::npos);
    EXPECT_NE(imp.find("Início verificação cartão"), std::string::npos);
    EXPECT_NE(imp.find("Fim verificação cartão"), std::string::npos);
}

}  // namespace
