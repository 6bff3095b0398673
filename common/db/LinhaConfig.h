#pragma once
// LinhaConfig: the single row of CONFIG with every column, as both programs
// read and write it. One read (LeLinhaConfig) and one write (GravaLinhaConfig)
// over a transaction the caller owns; what a program makes of the values
// (trimming, deciphering, its window's fields) is derived from this record.
//
// Passwords and the encryption key are held in their ciphered text form
// (CifraTexto.h), exactly as stored. Stateless: any thread may call, each on
// its own transaction. Database errors are thrown as FirebirdError.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

class Transaction;

struct LinhaConfig {
    int CFG_CRIPTOGRAFIA = 0;   // 1 = encrypt recordings
    int CFG_CONVERTOGG = 0;     // 1 = convert recordings to Ogg Vorbis
    std::string CFG_CRIPTOKEY;  // passphrase, ciphered
    int CFG_NETBACKUP = 0;      // 0 off, else the format of the folder copy
    std::string CFG_NETDSTPATH;
    int CFG_FTPBACKUP = 0;  // 0 off, else the format of the FTP copy
    std::string CFG_FTPHOST;
    int CFG_FTPPORT = 0;
    std::string CFG_FTPUSER;
    std::string CFG_FTPPASS;  // ciphered
    int CFG_FTPSECURITY = 0;
    std::string CFG_FTPDSTPATH;
    int CFG_DBBACKUP = 0;  // database backup period
    std::string CFG_DBDSTPATH;
    int CFG_GRVDELTIME = 0;
    int CFG_ALMALERTA = 0;  // alert categories mailed
    std::string CFG_ALMMAILTO;
    std::string CFG_ALMMAILCC;
    std::string CFG_SMTPSERVER;
    int CFG_SMTPPORTA = 0;
    std::string CFG_SMTPMAIL;
    int CFG_SMTPAUTH = 0;
    std::string CFG_SMTPUSERNAME;
    std::string CFG_SMTPUSERPASS;  // ciphered
    int CFG_SMTPSECURITY = 0;
    bool operator==(const LinhaConfig&) const = default;
};

// The statement LeLinhaConfig runs (for error lines that name it).
inline constexpr std::string_view SelecaoLinhaConfig = "SELECT * FROM CONFIG";

// The first row of CONFIG, or nothing when the table has none. A NULL or
// missing column reads as 0 or ""; texts are kept as stored, cut to their
// column's width.
std::optional<LinhaConfig> LeLinhaConfig(Transaction& tr);

// The record with every text trimmed of its blanks and control bytes at the
// ends (Apara), as the stored values are used.
LinhaConfig Aparada(LinhaConfig linha);

// Writes the named columns of `linha` (every column when `colunas` is empty)
// in one UPDATE of the row with bound values, and gives the rows changed (0
// when CONFIG has no row). A name that is not a column of the record throws
// std::invalid_argument before anything runs.
std::uint64_t GravaLinhaConfig(Transaction& tr, const LinhaConfig& linha,
                               std::initializer_list<std::string_view> colunas = {});
