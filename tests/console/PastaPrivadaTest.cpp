// The console's private folder: where it is made, who may enter it, what
// emptying keeps, and that it is gone with the console.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "console/PastaPrivada.h"
#include "tests/common/PastaTemporaria.h"

namespace fs = std::filesystem;

TEST(PastaPrivada, FeitaSobORuntimeComModo0700EsvaziadaERemovida) {
    PastaTemporaria runtime;
    ::setenv("XDG_RUNTIME_DIR", runtime.Caminho().c_str(), 1);
    fs::path caminho;
    {
        PastaPrivada a, b;
        caminho = a.Caminho();
        EXPECT_EQ(caminho.parent_path(), runtime.Caminho());
        EXPECT_TRUE(caminho.filename().string().starts_with("veruzadu-"));
        EXPECT_NE(b.Caminho(), caminho);  // two consoles never share one
        struct stat st {};
        ASSERT_EQ(::stat(caminho.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);

        Grava(caminho / "G1.WAV", "x");
        Grava(caminho / "sub" / "G2.OGG", "y");
        Grava(b.Caminho() / "G1.WAV", "z");
        a.Esvazia();
        EXPECT_TRUE(fs::is_directory(caminho));
        EXPECT_TRUE(fs::is_empty(caminho));
        EXPECT_EQ(LeTudo(b.Caminho() / "G1.WAV"), "z");

        // Removed from outside: made again on the next use.
        fs::remove_all(caminho);
        EXPECT_TRUE(fs::is_directory(a.Caminho()));
        caminho = a.Caminho();
        Grava(caminho / "G3.WAV", "x");
    }
    EXPECT_FALSE(fs::exists(caminho));
    EXPECT_TRUE(fs::is_empty(runtime.Caminho()));

    ::unsetenv("XDG_RUNTIME_DIR");
    PastaPrivada c;
    EXPECT_EQ(c.Caminho().parent_path(), fs::temp_directory_path());
}
