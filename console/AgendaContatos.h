#pragma once
// The contact files against the databases: the export of every contact with
// its phones, the import of a file in one transaction, and the linking of
// recordings to the imported contacts' numbers afterwards.
//
// Export: one snapshot of the main database, read with one SELECT of CLIENTE
// and one of TELEFONE, written to a temporary file renamed over the chosen
// one only when complete and the snapshot committed: a failure (disk full, a
// lost connection) leaves no partial file and a former file as it was.
//
// Import: the whole file is read first; a refused file stores nothing. Its
// contacts and phones are then stored in one transaction: a contact found by
// its trimmed name is updated (its identifier and contact person, which the
// files do not carry, and a postal code the file does not give, stay); any
// other gets a new code (never given before). A contact with phones in the
// file has its former phones replaced; one without keeps them. Any failure
// rolls all of it back and names the contact's line.
//
// Linking, after the commit: in each unit's database and in the main
// database's older GRAVACAO table, each its own transaction (a unit its own
// connection), recordings whose other party is exactly an imported number
// (or that number without the local area code) are given the contact's code;
// a contact whose phones were replaced first loses its former links.
//
// Main thread only for the functions taking MDados; the others run on the
// transaction handed in. Errors as each function says.

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "console/AgendaArquivo.h"

class MDados;
class Transaction;

// Where an export writes its bytes. Escreve and Conclui throw
// std::runtime_error; dropping the object before Conclui leaves nothing.
class DestinoAgenda {
  public:
    virtual ~DestinoAgenda() = default;
    virtual void Escreve(std::string_view bytes) = 0;
    // Makes the file whole under its name.
    virtual void Conclui() = 0;
};

// The real one: a temporary file beside `arquivo`, renamed over it.
std::unique_ptr<DestinoAgenda> DestinoArquivoAgenda(const std::filesystem::path& arquivo);

// The chosen name with ".csv" added unless it already ends so (any case).
std::filesystem::path NomeArquivoAgenda(const std::filesystem::path& escolhido);

// Writes every contact in name order with its phones. Throws FirebirdError
// and what the destination throws; does not call Conclui.
void ExportaAgenda(Transaction& tr, FormatoAgenda formato, std::string_view dddLocal,
                   DestinoAgenda& destino);

// What a stored import leaves for the linking.
// Only what the import changed: a number a contact no longer has loses that
// contact's recordings; a number a contact gained takes its recordings.
// Every other link (those made in the recordings editor among them) stays.
struct VinculosAgenda {
    std::vector<std::pair<int, std::string>> desvinculados;  // (contact, number it lost)
    std::vector<std::pair<int, std::string>> numeros;  // (contact, number it gained), file order
    int contatos = 0;                                  // contacts stored
};

// A contact line the database refused: its line and the server's reason.
class ErroImportacaoAgenda : public std::runtime_error {
  public:
    ErroImportacaoAgenda(int linhaRecusada, const std::string& motivo)
        : std::runtime_error(motivo), linha(linhaRecusada) {}
    int linha;
};

// Stores what LeAgenda read (not refused) in the caller's transaction.
// Throws ErroImportacaoAgenda (a lost connection's FirebirdError as it came).
VinculosAgenda GravaAgenda(Transaction& tr, const LeituraAgenda& leitura);

// The linking on one database's GRAVACAO: the lost numbers' recordings of
// each contact unlinked, then the gained numbers' recordings linked (also
// without the local area code). Throws FirebirdError.
void VinculaGravacoes(Transaction& tr, const VinculosAgenda& vinculos, std::string_view dddLocal);

// --- The whole operations on the console's connection -------------------------

// Exports to `destino` (not yet concluded) and concludes it. Throws
// SemConexaoBD, FirebirdError and the destination's std::runtime_error.
void ExportaContatos(MDados& dados, FormatoAgenda formato, std::string_view dddLocal,
                     DestinoAgenda& destino);

struct ResultadoImportacao {
    bool importado = false;
    // The "Erro" text when not imported; empty when the connection was lost
    // (the main window tells of that).
    std::string erro;
    // One line per database whose recordings could not be linked.
    std::vector<std::string> falhasVinculo;
    int contatos = 0;
};

// Runs the linking of recordings (every database, a connection of its own
// each, nothing of the main thread) and returns when it has ended; the
// console runs it on a worker behind a progress window.
using ExecutorVinculo = std::function<void(const std::function<void()>& vincula)>;

// Reads the file, stores it on the console's connection and links the
// recordings in the main database and every unit's, through `executor`
// (none: here).
ResultadoImportacao ImportaContatos(MDados& dados, const std::filesystem::path& arquivo,
                                    FormatoAgenda formato, std::string_view dddLocal,
                                    const ExecutorVinculo& executor = {});

// How long the linking of one database may take.
inline constexpr std::chrono::minutes LimiteVinculoPorBase{10};

// Files larger than this are refused before reading.
inline constexpr std::uintmax_t TamanhoMaximoArquivoAgenda = 256ull * 1024 * 1024;
