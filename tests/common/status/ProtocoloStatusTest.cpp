// The status protocol's pure parts: request framing and items, the request
// table, and the golden bytes of replies and pushed lines.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/status/ProtocoloStatus.h"

using namespace status;

namespace {

std::vector<Pedido> Pedidos(const std::vector<std::string>& pedacos) {
    LeitorPedidos leitor;
    std::vector<Pedido> r;
    for (const auto& p : pedacos) leitor.Recebe(p, r);
    return r;
}

std::string Tipos(const std::vector<Pedido>& ps) {
    std::string s;
    for (const auto& p : ps) {
        s += p.tipo == TipoPedido::Status ? "S" : p.tipo == TipoPedido::Download ? "D" : "-";
        if (p.tipo == TipoPedido::Download) s += std::to_string(p.codigo);
        s += " ";
    }
    return s;
}

}  // namespace

TEST(ProtocoloStatus, RequestsAreFramedOnLineEnds) {
    struct Caso {
        std::vector<std::string> pedacos;
        std::string esperado;
    } casos[] = {
        {{"GRV_STATUS;\r"}, "S "},
        {{"GRV_STATUS\n"}, "S "},
        {{" GRV_STATUS;;x\r\n"}, "S "},
        {{"grv_status;\r"}, "- "},
        {{"GRV_STATUS;"}, ""},  // no line end yet: waits
        {{"GRV_STATUS;\rGRV_DOWNLOAD;001\r"}, "S D1 "},
        {{"GRV_ST", "ATU", "S;", "\r"}, "S "},
        {{"GRV_DOWNLOAD;007\r", "\n", "\r\n\r\n"}, "D7 "},
        {{"GRV_STATUS;\r", "\nGRV_STATUS;\r"}, "S S "},
        {{std::string("\0\xff\xfe;\r", 5)}, "- "},
        {{"\"GRV_STATUS;\"\r"}, "- "},  // the quotes keep the ";" and stay in the item
    };
    for (const auto& c : casos) {
        std::string desc;
        for (const auto& p : c.pedacos) desc += "[" + p + "]";
        EXPECT_EQ(Tipos(Pedidos(c.pedacos)), c.esperado) << desc;
    }
}

TEST(ProtocoloStatus, AnOverLongLineIsDroppedUpToItsEndAndTheBufferStaysBounded) {
    LeitorPedidos leitor;
    std::vector<Pedido> r;
    const std::string bloco(10 * 1024, 'A');
    for (int i = 0; i < 10; ++i) {
        leitor.Recebe(bloco, r);
        EXPECT_LE(leitor.Pendentes(), kLimiteLinhaPedido);
    }
    leitor.Recebe("GRV_STATUS;\rGRV_STATUS;\r", r);
    // The first request only ends the long line and goes with it; the next
    // one is read as usual.
    EXPECT_EQ(Tipos(r), "S ");
    r.clear();

    // Exactly at the limit is still a line; one byte more is not.
    std::string noLimite = "GRV_STATUS;" + std::string(kLimiteLinhaPedido - 11, 'x');
    leitor.Recebe(noLimite + "\r" + noLimite + "y\rGRV_STATUS\r", r);
    EXPECT_EQ(Tipos(r), "S S ");
}

TEST(ProtocoloStatus, ItemsSplitAtSemicolonsOutsideQuotes) {
    using V = std::vector<std::string>;
    EXPECT_EQ(ItensLinha("GRV_DOWNLOAD;001"), (V{"GRV_DOWNLOAD", "001"}));
    EXPECT_EQ(ItensLinha("  a;;  ;b ; c"), (V{"a", "b ", "c"}));
    EXPECT_EQ(ItensLinha("x;'a;b';\"c;d\""), (V{"x", "'a;b'", "\"c;d\""}));
    EXPECT_EQ(ItensLinha("x;'open;rest"), (V{"x", "'open;rest"}));
    EXPECT_TRUE(ItensLinha(";;  ;").empty());
}

TEST(ProtocoloStatus, DownloadCodes) {
    struct Caso {
        const char* linha;
        long long codigo;
    } casos[] = {
        {"GRV_DOWNLOAD;001", 1},
        {"GRV_DOWNLOAD;7", 7},
        {"GRV_DOWNLOAD;999", 999},
        {"GRV_DOWNLOAD", 0},
        {"GRV_DOWNLOAD;", 0},
        {"GRV_DOWNLOAD;abc", 0},
        {"GRV_DOWNLOAD;0", 0},
        {"GRV_DOWNLOAD;-3", -3},
        {"GRV_DOWNLOAD;99999999999", 0},
        {"GRV_DOWNLOAD;12x", 0},
        {"GRV_DOWNLOAD; 12;zz", 12},
        {"GRV_DOWNLOAD;2147483647", 2147483647},
    };
    for (const auto& c : casos) {
        const Pedido p = InterpretaPedido(c.linha);
        EXPECT_EQ(p.tipo, TipoPedido::Download) << c.linha;
        EXPECT_EQ(p.codigo, c.codigo) << c.linha;
    }
}

TEST(ProtocoloStatus, GoldenBytes) {
    const DataHora inicio{2026, 3, 9, 7, 5, 4, 999};
    EXPECT_EQ(LinhaResposta(TextoStatus(inicio, 3600)), "GRV_STATUS;09/03/2026 07:05:04;3600\r\n");
    EXPECT_EQ(LinhaDownload(RespostaDownload::OK), "GRV_DOWNLOAD;OK\r\n");
    EXPECT_EQ(LinhaDownload(RespostaDownload::ON), "GRV_DOWNLOAD;ON\r\n");
    EXPECT_EQ(LinhaDownload(RespostaDownload::NOK), "GRV_DOWNLOAD;NOK\r\n");
    EXPECT_EQ(TextoLog(0, "Iniciando"), "LOG;PABX000;Iniciando");
    EXPECT_EQ(TextoLog(12, "x;y"), "LOG;PABX012;x;y");
    EXPECT_EQ(LinhaPush("LOG;PABX000;Configuração"), "LOG;PABX000;Configura\xe7\xe3o\r\r\n");
    EXPECT_EQ(LinhaPush("LOG;PABX000;€ 5"), "LOG;PABX000;? 5\r\r\n");
    EXPECT_EQ(LinhaResposta("Falha ç"), "Falha \xe7\r\n");
    EXPECT_EQ(PedidoStatus(), "GRV_STATUS;\r");
    EXPECT_EQ(PedidoDownload("007"), "GRV_DOWNLOAD;007\r");
}

TEST(ProtocoloStatus, WholeSecondsSinceTheStartAreTruncatedAnd64Bit) {
    const DataHora inicio{2026, 3, 9, 7, 5, 4, 500};
    EXPECT_EQ(SegundosDecorridos(inicio, SomaSegundos(inicio, 3600)), 3600);
    DataHora quase = SomaSegundos(inicio, 3600);
    quase.milissegundo = 499;
    EXPECT_EQ(SegundosDecorridos(inicio, quase), 3599);
    EXPECT_EQ(SegundosDecorridos(inicio, SomaDias(inicio, 30000)), 30000LL * 86400);
}

TEST(ProtocoloStatus, ClientLinesSplitAtCrAndLf) {
    LeitorLinhas leitor(64);
    std::vector<std::string> l;
    leitor.Recebe("LOG;PABX000;a\r\r", l);
    leitor.Recebe("\nGRV_STATUS;x;1\r", l);
    leitor.Recebe("\nGRV_DOWN", l);
    EXPECT_EQ(l, (std::vector<std::string>{"LOG;PABX000;a", "GRV_STATUS;x;1"}));
    EXPECT_EQ(leitor.Pendentes(), 8u);
}

TEST(ProtocoloStatus, ConsoleReadsRepliesAndLogLines) {
    struct Caso {
        const char* linha;
        TipoResposta tipo;
        const char* texto;
    } casos[] = {
        {"GRV_STATUS;01/02/2026 10:00:00;3600", TipoResposta::Status, ""},
        {"  GRV_STATUS", TipoResposta::Status, ""},
        {"GRV_DOWNLOAD;OK", TipoResposta::DownloadOK, ""},
        {"GRV_DOWNLOAD; ON", TipoResposta::DownloadON, ""},
        {"GRV_DOWNLOAD;NOK", TipoResposta::DownloadRecusado, ""},
        {"GRV_DOWNLOAD", TipoResposta::DownloadRecusado, ""},
        // The text is everything after the second ";", as sent.
        {"LOG;PABX001;Início download FTP", TipoResposta::Log, "Início download FTP"},
        {"LOG;PABX001;  a;b 'c;d' \"e", TipoResposta::Log, "  a;b 'c;d' \"e"},
        {"LOG;PABX001;;x", TipoResposta::Log, ";x"},
        // Without a text: the unit field.
        {"LOG;PABX001", TipoResposta::Log, "PABX001"},
        {"LOG; PABX001;", TipoResposta::Log, "PABX001"},
        {"LOG;", TipoResposta::Nenhuma, ""},
        {"LOG", TipoResposta::Nenhuma, ""},
        {";;", TipoResposta::Nenhuma, ""},
        // Anything else: its first item (an error text).
        {"Falha no banco;detalhe", TipoResposta::Outra, "Falha no banco"},
        {"grv_status;", TipoResposta::Outra, "grv_status"},
    };
    for (const Caso& c : casos) {
        const Resposta r = InterpretaResposta(c.linha);
        EXPECT_EQ(r.tipo, c.tipo) << c.linha;
        EXPECT_EQ(r.texto, c.texto) << c.linha;
    }
}

TEST(ProtocoloStatus, ConsoleDropsALineOverItsLimitAndCountsIt) {
    LeitorLinhas leitor(kLimiteLinhaResposta);
    std::vector<std::string> l;
    // 100 KB without an end, arriving in pieces, then its end and a reply.
    for (int i = 0; i < 10; ++i) {
        leitor.Recebe(std::string(10 * 1024, 'A'), l);
        EXPECT_LE(leitor.Pendentes(), kLimiteLinhaResposta);
    }
    EXPECT_EQ(leitor.Descartadas(), 1u);
    leitor.Recebe("tail\r\r\nGRV_STATUS;x;1\r\n", l);
    EXPECT_EQ(l, (std::vector<std::string>{"GRV_STATUS;x;1"}));
    // A line of exactly the limit is kept.
    l.clear();
    leitor.Recebe(std::string(kLimiteLinhaResposta, 'B') + "\r\n", l);
    ASSERT_EQ(l.size(), 1u);
    EXPECT_EQ(leitor.Descartadas(), 1u);
}
