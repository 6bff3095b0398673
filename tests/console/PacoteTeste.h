#pragma once
// Builds upgrade packages for the tests with Python's tarfile, so entries a
// release never makes (links, folders, "../" names, duplicates, huge
// streamed entries) can be written exactly as a hostile package would hold
// them. Plain packages are made with tools/veruzadu-pacote, as a release does.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/PastaTemporaria.h"

struct EntradaTeste {
    std::string nome;
    char tipo = 'f';       // f file, l symlink, h hard link, d folder, z streamed zeros
    std::string conteudo;  // file contents, link target, or zeros count (z)
};

inline const std::string ManifestoTeste = "[Pacote]\nFormato=1\nVersao=1.0.0\n";

// Writes `saida` as a tar, gzip-compressed when `gzip`. True when Python did.
inline bool FazPacote(const std::filesystem::path& saida, const std::vector<EntradaTeste>& entradas,
                      bool gzip = true) {
    PastaTemporaria tmp;
    std::string py =
        "import io, sys, tarfile\n"
        "class Z(io.RawIOBase):\n"
        "    def __init__(s, n): s.n = n\n"
        "    def readable(s): return True\n"
        "    def readinto(s, b):\n"
        "        k = min(len(b), s.n); b[:k] = bytes(k); s.n -= k; return k\n"
        "t = tarfile.open(sys.argv[1], 'w:gz' if sys.argv[2] == '1' else 'w', compresslevel=1) "
        "if sys.argv[2] == '1' else tarfile.open(sys.argv[1], 'w')\n"
        "a = sys.argv[3:]\n"
        "for i in range(0, len(a), 3):\n"
        "    nome, tipo, arq = a[i], a[i+1], a[i+2]\n"
        "    dado = open(arq, 'rb').read()\n"
        "    ti = tarfile.TarInfo(nome)\n"
        "    if tipo == 'f':\n"
        "        ti.size = len(dado); t.addfile(ti, io.BytesIO(dado))\n"
        "    elif tipo == 'z':\n"
        "        ti.size = int(dado); t.addfile(ti, io.BufferedReader(Z(ti.size)))\n"
        "    else:\n"
        "        ti.type = {'l': tarfile.SYMTYPE, 'h': tarfile.LNKTYPE, 'd': "
        "tarfile.DIRTYPE}[tipo]\n"
        "        ti.linkname = dado.decode()\n"
        "        t.addfile(ti)\n"
        "t.close()\n";
    Grava(tmp / "faz.py", py);
    std::string cmd = "python3 '" + (tmp / "faz.py").string() + "' '" + saida.string() + "' " +
                      (gzip ? "1" : "0");
    for (std::size_t i = 0; i < entradas.size(); ++i) {
        const auto arq = tmp / ("e" + std::to_string(i));
        Grava(arq, entradas[i].conteudo);
        cmd += " '" + entradas[i].nome + "' " + entradas[i].tipo + " '" + arq.string() + "'";
    }
    return std::system(cmd.c_str()) == 0;
}

// A package as a release makes it: tools/veruzadu-pacote over a folder with
// the manifest and these scripts.
inline bool FazPacoteRelease(const std::filesystem::path& saida,
                             const std::vector<std::pair<std::string, std::string>>& scripts,
                             const std::string& manifesto = ManifestoTeste) {
    PastaTemporaria dir;
    Grava(dir / "PACOTE.INI", manifesto);
    for (const auto& [nome, texto] : scripts) Grava(dir / nome, texto);
    const std::string cmd = std::string("'") + VERUZADU_SOURCE_DIR + "/tools/veruzadu-pacote' '" +
                            dir.Caminho().string() + "' '" + saida.string() + "' >/dev/null";
    return std::system(cmd.c_str()) == 0;
}
