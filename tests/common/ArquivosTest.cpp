#include "common/Arquivos.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "common/IniFile.h"
#include "tests/support/PastaTemporaria.h"

namespace fs = std::filesystem;

namespace {

TEST(Arquivos, FileDatesRoundTrip) {
    PastaTemporaria pasta;
    const auto arquivo = pasta / "a.wav";
    Grava(arquivo, "x");
    const DataHora local{2024, 2, 29, 13, 45, 10, 250};
    ASSERT_TRUE(AjustaDataArquivo(arquivo, local));
    DataHora criacao, acesso, escrita;
    ASSERT_TRUE(DatasArquivo(arquivo, criacao, acesso, escrita));
    // Set as local time, read back in UTC.
    EXPECT_EQ(SegundosDesdeEpoca(escrita), static_cast<long long>(InstanteLocal(local)));
    EXPECT_EQ(escrita.milissegundo, 250);
    EXPECT_FALSE(criacao.Vazia());
    EXPECT_FALSE(acesso.Vazia());

    EXPECT_FALSE(DatasArquivo(pasta / "falta", criacao, acesso, escrita));
    EXPECT_FALSE(AjustaDataArquivo(pasta / "falta", local));
    EXPECT_FALSE(AjustaDataArquivo(arquivo, DataHora{2024, 2, 30, 0, 0, 0, 0}));
}

TEST(Arquivos, CopiaArquivo) {
    PastaTemporaria pasta;
    Grava(pasta / "origem.wav", "novo");
    Grava(pasta / "dest/rec.wav", "antigo");

    // Without overwrite the existing file is kept and the copy takes a free name.
    EXPECT_TRUE(CopiaArquivo(pasta / "origem.wav", pasta / "dest/rec.wav", false));
    EXPECT_EQ(LeTudo(pasta / "dest/rec.wav"), "antigo");
    EXPECT_EQ(LeTudo(pasta / "dest/rec (2).wav"), "novo");
    EXPECT_TRUE(CopiaArquivo(pasta / "origem.wav", pasta / "dest/rec.wav", false));
    EXPECT_EQ(LeTudo(pasta / "dest/rec (3).wav"), "novo");

    EXPECT_TRUE(CopiaArquivo(pasta / "origem.wav", pasta / "dest/rec.wav", true));
    EXPECT_EQ(LeTudo(pasta / "dest/rec.wav"), "novo");
    // Into a folder: under the source's own name.
    EXPECT_TRUE(CopiaArquivo(pasta / "origem.wav", pasta / "dest", false));
    EXPECT_EQ(LeTudo(pasta / "dest/origem.wav"), "novo");

    EXPECT_FALSE(CopiaArquivo(pasta / "falta.wav", pasta / "dest/x.wav", true));
    EXPECT_FALSE(CopiaArquivo(pasta / "origem.wav", pasta / "nao/existe/x.wav", true));
    // Failed or finished copies leave no temporary file.
    size_t n = 0;
    for (const auto& e : fs::directory_iterator(pasta / "dest")) n += !e.path().empty();
    EXPECT_EQ(n, 4u);
}

TEST(Arquivos, FolderDeletionAndEmptyFolders) {
    PastaTemporaria pasta;
    EXPECT_TRUE(ApagaPasta(pasta / "falta"));
    EXPECT_FALSE(ApagaPastaShell(pasta / "falta"));

    // a/b/c with c empty and b holding only c; a/d holds a file; a/e is empty.
    fs::create_directories(pasta / "a/b/c");
    fs::create_directories(pasta / "a/e");
    Grava(pasta / "a/d/f.txt", "x");
    EXPECT_FALSE(PastaVazia(pasta / "a/b"));
    EXPECT_TRUE(PastaVazia(pasta / "a/b/c"));
    EXPECT_FALSE(PastaVazia(pasta / "falta"));

    std::vector<std::string> lista;
    ListaPastasVazias(lista, pasta / "a", false);
    EXPECT_TRUE(lista.empty());
    ListaPastasVazias(lista, pasta / "a", true);
    EXPECT_EQ(lista,
              (std::vector<std::string>{(pasta / "a/b/c/").string(), (pasta / "a/e/").string()}));
    EXPECT_TRUE(fs::exists(pasta / "a/b/c"));  // listing never deletes

    ApagaPastasVazias(pasta / "a");
    EXPECT_FALSE(fs::exists(pasta / "a/b"));  // c went first, then b
    EXPECT_FALSE(fs::exists(pasta / "a/e"));
    EXPECT_TRUE(fs::exists(pasta / "a/d/f.txt"));  // a keeps its file and so stays

    fs::create_directories(pasta / "b/c");
    ApagaPastasVazias(pasta / "b");
    EXPECT_FALSE(fs::exists(pasta / "b"));

    EXPECT_TRUE(ApagaPasta(pasta / "a"));
    EXPECT_FALSE(fs::exists(pasta / "a"));
}

TEST(Arquivos, DiscoProntoWantsAMountedReadableFolder) {
    PastaTemporaria pasta;
    fs::create_directories(pasta / "usb drive");
    fs::create_directories(pasta / "livre");
    const auto montagem = (pasta / "usb drive").string();
    const std::string escapado = (pasta / "usb\\040drive").string();
    Grava(pasta / "fstab", "# comment\n/dev/sdb1 " + escapado + " vfat noauto 0 0\n");
    Grava(pasta / "mountinfo", "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n");
    Grava(pasta / "montado", "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                             "40 22 8:17 / " +
                                 escapado + " rw - vfat /dev/sdb1 rw\n");

    EXPECT_FALSE(DiscoPronto(montagem, pasta / "fstab", pasta / "mountinfo"));  // not mounted
    EXPECT_TRUE(DiscoPronto(montagem + "/", pasta / "fstab", pasta / "montado"));
    EXPECT_TRUE(DiscoPronto((pasta / "livre").string(), pasta / "fstab", pasta / "mountinfo"));
    EXPECT_FALSE(DiscoPronto((pasta / "falta").string(), pasta / "fstab", pasta / "montado"));
    EXPECT_FALSE(DiscoPronto("", pasta / "fstab", pasta / "montado"));
    EXPECT_TRUE(DiscoPronto("/"));
}

TEST(Arquivos, PastaBinFirebird) {
    PastaTemporaria pasta;
    IniFile ini(pasta / "VERUZADU.INI");
    EXPECT_EQ(PastaBinFirebird(ini), "/usr/bin/");
    ASSERT_TRUE(ini.WriteString("Firebird", "Bin", "/opt/firebird/bin"));
    EXPECT_EQ(PastaBinFirebird(ini), "/opt/firebird/bin/");
    ASSERT_TRUE(ini.WriteString("Firebird", "Bin", "/opt/fb/"));
    EXPECT_EQ(PastaBinFirebird(ini), "/opt/fb/");
}

TEST(Arquivos, PastaEspecial) {
    EXPECT_EQ(PastaEspecial(19).back(), '/');
    EXPECT_EQ(PastaEspecial(21), "/opt/");
    EXPECT_EQ(PastaEspecial(-1), "");
    EXPECT_EQ(PastaEspecial(27), "");
}

}  // namespace
