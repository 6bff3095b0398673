#pragma once
// Shared by the layer's sources only: the client library's entry points and
// the status object every call goes through.

#include "common/Texto.h"
#include "common/DataHora.h"
#include "common/db/Firebird.h"
#include "common/db/FirebirdError.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include <firebird/Interface.h>

namespace fbinterno {

Firebird::IMaster* Master();
Firebird::IUtil* Util();
Firebird::IProvider* Provedor();

// One status per call: status objects are not shared between threads, and
// taking a fresh one costs far less than any round trip to the server.
class Status final {
  public:
    Status() : status_(Master()->getStatus()), wrapper_(status_) {}
    ~Status() { status_->dispose(); }
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;

    Firebird::CheckStatusWrapper* Ptr() { return &wrapper_; }
    bool Falhou() const { return (wrapper_.getState() & Firebird::IStatus::STATE_ERRORS) != 0; }
    // Throws FirebirdError when the last call failed, and clears the status.
    void Verifica() {
        if (Falhou()) {
            FirebirdError e = FirebirdError::DeVetor(wrapper_.getErrors());
            wrapper_.init();
            throw e;
        }
    }

  private:
    Firebird::IStatus* status_;
    Firebird::CheckStatusWrapper wrapper_;
};

// Owns one parameter-block builder (DPB, SPB, ...) and disposes it once. A
// failed creation throws and leaves nothing to dispose. Movable, not copyable.
class Xpb final {
  public:
    Xpb(Status& st, unsigned tipo) : x_(Util()->getXpbBuilder(st.Ptr(), tipo, nullptr, 0)) {
        if (st.Falhou()) {
            if (x_) x_->dispose();
            x_ = nullptr;
            st.Verifica();
        }
    }
    Xpb(Xpb&& o) noexcept : x_(o.x_) { o.x_ = nullptr; }
    Xpb& operator=(Xpb&&) = delete;
    Xpb(const Xpb&) = delete;
    Xpb& operator=(const Xpb&) = delete;
    ~Xpb() {
        if (x_) x_->dispose();
    }

    Firebird::IXpbBuilder* operator->() const { return x_; }

  private:
    Firebird::IXpbBuilder* x_;
};

// Conversions and byte access shared by the layer's sources (rows, BLOBs,
// parameters).
namespace valores {

inline constexpr unsigned CharsetUtf8 = 4;

inline BlobId ParaBlobId(const ISC_QUAD& q) { return BlobId{q.gds_quad_high, q.gds_quad_low}; }

inline ISC_QUAD ParaQuad(BlobId id) {
    ISC_QUAD q;
    q.gds_quad_high = id.alto;
    q.gds_quad_low = id.baixo;
    return q;
}

inline ISC_TIMESTAMP ParaTimestamp(const DataHora& d) {
    ISC_TIMESTAMP ts;
    ts.timestamp_date = fbinterno::Util()->encodeDate(d.ano, d.mes, d.dia);
    ts.timestamp_time =
        fbinterno::Util()->encodeTime(d.hora, d.minuto, d.segundo, d.milissegundo * 10);
    return ts;
}

inline DataHora DeData(ISC_DATE data) {
    unsigned ano = 0, mes = 0, dia = 0;
    fbinterno::Util()->decodeDate(data, &ano, &mes, &dia);
    DataHora d;
    d.ano = int(ano);
    d.mes = int(mes);
    d.dia = int(dia);
    return d;
}

inline void DeHora(ISC_TIME hora, DataHora& d) {
    unsigned h = 0, m = 0, s = 0, fracoes = 0;
    fbinterno::Util()->decodeTime(hora, &h, &m, &s, &fracoes);
    d.hora = int(h);
    d.minuto = int(m);
    d.segundo = int(s);
    d.milissegundo = int(fracoes / 10);
}

template <typename T> T Le(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <typename T> inline void Grava(unsigned char* p, T v) { std::memcpy(p, &v, sizeof v); }

inline std::int64_t Potencia10(int n) {
    std::int64_t r = 1;
    while (n-- > 0) r *= 10;
    return r;
}

inline FirebirdError ErroUso(const std::string& mensagem) { return FirebirdError({}, mensagem); }

}  // namespace valores

}  // namespace fbinterno

// A parameter's value as bound, kept until the statement runs.
struct Statement::Parametro {
    enum Tipo { Nulo, Texto, Int, BigInt, SmallInt, Timestamp, Blob };
    Tipo tipo = Nulo;
    std::string texto;
    std::int64_t numero = 0;
    ISC_TIMESTAMP ts{};
    ISC_QUAD blob{};
};
