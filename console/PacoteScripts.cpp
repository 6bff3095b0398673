#include "console/PacoteScripts.h"

#include "common/Texto.h"

#include <archive.h>
#include <archive_entry.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <memory>
#include <set>

namespace {

bool Comeca(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }
bool Termina(std::string_view s, std::string_view p) {
    return s.size() >= p.size() && s.substr(s.size() - p.size()) == p;
}
// prefix + "*" + suffix, as a file mask matches it.
bool Mascara(std::string_view nome, std::string_view prefixo, std::string_view sufixo) {
    return nome.size() >= prefixo.size() + sufixo.size() && Comeca(nome, prefixo) &&
           Termina(nome, sufixo);
}

constexpr std::string_view Manifesto = "PACOTE.INI";

struct FechaArquivo {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
struct FechaArchive {
    void operator()(archive* a) const { archive_read_free(a); }
};

// Inflates the whole gzip stream once, checking its CRC and length (zlib does)
// and counting the output against the cap, so a cut or damaged package is
// refused before its contents are looked at.
void VerificaGzip(const std::filesystem::path& arquivo, std::size_t limite) {
    std::unique_ptr<std::FILE, FechaArquivo> f(std::fopen(arquivo.c_str(), "rb"));
    if (!f) throw PacoteRecusado("", "não foi possível abrir o pacote");
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
    struct Fim {
        z_stream* z;
        ~Fim() { inflateEnd(z); }
    } fim{&z};
    std::vector<unsigned char> entrada(64 * 1024), saida(256 * 1024);
    std::size_t total = 0;
    bool inicio = true, terminou = false;
    for (;;) {
        const std::size_t n = std::fread(entrada.data(), 1, entrada.size(), f.get());
        if (n == 0) break;
        z.next_in = entrada.data();
        z.avail_in = static_cast<uInt>(n);
        while (z.avail_in > 0) {
            if (terminou) {
                // Another gzip member follows (a valid, concatenated gzip).
                inflateReset(&z);
                terminou = false;
            }
            z.next_out = saida.data();
            z.avail_out = static_cast<uInt>(saida.size());
            const int r = inflate(&z, Z_NO_FLUSH);
            if (r != Z_OK && r != Z_STREAM_END && r != Z_BUF_ERROR)
                throw PacoteRecusado("", inicio ? "não é um arquivo tar.gz"
                                                : "pacote danificado (gzip inválido)");
            inicio = false;
            total += saida.size() - z.avail_out;
            if (total > limite) throw PacoteRecusado("", "pacote maior que o limite");
            if (r == Z_STREAM_END) terminou = true;
            if (r == Z_BUF_ERROR && z.avail_out != 0) break;
        }
    }
    if (std::ferror(f.get())) throw PacoteRecusado("", "erro de leitura do pacote");
    if (inicio) throw PacoteRecusado("", "pacote vazio");
    if (!terminou) throw PacoteRecusado("", "pacote incompleto (gzip cortado)");
}

std::string LeManifesto(const std::string& texto) {
    // IniFile reads files; the manifest is tiny, so a private parse.
    std::string secao, formato, versao;
    std::size_t i = 0;
    while (i <= texto.size()) {
        std::size_t fimLinha = texto.find('\n', i);
        if (fimLinha == std::string::npos) fimLinha = texto.size();
        std::string linha = texto.substr(i, fimLinha - i);
        i = fimLinha + 1;
        while (!linha.empty() && (linha.back() == '\r' || linha.back() == ' ')) linha.pop_back();
        linha.erase(0, linha.find_first_not_of(' '));
        if (linha.empty() || linha[0] == ';' || linha[0] == '#') continue;
        if (linha.front() == '[' && linha.back() == ']') {
            secao = linha.substr(1, linha.size() - 2);
            continue;
        }
        const auto igual = linha.find('=');
        if (igual == std::string::npos || secao != "Pacote") continue;
        std::string chave = linha.substr(0, igual), valor = linha.substr(igual + 1);
        while (!chave.empty() && chave.back() == ' ') chave.pop_back();
        valor.erase(0, valor.find_first_not_of(' '));
        if (chave == "Formato") formato = valor;
        if (chave == "Versao") versao = valor;
    }
    if (formato != "1")
        throw PacoteRecusado(std::string(Manifesto),
                             "formato de pacote desconhecido: '" + formato + "'");
    if (versao.empty()) throw PacoteRecusado(std::string(Manifesto), "versão ausente");
    return versao;
}

}  // namespace

TipoScript TipoDoScript(std::string_view nome) {
    if (Mascara(nome, "quv_", ".sql")) return TipoScript::Principal;
    if (Mascara(nome, "grvpab_", ".sql")) return TipoScript::Unidade;
    if (Mascara(nome, "grvest", ".sql")) return TipoScript::Estrutura;
    return TipoScript::Nenhum;
}

bool NomePacoteScripts(std::string_view nome) { return Mascara(nome, "scripts", ".gkp"); }

bool TextoUtf8Valido(std::string_view s) {
    return s.find('\0') == std::string_view::npos && Utf8Valido(s);
}

std::string Sha256Hex(std::string_view dados) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_Digest(dados.data(), dados.size(), md, &n, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 failed");
    static constexpr char hex[] = "0123456789abcdef";
    std::string s;
    for (unsigned i = 0; i < n; ++i) {
        s += hex[md[i] >> 4];
        s += hex[md[i] & 15];
    }
    return s;
}

PacoteScripts LePacoteScripts(const std::filesystem::path& arquivo, const LimitesPacote& limites) {
    VerificaGzip(arquivo, limites.porPacote);

    std::unique_ptr<archive, FechaArchive> a(archive_read_new());
    if (!a) throw std::bad_alloc();
    // Only the tar format behind the gzip filter: no other parser ever sees a package.
    archive_read_support_filter_gzip(a.get());
    archive_read_support_format_tar(a.get());
    if (archive_read_open_filename(a.get(), arquivo.c_str(), 64 * 1024) != ARCHIVE_OK)
        throw PacoteRecusado("", std::string("não é um arquivo tar.gz: ") +
                                     archive_error_string(a.get()));

    PacoteScripts pacote;
    std::set<std::string> vistos;
    std::string manifesto;
    bool temManifesto = false;
    std::size_t total = 0;
    archive_entry* e = nullptr;
    for (;;) {
        const int r = archive_read_next_header(a.get(), &e);
        if (r == ARCHIVE_EOF) break;
        if (r != ARCHIVE_OK) {
            const char* m = archive_error_string(a.get());
            throw PacoteRecusado("", std::string("tar inválido: ") + (m ? m : "?"));
        }
        if (archive_filter_count(a.get()) < 2 ||
            archive_filter_code(a.get(), 0) != ARCHIVE_FILTER_GZIP)
            throw PacoteRecusado("", "não é um arquivo tar.gz");
        const char* p = archive_entry_pathname(e);
        const std::string nome = p ? p : "";
        if (nome.empty() || nome.find('/') != std::string::npos ||
            nome.find("..") != std::string::npos || nome[0] == '.')
            throw PacoteRecusado(nome, "nome de entrada não permitido");
        const bool ehManifesto = nome == Manifesto;
        const TipoScript tipo = TipoDoScript(nome);
        if (!ehManifesto && tipo == TipoScript::Nenhum)
            throw PacoteRecusado(nome, "nome de entrada não permitido");
        if (archive_entry_filetype(e) != AE_IFREG || archive_entry_hardlink(e) != nullptr ||
            archive_entry_symlink(e) != nullptr)
            throw PacoteRecusado(nome, "entrada não é um arquivo comum");
        if (!vistos.insert(nome).second) throw PacoteRecusado(nome, "entrada repetida");
        if (archive_entry_size_is_set(e) &&
            archive_entry_size(e) > static_cast<la_int64_t>(limites.porEntrada))
            throw PacoteRecusado(nome, "entrada maior que o limite");

        std::string texto;
        char bloco[64 * 1024];
        for (;;) {
            const la_ssize_t n = archive_read_data(a.get(), bloco, sizeof bloco);
            if (n == 0) break;
            if (n < 0) {
                const char* m = archive_error_string(a.get());
                throw PacoteRecusado(nome, std::string("erro de leitura: ") + (m ? m : "?"));
            }
            total += static_cast<std::size_t>(n);
            if (texto.size() + static_cast<std::size_t>(n) > limites.porEntrada)
                throw PacoteRecusado(nome, "entrada maior que o limite");
            if (total > limites.porPacote) throw PacoteRecusado(nome, "pacote maior que o limite");
            texto.append(bloco, static_cast<std::size_t>(n));
        }
        if (!TextoUtf8Valido(texto)) throw PacoteRecusado(nome, "texto não é UTF-8");
        if (ehManifesto) {
            manifesto = std::move(texto);
            temManifesto = true;
        } else {
            ScriptPacote s;
            s.nome = nome;
            s.sha256 = Sha256Hex(texto);
            s.texto = std::move(texto);
            s.tipo = tipo;
            pacote.scripts.push_back(std::move(s));
        }
    }
    if (!temManifesto) throw PacoteRecusado(std::string(Manifesto), "manifesto ausente");
    pacote.versao = LeManifesto(manifesto);
    return pacote;
}

std::vector<std::filesystem::path> ListaPacotes(const std::filesystem::path& pasta,
                                                bool (*casa)(std::string_view)) {
    std::vector<std::filesystem::path> achados;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(pasta, ec), fim; !ec && it != fim;
         it.increment(ec)) {
        const std::string nome = it->path().filename().string();
        if (nome.empty() || nome[0] == '.' || !casa(nome)) continue;
        std::error_code ec2;
        if (!it->is_regular_file(ec2) || it->is_symlink(ec2)) continue;
        achados.push_back(it->path());
    }
    std::sort(achados.begin(), achados.end(), [](const auto& a, const auto& b) {
        return a.filename().string() < b.filename().string();
    });
    return achados;
}

int ComparaVersoes(std::string_view a, std::string_view b) {
    auto parte = [](std::string_view& s) {
        const auto ponto = s.find('.');
        std::string_view p = s.substr(0, ponto);
        s = ponto == std::string_view::npos ? std::string_view{} : s.substr(ponto + 1);
        return p;
    };
    while (!a.empty() || !b.empty()) {
        const std::string_view pa = parte(a), pb = parte(b);
        unsigned long long na = 0, nb = 0;
        const auto ra = std::from_chars(pa.data(), pa.data() + pa.size(), na);
        const auto rb = std::from_chars(pb.data(), pb.data() + pb.size(), nb);
        const bool numA = pa.empty() || (ra.ec == std::errc{} && ra.ptr == pa.data() + pa.size());
        const bool numB = pb.empty() || (rb.ec == std::errc{} && rb.ptr == pb.data() + pb.size());
        if (numA && numB) {
            if (na != nb) return na < nb ? -1 : 1;
        } else if (const int c = pa.compare(pb); c != 0) {
            return c < 0 ? -1 : 1;
        }
    }
    return 0;
}
