#pragma once
// What the recordings window does with a recording's audio file outside
// playback itself: the extension of a stored type, the deciphering of a ".dad"
// file beside it, and the safe parts of an exported file's name. Shared by the
// export and by the player.
//
// Stateless; any thread. Nothing here shows a message: callers decide how a
// failure is reported (the reason is handed back).

#include <filesystem>
#include <string>
#include <string_view>

#include "common/DataHora.h"

// ".DAD" for an encrypted type (bit 0x80); else 2 ".OGG", 4 ".MP3", anything
// else ".WAV".
std::string ExtensaoArquivoAudio(int tipo);

// Deciphers the ".dad" file `caminho` with the stored key text `chave`
// (GRV_CONTROLE; its first 30 characters are the cipher of the passphrase)
// into the same name with the extension of the plain type (tipo & 0x7F),
// replacing a file of that name. The ".dad" file stays. On failure nothing is
// left at the plain name (no partial file), the answer is false and `erro`
// says why. The passphrase is wiped after use.
bool DescriptografaArquivo(int tipo, std::string_view chave, const std::filesystem::path& caminho,
                           std::string* erro = nullptr);

// One part of an exported file's name as it stands in the database (from the
// PABX): "/", "\", NUL and control characters become "_", and a part made only
// of dots becomes underscores, so the name never leaves its folder.
std::string ParteNomeArquivo(std::string_view parte);

// "GRV_" + extension + "_" + yyyymmddhhnnss + "_" + number + extension of the type,
// each part trimmed and made safe.
std::string NomeArquivoExportado(std::string_view ramal, const DataHora& data,
                                 std::string_view destino, int tipo);
