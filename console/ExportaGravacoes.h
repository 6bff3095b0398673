#pragma once
// The export of recordings to a folder and the edit of a recording's contact
// and identifier.
//
// Export: each recording's BLOB is streamed to a temporary file in the folder
// and renamed to GRV_<extension>_<yyyymmddhhnnss>_<number><ext> only when
// complete (a symlink of that name is replaced, never followed); an encrypted
// recording also gets its deciphered copy beside it. A recording without
// audio leaves no file. Errors are logged per recording and the walk goes on.
//
// Edit: the contact is looked up by name in the main database and, when new,
// made with the recording's number as its phone (CLIENTE and TELEFONE in one
// transaction); the recording is then updated in the unit's database.
//
// Main thread only (MDados). Nothing throws.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class MDados;
class Transaction;

enum class ResultadoArquivo { Exportado, SemAudio, Falhou };

// Writes one recording's audio file (and its deciphered copy) into `pasta`.
// On Falhou `erro` holds the reason; `nome` the file name written.
ResultadoArquivo SalvaArquivoAudio(MDados& dados, int codigo, const std::filesystem::path& pasta,
                                   std::string& erro, std::string* nome = nullptr);

struct ItemExportacao {
    int codigo = 0;
    std::string duracao;    // the duration cell
    std::string historico;  // detail of the history row: date, extension, number
};

struct ResultadoExportacao {
    int exportadas = 0;
    int semAudio = 0;
    int falhas = 0;
    int duracaoZero = 0;  // "00:00:00" rows, skipped
    std::string primeiroErro;
    // The box shown after the walk; empty when there is nothing to say.
    std::string Mensagem() const;
};

// Exports the items in order, each code once; `registra` writes history row
// 22 for each one exported.
ResultadoExportacao ExportaGravacoes(MDados& dados, const std::vector<ItemExportacao>& itens,
                                     const std::filesystem::path& pasta,
                                     const std::function<void(const std::string&)>& registra);

// The contact named `nome` in the main database; when none, a new one (every
// other column empty) with one phone `fone` of type 1. Runs inside `tr`.
int CodigoClienteParaEdicao(Transaction& tr, const std::string& nome, const std::string& fone);

// Links recording `codigoGravacao` to the contact named `cliente` (none when
// empty) and sets its identifier. False with the server's message in `erro`.
bool SalvaEdicaoGravacao(MDados& dados, int codigoGravacao, const std::string& cliente,
                         const std::string& fone, const std::string& identificador,
                         std::string& erro);
