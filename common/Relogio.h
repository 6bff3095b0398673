#pragma once
// The clock the programs read "now" from: handed in wherever time decides
// something, so tests can move it. RelogioSistema is the real one.
// Agora() may be called from any thread.

#include "common/DataHora.h"

class Relogio {
  public:
    virtual ~Relogio() = default;
    virtual DataHora Agora() const = 0;
};

class RelogioSistema final : public Relogio {
  public:
    DataHora Agora() const override { return ::Agora(); }
};
