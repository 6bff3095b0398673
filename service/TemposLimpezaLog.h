#pragma once
// When each folder's logs were last cleaned: the service's own folder and
// every unit's keep separate times, so one cleanup never postpones another.
// One table per service (LogServico holds it), shared by the service thread
// and every download thread; every call is atomic.

#include <map>
#include <mutex>

#include "common/DataHora.h"

class TemposLimpezaLog final {
  public:
    // True (and the time set to `agora`) when the folder of `chave` was never
    // cleaned or was cleaned a whole day or more before `agora`.
    bool Vence(int chave, const DataHora& agora);
    DataHora Ultima(int chave) const;

  private:
    mutable std::mutex trava_;  // guards ultimas_
    std::map<int, DataHora> ultimas_;
};
