// The service's side of the status server: what its requests reach in the
// service, and where the server is opened and closed.

#include "common/status/ProtocoloStatus.h"
#include "service/ServicoVeruzaduQuv.h"

std::string TServicoVeruzaduQuv::GetStatusVeruzadu() const {
    const DataHora inicio = inicio_;
    return status::TextoStatus(inicio, status::SegundosDecorridos(inicio, relogio_.Agora()));
}

void TServicoVeruzaduQuv::AbreServidorStatus() {
    AcessoServidorStatus acesso;
    acesso.executando = [this] { return executando_.load(); };
    acesso.status = [this] { return GetStatusVeruzadu(); };
    // Finished runs are freed first, so a unit whose run has ended is listed
    // again (OK) instead of being reported as running (ON).
    acesso.estaNaLista = [this](int codigo) {
        LiberaThreadsConcluidas();
        return downloads_ && downloads_->EstaNaLista(codigo);
    };
    // Requests are answered only while the service runs, and the scheduler
    // exists from before the start until after the server is closed.
    acesso.pedeDownload = [this](int codigo) {
        if (!agenda_) return ResultadoPedidoDownload::Falhou;
        switch (agenda_->VerificaDownloadPedidoUsuario(codigo)) {
            case ResultadoPedido::Listado: return ResultadoPedidoDownload::Listado;
            case ResultadoPedido::JaListado: return ResultadoPedidoDownload::JaListado;
            case ResultadoPedido::Inexistente: return ResultadoPedidoDownload::UnidadeInexistente;
            case ResultadoPedido::Falha: break;
        }
        return ResultadoPedidoDownload::Falhou;
    };
    acesso.desperta = [this] { atividade_.Sinaliza(); };
    servidorStatus_ = std::make_unique<ServidorStatus>(log_, std::move(acesso));
    std::string erro;
    const std::uint16_t porta = porta_;
    if (!servidorStatus_->AbreComNovasTentativas(porta_, filaConsole_, erro, [this, porta] {
            log_.Log(LogSempre, true,
                     Traduz("Porta de status aberta") + ": " + std::to_string(porta));
        })) {
        // The service runs on without a status server, and the port is
        // tried again (1 s, then twice as long each time, at most a minute
        // apart) until it opens.
        log_.Log(LogErro, true,
                 Traduz("Erro ao abrir porta") + ": " + std::to_string(porta_) + " " + erro);
        log_.Log(LogSempre, true,
                 Traduz("Servidor de status fechado; nova tentativa em instantes") + ": " +
                     std::to_string(porta_));
    }
}

void TServicoVeruzaduQuv::FechaServidorStatus() {
    if (servidorStatus_) servidorStatus_->Para();
    servidorStatus_.reset();
}
