#include "common/CifraTexto.h"

#include "common/Texto.h"

#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <utility>

namespace {

constexpr std::string_view kFrase = "Wu4nQe";
constexpr std::string_view kAlfabeto =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Overwrites through a volatile pointer so the compiler cannot drop the wipe
// of a buffer that is about to die.
void Apaga(void* p, std::size_t n) {
    auto* v = static_cast<volatile unsigned char*>(p);
    for (std::size_t k = 0; k < n; ++k) v[k] = 0xFF;
}

// Plain RC4 (OpenSSL 3 keeps it only in the legacy provider). The key schedule
// is wiped when the object dies.
class Rc4 final {
  public:
    Rc4(const unsigned char* chave, std::size_t tamanho) {
        for (int k = 0; k < 256; ++k) s_[k] = static_cast<std::uint8_t>(k);
        std::uint8_t j = 0;
        for (std::size_t k = 0; k < 256; ++k) {
            j = static_cast<std::uint8_t>(j + s_[k] + chave[k % tamanho]);
            std::swap(s_[k], s_[j]);
        }
    }
    ~Rc4() {
        Apaga(s_.data(), s_.size());
        Apaga(&i_, 1);
        Apaga(&j_, 1);
    }
    Rc4(const Rc4&) = delete;
    Rc4& operator=(const Rc4&) = delete;

    void Aplica(std::string& dados) {
        for (char& c : dados) {
            i_ = static_cast<std::uint8_t>(i_ + 1);
            j_ = static_cast<std::uint8_t>(j_ + s_[i_]);
            std::swap(s_[i_], s_[j_]);
            c = static_cast<char>(static_cast<std::uint8_t>(c) ^
                                  s_[static_cast<std::uint8_t>(s_[i_] + s_[j_])]);
        }
    }

  private:
    std::array<std::uint8_t, 256> s_{};
    std::uint8_t i_ = 0;
    std::uint8_t j_ = 0;
};

// Runs RC4 keyed with SHA-1 of the fixed passphrase over the bytes, in place.
void Cifra(std::string& dados) {
    if (dados.empty()) return;
    std::array<unsigned char, EVP_MAX_MD_SIZE> chave{};
    unsigned int tamanho = 0;
    if (EVP_Digest(kFrase.data(), kFrase.size(), chave.data(), &tamanho, EVP_sha1(), nullptr) !=
            1 ||
        tamanho != 20)
        throw std::runtime_error("SHA-1 indisponível na biblioteca de criptografia");
    {
        Rc4 rc4(chave.data(), tamanho);
        Apaga(chave.data(), chave.size());
        rc4.Aplica(dados);
    }
}

int ValorBase64(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return 0;
}

}  // namespace

std::string CodificaBase64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t k = 0;
    auto b = [&](std::size_t p) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[p]));
    };
    for (; k + 3 <= bytes.size(); k += 3) {
        const std::uint32_t v = b(k) << 16 | b(k + 1) << 8 | b(k + 2);
        out += kAlfabeto[v >> 18];
        out += kAlfabeto[(v >> 12) & 63];
        out += kAlfabeto[(v >> 6) & 63];
        out += kAlfabeto[v & 63];
    }
    const std::size_t resto = bytes.size() - k;
    if (resto > 0) {
        const std::uint32_t v = b(k) << 16 | (resto == 2 ? b(k + 1) << 8 : 0);
        out += kAlfabeto[v >> 18];
        out += kAlfabeto[(v >> 12) & 63];
        out += resto == 2 ? kAlfabeto[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string DecodificaBase64(std::string_view texto) {
    while (!texto.empty() && texto.back() == ' ') texto.remove_suffix(1);
    std::string out;
    out.reserve(texto.size() / 4 * 3);
    for (std::size_t k = 0; k + 4 <= texto.size(); k += 4) {
        const std::uint32_t v = static_cast<std::uint32_t>(ValorBase64(texto[k])) << 18 |
                                static_cast<std::uint32_t>(ValorBase64(texto[k + 1])) << 12 |
                                static_cast<std::uint32_t>(ValorBase64(texto[k + 2])) << 6 |
                                static_cast<std::uint32_t>(ValorBase64(texto[k + 3]));
        const int n = texto[k + 2] == '=' ? 1 : texto[k + 3] == '=' ? 2 : 3;
        out += static_cast<char>(v >> 16);
        if (n > 1) out += static_cast<char>((v >> 8) & 0xFF);
        if (n > 2) out += static_cast<char>(v & 0xFF);
    }
    return out;
}

std::string CriptografaBytes(std::string_view bytes) {
    std::string dados(bytes);
    Cifra(dados);
    std::string texto = CodificaBase64(dados);
    Apaga(dados.data(), dados.size());
    return texto;
}

std::string DescriptografaBytes(std::string_view textoCriptografado) {
    std::string dados = DecodificaBase64(textoCriptografado);
    Cifra(dados);
    return dados;
}

std::string CriptografaTexto(std::string_view textoUtf8) {
    std::string latin1 = Utf8ParaLatin1(textoUtf8);
    std::string texto = CriptografaBytes(latin1);
    Apaga(latin1.data(), latin1.size());
    return texto;
}

std::string DescriptografaTexto(std::string_view textoCriptografado) {
    std::string latin1 = DescriptografaBytes(textoCriptografado);
    std::string texto = Latin1ParaUtf8(latin1);
    Apaga(latin1.data(), latin1.size());
    return texto;
}
