#pragma once
// The dialogue of a download run with its PABX unit, as a table of steps.
//
// A session connects, logs in, asks the unit's version, release and
// parameters, its SD-card volume, its extension directory (names, indices,
// agenda), reconnects the USB store, opens access to the recordings, brings
// them over and imports them, closes the access and reads the volume again.
// Each step either sends one request (the session ends when it cannot be
// sent) or waits for the answer on one of the link's status texts (PROG or
// CTRL): "OK" passes it, any other text is a refusal, and nothing within
// PABXTimeOut seconds of the last progress is a time-out. Where a step passes
// the run logs its line and goes to the next step of the table.
//
// A few steps read their answers in their own way (the connection, the
// login, the two volume reads, the agenda); they are in the table for their
// end lines and the run's session code handles them. The table is constant
// data; the run (TPABXDownloadFTP, SessaoPABX.cpp) is its only user besides
// tests.

class TPABX;

// Ends of a PABX session.
enum TFimSessao : int {
    efNenhum,
    efTimeout,
    efFalhaEnvio,
    efRecusado,
    efVersaoAntiga,
    efConcluido
};

// Steps of a PABX session (the numbers are the ones the end lines name).
enum TPassoSessao : int {
    epAguardaConexao = 1,
    epAguardaLogin = 2,
    epPedeNomesDNS = 3,
    epAguardaNomesDNS = 4,
    epPedeIndicesDNS = 5,
    epAguardaIndicesDNS = 6,
    epPedeReconexaoUSB = 7,
    epAguardaReconexaoUSB = 8,
    epPedeAcesso = 9,
    epTransfere = 10,
    epPedeFimAcesso = 11,
    epAguardaFimAcesso = 12,
    epPedeAgenda = 17,
    epAguardaAgenda = 18,
    epPedeVersao = 21,
    epAguardaVersao = 22,
    epPedeRelease = 23,
    epAguardaRelease = 24,
    epPedeParametros = 27,
    epAguardaParametros = 28,
    epPedeVolumeSDCard = 29,
    epAguardaVolumeSDCard = 30,
    epPedeVolumeFinal = 31,
    epAguardaVolumeFinal = 32,
};

// How a step works.
enum class TipoPasso {
    Envia,        // sends `pedido`
    AguardaPROG,  // waits for the answer on the PROG status
    AguardaCTRL,  // waits on the CTRL status; a dropped link is a refusal at once
    Proprio,      // read in its own way by the session
};

struct PassoSessao {
    TPassoSessao passo;
    TipoPasso tipo;
    bool (*pedido)(TPABX&);  // Envia: the request; else null
    const char* linha;       // status line logged when the step passes; null: none
    TPassoSessao proximo;    // the step after it (a Proprio step chooses its own)
    // Lines logged when the session ends at this step, by end; null: none.
    const char* linhaTimeout;
    const char* linhaFalhaEnvio;
    const char* linhaRecusado;
};

// The table's row of `passo`; null for a number that is not a step.
const PassoSessao* PassoDaSessao(int passo);
