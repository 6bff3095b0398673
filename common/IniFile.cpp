#include "common/IniFile.h"
#include "common/Texto.h"

#include "common/Arquivos.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <mutex>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// One line of the file, classified once so a write can keep everything it does
// not touch (comments, blank lines, foreign lines) byte for byte.
struct Linha {
    enum Tipo { Outra, Secao, Chave } tipo = Outra;
    std::string texto;  // the line as read, without its line end
    std::string nome;   // section or key name, trimmed
    std::string valor;  // key value, trimmed and unquoted
};

struct Conteudo {
    std::vector<Linha> linhas;
    bool crlf = false;  // keep the line ends the file already has
};

Linha Classifica(std::string texto) {
    Linha l;
    const std::string_view t = AparaBrancos(texto);
    if (!t.empty() && t.front() == '[') {
        const auto fim = t.find(']');
        if (fim != std::string_view::npos) {
            l.tipo = Linha::Secao;
            l.nome = std::string(AparaBrancos(t.substr(1, fim - 1)));
        }
    } else if (!t.empty() && t.front() != ';' && t.front() != '#') {
        const auto igual = t.find('=');
        if (igual != std::string_view::npos) {
            const auto nome = AparaBrancos(t.substr(0, igual));
            if (!nome.empty()) {
                l.tipo = Linha::Chave;
                l.nome = std::string(nome);
                auto v = AparaBrancos(t.substr(igual + 1));
                if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') &&
                    v.back() == v.front())
                    v = v.substr(1, v.size() - 2);
                l.valor = std::string(v);
            }
        }
    }
    l.texto = std::move(texto);
    return l;
}

Conteudo Analisa(const std::string& bytes) {
    Conteudo c;
    std::string_view resto(bytes);
    if (resto.substr(0, 3) == "\xEF\xBB\xBF") resto.remove_prefix(3);
    while (!resto.empty()) {
        auto fim = resto.find('\n');
        std::string_view linha = resto.substr(0, fim);
        resto = fim == std::string_view::npos ? std::string_view{} : resto.substr(fim + 1);
        if (!linha.empty() && linha.back() == '\r') {
            linha.remove_suffix(1);
            c.crlf = true;
        }
        c.linhas.push_back(Classifica(std::string(linha)));
    }
    return c;
}

std::string Serializa(const Conteudo& c) {
    std::string s;
    const char* fim = c.crlf ? "\r\n" : "\n";
    for (const auto& l : c.linhas) {
        s += l.texto;
        s += fim;
    }
    return s;
}

// The file under its on-disk spelling, or the given path when none exists.
fs::path Resolve(const fs::path& caminho) {
    std::error_code ec;
    if (fs::exists(caminho, ec)) return caminho;
    const auto pasta = caminho.has_parent_path() ? caminho.parent_path() : fs::path(".");
    if (auto achado = ProcuraArquivoSemCaixa(pasta, caminho.filename().string())) return *achado;
    return caminho;
}

enum class Leitura { Lido, Ausente, Falhou };

// The whole file. Only a missing file counts as empty content (the profile
// rules give defaults); a file that is there but cannot be opened or read
// (EACCES, EIO, a folder in its place) is a failure, so that a write never
// replaces a file it could not read with one holding only the new key.
// errno tells the cause of a failure.
Leitura LeBytes(const fs::path& caminho, std::string& bytes) {
    bytes.clear();
    const int fd = ::open(caminho.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return (errno == ENOENT || errno == ENOTDIR) ? Leitura::Ausente : Leitura::Falhou;
    char bloco[8192];
    for (;;) {
        const auto n = ::read(fd, bloco, sizeof bloco);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int erro = errno;
            ::close(fd);
            errno = erro;
            return Leitura::Falhou;
        }
        if (n == 0) break;
        bytes.append(bloco, static_cast<size_t>(n));
    }
    ::close(fd);
    return Leitura::Lido;
}

// For reads a failure gives the defaults, as the profile functions do.
Conteudo Le(const fs::path& caminho) {
    std::string bytes;
    if (LeBytes(Resolve(caminho), bytes) != Leitura::Lido) return {};
    return Analisa(bytes);
}

// Index range [inicio, fim) of the lines inside each section named `secao`:
// inicio is the line after the header.
std::vector<std::pair<size_t, size_t>> Secoes(const Conteudo& c, std::string_view secao) {
    std::vector<std::pair<size_t, size_t>> r;
    for (size_t i = 0; i < c.linhas.size(); ++i) {
        if (c.linhas[i].tipo != Linha::Secao || !IgualSemCaixa(c.linhas[i].nome, secao)) continue;
        size_t j = i + 1;
        while (j < c.linhas.size() && c.linhas[j].tipo != Linha::Secao) ++j;
        r.emplace_back(i + 1, j);
        i = j - 1;
    }
    return r;
}

const Linha* ProcuraChave(const Conteudo& c, std::string_view secao, std::string_view chave) {
    for (auto [ini, fim] : Secoes(c, secao))
        for (size_t i = ini; i < fim; ++i)
            if (c.linhas[i].tipo == Linha::Chave && IgualSemCaixa(c.linhas[i].nome, chave))
                return &c.linhas[i];
    return nullptr;
}

std::optional<int> Inteiro(std::string_view s) {
    s = AparaBrancos(s);
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    int v = 0;
    const auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc{} || p != s.data() + s.size()) return std::nullopt;
    return v;
}

// Writers of one process queue on this mutex, so at most one descriptor of the
// process waits on the lock file at a time; the flock then orders them against
// other processes. Lock order: this mutex, then the flock.
std::mutex& MutexEscrita() {
    static std::mutex m;
    return m;
}

// Read-modify-write of the whole file. `muda` returns false when nothing
// changed, so the file is left alone.
template <typename F> bool Modifica(const fs::path& caminho, F&& muda) {
    // An installer may keep the file elsewhere behind a link: write the
    // target, never replace the link, and lock beside the target so every
    // path to the file shares one lock.
    fs::path real = Resolve(caminho);
    std::error_code ec;
    if (fs::is_symlink(real, ec)) {
        const auto alvo = fs::weakly_canonical(real, ec);
        if (ec) return false;
        real = alvo;
    }
    std::lock_guard<std::mutex> trava(MutexEscrita());
    const auto pasta = real.has_parent_path() ? real.parent_path() : fs::path(".");
    TravaArquivo arquivo(pasta / ("." + real.filename().string() + ".lock"));
    if (!arquivo.Ok()) {
        errno = arquivo.Erro();
        return false;
    }
    std::string bytes;
    Conteudo c;
    switch (LeBytes(real, bytes)) {
        case Leitura::Lido: c = Analisa(bytes); break;
        case Leitura::Ausente: break;
        case Leitura::Falhou: return false;  // errno says why; the file stays as it was
    }
    if (!muda(c)) return true;
    return SubstituiArquivo(real, Serializa(c));
}

}  // namespace

std::optional<fs::path> ProcuraArquivoSemCaixa(const fs::path& pasta, std::string_view nome) {
    std::error_code ec;
    if (nome.empty()) return std::nullopt;
    const fs::path exato = pasta / std::string(nome);
    if (fs::exists(exato, ec)) return exato;
    std::optional<fs::path> achado;
    for (fs::directory_iterator it(pasta, ec), fim; !ec && it != fim; it.increment(ec)) {
        const auto n = it->path().filename().string();
        if (IgualSemCaixa(n, nome)) {
            // Several spellings: take the smallest name so the choice is stable.
            if (!achado || n < achado->filename().string()) achado = it->path();
        }
    }
    return achado;
}

fs::path ArquivoSemCaixa(const fs::path& pasta, std::string_view nome) {
    if (auto achado = ProcuraArquivoSemCaixa(pasta, nome)) return *achado;
    return pasta / std::string(nome);
}

IniFile::IniFile(fs::path arquivo) : caminho_(std::move(arquivo)) {}

std::string IniFile::ReadString(std::string_view secao, std::string_view chave,
                                std::string_view padrao) const {
    const Conteudo c = Le(caminho_);
    if (const Linha* l = ProcuraChave(c, secao, chave)) return l->valor;
    return std::string(padrao);
}

int IniFile::ReadInteger(std::string_view secao, std::string_view chave, int padrao) const {
    const Conteudo c = Le(caminho_);
    if (const Linha* l = ProcuraChave(c, secao, chave)) return Inteiro(l->valor).value_or(padrao);
    return padrao;
}

bool IniFile::ReadBool(std::string_view secao, std::string_view chave, bool padrao) const {
    return ReadInteger(secao, chave, padrao ? 1 : 0) != 0;
}

bool IniFile::WriteString(std::string_view secao, std::string_view chave, std::string_view valor) {
    std::string v(valor);
    for (char& ch : v)
        if (ch == '\r' || ch == '\n') ch = ' ';
    const std::string s(AparaBrancos(secao)), k(AparaBrancos(chave));
    if (s.empty() || k.empty()) return false;
    return Modifica(caminho_, [&](Conteudo& c) {
        const std::string texto = k + "=" + v;
        const auto secoes = Secoes(c, s);
        if (secoes.empty()) {
            // A new section goes at the end, after a blank line when the file
            // has content.
            if (!c.linhas.empty() && !AparaBrancos(c.linhas.back().texto).empty())
                c.linhas.push_back(Classifica(""));
            c.linhas.push_back(Classifica("[" + s + "]"));
            c.linhas.push_back(Classifica(texto));
            return true;
        }
        for (auto [ini, fim] : secoes)
            for (size_t i = ini; i < fim; ++i)
                if (c.linhas[i].tipo == Linha::Chave && IgualSemCaixa(c.linhas[i].nome, k)) {
                    if (c.linhas[i].texto == texto) return false;
                    c.linhas[i] = Classifica(texto);
                    return true;
                }
        // A new key goes after the last non-blank line of the first section.
        auto [ini, fim] = secoes.front();
        size_t pos = fim;
        while (pos > ini && AparaBrancos(c.linhas[pos - 1].texto).empty()) --pos;
        c.linhas.insert(c.linhas.begin() + static_cast<std::ptrdiff_t>(pos), Classifica(texto));
        return true;
    });
}

bool IniFile::WriteInteger(std::string_view secao, std::string_view chave, int valor) {
    return WriteString(secao, chave, std::to_string(valor));
}

bool IniFile::WriteBool(std::string_view secao, std::string_view chave, bool valor) {
    return WriteString(secao, chave, valor ? "1" : "0");
}

bool IniFile::SectionExists(std::string_view secao) const {
    return !Secoes(Le(caminho_), secao).empty();
}

bool IniFile::ValueExists(std::string_view secao, std::string_view chave) const {
    return ProcuraChave(Le(caminho_), secao, chave) != nullptr;
}

std::vector<std::string> IniFile::ReadSection(std::string_view secao) const {
    const Conteudo c = Le(caminho_);
    std::vector<std::string> chaves;
    for (auto [ini, fim] : Secoes(c, secao))
        for (size_t i = ini; i < fim; ++i) {
            if (c.linhas[i].tipo != Linha::Chave) continue;
            bool repetida = false;
            for (const auto& k : chaves) repetida = repetida || IgualSemCaixa(k, c.linhas[i].nome);
            if (!repetida) chaves.push_back(c.linhas[i].nome);
        }
    return chaves;
}

bool IniFile::EraseSection(std::string_view secao) {
    return Modifica(caminho_, [&](Conteudo& c) {
        const auto secoes = Secoes(c, secao);
        if (secoes.empty()) return false;
        for (auto it = secoes.rbegin(); it != secoes.rend(); ++it)
            c.linhas.erase(c.linhas.begin() + static_cast<std::ptrdiff_t>(it->first - 1),
                           c.linhas.begin() + static_cast<std::ptrdiff_t>(it->second));
        return true;
    });
}

bool IniFile::DeleteKey(std::string_view secao, std::string_view chave) {
    return Modifica(caminho_, [&](Conteudo& c) {
        bool mudou = false;
        const auto secoes = Secoes(c, secao);
        for (auto it = secoes.rbegin(); it != secoes.rend(); ++it)
            for (size_t i = it->second; i-- > it->first;)
                if (c.linhas[i].tipo == Linha::Chave && IgualSemCaixa(c.linhas[i].nome, chave)) {
                    c.linhas.erase(c.linhas.begin() + static_cast<std::ptrdiff_t>(i));
                    mudou = true;
                }
        return mudou;
    });
}
