#pragma once
// A TCP client with one thread of its own: it opens the connection (a
// non-blocking connect bounded by a time limit) and then reads until the peer
// closes or the owner stops it, handing every read to a callback. Sending is
// done by the owner's thread. Stands in for the component library's client
// that the link was built on.
//
// Threads: the callbacks run on the connection's thread, never after Encerra
// has returned. Envia may be called from one other thread at a time. Encerra
// (and the destructor) must not be called from a callback.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <thread>

class ConexaoTCP final {
  public:
    struct Eventos {
        std::function<void()> conectou;
        std::function<void(const std::string& erro)> falhou;  // connect failed
        std::function<void(std::span<const std::uint8_t>)> recebeu;
        std::function<void()> fechou;  // peer or network closed an open connection
    };

    ConexaoTCP(std::string host, std::uint16_t porta, std::chrono::milliseconds limiteConexao,
               Eventos eventos);
    ~ConexaoTCP();
    ConexaoTCP(const ConexaoTCP&) = delete;
    ConexaoTCP& operator=(const ConexaoTCP&) = delete;

    // Starts the thread; returns at once. (Should the thread's wake-up handle
    // fail, `falhou` runs on the caller's thread instead.)
    void Ativa();
    // Stops a pending connect or the read loop, joins the thread and closes the
    // socket. No callback runs after it returns. Idempotent.
    void Encerra();

    // Sends all n bytes (waiting for room up to the connect limit). False with
    // the error text when the link is not open or the send fails.
    bool Envia(const std::uint8_t* bytes, std::size_t n, std::string& erro);

  private:
    void Executa();
    bool Abre(std::string& erro);
    bool Resolve(std::chrono::steady_clock::time_point prazo, struct addrinfo*& lista,
                 std::string& erro);

    std::string host_;
    std::uint16_t porta_;
    std::chrono::milliseconds limite_;
    Eventos eventos_;
    std::thread thread_;
    int despertar_ = -1;           // eventfd that wakes the thread to stop
    std::atomic<int> socket_{-1};  // written by the thread, read by Envia
    std::atomic<bool> aberta_{false};
    std::atomic<bool> parar_{false};
};
