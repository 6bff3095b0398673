#include "tests/support/BancoTeste.h"

#include "common/db/Eventos.h"
#include "common/Sinais.h"

#include <poll.h>
#include <signal.h>

#include <chrono>

using namespace std::chrono_literals;

namespace {

class EventosTest : public BancoTeste {
  protected:
    // Posts from another attachment, as the other program would.
    void Posta(Attachment& outra, const std::vector<std::string>& eventos, bool confirma) {
        std::string bloco = "EXECUTE BLOCK AS BEGIN ";
        for (const auto& e : eventos) bloco += "POST_EVENT '" + e + "'; ";
        bloco += "END";
        Transaction tr(outra);
        tr.Executa(bloco);
        if (confirma)
            tr.Commit();
        else
            tr.Rollback();
    }

    // Collects counts until `nome` shows up or the generous limit passes.
    std::map<std::string, unsigned long> AguardaEvento(EventListener& l, const std::string& nome) {
        std::map<std::string, unsigned long> total;
        const auto fim = std::chrono::steady_clock::now() + 20s;
        while (!total.count(nome) && std::chrono::steady_clock::now() < fim && !l.Interrompido())
            for (auto& [k, v] : l.Aguarda(200ms)) total[k] += v;
        return total;
    }
};

TEST_F(EventosTest, EventoDeOutraConexaoChegaERollbackNao) {
    EventListener ouvinte(Db(), {"GRVGRAVACAO", "GRVHISTORY", "GRVCONFIG"});
    Attachment outra = NovaConexao();

    // A rolled-back post, then two posts in one transaction (merged into one
    // callback with count 2).
    Posta(outra, {"GRVHISTORY"}, false);
    Posta(outra, {"GRVGRAVACAO", "GRVGRAVACAO"}, true);
    auto contagens = AguardaEvento(ouvinte, "GRVGRAVACAO");
    EXPECT_EQ(contagens["GRVGRAVACAO"], 2u);
    EXPECT_EQ(contagens.count("GRVHISTORY"), 0u);
    EXPECT_EQ(contagens.count("GRVCONFIG"), 0u);

    // Queued again after each callback: later posts arrive too, and the
    // descriptor wakes a poll loop.
    for (int volta = 0; volta < 3; ++volta) {
        Posta(outra, {"GRVCONFIG"}, true);
        // The owner keeps using the attachment while the worker queues on it.
        EXPECT_EQ(Db().ContaConexoesUsuarios(), 2);
        pollfd p{ouvinte.Descritor(), POLLIN, 0};
        ASSERT_EQ(poll(&p, 1, 20000), 1) << "no wake-up in round " << volta;
        contagens = AguardaEvento(ouvinte, "GRVCONFIG");
        EXPECT_EQ(contagens["GRVCONFIG"], 1u) << "round " << volta;
    }
    EXPECT_FALSE(ouvinte.Interrompido());
    EXPECT_TRUE(ouvinte.Toma().empty());
}

TEST_F(EventosTest, DestruirComEventosPendentesNaoTrava) {
    Attachment outra = NovaConexao();
    for (int i = 0; i < 5; ++i) {
        EventListener ouvinte(Db(), {"GRVCADASTRO"});
        Posta(outra, {"GRVCADASTRO"}, true);
    }
    EventListener ouvinte(Db(), {"GRVCADASTRO"});
    Posta(outra, {"GRVCADASTRO"}, true);
    EXPECT_EQ(AguardaEvento(ouvinte, "GRVCADASTRO")["GRVCADASTRO"], 1u);
}

TEST(Sinais, BloqueadosChegamPorEsperaEPorDescritor) {
    BloqueiaSinaisParada();
    EXPECT_EQ(AguardaSinalParada(10ms), 0);
    ASSERT_EQ(raise(SIGTERM), 0);  // thread-directed: stays pending for this thread
    EXPECT_EQ(AguardaSinalParada(1000ms), SIGTERM);

    DescritorSinais d;
    EXPECT_EQ(d.Le(), 0);
    ASSERT_EQ(raise(SIGHUP), 0);
    pollfd p{d.Descritor(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 1000), 1);
    EXPECT_EQ(d.Le(), SIGHUP);
}

}  // namespace
