// The contact file formats as bytes: golden lines of both formats, what the
// readers make of them (and of hostile bytes), the refusals, and the helpers.

#include <gtest/gtest.h>

#include "console/AgendaArquivo.h"

namespace {

ClienteAgenda EmpresaAlfa() {
    ClienteAgenda c;
    c.descricao = "Empresa Alfa";
    c.identificador = "11222333000181";
    c.endereco = "Rua das Flores";
    c.endernum = "100";
    c.bairro = "Centro";
    c.cep = "88000000";
    c.cidade = "Florianópolis";
    c.uf = "SC";
    c.email = "a@b.com";
    c.contato = "Ana";
    c.fones = {{"04833334444", 1}, {"00351912345678", 0}, {"4899998888", 2}};
    return c;
}

ClienteAgenda PessoaBeta() {
    ClienteAgenda c;
    c.descricao = "Pessoa Beta";
    c.identificador = "12345678909";
    c.endereco = "Av. Brasil";
    c.cidade = "São José";
    c.uf = "SC";
    c.cep = "88100000";
    c.contato = "Souza, Ana";
    c.fones = {{"4833334444", 1}, {"48991234567", 0}, {"554833334444", 1}};
    return c;
}

}  // namespace

TEST(AgendaArquivo, VostrelGravaELeDeVolta) {
    const std::string bytes = LinhasAgenda(FormatoAgenda::Vostrel, EmpresaAlfa(), "48");
    EXPECT_EQ(bytes,
              "PESSOA:Empresa Alfa;JURIDICA;Rua das Flores,100,Centro;88000000;FLORIANOPOLIS\\SC;"
              "a@b.com;;;0;\r\n"
              "CONTATO:Ana;48;33334444;Trabalho;;0;\r\n"
              "CONTATO:Ana;;351912345678;Celular;;1;\r\n"
              "CONTATO:Ana;;4899998888;Resid\xEAncia;;0;\r\n");
    EXPECT_EQ(CabecalhoAgenda(FormatoAgenda::Vostrel), "");

    const LeituraAgenda l = LeAgenda(bytes, FormatoAgenda::Vostrel, "48");
    ASSERT_FALSE(l.Recusada()) << l.erro;
    ASSERT_EQ(l.contatos.size(), 1u);
    const ContatoLido& c = l.contatos[0];
    EXPECT_EQ(c.linha, 1);
    RegistroContatoAgenda esperado;
    esperado.nome = "Empresa Alfa";
    esperado.endereco = "Rua das Flores";
    esperado.numero = "100";
    esperado.bairro = "Centro";
    esperado.cep = "88000000";
    esperado.cidade = "FLORIANOPOLIS";
    esperado.uf = "SC";
    esperado.email = "a@b.com";
    EXPECT_EQ(c.registro, esperado);
    EXPECT_TRUE(c.cepLido);
    // The leading "0" of a trunk call is not read back; "00" is.
    const std::vector<FoneAgenda> fones{
        {"4833334444", 1}, {"00351912345678", 0}, {"4899998888", 2}};
    EXPECT_EQ(c.fones, fones);
}

TEST(AgendaArquivo, KandrupGravaELeDeVolta) {
    EXPECT_EQ(CabecalhoAgenda(FormatoAgenda::Kandrup),
              "name;surname;nick;birthday;address;email;jobPosition;sector;comments;ringPathFile;"
              "priority;phoneNumbers;company;user;label;\r\n");
    const std::string beta = LinhasAgenda(FormatoAgenda::Kandrup, PessoaBeta(), "48");
    // The contact person's "," would split the phone list: a blank instead.
    EXPECT_EQ(beta, "Pessoa Beta;;;;Av. Brasil,S\xE3o Jos\xE9,SC,88100000;;;;;;0;"
                    "33334444:Souza  Ana,991234567:Souza  Ana,554833334444:Souza  Ana,;;;;\r\n");
    const std::string alfa = LinhasAgenda(FormatoAgenda::Kandrup, EmpresaAlfa(), "");
    EXPECT_EQ(
        alfa,
        "Empresa Alfa;;;;Rua das Flores,100,Centro,Florian\xF3polis,SC,88000000;a@b.com;;;;;0;"
        "04833334444:Ana,00351912345678:Ana,4899998888:Ana,;Empresa Alfa;;;\r\n");

    const LeituraAgenda l = LeAgenda(CabecalhoAgenda(FormatoAgenda::Kandrup) + beta + alfa,
                                     FormatoAgenda::Kandrup, "48");
    ASSERT_FALSE(l.Recusada()) << l.erro;
    ASSERT_EQ(l.contatos.size(), 2u);
    const ContatoLido& b = l.contatos[0];
    EXPECT_EQ(b.linha, 2);
    // Optional parts missing shift the items; the postal code without "CEP "
    // is not read (and the stored one stays).
    EXPECT_EQ(b.registro.endereco, "Av. Brasil");
    EXPECT_EQ(b.registro.numero, "São José");
    EXPECT_EQ(b.registro.bairro, "SC");
    EXPECT_EQ(b.registro.cidade, "88100000");
    EXPECT_FALSE(b.cepLido);
    const std::vector<FoneAgenda> fones{{"4833334444", 1}, {"48991234567", 0}, {"554833334444", 1}};
    EXPECT_EQ(b.fones, fones);
    const ContatoLido& a = l.contatos[1];
    EXPECT_EQ(a.registro.cidade, "Florianópolis");
    EXPECT_EQ(a.registro.uf, "SC");
    EXPECT_EQ(a.fones.size(), 3u);
}

TEST(AgendaArquivo, LeiturasDoFormatoKandrup) {
    const std::string cab = CabecalhoAgenda(FormatoAgenda::Kandrup);
    // "CEP " gives the postal code; E/R prefixes and "@..." are dropped; an
    // empty list leaves the phones alone; a line without a name is no contact.
    const LeituraAgenda l =
        LeAgenda(cab + "Gama;;;;Rua A,1,Bairro,Cidade,SC,CEP 88000-000 fim;g@x;;;;;0;"
                       "E3333-4444,R91234567@pabx:Joao,,  ;;;;\r\n"
                       "Delta;;;;Rua B;;;;;;0;;;;;\n"
                       ";;;;;;;;;;0;1234567;;;;\r",
                 FormatoAgenda::Kandrup, "");
    ASSERT_EQ(l.contatos.size(), 2u);
    EXPECT_EQ(l.contatos[0].registro.cep, "88000-000");
    EXPECT_TRUE(l.contatos[0].cepLido);
    EXPECT_EQ(l.contatos[0].registro.uf, "SC");
    const std::vector<FoneAgenda> fones{{"3333-4444", 1}, {"91234567", 1}};
    EXPECT_EQ(l.contatos[0].fones, fones);
    EXPECT_EQ(l.contatos[1].registro.endereco, "Rua B");
    EXPECT_FALSE(l.contatos[1].cepLido);
    EXPECT_TRUE(l.contatos[1].fones.empty());
}

TEST(AgendaArquivo, LeiturasDoFormatoVostrel) {
    const LeituraAgenda l = LeAgenda("PESSOA:Eta;FISICA;Rua 'X, Y',2;;FLORIANOPOLIS;;;;0;\r\n"
                                     "CONTATO:;;33334444;;;x;\r\n"
                                     "qualquer coisa\r\n"
                                     "PESSOA:;FISICA;;;;;;;0;\r\n"
                                     "CONTATO:;;5555;Celular;;0;\r\n"
                                     "pessoa:Teta;FISICA;;;SAO JOSE\\SC\\X;;;;0;\r\n",
                                     FormatoAgenda::Vostrel, "48");
    ASSERT_FALSE(l.Recusada());
    ASSERT_EQ(l.contatos.size(), 2u);
    EXPECT_EQ(l.contatos[0].registro.endereco, "Rua 'X, Y'");
    EXPECT_EQ(l.contatos[0].registro.numero, "2");
    EXPECT_EQ(l.contatos[0].registro.cidade, "FLORIANOPOLIS");
    EXPECT_EQ(l.contatos[0].registro.uf, "");
    ASSERT_EQ(l.contatos[0].fones.size(), 1u);
    EXPECT_EQ(l.contatos[0].fones[0], (FoneAgenda{"33334444", 1}));
    // The nameless contact's phone line goes with it.
    EXPECT_EQ(l.contatos[1].registro.nome, "Teta");
    EXPECT_EQ(l.contatos[1].registro.cidade, "SAO JOSE");
    EXPECT_EQ(l.contatos[1].registro.uf, "SC");
    EXPECT_TRUE(l.contatos[1].fones.empty());

    // A phone line before any contact is ignored.
    const LeituraAgenda s =
        LeAgenda("PESSOA:Z;;;;;;;;0;\nCONTATO:;;1;;;0;\n", FormatoAgenda::Vostrel, "");
    EXPECT_EQ(s.contatos.size(), 1u);
}

TEST(AgendaArquivo, ValoresHostisNaoDeslocamCampos) {
    ClienteAgenda c;
    c.descricao = "A;B\r\nC \"q\"";
    c.endereco = "Rua 1;2";
    c.email = std::string(60, 'e') + "€";
    c.contato = "Ana: chefe";
    c.fones = {{"123;4", 2}};
    const std::string v = LinhasAgenda(FormatoAgenda::Vostrel, c, "");
    EXPECT_EQ(v, "PESSOA:A B  C \"q\";FISICA;Rua 1 2;;;" + std::string(60, 'e') +
                     "\x80;;;0;\r\nCONTATO:Ana: chefe;;123 4;Resid\xEAncia;;0;\r\n");
    const LeituraAgenda l = LeAgenda(v, FormatoAgenda::Vostrel, "");
    ASSERT_EQ(l.contatos.size(), 1u);
    EXPECT_EQ(l.contatos[0].registro.nome, "A B  C \"q\"");
    EXPECT_EQ(l.contatos[0].registro.email, std::string(60, 'e') + "€");
    EXPECT_EQ(l.contatos[0].fones[0], (FoneAgenda{"123 4", 2}));
    const std::string k = LinhasAgenda(FormatoAgenda::Kandrup, c, "");
    EXPECT_NE(k.find(";123 4:Ana  chefe,;"), std::string::npos) << k;

    // Controls read as blanks, unassigned bytes as "?", widths in characters.
    const LeituraAgenda h = LeAgenda("PESSOA:A\tB\x81"
                                     "C" +
                                         std::string(60, '\xE9') + ";",
                                     FormatoAgenda::Vostrel, "");
    ASSERT_EQ(h.contatos.size(), 1u);
    std::string nome = "A B?C";
    for (int i = 0; i < 35; ++i) nome += "é";
    EXPECT_EQ(h.contatos[0].registro.nome, nome);
}

TEST(AgendaArquivo, ArquivosRecusados) {
    struct Caso {
        std::string bytes;
        FormatoAgenda formato;
        std::string erro;
        int linha;
        std::size_t contatos;
    } casos[] = {
        {"PESSOA:A;;;;;;;;0;\r\n", FormatoAgenda::Kandrup,
         "Arquivo não está no formato CSV exportado pela Kandrup Norvika", 0, 0},
        {"name;surname;\r\n", FormatoAgenda::Vostrel,
         "Arquivo não está no formato CSV exportado pelo Vostrel", 0, 0},
        {"NAME;x;\r\nA;\r\n", FormatoAgenda::Kandrup, "", 0, 1},
        {"", FormatoAgenda::Kandrup, "", 0, 0},
        {"PESSOA:A;\n" + std::string(64 * 1024 + 1, 'x') + "\n", FormatoAgenda::Vostrel,
         "Linha muito longa", 2, 0},
    };
    for (const Caso& c : casos) {
        const LeituraAgenda l = LeAgenda(c.bytes, c.formato, "");
        EXPECT_EQ(l.erro, c.erro) << c.bytes.substr(0, 20);
        EXPECT_EQ(l.linhaErro, c.linha) << c.bytes.substr(0, 20);
        EXPECT_EQ(l.contatos.size(), c.contatos) << c.bytes.substr(0, 20);
    }
}

TEST(AgendaArquivo, Auxiliares) {
    struct {
        const char* texto;
        bool valido;
    } cnpjs[] = {{"11222333000181", true},   {"11.222.333/0001-81", true},
                 {"11222333000182", false},  {"11111111111111", false},
                 {"12345678909", false},     {"", false},
                 {"112223330001811", false}, {"00000000000191", true}};
    for (const auto& c : cnpjs) EXPECT_EQ(CNPJValido(c.texto), c.valido) << c.texto;
    EXPECT_EQ(TextoSemAcento("São José do Cedro ñ"), "SAO JOSE DO CEDRO ñ");
    EXPECT_EQ(LimpaNumeroFone("ER123@x@y"), "123");
    EXPECT_EQ(LimpaNumeroFone("RE123"), "E123");
    EXPECT_EQ(LimpaNumeroFone("EE1"), "E1");
}
