// Descriptions as units write them, and as they should never be trusted.

#include <gtest/gtest.h>

#include "service/download/LeituraXML.h"
#include "tests/support/PastaTemporaria.h"

namespace {

std::string Descricao(const std::string& corpo, const std::string& decl = "") {
    return decl + "<gravacao>\r\n" + corpo + "</gravacao>\r\n";
}

const std::string Completo =
    "<ramalcomanda>1001</ramalcomanda><ramalgravado>1002</ramalgravado>"
    "<nomedestino>(48) 1234-5678</nomedestino><codconta>12345</codconta>"
    "<tipoligacao>entrada</tipoligacao><iniciogravacao>1728550000</iniciogravacao>";

struct Caso {
    const char* nome;
    std::string bytes;
    EstadoXML estado;
    DadosGravacao esperado;
};

DadosGravacao Dados(std::string comanda, std::string ramal, std::string destino, std::string conta,
                    int tipo, int inicio, int audio) {
    DadosGravacao d;
    d.Comanda = comanda;
    d.RamalGravado = ramal;
    d.NumeroDestino = destino;
    d.CodConta = conta;
    d.TipoLigacao = tipo;
    d.Inicio = inicio;
    d.TemAudio = audio;
    return d;
}

void Compara(const DadosGravacao& a, const DadosGravacao& b) {
    EXPECT_EQ(a.Comanda, b.Comanda);
    EXPECT_EQ(a.RamalGravado, b.RamalGravado);
    EXPECT_EQ(a.NumeroDestino, b.NumeroDestino);
    EXPECT_EQ(a.CodConta, b.CodConta);
    EXPECT_EQ(a.TipoLigacao, b.TipoLigacao);
    EXPECT_EQ(a.Inicio, b.Inicio);
    EXPECT_EQ(a.TemAudio, b.TemAudio);
}

std::string Troca(std::string s, const std::string& de, const std::string& para) {
    const auto p = s.find(de);
    if (p != std::string::npos) s.replace(p, de.size(), para);
    return s;
}

}  // namespace

TEST(GravacaoXML, TabelaDeDescricoes) {
    const auto inicial = [](DadosGravacao d) { return d; };
    const DadosGravacao base = Dados("1001", "1002", "4812345678", "12345", 2, 1728550000, 0);
    auto com = [&](auto f) {
        DadosGravacao d = base;
        f(d);
        return d;
    };
    const std::string latin1Decl = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n";
    std::vector<Caso> casos = {
        {"completo", Descricao(Completo), EstadoXML::Lido, base},
        {"audio sim", Descricao(Completo + "<audio>sim</audio>"), EstadoXML::Lido,
         com([](auto& d) { d.TemAudio = 1; })},
        {"audio SIM", Descricao(Completo + "<audio>SIM</audio>"), EstadoXML::Lido,
         com([](auto& d) { d.TemAudio = 1; })},
        {"audio Sim com brancos", Descricao(Completo + "<audio> Sim\r\n</audio>"), EstadoXML::Lido,
         com([](auto& d) { d.TemAudio = 1; })},
        {"audio simm", Descricao(Completo + "<audio>simm</audio>"), EstadoXML::Lido, base},
        {"audio nao", Descricao(Completo + "<audio>nao</audio>"), EstadoXML::Lido, base},
        {"sem ramalcomanda", Descricao(Troca(Completo, "<ramalcomanda>1001</ramalcomanda>", "")),
         EstadoXML::Ilegivel, Dados("DEVICE", "0001002", "", "", -1, 0, 0)},
        {"sem ramalgravado", Descricao(Troca(Completo, "<ramalgravado>1002</ramalgravado>", "")),
         EstadoXML::Ilegivel, Dados("1001", "0001002", "", "", -1, 0, 0)},
        {"sem nomedestino",
         Descricao(Troca(Completo, "<nomedestino>(48) 1234-5678</nomedestino>", "")),
         EstadoXML::Ilegivel, Dados("1001", "1002", "", "", -1, 0, 0)},
        {"sem codconta", Descricao(Troca(Completo, "<codconta>12345</codconta>", "")),
         EstadoXML::Ilegivel, Dados("1001", "1002", "4812345678", "", -1, 0, 0)},
        {"sem tipoligacao", Descricao(Troca(Completo, "<tipoligacao>entrada</tipoligacao>", "")),
         EstadoXML::Ilegivel, Dados("1001", "1002", "4812345678", "12345", -1, 0, 0)},
        {"sem iniciogravacao",
         Descricao(Troca(Completo, "<iniciogravacao>1728550000</iniciogravacao>", "")),
         EstadoXML::Ilegivel, com([](auto& d) { d.Inicio = 0; })},
        {"audio citado sem elemento", Descricao(Completo + "<!-- <audio> -->"), EstadoXML::Ilegivel,
         base},
        {"inicio vazio", Descricao(Troca(Completo, "1728550000", "")), EstadoXML::Lido,
         com([](auto& d) { d.Inicio = 0; })},
        {"inicio abc", Descricao(Troca(Completo, "1728550000", "abc")), EstadoXML::Lido,
         com([](auto& d) { d.Inicio = 0; })},
        {"inicio -1", Descricao(Troca(Completo, "1728550000", "-1")), EstadoXML::Lido,
         com([](auto& d) { d.Inicio = -1; })},
        {"inicio grande", Descricao(Troca(Completo, "1728550000", "99999999999")), EstadoXML::Lido,
         com([](auto& d) { d.Inicio = 0; })},
        {"inicio 0", Descricao(Troca(Completo, "1728550000", "0")), EstadoXML::Lido,
         com([](auto& d) { d.Inicio = 0; })},
        {"destino 25 digitos",
         Descricao(Troca(Completo, "(48) 1234-5678", "+1234567890123456789012345")),
         EstadoXML::Lido, com([](auto& d) { d.NumeroDestino = "12345678901234567890"; })},
        {"interna minusculas", Descricao(Troca(Completo, "entrada", "interna")), EstadoXML::Lido,
         com([](auto& d) { d.TipoLigacao = 0; })},
        {"tipo vazio", Descricao(Troca(Completo, "entrada", "")), EstadoXML::Lido,
         com([](auto& d) { d.TipoLigacao = 1; })},
        {"campos longos cortados",
         Descricao(Troca(
             Troca(Completo, "<codconta>12345</codconta>", "<codconta>1234567</codconta>"),
             "<ramalcomanda>1001</ramalcomanda>", "<ramalcomanda>123456789012</ramalcomanda>")),
         EstadoXML::Lido, com([](auto& d) {
             d.Comanda = "1234567890";
             d.CodConta = "12345";
         })},
        {"latin1 declarado", Descricao(Troca(Completo, "12345", "S\xE3o"), latin1Decl),
         EstadoXML::Lido, com([](auto& d) { d.CodConta = "São"; })},
        {"utf8",
         Descricao(Troca(Completo, "12345", "São"), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"),
         EstadoXML::Lido, com([](auto& d) { d.CodConta = "São"; })},
        {"latin1 sem declaracao", Descricao(Troca(Completo, "12345", "S\xE3o")), EstadoXML::Lido,
         com([](auto& d) { d.CodConta = "São"; })},
        {"cdata", Descricao(Troca(Completo, "12345", "<![CDATA[<1&2>]]>")), EstadoXML::Lido,
         com([](auto& d) { d.CodConta = "<1&2>"; })},
        {"fora do win1252 chega intacto", Descricao(Troca(Completo, "12345", "日本")),
         EstadoXML::Lido, com([](auto& d) { d.CodConta = "日本"; })},
        // Entities of a DTD are never expanded (no entity bombs, no external files).
        {"dtd com entidades",
         "<?xml version=\"1.0\"?><!DOCTYPE g [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b "
         "\"&a;&a;&a;&a;&a;&a;\">"
         "<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" +
             Descricao(Troca(Completo, "12345", "&b;&x;")),
         EstadoXML::Lido, com([](auto& d) { d.CodConta = "&b;&x"; })},
        {"nao xml", "isto não é XML", EstadoXML::Ilegivel,
         inicial(Dados("DEVICE", "0001002", "", "", -1, 0, 0))},
        {"2 MiB", Descricao(Completo + std::string(2 * 1024 * 1024, ' ')), EstadoXML::Ilegivel,
         Dados("DEVICE", "0001002", "", "", -1, 0, 0)},
    };
    PastaTemporaria pasta;
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        const auto xml = pasta.Caminho() / "GR101024" / "X0001002" / "R0000001.XML";
        std::filesystem::create_directories(xml.parent_path());
        Grava(xml, c.bytes);
        DadosGravacao d;
        const ResultadoXML r = LeDescricaoGravacao(xml, d);
        EXPECT_EQ(r.estado, c.estado) << r.erro;
        EXPECT_EQ(r.estado == EstadoXML::Ilegivel, !r.erro.empty());
        Compara(d, c.esperado);
    }
}

TEST(GravacaoXML, DescricaoAusenteEValoresIniciais) {
    PastaTemporaria pasta;
    DadosGravacao d;
    const ResultadoXML r = LeDescricaoGravacao(pasta.Caminho() / "X0001010" / "R0000009.XML", d);
    EXPECT_EQ(r.estado, EstadoXML::Inexistente);
    Compara(d, Dados("DEVICE", "0001010", "", "", -1, 0, 0));
    // Characters 2 to 8 of "<folder>\<file>", less a leading R.
    EXPECT_EQ(DadosIniciais(pasta.Caminho() / "XR001234" / "R1.XML").RamalGravado, "001234");
    EXPECT_EQ(DadosIniciais(pasta.Caminho() / "X12" / "R1.XML").RamalGravado, "12\\R1.X");
}

TEST(GravacaoXML, ArquivoContemTexto) {
    PastaTemporaria pasta;
    Grava(pasta.Caminho() / "a.xml", "x\r\n<audio>sim</audio>\r\n");
    EXPECT_TRUE(ArquivoContemTexto(pasta.Caminho() / "a.xml", "<audio>"));
    EXPECT_FALSE(ArquivoContemTexto(pasta.Caminho() / "a.xml", "<AUDIO>"));
    EXPECT_FALSE(ArquivoContemTexto(pasta.Caminho() / "b.xml", "<audio>"));
    EXPECT_EQ(TamanhoArquivo(pasta.Caminho() / "a.xml"), 23u);
    EXPECT_EQ(TamanhoArquivo(pasta.Caminho() / "b.xml"), 0u);
}
