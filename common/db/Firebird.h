#pragma once
// Thin RAII layer over the Firebird client library's object API. Both programs
// reach their databases only through it.
//
// Ownership: an Attachment owns its connection; a Transaction, Statement,
// Cursor or Blob refers to the objects it was made from, which must outlive it
// (declare them in that order and they are released in the right order).
// Dropping a Transaction that was not committed rolls it back. Every failure of
// the client library is thrown as FirebirdError.
//
// Threads: the objects of one attachment are used by one thread at a time; the
// only exception is EventListener (Eventos.h), which queues its events on the
// attachment from its own thread, which the client library allows.
//
// Text is UTF-8 in both directions: every attachment uses lc_ctype UTF8 and the
// server converts to and from each column's character set. Parameters and
// columns are numbered from 0 in the order of the statement.

#include "common/DataHora.h"
#include "common/db/FirebirdError.h"

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Firebird {
class IAttachment;
class ITransaction;
class IStatement;
class IResultSet;
class IMessageMetadata;
class IBlob;
}  // namespace Firebird

// Server-side identity of a BLOB (ISC_QUAD).
struct BlobId {
    std::int32_t alto = 0;
    std::uint32_t baixo = 0;
    bool operator==(const BlobId&) const = default;
};

// Size of the pieces BLOBs are written and read in (the most one segment holds).
inline constexpr std::size_t TamanhoSegmentoBlob = 65535;

// "host/port:path" or "host:path"; port 0 or 3050 leaves the default out.
std::string MontaStringConexao(std::string_view servidor, int porta,
                               std::string_view caminhoOuAlias);

struct ParametrosConexao {
    std::string banco;    // connection string: "server:alias" or "server:/path/file.fdb"
    std::string usuario;  // empty user and password: trusted authentication
    std::string senha;
    int tempoLimiteConexao = 0;  // seconds to reach the server; 0: TempoLimiteConexaoPadrao()
};

// Seconds an attachment waits to reach its server when its parameters name
// none (30 unless a program sets it from its configuration): a hung server
// or network never blocks a connect for good.
int TempoLimiteConexaoPadrao();
void DefineTempoLimiteConexaoPadrao(int segundos);

// A secret that a statement's text has to carry (a password in DDL, which
// takes no parameters). A statement given one leaves its text out of its
// error messages and masks the secret in the server's own message, so that
// neither a log nor a terminal ever shows it.
struct TextoSecreto {
    std::string valor;  // empty: the statement carries none
};

class Transaction;

// Ownership of the connection moves with the object; what was made from it
// (Transaction, EventListener) holds the connection's handle itself, so it
// stays valid when the Attachment that owns the connection is moved.
class Attachment final {
  public:
    // Connects with lc_ctype UTF8. Throws FirebirdError (335544472 when the
    // server refuses the login).
    static Attachment Conecta(const ParametrosConexao& p);
    // Creates a database (dialect 3) with the given default character set and
    // page size, and returns the attachment to it.
    static Attachment Cria(const ParametrosConexao& p, std::string_view charsetPadrao = "WIN1252",
                           int tamanhoPagina = 16384);

    Attachment(Attachment&&) noexcept;
    Attachment& operator=(Attachment&&) noexcept;
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;
    ~Attachment();

    // Detaches now; errors are thrown (the destructor swallows them).
    void Desconecta();
    // Drops the database and ends the attachment.
    void ApagaBanco();

    // Runs one statement without parameters in a transaction of its own,
    // committed when it succeeds. Returns the affected rows.
    std::uint64_t Executa(std::string_view sql, const TextoSecreto& segredo = {});

    // The file name of the attached database as the server sees it
    // (its full path on the server).
    std::string NomeArquivoServidor();
    // Attachments of users to this database, system ones (garbage collector,
    // cache writer) left out. A user other than SYSDBA or the owner sees only
    // its own attachments.
    int ContaConexoesUsuarios();

    Firebird::IAttachment* Interface() const { return att_; }

  private:
    explicit Attachment(Firebird::IAttachment* att) : att_(att) {}
    Firebird::IAttachment* att_ = nullptr;
};

// How a transaction sees the others' work: each statement the latest committed
// rows, or the whole transaction one snapshot taken at its start.
enum class Isolamento { LeituraConfirmada, Instantaneo };

class Transaction final {
  public:
    // Read committed (record versions) unless told, waits on locks; read-write
    // unless told. `esperaTrava`: seconds a statement waits for a row another
    // transaction holds before it fails (isc_lock_timeout); 0 waits as long
    // as the other holds it.
    explicit Transaction(Attachment& att, bool somenteLeitura = false,
                         Isolamento isolamento = Isolamento::LeituraConfirmada,
                         int esperaTrava = 0);
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction();  // rolls back when still active

    void Commit();
    void Rollback();
    // Commit keeping the transaction open (for long runs of work).
    void CommitRetaining();
    bool Ativa() const { return tr_ != nullptr; }

    // Runs one statement without parameters; returns the affected rows.
    std::uint64_t Executa(std::string_view sql, const TextoSecreto& segredo = {});

    // The connection the transaction runs on (the handle, which outlives a
    // move of the Attachment that owns it).
    Firebird::IAttachment* InterfaceConexao() const { return att_; }
    Firebird::ITransaction* Interface() const;

  private:
    Firebird::IAttachment* att_;
    Firebird::ITransaction* tr_ = nullptr;
};

// Writes a new BLOB in segments; nothing is kept in memory beyond the caller's
// piece. The BLOB belongs to the transaction until a row refers to it.
class BlobWriter final {
  public:
    explicit BlobWriter(Transaction& tr);
    BlobWriter(const BlobWriter&) = delete;
    BlobWriter& operator=(const BlobWriter&) = delete;
    ~BlobWriter();  // cancels an unfinished BLOB

    void Escreve(const void* dados, std::size_t tamanho);
    void Escreve(std::string_view dados) { Escreve(dados.data(), dados.size()); }
    // Ends the BLOB and gives its id for a parameter.
    BlobId Fecha();

  private:
    Firebird::IBlob* blob_ = nullptr;
    BlobId id_;
};

// Reads a BLOB piece by piece.
class BlobReader final {
  public:
    BlobReader(Transaction& tr, BlobId id);
    BlobReader(const BlobReader&) = delete;
    BlobReader& operator=(const BlobReader&) = delete;
    ~BlobReader();

    // Total length in bytes as the server reports it.
    std::uint64_t Tamanho();
    // Fills up to `capacidade` bytes; returns how many, 0 at the end.
    std::size_t Le(void* destino, std::size_t capacidade);

  private:
    Firebird::IBlob* blob_ = nullptr;
};

// One row of values laid out by the server's description (a cursor's current
// row, or what EXECUTE PROCEDURE / RETURNING gave). NULL reads as "", 0, an
// empty DataHora or an empty BLOB; IsNull tells them apart.
class Linha {
  public:
    unsigned NumeroColunas() const;
    std::string NomeColuna(unsigned i) const;  // alias as the statement names it
    // Index of a column by name (case-insensitive), or -1.
    int IndiceColuna(std::string_view nome) const;

    bool IsNull(unsigned i) const;
    std::string GetText(unsigned i) const;  // numbers and dates are converted to text
    std::int32_t GetInt(unsigned i) const;
    std::int64_t GetBigInt(unsigned i) const;
    std::int16_t GetSmallInt(unsigned i) const;
    double GetDouble(unsigned i) const;
    DataHora GetTimestamp(unsigned i) const;
    BlobId GetBlobId(unsigned i) const;
    // Whole BLOB in one string (sized from the BLOB's length first).
    std::string ReadBlob(unsigned i) const;
    // Streams the BLOB to `destino` segment by segment; returns the bytes read.
    std::uint64_t ReadBlob(unsigned i,
                           const std::function<void(const char*, std::size_t)>& destino) const;
    std::uint64_t ReadBlob(unsigned i, std::ostream& destino) const;

  protected:
    Linha(Transaction& tr) : tr_(tr) {}
    void Descreve(Firebird::IMessageMetadata* meta);
    const unsigned char* Campo(unsigned i, unsigned& tipo) const;

    Transaction& tr_;
    Firebird::IMessageMetadata* meta_ = nullptr;  // owned by the Statement
    std::vector<unsigned char> buffer_;
};

class Cursor;

class Statement final : public Linha {
  public:
    // Prepares the statement in the transaction it will run in. A statement
    // given a secret never shows its text in an error.
    Statement(Transaction& tr, std::string_view sql, const TextoSecreto& segredo = {});
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();

    unsigned NumeroParametros() const;
    // A SELECT (or a selectable procedure): run it with Abre, not Executa.
    bool TemCursor() const { return temCursor_; }

    // Parameter values; a parameter never set is NULL. Each keeps its value
    // across executions until set again. The server converts between types
    // (text to a timestamp column, an integer to BIGINT and so on).
    Statement& SetNull(unsigned i);
    Statement& SetText(unsigned i, std::string_view valor);
    Statement& SetInt(unsigned i, std::int32_t valor);
    Statement& SetBigInt(unsigned i, std::int64_t valor);
    Statement& SetSmallInt(unsigned i, std::int16_t valor);
    Statement& SetTimestamp(unsigned i, const DataHora& valor);
    Statement& SetBlobId(unsigned i, BlobId valor);
    // Writes a new BLOB at once (in segments, from the caller's memory).
    Statement& SetBlob(unsigned i, std::string_view dados);
    // Writes a new BLOB streamed from `origem` until its end.
    Statement& SetBlob(unsigned i, std::istream& origem);

    // Runs a statement without a result set. Returns the affected rows; for
    // EXECUTE PROCEDURE and RETURNING the values are this object's Linha.
    std::uint64_t Executa();
    // Opens the result set of a SELECT (one cursor at a time per statement).
    Cursor Abre();

    Firebird::IStatement* Interface() const { return st_; }
    const std::string& Sql() const { return sql_; }

  private:
    friend class Cursor;
    struct Parametro;
    void MontaEntrada();
    void Libera() noexcept;
    FirebirdError ComSql(const FirebirdError& e) const;

    std::string sql_;
    std::string segredo_;
    Firebird::IStatement* st_ = nullptr;
    Firebird::IMessageMetadata* metaEntradaOriginal_ = nullptr;
    Firebird::IMessageMetadata* metaEntrada_ = nullptr;
    Firebird::IMessageMetadata* metaSaida_ = nullptr;
    std::vector<Parametro> parametros_;
    std::vector<std::pair<int, unsigned>> assinatura_;  // layout metaEntrada_ was built for
    std::vector<unsigned char> entrada_;
    bool temCursor_ = false;
};

class Cursor final : public Linha {
  public:
    Cursor(Cursor&&) noexcept;
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;
    ~Cursor();

    // Moves to the next row; false at the end.
    bool Proxima();
    void Fecha();

  private:
    friend class Statement;
    Cursor(Statement& st, Firebird::IResultSet* rs);
    Statement* st_;
    Firebird::IResultSet* rs_ = nullptr;
};
