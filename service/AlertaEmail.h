#pragma once
// Alert e-mails: any thread queues one (EnfileiraAlertaEmail); the main loop
// takes one per pass and sends it (EnviaEmailAlerta).
//
// AlertasEmail is the one object the service hands to every worker (no global).
// It filters by the alert categories of the current configuration snapshot and
// adds to the queue while the queue exists; once the stop work has released
// the queue (Libera), queuing does nothing. Safe from any thread.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class BancoServico;
struct ContaSMTP;
struct OpcoesSMTP;

// Alert categories (bits of CFG_ALMALERTA): capacity (disk and SD card), and
// failure (every other alert).
inline constexpr std::uint16_t AlertaCapacidade = 1;
inline constexpr std::uint16_t AlertaFalha = 2;

struct TMsgMailVeruzadu {
    std::uint16_t FCategoria = 0;
    std::vector<std::string> FLinhas;
};

// Locked FIFO of queued alerts.
class FilaEmails final {
  public:
    void Adiciona(TMsgMailVeruzadu item);
    std::size_t Quantidade() const;
    std::optional<TMsgMailVeruzadu> RetiraPrimeiro();

  private:
    mutable std::mutex trava_;  // guards itens_
    std::deque<TMsgMailVeruzadu> itens_;
};

class AlertasEmail final {
  public:
    // categorias: gives CFG_ALMALERTA of the configuration snapshot in force.
    explicit AlertasEmail(std::function<int()> categorias);
    AlertasEmail(const AlertasEmail&) = delete;
    AlertasEmail& operator=(const AlertasEmail&) = delete;

    // Queues a copy of `linhas` (or `texto` as the only line when linhas is
    // null) when every bit of `categoria` is enabled and there is something
    // to send; otherwise nothing happens.
    void EnfileiraAlertaEmail(std::uint16_t categoria, const std::vector<std::string>* linhas,
                              std::string_view texto);

    // The queue is created by the start-up and released by the stop work.
    void DefineFila(std::shared_ptr<FilaEmails> fila);
    std::shared_ptr<FilaEmails> Fila() const;
    std::size_t ContagemFilaEmails() const;

  private:
    const std::function<int()> categorias_;
    mutable std::mutex trava_;  // guards fila_
    std::shared_ptr<FilaEmails> fila_;
};

// Reads the SMTP columns of CONFIG (server, port, sender, authentication,
// user, deciphered password, security). False on a database error, which is
// logged "SELSMTP: ..." at level 4.
bool BDLeConfiguracaoSMTP(BancoServico& banco, ContaSMTP& conta, std::string& remetente);

// The main loop's step: takes the first queued alert (it leaves the queue
// whatever happens: a failed send is not retried) and mails it to the
// configured recipients, logging each stage in the service log and to the
// consoles. The SMTP settings are read from the database at every send; the
// categories and recipients come from the configuration snapshot. Blocks for
// at most four times opcoes.TimeOut; `cancelado` (the stop request) ends it
// sooner. Runs on the service's main thread; nothing is thrown.
void EnviaEmailAlerta(AlertasEmail& alertas, BancoServico& banco, const OpcoesSMTP& opcoes,
                      const std::function<bool()>& cancelado = {});
