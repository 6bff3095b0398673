#pragma once
// The structure of the two kinds of database (main and per-PABX unit): the
// creation scripts, the checks the programs run on an existing database before
// they upgrade it, the upgrade statements, and the "highest plus one" insert
// of numbered rows.

#include "common/db/Firebird.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// --- Names -----------------------------------------------------------------

inline constexpr std::string_view ArquivoBancoPrincipal = "QUVVERUZADU.FDB";
// "GRVPAB" + unit code in three digits + ".FDB"; unit 0 is the empty template.
std::string NomeArquivoBancoPABX(int codigoPABX);

// --- Creation scripts --------------------------------------------------------
// Texts for a script runner that understands SET TERM. A unit database reads
// the main database through the server at `localhost:VERUZADU`; give another
// alias (or "host/port:alias") to point it elsewhere.

std::string ScriptBancoPrincipal();
// The unit database reads the main one as the program's database user: its
// name and password (quoted into the script) are the installation's own.
std::string ScriptBancoPABX(std::string_view conexaoPrincipal = "localhost:VERUZADU",
                            std::string_view usuario = "HMCXJXTFHJ",
                            std::string_view senha = "lomfadrix");
// The two search procedures alone, ending with the "^" terminator, for a
// runner that is already in "SET TERM ^": what a per-unit upgrade re-creates.
// LISTAGRV's text also creates the per-transaction tables it uses and the
// contacts lookup it calls (which reads the main database like
// LISTARAMGRUPO); all of it may run again on a database that has it.
std::string ScriptLISTARAMGRUPO(std::string_view conexaoPrincipal = "localhost:VERUZADU",
                                std::string_view usuario = "HMCXJXTFHJ",
                                std::string_view senha = "lomfadrix");
std::string ScriptLISTAGRV(std::string_view conexaoPrincipal = "localhost:VERUZADU",
                           std::string_view usuario = "HMCXJXTFHJ",
                           std::string_view senha = "lomfadrix");
// A unit database whose LISTAGRV predates the contacts lookup by code, the
// extension filter (TMP_RAMALVISTO) or the group rows by key (TMP_GRUPOCHAVE):
// ScriptLISTAGRV brings it up to date.
bool ListaGrvDesatualizada(Transaction& tr);

// --- Structure checks ----------------------------------------------------------
// Names are the catalogue's (upper case for unquoted names); they are compared
// as given, so pass "PABX", not "pabx".

bool TabelaExiste(Transaction& tr, std::string_view tabela);
bool CampoExiste(Transaction& tr, std::string_view tabela, std::string_view campo);
// A generator (sequence) or an index of that name exists.
bool GeradorExiste(Transaction& tr, std::string_view gerador);
bool IndiceExiste(Transaction& tr, std::string_view indice);
// Declared length in characters (RDB$CHARACTER_LENGTH) of a text column;
// 0 when the column is missing or is not text.
int TamanhoCampo(Transaction& tr, std::string_view tabela, std::string_view campo);
// RDB$FIELD_TYPE of the column, -1 when missing.
int CodigoTipoCampo(Transaction& tr, std::string_view tabela, std::string_view campo);
// Name of a RDB$FIELD_TYPE code: 7 SMALLINT, 8 INTEGER, 9 QUAD, 10 FLOAT,
// 11 D_FLOAT, 12 DATE, 13 TIME, 14 CHAR, 16 INT64, 27 DOUBLE, 35 TIMESTAMP,
// 37 VARCHAR, 40 CSTRING, 261 BLOB, anything else UNKNOWN.
std::string NomeTipoCampo(int codigo);
// The column's type name (above) equals `tipo` (case-insensitive).
bool TipoCampoIgual(Transaction& tr, std::string_view tabela, std::string_view campo,
                    std::string_view tipo);

// --- Upgrade statements --------------------------------------------------------
// Names are checked to be plain identifiers (letters, digits, _ and $); a
// name that is not throws std::invalid_argument, since a name cannot be a
// bound parameter.

// "ALTER TABLE t ALTER COLUMN c TYPE VARCHAR(n)"
std::string SqlAlteraTamanhoCampo(std::string_view tabela, std::string_view campo, int tamanho);
// "ALTER TABLE t ADD c type"
std::string SqlAdicionaCampo(std::string_view tabela, std::string_view campo,
                             std::string_view tipo);
// "ALTER TABLE t ALTER c TYPE type"
std::string SqlAlteraTipoCampo(std::string_view tabela, std::string_view campo,
                               std::string_view tipo);

// A generator is made one way, by the creation scripts and for a database
// made before it alike: "CREATE SEQUENCE g". For an existing database, the
// statements below, run one at a time and each committed (the sequence is
// usable once its creation is): the creation, then the move of its current
// value to the highest code the columns hold (0 when all are empty), so its
// next value follows every stored code. `colunas` are (table, column) pairs.
std::string SqlCriaGerador(std::string_view gerador);
std::vector<std::string>
CriacaoGerador(std::string_view gerador,
               const std::vector<std::pair<std::string_view, std::string_view>>& colunas);

// The twelve widenings of the download statistics' counters, in order.
std::vector<std::string> AlteracoesDWNHISTORY();
// The five SD-card columns of PABX, in order.
std::vector<std::string> AlteracoesPABX();

// --- Relay of a unit's filings to the consoles ------------------------------

// While it lives, commits of recordings on this unit database attachment do
// not each relay the console's event to the main database (a connection
// there per commit); its end relays once, when any recording changed. The
// consoles reload within seconds of an event, so nothing a user sees is lost.
// Databases installed before this existed relay every commit, as before.
// One per attachment, used by the thread that uses the attachment.
class AvisoEmLote final {
  public:
    explicit AvisoEmLote(Attachment& unidade);
    AvisoEmLote(const AvisoEmLote&) = delete;
    AvisoEmLote& operator=(const AvisoEmLote&) = delete;
    ~AvisoEmLote();  // relays; errors are swallowed (the filings stand)
    // Ends the batch and relays now; throws FirebirdError.
    void Encerra();

  private:
    Attachment* unidade_;
};

// --- "Highest plus one" ------------------------------------------------------

// Inserts a numbered row: reads MAX(coluna) + 1 of `tabela` (1 when empty)
// and calls `insere` with the transaction and that code. When the insert
// meets a unique-key violation (another writer took the same code first) the
// attempt is undone to a savepoint and made again with a fresh maximum, so
// concurrent writers all keep their rows. Returns the code used; the caller
// commits. Other errors, and the last violation after `tentativas`
// attempts, are thrown; so is a violation that a fresh maximum does not
// change (another unique key of the row, such as a duplicate login). Whatever
// `insere` throws, its attempt is undone to the savepoint first, and what the
// transaction held before the call stays. A table whose highest code is
// INT32_MAX has none left: std::overflow_error.
std::int32_t InsereComProximoCodigo(Transaction& tr, std::string_view tabela,
                                    std::string_view coluna,
                                    const std::function<void(Transaction&, std::int32_t)>& insere,
                                    int tentativas = 50);
