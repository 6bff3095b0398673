#pragma once
// Shared by the layer's sources only: the client library's entry points and
// the status object every call goes through.

#include "common/db/FirebirdError.h"

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
    void Verifica()
    {
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
    Xpb(Status& st, unsigned tipo) : x_(Util()->getXpbBuilder(st.Ptr(), tipo, nullptr, 0))
    {
        if (st.Falhou()) {
            if (x_)
                x_->dispose();
            x_ = nullptr;
            st.Verifica();
        }
    }
    Xpb(Xpb&& o) noexcept : x_(o.x_) { o.x_ = nullptr; }
    Xpb& operator=(Xpb&&) = delete;
    Xpb(const Xpb&) = delete;
    Xpb& operator=(const Xpb&) = delete;
    ~Xpb()
    {
        if (x_)
            x_->dispose();
    }

    Firebird::IXpbBuilder* operator->() const { return x_; }

private:
    Firebird::IXpbBuilder* x_;
};

} // namespace fbinterno
