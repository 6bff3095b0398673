// What each reply handler stores, and the status it leaves.
#include <gtest/gtest.h>

#include "tests/common/pabx/PABXSemRede.h"

namespace {
Bytes Campo(std::string_view texto, std::size_t largura) {
    Bytes b(texto.begin(), texto.end());
    b.resize(largura, 0);
    return b;
}

Bytes RegistroNomeDNS(bool desabilitado, std::string_view nome) {
    Bytes r{0, 0};
    Palavra(r, desabilitado ? 1 : 0);
    const Bytes c = Campo(nome, 12);
    r.insert(r.end(), c.begin(), c.end());
    return r;
}

Bytes RegistroIndiceDNS(std::uint32_t tipo, std::uint16_t numero, std::uint16_t indice) {
    Bytes r;
    Palavra(r, static_cast<std::uint16_t>(tipo & 0xFFFF));
    Palavra(r, static_cast<std::uint16_t>(tipo >> 16));
    Palavra(r, numero);
    r.resize(12, 0);
    Palavra(r, indice);
    Palavra(r, 0);
    return r;
}

Bytes RegistroAgenda(std::uint16_t numero, std::string_view nome, bool longa) {
    Bytes r;
    Palavra(r, numero);
    Palavra(r, 0);
    const Bytes c = Campo(nome, longa ? 32 : 30);
    r.insert(r.end(), c.begin(), c.end());
    r.resize(longa ? 48 : 34, 0);
    return r;
}

Bytes Junta(const std::vector<Bytes>& partes) {
    Bytes r;
    for (const auto& p : partes) r.insert(r.end(), p.begin(), p.end());
    return r;
}

Bytes Parametros(std::string_view modelo) {
    Bytes dados(128, 0x20);
    const Bytes c = Campo(modelo, 20);
    std::copy(c.begin(), c.end(), dados.begin() + 82);
    return dados;
}

Bytes RespostaXML(std::uint16_t codigo, std::string_view texto) {
    Bytes dados(texto.begin(), texto.end());
    dados.resize(dados.size() + 10, 0);
    return RespostaCTRL(9, 1, codigo, dados);
}

const TRamalPABX& Ramal(const TPABX& p, int numero) {
    return p.FRamais[static_cast<std::size_t>(TPABX::IndiceRamal(numero))];
}
}  // namespace

TEST(Respostas, VersaoERelease) {
    struct Caso {
        std::uint16_t maior, menor, release;
        const char* texto;
    };
    for (const Caso c :
         {Caso{3, 16, 50, "3.16.50"}, Caso{3, 5, 7, "3.05.07"}, Caso{12, 100, 0, "12.100.00"}}) {
        PABXSemRede link;
        Bytes v, r;
        Palavra(v, c.maior);
        Palavra(v, c.menor);
        Palavra(r, c.release);
        ASSERT_TRUE(link.pabx.PedeVersao());
        link.Recebe(RespostaPROG(102, 0, v));
        EXPECT_EQ(link.pabx.FStatusPROG.Le(), "OK");
        ASSERT_TRUE(link.pabx.PedeRelease());
        link.Recebe(RespostaPROG(102, 2, r));
        EXPECT_EQ(link.pabx.FStatusPROG.Le(), "OK");
        EXPECT_EQ(link.pabx.FVersao, c.texto);
        EXPECT_EQ(link.pabx.FVersaoMaior, c.maior);
        EXPECT_EQ(link.pabx.FRelease, c.release);
    }
}

TEST(Respostas, QuadroCurtoDemaisContaComoSemResposta) {
    PABXSemRede link;
    ASSERT_TRUE(link.pabx.PedeVersao());
    link.Recebe(RespostaPROG(102, 0, {3, 0}));  // the minor word is missing
    EXPECT_TRUE(link.pabx.FStatusPROG.Vazio());
    ASSERT_TRUE(link.pabx.PedeRelease());
    link.Recebe(RespostaPROG(102, 2, {50}));
    EXPECT_TRUE(link.pabx.FStatusPROG.Vazio());
    ASSERT_TRUE(link.pabx.PedeVolumeSDCard());
    link.Recebe(RespostaCTRL(0x82, 5, 0x8C));  // no detail word
    EXPECT_TRUE(link.pabx.FStatusCTRL.Vazio());
    link.Recebe(Quadro(6, 0x82, {1, 0}));  // no sub-code
    EXPECT_TRUE(link.pabx.FStatusCTRL.Vazio());
}

TEST(Respostas, ModeloEscolheOTipoDeAgenda) {
    enum Agenda { Curta, Longa, XML };
    struct Caso {
        const char* modelo;
        const char* esperado;
        Agenda agenda;
    };
    for (const Caso c : {Caso{"Norvika orval500", "NORVIKA ORVAL500", Longa},
                         Caso{"xORVAL500-BRELVO", "XORVAL500-BRELVO", Longa},
                         Caso{"brelvo 24", "BRELVO 24", XML}, Caso{"TK506_4M", "TK506_4M", XML},
                         Caso{"TK506_2M", "TK506_2M", Curta}, Caso{"", "", Curta}}) {
        SCOPED_TRACE(c.modelo);
        PABXSemRede link;
        ASSERT_TRUE(link.pabx.EnviaLogin());
        ASSERT_TRUE(link.pabx.PedeParametros());
        link.Recebe(RespostaPROG(19, 1, Parametros(c.modelo)));
        EXPECT_EQ(link.pabx.FStatusPROG.Le(), "OK");
        EXPECT_EQ(link.pabx.FModelo, c.esperado);
        EXPECT_EQ(link.pabx.FAgendaLonga, c.agenda == Longa);
        EXPECT_EQ(link.pabx.FAgendaViaCTRL, c.agenda == XML);
        link.enviados.clear();
        ASSERT_TRUE(link.pabx.PedeAgenda());
        const Bytes& pedido = link.enviados.at(0);
        if (c.agenda == XML)
            EXPECT_EQ(pedido, Hex("55 08 00 06 00 09 00 1A 00 00 00"));
        else
            EXPECT_EQ(pedido, Hex(c.agenda == Longa ? "55 08 00 03 00 04 00 09 00 0F 00"
                                                    : "55 08 00 03 00 04 00 09 00 05 00"));
    }
}

TEST(Respostas, ParametrosCurtosOuCortados) {
    PABXSemRede link;
    ASSERT_TRUE(link.pabx.EnviaLogin());
    ASSERT_TRUE(link.pabx.PedeParametros());
    link.Recebe(RespostaPROG(19, 1, Bytes(88, 0)));  // 103 bytes: below 104
    EXPECT_EQ(link.pabx.FStatusPROG.Le(), "OK");
    EXPECT_EQ(link.pabx.FModelo, "NORVIKA");
    // A frame ending inside the model field: the model is what the frame holds.
    ASSERT_TRUE(link.pabx.PedeParametros());
    Bytes dados = Parametros("ORVAL500XYZ");
    dados.resize(82 + 7);  // a 104-byte frame
    link.Recebe(RespostaPROG(19, 1, dados));
    EXPECT_EQ(link.pabx.FModelo, "ORVAL50");
    EXPECT_FALSE(link.pabx.FAgendaLonga);
}

TEST(Respostas, NomesEIndicesDNS) {
    PABXSemRede link;
    TPABX& p = link.pabx;
    ASSERT_TRUE(p.PedeNomesDNS());
    link.Recebe(RespostaPROG(
        2, 0,
        Junta({RegistroNomeDNS(false, "Recepcao"), RegistroNomeDNS(true, "Oculto"),
               RegistroNomeDNS(false, "{Chaves"), RegistroNomeDNS(false, "NomeComDozeX"),
               RegistroNomeDNS(false, "Vendas"), Bytes(15, 'x')})));
    EXPECT_EQ(p.FStatusPROG.Le(), "OK");
    ASSERT_EQ(p.FNomesDNS, (std::vector<std::string>{"0Recepcao", "1Oculto", "0{Chaves",
                                                     "0NomeComDoze", "0Vendas"}));
    EXPECT_TRUE(p.NomeDNSHabilitado(0));
    EXPECT_FALSE(p.NomeDNSHabilitado(1));
    EXPECT_FALSE(p.NomeDNSHabilitado(5));
    EXPECT_EQ(p.NomeDNS(2), "Chaves");
    EXPECT_EQ(p.NomeDNS(-1), "");

    ASSERT_TRUE(p.PedeIndicesDNS());
    link.Recebe(RespostaPROG(2, 3,
                             Junta({RegistroIndiceDNS(2, 1000, 0), RegistroIndiceDNS(3, 1001, 2),
                                    RegistroIndiceDNS(45, 1002, 3), RegistroIndiceDNS(7, 1003, 0),
                                    RegistroIndiceDNS(45, 1005, 1),  // name disabled
                                    RegistroIndiceDNS(45, 3001, 4), RegistroIndiceDNS(2, 3002, 0),
                                    RegistroIndiceDNS(45, 1900, 0), RegistroIndiceDNS(45, 1004, 99),
                                    RegistroIndiceDNS(0x10002, 1006, 0)})));
    EXPECT_EQ(p.FStatusPROG.Le(), "OK");
    EXPECT_EQ(Ramal(p, 1000).NomeDNS, "Recepcao");
    EXPECT_EQ(Ramal(p, 1000).Nome, "Recepcao");
    EXPECT_EQ(Ramal(p, 1001).NomeDNS, "Chaves");
    EXPECT_EQ(Ramal(p, 1002).NomeDNS, "NomeComDoze");
    for (int sem : {1003, 1004, 1005, 1006, 3002}) EXPECT_EQ(Ramal(p, sem).NomeDNS, "") << sem;
    EXPECT_EQ(Ramal(p, 3001).NomeDNS, "Vendas");
    EXPECT_EQ(p.BuscaRamalPorNome("Vendas"), 3001);
}

TEST(Respostas, AgendaCurtaELonga) {
    PABXSemRede link;
    TPABX& p = link.pabx;
    ASSERT_TRUE(p.PedeAgenda());
    link.Recebe(RespostaPROG(
        9, 5,
        Junta({RegistroAgenda(1001, "  Maria da Silva Souza Lima ", false),
               RegistroAgenda(1002, "bridge  ", false), RegistroAgenda(3005, "Jo\xE3o", false),
               RegistroAgenda(3006, "BRIDGE", false), RegistroAgenda(2000, "Fora", false)})));
    EXPECT_EQ(p.FStatusPROG.Le(), "OK");
    EXPECT_EQ(Ramal(p, 1001).Nome, "Maria da Silva Sou");  // 18 characters
    EXPECT_EQ(Ramal(p, 1002).Nome, "");
    EXPECT_EQ(Ramal(p, 3005).Nome, "João");
    EXPECT_EQ(p.FAgendaRamais, (std::vector<std::string>{"3005;João", "3006;BRIDGE"}));

    ASSERT_TRUE(p.PedeLeituraPROG(9, 15));
    link.Recebe(RespostaPROG(9, 15,
                             Junta({RegistroAgenda(1001, "Nome Longo Com Mais De Trinta Cx", true),
                                    RegistroAgenda(3005, " Bridge", true)})));
    EXPECT_EQ(p.FStatusPROG.Le(), "OK");
    EXPECT_EQ(Ramal(p, 1001).Nome, "Nome Longo Com Mais De Trinta ");
    EXPECT_EQ(Ramal(p, 3005).Nome, "");
    EXPECT_EQ(p.FAgendaRamais.size(), 2u);  // the long agenda leaves the list alone
}

TEST(Respostas, AgendaXML) {
    PABXSemRede link;
    TPABX& p = link.pabx;
    ASSERT_TRUE(p.EnviaLogin());
    ASSERT_TRUE(p.PedeParametros());
    link.Recebe(RespostaPROG(19, 1, Parametros("BRELVO")));
    ASSERT_TRUE(p.FAgendaViaCTRL);

    ASSERT_TRUE(p.PedeAgenda());
    link.Recebe(RespostaXML(
        26, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><zirurezuverizizir><idramais>"
            "<r><n>1001</n><c>Ana</c><l>Ana Souza</l></r>"
            "<r><a>1001</a><b>Outra</b><c>Outra Ana</c></r>"
            "<r><n>3010</n><c>Jos\xE9</c><l>Jos\xE9 da Silva Pereira Lima Souza Neto</l></r>"
            "<r><n>abc</n><c>X</c><l>Y</l></r>"
            "<r><n>2000</n><c>Z</c><l>W</l></r>"
            "</idramais></zirurezuverizizir>"));
    EXPECT_EQ(p.FStatusPROG.Le(), "OK");
    EXPECT_EQ(Ramal(p, 1001).NomeDNS, "Ana");
    EXPECT_EQ(Ramal(p, 1001).Nome, "Ana Souza");
    EXPECT_EQ(Ramal(p, 3010).NomeDNS, "José");
    EXPECT_EQ(Ramal(p, 3010).Nome, "José da Silva Pereira Lima Sou");

    // Not well-formed: the status stays empty, the tables stay as they were.
    ASSERT_TRUE(p.PedeAgenda());
    link.Recebe(RespostaXML(26, "<zirurezuverizizir><idramais><r><n>1001</n>"));
    EXPECT_TRUE(p.FStatusPROG.Vazio());
    EXPECT_EQ(Ramal(p, 1001).NomeDNS, "Ana");

    // An empty document is an answer.
    ASSERT_TRUE(p.PedeAgenda());
    link.Recebe(RespostaXML(26, ""));
    EXPECT_EQ(p.FStatusPROG.Le(), "OK");
}

TEST(Respostas, TextosDoResultadoCTRL) {
    struct Caso {
        std::uint16_t comando, resultado;
        Bytes dados;
        bool ignora;
        const char* texto;
    };
    const std::vector<Caso> casos = {
        {0x82, 1, {}, true, "OK"},
        {0x82, 2, {}, true, "Falha"},
        {0x82, 3, {}, true, "TimeOut"},
        {0x82, 4, {}, true, "Negado"},
        {0x82, 5, {4, 0}, true, "SdCard não conectado"},
        {0x82, 5, {5, 0}, true, "Identificador do SdCard é inválido ou inexistente"},
        {0x82, 5, {9, 0}, true, "Erro SdCard desconhecido"},
        {0x190, 5, {4, 0}, true, "IOCTRL Error"},
        {0x82, 77, {}, true, "OK"},
        {0x82, 77, {}, false, "Desconhecido"},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.texto);
        IgnoraCTRLDesconhecido = c.ignora;
        PABXSemRede link;
        link.pabx.FStatusPROG.Grava("OK");
        ASSERT_TRUE(link.pabx.PedeReconexaoUSB());
        EXPECT_TRUE(link.pabx.FStatusCTRL.Vazio());
        link.Recebe(RespostaCTRL(c.comando, c.resultado, 0x8C, c.dados));
        EXPECT_EQ(link.pabx.FStatusCTRL.Le(), c.texto);
        EXPECT_EQ(link.pabx.FStatusPROG.Le(), "OK");
    }
    IgnoraCTRLDesconhecido = true;
}

TEST(Respostas, VolumeDoSDCardERespostaAtrasadaDeOutroPedido) {
    PABXSemRede link;
    TPABX& p = link.pabx;
    ASSERT_TRUE(p.EnviaLogin());
    link.Recebe(Confirmacao(10005, 0));
    ASSERT_TRUE(p.PedeVolumeSDCard());
    // The login's own CTRL result arrives after the volume request went out.
    link.Recebe(RespostaCTRL(0x83, 1, 10005));
    EXPECT_TRUE(p.FStatusCTRL.Vazio());
    Bytes dados;
    for (std::int64_t v : {std::int64_t{8} << 30, std::int64_t{3} << 30, std::int64_t{5} << 30})
        for (int i = 0; i < 8; ++i) dados.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    dados.resize(32, 0xEE);
    link.Recebe(RespostaCTRL(0x190, 1, 0x8C, dados));
    EXPECT_EQ(p.FStatusCTRL.Le(), "OK");
    EXPECT_EQ(p.FVolumeSDCard.Total, std::int64_t{8} << 30);
    EXPECT_EQ(p.FVolumeSDCard.Livre, std::int64_t{3} << 30);
    EXPECT_EQ(p.FVolumeSDCard.Usado, std::int64_t{5} << 30);
    // A short OK to a recordings-control request clears the stored volume.
    ASSERT_TRUE(p.PedeAcessoGravacoes(true));
    link.Recebe(RespostaCTRL(0x82, 1, 0x8C));
    EXPECT_EQ(p.FStatusCTRL.Le(), "OK");
    EXPECT_EQ(p.FVolumeSDCard.Total, 0);
}

TEST(Respostas, BuscaRamalPorNome) {
    PABXSemRede link;
    TPABX& p = link.pabx;
    p.FRamais[static_cast<std::size_t>(TPABX::IndiceRamal(3010))].NomeDNS = "Suporte";
    p.FRamais[static_cast<std::size_t>(TPABX::IndiceRamal(1010))].NomeDNS = "Suporte";
    EXPECT_EQ(p.BuscaRamalPorNome("Suporte"), 1010);
    EXPECT_EQ(p.BuscaRamalPorNome("suporte"), 0);
    EXPECT_EQ(p.BuscaRamalPorNome(""), 0);
    EXPECT_EQ(p.BuscaRamalPorNome("   "), 0);
    EXPECT_EQ(TPABX::IndiceRamal(999), -1);
    EXPECT_EQ(TPABX::IndiceRamal(1900), -1);
    EXPECT_EQ(TPABX::IndiceRamal(3999), 1899);
}
