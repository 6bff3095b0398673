#include "service/ListaThreads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace {

using namespace std::chrono_literals;

// A worker that keeps running, whatever it is told, until the test lets it go.
class Teimoso final : public ThreadServico {
  public:
    Teimoso(int codigo, std::atomic<bool>& solta, std::atomic<int>& vivos)
        : ThreadServico(codigo), solta_(solta), vivos_(vivos) {}
    ~Teimoso() override { destruido = true; }
    static inline std::atomic<bool> destruido{false};

  protected:
    void Execute() override {
        ++vivos_;
        while (!solta_) std::this_thread::sleep_for(2ms);
        --vivos_;
    }

  private:
    std::atomic<bool>& solta_;
    std::atomic<int>& vivos_;
};

// Stops when asked, after using its own members for a while: a derived part
// destroyed before the join would show under ASan.
class Cuidadoso final : public ThreadServico {
  public:
    using ThreadServico::ThreadServico;
    std::vector<int> dados = std::vector<int>(1000, 1);

  protected:
    void Execute() override {
        while (!Terminated()) std::this_thread::sleep_for(1ms);
        for (int i = 0; i < 20; ++i) {
            for (auto& d : dados) d += 1;
            std::this_thread::sleep_for(1ms);
        }
    }
};

class Lancador final : public ThreadServico {
  public:
    using ThreadServico::ThreadServico;

  protected:
    void Execute() override { throw std::runtime_error("falha do trabalho"); }
};

}  // namespace

TEST(ThreadServico, StateIsKeptByTheBaseAndAThrowingBodyStillFinishes) {
    Lancador t(3);
    EXPECT_EQ(t.EstadoThread(), 0);
    t.Resume();
    ASSERT_TRUE(t.AguardaFim(30s));
    EXPECT_EQ(t.EstadoThread(), 2);
    EXPECT_TRUE(t.Encerra(0ms));

    // Told to stop before it ran: it never starts, and freeing it waits for nothing.
    Cuidadoso nunca(4);
    nunca.Terminate();
    nunca.Resume();
    EXPECT_EQ(nunca.EstadoThread(), 0);
    EXPECT_TRUE(nunca.Encerra(0ms));
}

TEST(ListaThreads, ListedWorkersAreJoinedBeforeTheirDerivedPartGoes) {
    auto lista = std::make_unique<ListaThreads>();
    for (int i = 0; i < 4; ++i) lista->AdicionaSeAusente(std::make_unique<Cuidadoso>(i));
    lista->IniciaNovas();
    lista.reset();  // asks them to stop and joins them; ASan watches their members
}

TEST(ListaThreads, AWorkerThatIgnoresTheStopIsKeptAndNoCallerWaitsBehindTheStop) {
    std::atomic<bool> solta{false};
    std::atomic<int> vivos{0};
    Teimoso::destruido = false;
    ListaThreads lista;
    ASSERT_TRUE(lista.AdicionaSeAusente(std::make_unique<Teimoso>(1, solta, vivos)));
    ASSERT_TRUE(lista.AdicionaSeAusente(std::make_unique<Cuidadoso>(2)));
    lista.IniciaNovas();
    for (int i = 0; i < 3000 && vivos == 0; ++i) std::this_thread::sleep_for(10ms);
    ASSERT_EQ(vivos.load(), 1);

    lista.Fecha();
    auto parada = std::async(std::launch::async, [&] {
        return lista.EncerraTodas(std::chrono::steady_clock::now() + 2s);
    });
    // While the stop waits, the status server's questions are answered.
    std::this_thread::sleep_for(100ms);
    auto pergunta = std::async(std::launch::async, [&] { return lista.EstaNaLista(1); });
    ASSERT_EQ(pergunta.wait_for(1s), std::future_status::ready);
    EXPECT_TRUE(pergunta.get());
    EXPECT_FALSE(lista.AdicionaSeAusente(std::make_unique<Cuidadoso>(9)));  // closed

    EXPECT_EQ(parada.get(), 1u);  // the careful one was joined and freed
    EXPECT_EQ(lista.Contagem(), 1u);
    EXPECT_TRUE(lista.EstaNaLista(1));
    EXPECT_FALSE(Teimoso::destruido.load());  // never freed under its body

    solta = true;
    EXPECT_EQ(lista.EncerraTodas(std::chrono::steady_clock::now() + 30s), 0u);
    EXPECT_TRUE(Teimoso::destruido.load());
    EXPECT_EQ(vivos.load(), 0);
}
