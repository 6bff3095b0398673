#include "service/LacoPrincipal.h"

#include <cstdlib>

long long SegundosEntre(const DataHora& a, const DataHora& b) {
    return std::llabs(SegundosDesdeEpoca(a) - SegundosDesdeEpoca(b));
}

long long HorasEntre(const DataHora& a, const DataHora& b) { return SegundosEntre(a, b) / 3600; }

LacoPrincipal::LacoPrincipal(PassosLaco& passos, const Relogio& relogio,
                             std::atomic<bool>& executando, ListaThreads& downloads,
                             ListaThreads& sdcards, Evento& atividade)
    : passos_(passos), relogio_(relogio), executando_(executando), downloads_(downloads),
      sdcards_(sdcards), atividade_(atividade) {}

void LacoPrincipal::Inicia() {
    executando_ = true;
    ultimaDownload_ = DataHora{};
    ultimaDisco_ = DataHora{};
    ultimaBackup_ = DataHora{};
    contagemDownloadAnterior_ = 0;
}

void LacoPrincipal::Executa() {
    Inicia();
    while (executando_) {
        if (!Passo()) break;
        atividade_.Aguarda(std::chrono::milliseconds(1000));
    }
}

void LacoPrincipal::DecideBackup(const DataHora& agora) {
    if (!ultimaBackup_.Vazia() && SegundosEntre(ultimaBackup_, agora) < 3600) return;
    bool compactar = false;
    bool restaurar = false;
    if (!passos_.HoraRealizarBackup(compactar, restaurar, ultimaBackup_)) return;

    bool backupFeito = false;
    if (!restaurar) {
        backupFeito = passos_.RealizaBackupBaseDadosPrincipal(compactar);
        if (backupFeito) passos_.BDRegistraControle(ModoRegistroControle::Backup);
    }
    // A compaction restores the backup this same pass made; after a failed
    // backup the file on disk is an older one, and restoring it would lose data.
    if (restaurar || (compactar && backupFeito)) {
        bool arquivoAusente = false;
        if (passos_.RestauraBackupBaseDados(compactar, arquivoAusente)) {
            passos_.BDRegistraControle(ModoRegistroControle::Compactacao);
        } else if (arquivoAusente) {
            passos_.LogRestauracaoImpossivel();
            executando_ = false;
        }
    }
}

bool LacoPrincipal::Passo() {
    if (!passos_.ProcessaRequisicoes()) return false;

    if (executando_ && contagemDownloadAnterior_ == 0) DecideBackup(relogio_.Agora());

    DataHora agora = relogio_.Agora();
    if (ultimaDownload_.Vazia() ||
        SegundosEntre(ultimaDownload_, agora) >= passos_.TempoVerDownload()) {
        ultimaDownload_ = agora;
        passos_.BDVerificaDownloadPeriodo();
        agora = relogio_.Agora();
        if (ultimaDisco_.Vazia() || HorasEntre(agora, ultimaDisco_) >= 24) {
            ultimaDisco_ = agora;
            passos_.VerificaEspacoLivreEmDisco();
        }
    }

    contagemDownloadAnterior_ = downloads_.IniciaNovas();
    sdcards_.IniciaNovasAte(kMaxThreadsSDCard);

    if (executando_ && passos_.ContagemFilaLogBD() > 0) passos_.GravaLogEmBancoDados();
    if (executando_ && passos_.ContagemFilaEmails() > 0) passos_.EnviaEmailAlerta();
    return executando_;
}
