#pragma once
// Listens for named database events (POST_EVENT) on one attachment.
//
// The client library calls back on a thread of its own; a worker thread of
// this object turns each callback into counts (isc_event_counts), queues the
// events again and hands the counts to the owner, who takes them from any one
// thread with Toma or Aguarda, or wakes on Descritor() in a poll loop or a Qt
// socket notifier. The first callback after the first queueing only reports
// the server's current totals and is ignored; posts that arrive together are
// merged by the server into one callback with higher counts; a post in a
// transaction that is rolled back is never delivered.
//
// The connection must outlive the listener (the Attachment object itself may
// be moved meanwhile). Destruction cancels the queued
// events and joins the worker; a late callback of the client library finds
// its target still alive (it is reference counted).

#include "common/db/Firebird.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Firebird {
class IEvents;
}

class EventListener final {
  public:
    // Up to 15 names. Throws FirebirdError when the events cannot be queued.
    EventListener(Attachment& att, std::vector<std::string> nomes);
    EventListener(const EventListener&) = delete;
    EventListener& operator=(const EventListener&) = delete;
    ~EventListener();

    // Counts per event name since the previous call (only names that fired).
    std::map<std::string, unsigned long> Toma();
    // Waits until counts are there or the time is up, then takes them.
    std::map<std::string, unsigned long> Aguarda(std::chrono::milliseconds limite);
    // Readable (eventfd) while counts wait to be taken.
    int Descritor() const { return fd_; }
    // The events could not be queued again (usually the connection is gone);
    // no more counts will come.
    bool Interrompido() const { return interrompido_.load(); }

  private:
    class Retorno;
    void Enfileira();
    void Trabalha(bool primeiro);
    // Cancels the queued request, if any.
    void Cancela();

    Firebird::IAttachment*
        att_;  // the connection's handle: a move of its Attachment leaves it valid
    std::vector<std::string> nomes_;
    std::vector<unsigned char> bufferEventos_;    // counts as last seen; worker only
    std::vector<unsigned char> bufferResultado_;  // counts of the latest callback; worker only
    unsigned short tamanho_ = 0;
    Retorno* retorno_ = nullptr;  // reference counted; shared with the client library
    Firebird::IEvents* eventos_ =
        nullptr;  // touched by the worker only, then by the destructor after join
    int fd_ = -1;
    std::atomic<bool> interrompido_{false};

    std::mutex mtxPendentes_;  // guards pendentes_; never held with Retorno's mutex
    std::condition_variable cvPendentes_;
    std::map<std::string, unsigned long> pendentes_;

    std::thread trabalhador_;
};
