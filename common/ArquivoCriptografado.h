#pragma once
// The encrypted recording file (".dad"): 8 salt bytes, 8 IV bytes, then the
// whole audio file in Triple DES (three keys, EDE) in CBC mode, the cipher text
// exactly as long as the plain file. The key is SHA-1(salt || passphrase): K1
// and K2 are digest bytes 0-7 and 8-15, K3 digest bytes 16-19 and four zero
// bytes. A final partial block of r bytes is XORed with the first r bytes of
// E(CV), where CV is the last chaining value (the IV when the file is shorter
// than a block). There is no magic number, no length and no MAC: a wrong
// passphrase deciphers to noise of the right length, and the layout is fixed
// by the files already written and by the console that plays them.
//
// The passphrase is given as the bytes that are hashed: the Latin-1 bytes of
// the deciphered key text (DescriptografaBytes), never its UTF-8 form.
//
// Writers never leave a partial file: the output is written under a
// temporary name in the destination's folder and renamed over the destination
// only when complete; on any failure the temporary file is removed. Key
// material is wiped on every path.
//
// Stateless functions and a per-call cipher object: any thread may call.
// Failures are thrown as std::runtime_error with a message for the log.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

// Source of the salt and IV bytes: fills the buffer with uniform random
// bytes or throws. The program uses BytesAleatorios; tests fix the bytes.
using FonteAleatoria = std::function<void(std::uint8_t*, std::size_t)>;
// OpenSSL's RAND_bytes; throws std::runtime_error when it fails.
void BytesAleatorios(std::uint8_t* destino, std::size_t tamanho);

inline constexpr std::size_t TamanhoCabecalhoDad = 16;  // salt + IV
inline constexpr std::size_t TamanhoPedacoDad = 8192;   // pieces the files are processed in

// The streaming cipher of one file. Pieces go through Processa in file order;
// every piece but the last must be a whole number of 8-byte blocks, because
// the partial-block rule applies only at the very end of the file.
class CifraDad final {
  public:
    enum class Sentido { Cifra, Decifra };
    CifraDad(Sentido sentido, const std::array<std::uint8_t, 8>& salt, std::string_view senha,
             const std::array<std::uint8_t, 8>& iv);
    ~CifraDad();
    CifraDad(const CifraDad&) = delete;
    CifraDad& operator=(const CifraDad&) = delete;

    // Enciphers or deciphers n bytes from origem into destino (they may be the
    // same buffer). A piece whose length is not a multiple of 8 ends the file:
    // any later call throws std::logic_error.
    void Processa(const std::uint8_t* origem, std::size_t n, std::uint8_t* destino);

  private:
    struct Contextos;
    Sentido sentido_;
    std::array<std::uint8_t, 8> cv_{};
    bool terminado_ = false;
    Contextos* ctx_ = nullptr;
};

// Enciphers the file origem into destino (replaced when it exists).
void CriptografaArquivoDad(const std::filesystem::path& origem,
                           const std::filesystem::path& destino, std::string_view senha,
                           const FonteAleatoria& fonte = BytesAleatorios);
// Deciphers the ".dad" file origem into destino (replaced when it exists).
// A file shorter than its 16-byte header fails and writes nothing.
void DescriptografaArquivoDad(const std::filesystem::path& origem,
                              const std::filesystem::path& destino, std::string_view senha);

// The same on bytes in memory (the console deciphers into a buffer to play).
std::string CriptografaBytesDad(std::string_view plano, std::string_view senha,
                                const FonteAleatoria& fonte = BytesAleatorios);
std::string DescriptografaBytesDad(std::string_view dad, std::string_view senha);

// Extension of a stored file of type `tipo` (GRV_TPFILE): bit 0x80 ".DAD";
// else 2 ".OGG", 4 ".MP3", anything else ".WAV".
std::string ExtensaoTipoArquivo(int tipo);
