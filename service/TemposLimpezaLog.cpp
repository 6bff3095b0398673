#include "service/TemposLimpezaLog.h"

#include "service/BackupBanco.h"

bool TemposLimpezaLog::Vence(int chave, const DataHora& agora) {
    std::lock_guard lock(trava_);
    DataHora& ultima = ultimas_[chave];
    if (!ultima.Vazia() && DiasEntre(ultima, agora) < 1) return false;
    ultima = agora;
    return true;
}

DataHora TemposLimpezaLog::Ultima(int chave) const {
    std::lock_guard lock(trava_);
    const auto it = ultimas_.find(chave);
    return it == ultimas_.end() ? DataHora{} : it->second;
}
