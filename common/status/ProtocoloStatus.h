#pragma once
// The status protocol between the recording service and its consoles (the
// wire format is written down in PROTOCOLO.md beside this file).
//
// Everything here is pure: bytes in, values out, no sockets. The service's
// server, the console's client and the status-probe tool wrap it. Every
// function is thread-safe; a LeitorLinhas belongs to one connection and one
// thread at a time. Nothing here throws except std::bad_alloc.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/DataHora.h"

namespace status {

inline constexpr std::uint16_t kPortaPadrao = 51051;
// Longest request line the service reads; longer ones are discarded whole.
inline constexpr std::size_t kLimiteLinhaPedido = 1024;
// Longest reply or pushed line a console reads; longer ones are dropped.
inline constexpr std::size_t kLimiteLinhaResposta = 64 * 1024;

inline constexpr std::string_view kGrvStatus = "GRV_STATUS";
inline constexpr std::string_view kGrvDownload = "GRV_DOWNLOAD";
inline constexpr std::string_view kLog = "LOG";

// Cuts a byte stream into lines. CR, LF and CR LF end a line; empty lines are
// skipped; bytes without a line end wait for the next Recebe. A line longer
// than `limite` bytes is dropped up to its end, so the buffer never holds more
// than `limite` bytes.
class LeitorLinhas final {
  public:
    explicit LeitorLinhas(std::size_t limite) : limite_(limite) {}

    // Appends the complete lines found in `bytes` to `linhas` (without their
    // line ends); gives the number appended.
    std::size_t Recebe(std::string_view bytes, std::vector<std::string>& linhas);
    // Bytes of an unfinished line held for the next call.
    std::size_t Pendentes() const { return parcial_.size(); }
    std::size_t Limite() const { return limite_; }
    // Whether the line being received is over the limit and being skipped.
    bool Descartando() const { return descartando_; }
    // Lines dropped for passing the limit so far (counted when they pass it).
    std::size_t Descartadas() const { return descartadas_; }

  private:
    const std::size_t limite_;
    std::string parcial_;
    bool descartando_ = false;
    std::size_t descartadas_ = 0;
};

// Items of one line: ";" separates them, blanks at the start of an item are
// skipped, a ";" between single or between double quotes does not split (the
// quotes stay), empty items are dropped.
std::vector<std::string> ItensLinha(std::string_view linha);

enum class TipoPedido { Nenhum, Status, Download };

struct Pedido {
    TipoPedido tipo = TipoPedido::Nenhum;
    // Download: the unit code; 0 when missing, not a decimal number, or out of
    // the 32-bit range (any of which is answered NOK, as is a code below 1).
    long long codigo = 0;
};

// What a request line asks for. Keywords compare exactly.
Pedido InterpretaPedido(std::string_view linha);

// Frames requests out of a connection's bytes: LeitorLinhas bounded to
// kLimiteLinhaPedido, then InterpretaPedido. Lines that ask for nothing known
// still come out (as TipoPedido::Nenhum) so the caller can count them.
class LeitorPedidos final {
  public:
    LeitorPedidos() : linhas_(kLimiteLinhaPedido) {}
    void Recebe(std::string_view bytes, std::vector<Pedido>& pedidos);
    std::size_t Pendentes() const { return linhas_.Pendentes(); }

  private:
    LeitorLinhas linhas_;
    std::vector<std::string> lidas_;
};

enum class RespostaDownload { OK, ON, NOK };

// What a console reads in one line from the service.
enum class TipoResposta {
    Nenhuma,           // nothing to act on (no items; "LOG" without a text)
    Status,            // "GRV_STATUS;..."
    DownloadOK,        // "GRV_DOWNLOAD;OK"
    DownloadON,        // "GRV_DOWNLOAD;ON"
    DownloadRecusado,  // "GRV_DOWNLOAD;" anything else
    Log,               // "LOG;PABXnnn;text"
    Outra,             // any other first item (an error text)
};

struct Resposta {
    TipoResposta tipo = TipoResposta::Nenhuma;
    // Log: the line's text; Outra: the first item. Otherwise empty.
    std::string texto;
};

// Reads one line (without its line end) as the console does. A LOG line is
// split only at its first two ";": the text is the rest exactly as sent
// (";", quotes and leading blanks kept); without a text, the unit field is
// the text. The other lines are split by ItensLinha.
Resposta InterpretaResposta(std::string_view linha);

// The status reply's text without line end (GetStatusVeruzadu):
// "GRV_STATUS;dd/mm/yyyy hh:nn:ss;<seconds>".
std::string TextoStatus(const DataHora& inicio, long long segundos);
// Whole seconds between two times, whichever comes first, truncated.
long long SegundosDecorridos(const DataHora& inicio, const DataHora& agora);

// Wire bytes, Latin-1, with their line ends.
std::string LinhaResposta(std::string_view textoUtf8);  // text CR LF
std::string LinhaDownload(RespostaDownload r);          // "GRV_DOWNLOAD;OK" CR LF ...
// A queued push line ("LOG;PABXnnn;" + text) as sent: text CR CR LF.
std::string LinhaPush(std::string_view textoUtf8);
// The console-queue text of a log line: "LOG;PABX" + code in three digits + ";" + text.
std::string TextoLog(int codigoPABX, std::string_view texto);

// Requests as a console writes them.
std::string PedidoStatus();                           // "GRV_STATUS;" CR
std::string PedidoDownload(std::string_view codigo);  // "GRV_DOWNLOAD;" + code + CR

}  // namespace status
