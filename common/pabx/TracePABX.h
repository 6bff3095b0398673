#pragma once
// The control link's diagnostic trace: one text file per day in the unit's
// working folder ("COM_<ddmmyy>.TXT", appended) and one dump file per PROG
// data block ("S<bbb>B<iii>.DAD", replaced). Write errors are ignored: the
// trace must never disturb the link. Thread-safe (the owner's thread writes
// the transmit records, the receive thread the others).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/DataHora.h"

// Bytes from this offset on are shown as "** " (a secret inside the frame);
// SemOculto: none.
inline constexpr std::size_t SemOculto = static_cast<std::size_t>(-1);

// One record: an empty line, "hh:nn:ss zzz", two blanks, the count; then the
// label, ": " and `contagem` bytes as "XX " (or "** " from `ocultoDe` on) with
// a line break and four blanks after every 20th byte; then a line break.
std::string RegistroTrace(const DataHora& quando, std::size_t contagem, std::string_view rotulo,
                          const std::uint8_t* bytes, std::size_t ocultoDe = SemOculto);

// "COM_ddmmyy.TXT" for the day of `quando`.
std::string NomeArquivoTrace(const DataHora& quando);
// "S002B000.DAD" for block 2, index 0.
std::string NomeDumpPROG(std::uint16_t bloco, std::uint16_t indice);

// Appends the record to the day's file in `pasta` (created when missing, for
// the owner and the group only).
void GravaRegistroTrace(const std::filesystem::path& pasta, std::size_t contagem,
                        std::string_view rotulo, const std::uint8_t* bytes,
                        std::size_t ocultoDe = SemOculto);
// Writes `n` bytes to pasta/nome, replacing an earlier file of that name
// (created for the owner and the group only).
void GravaArquivoDiagnostico(const std::filesystem::path& pasta, const std::string& nome,
                             const std::uint8_t* bytes, std::size_t n);
