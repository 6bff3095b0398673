#pragma once
// UnidadePABX: the settings of one PABX unit that a worker of the service
// needs to reach it, as the scheduler copies them from the unit's PABX row:
// its working folder, its database, the control link (KELV), the FTP store
// and the USB drive. The download run is made of one (with the window it
// runs in); the SD-card check uses the link's part.
//
// A plain value: filled by the creator before the worker starts and only read
// afterwards. The secrets in it are held deciphered and never logged.
//
// PreparaLink sets a link object up from it: the one place where a unit's
// settings become the link's, for the download run, its local test run and
// the SD-card check alike.

#include <cstdint>
#include <string>

#include "common/DataHora.h"
#include "common/pabx/PABX.h"

struct UnidadePABX {
    DataHora InicioPeriodo;        // start of the download window
    DataHora FimPeriodo;           // end of the window; the FTP transfer stops there
    std::string BaseDadosPABX;     // connection string of the unit's database
    std::string DescricaoPABX;     // up to 40
    std::uint16_t MascaraLog = 0;  // copy of the service's log mask
    std::string PastaPABX;         // the unit's working folder, with "/" at the end
    DataHora UltimoBackupBD;       // PAB_ULTBACKUPBD
    int ModoUSB = 0;               // 1: copy from a USB drive; else FTP
    std::string CaminhoUSB;        // up to 80: PAB_USBPATH + "/norvika/audiorec"
    int EsperaUSB = 0;             // seconds to wait for the USB drive
    std::string RaizUSB;           // up to 80: the drive's mount folder, with "/"
    std::string FTPHost;           // up to 80
    std::uint16_t FTPPorta = 0;
    std::string FTPUsuario;   // up to 30; empty: anonymous
    std::string FTPSenha;     // up to 30, deciphered
    int FTPSeguranca = 0;     // TLS mode of the FTP connection
    std::string KELVEnderIP;  // up to 80
    std::uint16_t KELVPorta = 0;
    std::string KELVSenha;  // up to 10, deciphered
    bool UsaSocks = false;  // always false: a link that asks for it is refused
    std::string SocksServidor;
    std::uint16_t SocksPorta = 0;
    std::string SocksUsuario;
    std::string SocksSenha;
};

// Gives `pabx` the unit's settings (address, password, proxy, USB drive,
// working folder, trace by the log mask) and `evento` as the event its
// answers signal. Opens nothing.
void PreparaLink(TPABX& pabx, const UnidadePABX& unidade, EventoPABX* evento);
