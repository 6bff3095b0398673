#pragma once
// The recording's XML description as the PABX writes it beside each R*.WAV,
// and the metadata it yields (DadosGravacao).
//
// The bytes are decoded before parsing: a declared ISO-8859-1 (or
// Windows-1252) is honoured, and an undeclared file that is not valid UTF-8 is
// read as Latin-1, which is what the units write. The parser expands no DTD
// entity. Each required element is looked up in order; a missing one fails
// the read at that point, keeping what was read before it. A description
// over 1 MiB is not a description and is never read whole.
//
// Pure functions: any thread may call. Nothing here logs or copies files;
// the filing (ArquivamentoGravacao) does that with the outcome.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

struct DadosGravacao {
    std::string Comanda = "DEVICE";  // at most 10 characters
    std::string RamalGravado;        // at most 10; by default from the folder name
    std::string NumeroDestino;       // digits only, at most 20
    std::string CodConta;            // at most 5
    std::int32_t TipoLigacao = -1;   // -1: no value; 0 internal, 1 outgoing, 2 incoming
    std::int32_t Inicio = 0;         // Unix seconds; 0 none
    std::int32_t Duracao = 0;        // seconds
    std::int32_t TemAudio = 0;       // 1 audio stored, 2 WAV missing or empty, 0 none
};

inline constexpr std::uint64_t TamanhoMaximoXML = 1024 * 1024;

enum class EstadoXML { Lido, Inexistente, Ilegivel };

struct ResultadoXML {
    EstadoXML estado = EstadoXML::Inexistente;
    bool temElementoAudio = false;  // the raw text holds "<audio>"
    std::string erro;               // why it was unreadable
};

// The initial values, with the default RamalGravado taken from the
// description's path: characters 2 to 8 of "<folder>\<file>", less a leading
// "R".
DadosGravacao DadosIniciais(const std::filesystem::path& xml);

// Reads the description `xml` into d (which it first sets to DadosIniciais).
ResultadoXML LeDescricaoGravacao(const std::filesystem::path& xml, DadosGravacao& d);

// The same on bytes already in memory (tests and the fuzz-like table).
ResultadoXML LeDescricaoGravacao(std::string_view bytes, DadosGravacao& d);

// The file's bytes as UTF-8 text, by its declaration or, undeclared, by
// whether it is valid UTF-8.
std::string TextoXMLParaUtf8(std::string_view bytes);

// The description beside the recording `wav`: its name with ".XML", or when
// that file is not there, a file of the same name in another case ("r1.xml",
// "R1.Xml"); the ".XML" name when there is none.
std::filesystem::path DescricaoDaGravacao(const std::filesystem::path& wav);

// Size in bytes; 0 when the file does not exist.
std::uint64_t TamanhoArquivo(const std::filesystem::path& arquivo);
// True when the file (at most TamanhoMaximoXML bytes of it) holds the text.
bool ArquivoContemTexto(const std::filesystem::path& arquivo, std::string_view texto);
