// The unit's working folder on a small file system that fills up during the
// transfer: the run ends failed (result 2) with the write failure in the
// unit's log, nothing unfiled leaves the unit, and the next run, with room,
// completes. The small file system is a tmpfs mounted in a mount namespace of
// the service's own (unshare), so it vanishes with the process whatever
// happens; that needs root, and the test skips itself without it.

#include <gtest/gtest.h>
#include <unistd.h>

#include "tests/service/download/UnidadePonta.h"

namespace {

using namespace std::chrono_literals;
using ponta::Ambiente;
using ponta::Unidade;
namespace fs = std::filesystem;

std::uintmax_t Bytes(const fs::path& raiz) {
    std::uintmax_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(raiz))
        if (e.is_regular_file()) n += e.file_size();
    return n;
}

TEST(Confiabilidade, DiscoCheioNaTransferenciaResultado2EDepoisCompleta) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small file system for the working folder needs root";
    {
        OpcoesProcesso o;
        o.limite = 30s;
        if (!ExecutaProcesso({"unshare", "-m", "--propagation", "private", "mount", "-t", "tmpfs",
                              "-o", "size=64k", "tmpfs", "/mnt"},
                             o)
                 .Sucesso())
            GTEST_SKIP() << "no private mount namespace here (unshare -m and mount refused)";
    }
    Ambiente a("confdisco");
    EXIGE_SERVIDOR(a.inst);
    Unidade u(1, 24, 61);
    u.GuardaOriginal();
    a.EscreveINI();
    a.Registra(u);

    // Room for about a third of the store: the transfer meets a full disk.
    const fs::path trabalho = a.home.Caminho() / "PABX001" / "NORVIKA";
    fs::create_directories(trabalho);
    const std::uintmax_t tamanho = std::max<std::uintmax_t>(64 * 1024, Bytes(u.loja) / 3);
    a.lancador = {"unshare",
                  "-m",
                  "--propagation",
                  "private",
                  "sh",
                  "-c",
                  "mount -t tmpfs -o size=\"$1\" tmpfs \"$2\" && shift 2 && exec \"$@\"",
                  "sh",
                  std::to_string(tamanho),
                  trabalho.string()};
    ASSERT_TRUE(a.RodaAteCarimbar({1})) << a.Logs();
    const std::string logs = a.Logs();
    EXPECT_NE(logs.find("Falha ao gravar arquivo"), std::string::npos) << logs;
    EXPECT_NE(logs.find("No space left on device"), std::string::npos) << logs;
    const auto r = a.Resultados(1);
    ASSERT_FALSE(r.empty());
    EXPECT_EQ(r.back(), 2) << logs;
    a.Verifica(u, false);
    EXPECT_FALSE(ponta::Arquivos(u.loja).empty());

    // Room again: the next run takes the rest.
    a.lancador.clear();
    a.LiberaJanela(1);
    ASSERT_TRUE(a.RodaAteCarimbar({1})) << a.Logs();
    a.Verifica(u, true);
}

}  // namespace
