#pragma once
// Long work off the main thread: runs `trabalho` on a worker while a modal
// window with a busy bar ("FormProgresso") keeps the event loop running, and
// returns once the worker has ended (joined), rethrowing what it threw.
//
// The work must use nothing that belongs to the main thread (the data
// module, widgets): what it needs is copied in, or lives on the caller's
// stack, which outlasts it. A program ending meanwhile still waits for the
// worker, so it never outlives what it uses. Main thread only.

#include <functional>
#include <string>

class QWidget;

void ExecutaComProgresso(QWidget* pai, const std::string& texto,
                         const std::function<void()>& trabalho);
