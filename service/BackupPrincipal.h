#pragma once
// The main database's backup, its compaction (a backup restored into a new
// file that takes the live one's place) and the restore an operator asks for
// in VERUZADU.INI ([Backup] RestauraPABX / Restaura, for the main database
// or a unit's), plus the hourly decision among them.
//
// Keeping the data whole: a compaction shuts the database down to a single
// attachment before its backup begins (refused while anyone else is attached)
// and keeps it so until the new file has taken the live name, so nothing
// written after the backup began can be lost by the swap; every way out brings
// the database back online. A requested restore swaps only after gbak has
// built the new file and nobody is attached. Neither runs unless the database
// server is this computer. The work in progress is recorded (TrabalhoPendente)
// so a killed service finishes cleaning up at its next start.
//
// Owned by the service; runs on the service thread only (the main loop calls
// it between passes). The service's BancoServico, log and alert object must
// outlive it.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "common/DataHora.h"
#include "service/AlertaEmail.h"
#include "service/BackupBanco.h"
#include "service/BancoServico.h"
#include "service/LogServico.h"

class BackupPrincipal final {
  public:
    using Relogio = std::function<DataHora()>;

    // pastaPrograma: PastaPrograma (status files, the default backup folder,
    // the record of interrupted work); arquivoIni: VERUZADU.INI.
    BackupPrincipal(std::string pastaPrograma, std::filesystem::path arquivoIni,
                    BancoServico& banco, LogServico& log, AlertasEmail& alertas, Relogio relogio);
    BackupPrincipal(const BackupPrincipal&) = delete;
    BackupPrincipal& operator=(const BackupPrincipal&) = delete;

    // Tests stop the work at its named points; the default is PausaDoAmbiente.
    void DefinePausa(PontoPausa pausa) { pausa_ = std::move(pausa); }
    // True when the service is stopping: a running gbak is ended at once.
    void DefineInterrupcao(std::function<bool()> interrompe) {
        interrompe_ = std::move(interrompe);
    }

    // The hourly decision, asked once the loop's hour gate has passed. A
    // pending restore answers at once and leaves the decision time alone,
    // unless it failed at the previous decision: then it waits for the next
    // hour. `ultimaVerificacao` is the loop's decision time.
    bool HoraRealizarBackup(bool& compactar, bool& restaurar, DataHora& ultimaVerificacao);
    // CRL_COMPBD is 1 and no one but this check is attached.
    bool VerificaCompactacaoBaseDados();
    bool RealizaBackupBaseDadosPrincipal(bool compactar);
    bool RestauraBackupBaseDados(bool compactar, bool& arquivoAusente);
    // At start: a database left shut down by a killed run goes back online
    // and the leftovers go.
    void RecuperaTrabalhoInterrompido();
    // Between a compaction's backup and its swap the database admits no one
    // else, the service's own control-row writes included: the backup time
    // is then recorded after the swap.
    bool CompactacaoEmCurso() const { return guarda_.has_value(); }

  private:
    ContaGbak Conta() const;
    std::string Traduz(std::string_view texto) const { return log_.Traduz(texto); }
    void Falha(const std::string& linha, const std::string& motivo);
    bool PreparaCompactacao(const ContaGbak& conta, const std::string& banco);
    void LiberaCompactacao(const ContaGbak& conta);
    bool DesligaParaTroca(const ContaGbak& conta, const std::string& viva);
    // Takes the one place a single-user shutdown leaves; the attachment's
    // number, or -1 when someone else holds it.
    int Segura(const ContaGbak& conta, const std::string& banco);
    // Online again, waiting for a while for whoever holds the one place.
    bool Religa(const ContaGbak& conta, const std::string& banco);

    const std::string pasta_;
    const std::filesystem::path arquivoIni_;
    BancoServico& banco_;
    LogServico& log_;
    AlertasEmail& alertas_;
    const Relogio relogio_;
    PontoPausa pausa_;
    std::function<bool()> interrompe_;
    TrabalhoPendente pendente_;

    // A restore that failed waits for the next hourly decision.
    bool restauracaoAdiada_ = false;
    // Between a compaction's backup and its restore: the database held shut
    // down, and the file the backup wrote.
    std::string bancoCompactacao_;
    std::string arquivoCompactacao_;
    // The one attachment a shut-down database admits, held by us from the
    // end of a compaction's backup (or the start of a restore's swap) to the
    // swap, so no one can write what the swap would lose.
    std::optional<Attachment> guarda_;
};
