#include "common/ArquivoCriptografado.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <vector>

#include "common/ArquivoSaida.h"

namespace {

struct LiberaCtx {
    void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using CtxPtr = std::unique_ptr<EVP_CIPHER_CTX, LiberaCtx>;

CtxPtr NovoCtx() {
    CtxPtr c(EVP_CIPHER_CTX_new());
    if (!c) throw std::runtime_error("Falha ao criar a cifra");
    return c;
}

// Wipes a buffer on every way out of a scope.
template <std::size_t N> struct Segredo {
    std::array<std::uint8_t, N> bytes{};
    ~Segredo() { OPENSSL_cleanse(bytes.data(), bytes.size()); }
};

}  // namespace

void BytesAleatorios(std::uint8_t* destino, std::size_t tamanho) {
    if (RAND_bytes(destino, static_cast<int>(tamanho)) != 1)
        throw std::runtime_error("Falha do gerador de números aleatórios");
}

// Whole blocks go through OpenSSL's CBC in one call per piece; the chaining
// value is kept here too, because the final partial block needs E(CV), which
// is one block through the same key in ECB.
struct CifraDad::Contextos {
    CtxPtr cbc;
    CtxPtr ecb;
};

CifraDad::CifraDad(Sentido sentido, const std::array<std::uint8_t, 8>& salt, std::string_view senha,
                   const std::array<std::uint8_t, 8>& iv)
    : sentido_(sentido), cv_(iv) {
    Segredo<24> chave;  // digest (20 bytes) followed by four zero bytes
    {
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> sha(EVP_MD_CTX_new(),
                                                                    EVP_MD_CTX_free);
        unsigned int n = 0;
        if (!sha || EVP_DigestInit_ex(sha.get(), EVP_sha1(), nullptr) != 1 ||
            EVP_DigestUpdate(sha.get(), salt.data(), salt.size()) != 1 ||
            EVP_DigestUpdate(sha.get(), senha.data(), senha.size()) != 1 ||
            EVP_DigestFinal_ex(sha.get(), chave.bytes.data(), &n) != 1 || n != 20)
            throw std::runtime_error("Falha ao calcular a chave");
    }
    auto ctx = std::make_unique<Contextos>();
    ctx->cbc = NovoCtx();
    ctx->ecb = NovoCtx();
    const int cifra = sentido == Sentido::Cifra ? 1 : 0;
    if (EVP_CipherInit_ex(ctx->cbc.get(), EVP_des_ede3_cbc(), nullptr, chave.bytes.data(),
                          iv.data(), cifra) != 1 ||
        EVP_CipherInit_ex(ctx->ecb.get(), EVP_des_ede3_ecb(), nullptr, chave.bytes.data(), nullptr,
                          1) != 1)
        throw std::runtime_error("Falha ao preparar a cifra");
    EVP_CIPHER_CTX_set_padding(ctx->cbc.get(), 0);
    EVP_CIPHER_CTX_set_padding(ctx->ecb.get(), 0);
    ctx_ = ctx.release();
}

CifraDad::~CifraDad() {
    // EVP_CIPHER_CTX_free cleanses the key schedule.
    delete ctx_;
    OPENSSL_cleanse(cv_.data(), cv_.size());
}

void CifraDad::Processa(const std::uint8_t* origem, std::size_t n, std::uint8_t* destino) {
    if (terminado_) throw std::logic_error("CifraDad: piece after the end of the file");
    const std::size_t inteiros = n - n % 8;
    if (inteiros > 0) {
        // Deciphering chains on the cipher text, which may be overwritten in place.
        std::array<std::uint8_t, 8> ultimo{};
        if (sentido_ == Sentido::Decifra) std::copy_n(origem + inteiros - 8, 8, ultimo.begin());
        int saida = 0;
        if (EVP_CipherUpdate(ctx_->cbc.get(), destino, &saida, origem,
                             static_cast<int>(inteiros)) != 1 ||
            static_cast<std::size_t>(saida) != inteiros)
            throw std::runtime_error("Falha da cifra");
        if (sentido_ == Sentido::Cifra) std::copy_n(destino + inteiros - 8, 8, ultimo.begin());
        cv_ = ultimo;
    }
    const std::size_t resto = n - inteiros;
    if (resto > 0) {
        Segredo<8> fluxo;
        int saida = 0;
        if (EVP_CipherUpdate(ctx_->ecb.get(), fluxo.bytes.data(), &saida, cv_.data(), 8) != 1 ||
            saida != 8)
            throw std::runtime_error("Falha da cifra");
        cv_ = fluxo.bytes;
        for (std::size_t i = 0; i < resto; ++i)
            destino[inteiros + i] = origem[inteiros + i] ^ fluxo.bytes[i];
        terminado_ = true;
    }
}

namespace {

// Streams `tamanho` bytes from entrada through the cipher into saida, in
// pieces of TamanhoPedacoDad (a multiple of 8, so only the last may be partial).
void Transforma(ArquivoEntrada& entrada, std::uint64_t tamanho, CifraDad& cifra,
                ArquivoSaida& saida) {
    // The piece holds plain text; it is wiped however the loop ends.
    Segredo<TamanhoPedacoDad> pedaco;
    while (tamanho > 0) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(tamanho, pedaco.bytes.size()));
        entrada.LeTudo(pedaco.bytes.data(), n);
        cifra.Processa(pedaco.bytes.data(), n, pedaco.bytes.data());
        saida.Escreve(pedaco.bytes.data(), n);
        tamanho -= n;
    }
}

}  // namespace

void CriptografaArquivoDad(const std::filesystem::path& origem,
                           const std::filesystem::path& destino, std::string_view senha,
                           const FonteAleatoria& fonte) {
    ArquivoEntrada entrada(origem);
    const std::uint64_t tamanho = entrada.Tamanho();
    ArquivoSaida saida(destino);
    std::array<std::uint8_t, 8> salt{}, iv{};
    fonte(salt.data(), salt.size());
    fonte(iv.data(), iv.size());
    saida.Escreve(salt.data(), salt.size());
    saida.Escreve(iv.data(), iv.size());
    CifraDad cifra(CifraDad::Sentido::Cifra, salt, senha, iv);
    Transforma(entrada, tamanho, cifra, saida);
    saida.Conclui();
}

void DescriptografaArquivoDad(const std::filesystem::path& origem,
                              const std::filesystem::path& destino, std::string_view senha) {
    ArquivoEntrada entrada(origem);
    const std::uint64_t tamanho = entrada.Tamanho();
    if (tamanho < TamanhoCabecalhoDad)
        throw std::runtime_error("Arquivo criptografado incompleto: " + origem.string());
    std::array<std::uint8_t, 8> salt{}, iv{};
    entrada.LeTudo(salt.data(), salt.size());
    entrada.LeTudo(iv.data(), iv.size());
    ArquivoSaida saida(destino);
    CifraDad cifra(CifraDad::Sentido::Decifra, salt, senha, iv);
    Transforma(entrada, tamanho - TamanhoCabecalhoDad, cifra, saida);
    saida.Conclui();
}

std::string CriptografaBytesDad(std::string_view plano, std::string_view senha,
                                const FonteAleatoria& fonte) {
    std::array<std::uint8_t, 8> salt{}, iv{};
    fonte(salt.data(), salt.size());
    fonte(iv.data(), iv.size());
    std::string saida(TamanhoCabecalhoDad + plano.size(), '\0');
    auto* p = reinterpret_cast<std::uint8_t*>(saida.data());
    std::copy(salt.begin(), salt.end(), p);
    std::copy(iv.begin(), iv.end(), p + 8);
    CifraDad cifra(CifraDad::Sentido::Cifra, salt, senha, iv);
    cifra.Processa(reinterpret_cast<const std::uint8_t*>(plano.data()), plano.size(),
                   p + TamanhoCabecalhoDad);
    return saida;
}

std::string DescriptografaBytesDad(std::string_view dad, std::string_view senha) {
    if (dad.size() < TamanhoCabecalhoDad)
        throw std::runtime_error("Arquivo criptografado incompleto");
    std::array<std::uint8_t, 8> salt{}, iv{};
    std::copy_n(dad.data(), 8, salt.begin());
    std::copy_n(dad.data() + 8, 8, iv.begin());
    std::string plano(dad.substr(TamanhoCabecalhoDad));
    CifraDad cifra(CifraDad::Sentido::Decifra, salt, senha, iv);
    auto* p = reinterpret_cast<std::uint8_t*>(plano.data());
    cifra.Processa(p, plano.size(), p);
    return plano;
}

std::string ExtensaoTipoArquivo(int tipo) {
    if (tipo & 0x80) return ".DAD";
    switch (tipo) {
        case 2: return ".OGG";
        case 4: return ".MP3";
        default: return ".WAV";
    }
}
