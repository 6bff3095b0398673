#pragma once
// The service's copy of the settings of the single CONFIG row (plus the area
// code from VERUZADU.INI). Readers on any thread take an immutable snapshot
// through BancoServico::Configuracao() and keep it for as long as they need
// consistent values; a reload publishes a new record, never edits one.

#include <string>

struct ConfiguracaoGeral {
    int CFG_CRIPTOGRAFIA = 0;   // 1 = encrypt recordings
    int CFG_CONVERTOGG = 0;     // 1 = convert recordings to Ogg Vorbis
    std::string CFG_CRIPTOKEY;  // passphrase, still in its ciphered text form
    int CFG_FTPBACKUP = 0;      // 0 off, else the format of the FTP copy
    std::string CFG_FTPHOST;
    int CFG_FTPPORT = 0;
    std::string CFG_FTPUSER;
    std::string CFG_FTPPASS;  // deciphered
    int CFG_FTPSECURITY = 0;
    std::string CFG_FTPDSTPATH;
    int CFG_NETBACKUP = 0;  // 0 off, else the format of the folder copy
    std::string CFG_NETDSTPATH;
    int CFG_ALMALERTA = 0;  // alert categories mailed
    std::string CFG_ALMMAILTO;
    std::string CFG_ALMMAILCC;
    int CFG_DBBACKUP = 0;  // database backup period
    std::string CFG_DBDSTPATH;
    std::string DDD;  // [Norvika] DDD, at most 4 characters; kept by reloads
};
