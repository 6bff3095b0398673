#pragma once
// The one way the console hands work to another thread's event loop (a
// worker's result to the main thread, a request to the status reader): `f`
// runs later on the thread `destino` lives in, as a queued call, and is
// dropped if `destino` is destroyed first. Callable from any thread; what
// `f` captures must be safe to use on the destination thread.

#include <QMetaObject>
#include <QObject>
#include <utility>

template <class F> void PostaEm(QObject* destino, F&& f) {
    QMetaObject::invokeMethod(destino, std::forward<F>(f), Qt::QueuedConnection);
}
