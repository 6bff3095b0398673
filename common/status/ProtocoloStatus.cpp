#include "common/status/ProtocoloStatus.h"

#include <charconv>
#include <cstdio>
#include <limits>

#include "common/Texto.h"

namespace status {

std::size_t LeitorLinhas::Recebe(std::string_view bytes, std::vector<std::string>& linhas) {
    std::size_t achadas = 0;
    while (!bytes.empty()) {
        const std::size_t fim = bytes.find_first_of("\r\n");
        const std::string_view pedaco = bytes.substr(0, fim);
        if (!descartando_) {
            if (parcial_.size() + pedaco.size() > limite_) {
                // Over the limit: whatever else of this line arrives is skipped.
                parcial_.clear();
                descartando_ = true;
                ++descartadas_;
            } else {
                parcial_.append(pedaco);
            }
        }
        if (fim == std::string_view::npos) break;
        if (!descartando_ && !parcial_.empty()) {
            linhas.push_back(std::move(parcial_));
            ++achadas;
        }
        parcial_.clear();
        descartando_ = false;
        bytes.remove_prefix(fim + 1);
    }
    return achadas;
}

std::vector<std::string> ItensLinha(std::string_view linha) {
    std::vector<std::string> itens;
    std::size_t i = 0;
    while (i < linha.size()) {
        while (i < linha.size() && linha[i] == ' ') ++i;
        std::string item;
        char aspa = 0;
        for (; i < linha.size(); ++i) {
            const char c = linha[i];
            if (aspa) {
                if (c == aspa) aspa = 0;
            } else if (c == '\'' || c == '"') {
                aspa = c;
            } else if (c == ';') {
                break;
            }
            item.push_back(c);
        }
        if (i < linha.size()) ++i;  // the ';'
        if (!item.empty()) itens.push_back(std::move(item));
    }
    return itens;
}

namespace {

long long CodigoDecimal(std::string_view s) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    long long v = 0;
    const auto [fim, erro] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || erro != std::errc{} || fim != s.data() + s.size()) return 0;
    if (v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max())
        return 0;
    return v;
}

}  // namespace

Pedido InterpretaPedido(std::string_view linha) {
    const auto itens = ItensLinha(linha);
    Pedido p;
    if (itens.empty()) return p;
    if (itens[0] == kGrvStatus) {
        p.tipo = TipoPedido::Status;
    } else if (itens[0] == kGrvDownload) {
        p.tipo = TipoPedido::Download;
        p.codigo = itens.size() > 1 ? CodigoDecimal(itens[1]) : 0;
    }
    return p;
}

void LeitorPedidos::Recebe(std::string_view bytes, std::vector<Pedido>& pedidos) {
    lidas_.clear();
    linhas_.Recebe(bytes, lidas_);
    for (const auto& l : lidas_) pedidos.push_back(InterpretaPedido(l));
}

Resposta InterpretaResposta(std::string_view linha) {
    Resposta r;
    const auto itens = ItensLinha(linha);
    if (itens.empty()) return r;
    if (itens[0] == kLog) {
        const std::size_t p1 = linha.find(';');
        if (p1 == std::string_view::npos) return r;
        const std::size_t p2 = linha.find(';', p1 + 1);
        std::string_view unidade =
            linha.substr(p1 + 1, p2 == std::string_view::npos ? p2 : p2 - p1 - 1);
        while (!unidade.empty() && unidade.front() == ' ') unidade.remove_prefix(1);
        std::string_view texto =
            p2 == std::string_view::npos ? std::string_view() : linha.substr(p2 + 1);
        if (texto.empty()) texto = unidade;
        if (texto.empty()) return r;
        r.tipo = TipoResposta::Log;
        r.texto = std::string(texto);
    } else if (itens[0] == kGrvStatus) {
        r.tipo = TipoResposta::Status;
    } else if (itens[0] == kGrvDownload) {
        const std::string campo = itens.size() > 1 ? itens[1] : std::string();
        r.tipo = campo == "OK"   ? TipoResposta::DownloadOK
                 : campo == "ON" ? TipoResposta::DownloadON
                                 : TipoResposta::DownloadRecusado;
    } else {
        r.tipo = TipoResposta::Outra;
        r.texto = itens[0];
    }
    return r;
}

long long SegundosDecorridos(const DataHora& inicio, const DataHora& agora) {
    const long long a = SegundosDesdeEpoca(inicio) * 1000 + inicio.milissegundo;
    const long long b = SegundosDesdeEpoca(agora) * 1000 + agora.milissegundo;
    return (b >= a ? b - a : a - b) / 1000;
}

std::string TextoStatus(const DataHora& inicio, long long segundos) {
    return std::string(kGrvStatus) + ";" + FormataDataHora(inicio, "dd/mm/yyyy hh:nn:ss") + ";" +
           std::to_string(segundos);
}

std::string LinhaResposta(std::string_view textoUtf8) { return Utf8ParaLatin1(textoUtf8) + "\r\n"; }

std::string LinhaDownload(RespostaDownload r) {
    switch (r) {
        case RespostaDownload::OK: return "GRV_DOWNLOAD;OK\r\n";
        case RespostaDownload::ON: return "GRV_DOWNLOAD;ON\r\n";
        case RespostaDownload::NOK: break;
    }
    return "GRV_DOWNLOAD;NOK\r\n";
}

std::string LinhaPush(std::string_view textoUtf8) { return Utf8ParaLatin1(textoUtf8) + "\r\r\n"; }

std::string TextoLog(int codigoPABX, std::string_view texto) {
    char codigo[16];
    std::snprintf(codigo, sizeof codigo, "%03d", codigoPABX);
    std::string s = std::string(kLog) + ";PABX" + codigo + ";";
    s.append(texto);
    return s;
}

std::string PedidoStatus() { return std::string(kGrvStatus) + ";\r"; }

std::string PedidoDownload(std::string_view codigo) {
    return std::string(kGrvDownload) + ";" + std::string(codigo) + "\r";
}

}  // namespace status
