// The unit's extension directory written from the names read from the unit,
// against a real unit database whose text columns are WIN1252.

#include <gtest/gtest.h>

#include "tests/service/download/AmbienteDownload.h"

namespace {

struct Diretorio : AmbienteDownloadTeste {
    Diretorio() : AmbienteDownloadTeste("diretorio") {}

    std::vector<std::string> Linhas() const {
        Attachment att = Attachment::Conecta(unidadeParametros);
        Transaction tr(att, true);
        Statement st(tr,
                     "SELECT DNS_INDICE, DNS_NUMERO, DNS_NOME FROM DNSPABX ORDER BY DNS_INDICE");
        Cursor c = st.Abre();
        std::vector<std::string> r;
        while (c.Proxima()) r.push_back(c.GetText(0) + ";" + c.GetText(1) + ";" + c.GetText(2));
        return r;
    }
};

// Names the column's character set cannot hold are written as the filing
// writes its texts ('?' in place of each such character), and the rest of
// the directory is written with them instead of the whole rewrite failing.
TEST(DiretorioDNS, NomesForaDoConjuntoDaColunaSaoMapeados) {
    Diretorio d;
    EXIGE_BANCO(d.db);
    d.CriaBancoUnidade();
    auto t = d.Run(7, 0);
    TPABX pabx;
    struct Caso {
        int numero;
        std::string dns, nome, dnsGravado, nomeGravado;
    } casos[] = {
        {1001, "Recepção", "Recepção Principal", "Recepção", "Recepção Principal"},
        {1002, "Ωmega", "Sala Ω", "?mega", "Sala ?"},
        {1003, "Café ☕", "日本 €", "Café ?", "?? €"},
        {3005, "Fin", "Contas 🎉 a Pagar", "Fin", "Contas ? a Pagar"},
    };
    for (const auto& c : casos) {
        auto& r = pabx.FRamais[static_cast<std::size_t>(TPABX::IndiceRamal(c.numero))];
        r.NomeDNS = c.dns;
        r.Nome = c.nome;
    }
    t->BDAtualizaDNS(pabx);
    for (const auto& l : d.LinhasIMP(7)) EXPECT_EQ(l.find("INSDNSBD"), std::string::npos) << l;
    std::vector<std::string> esperado;
    for (const auto& c : casos)
        esperado.push_back(std::to_string(c.numero) + ";" + c.dnsGravado + ";" + c.nomeGravado);
    EXPECT_EQ(d.Linhas(), esperado);

    // The agenda's names go the same way.
    pabx.FAgendaRamais = {"3005;Ωx Contas"};
    t->BDAtualizaNomesAgenda(pabx);
    for (const auto& l : d.LinhasIMP(7)) EXPECT_EQ(l.find("UPDDNSBD"), std::string::npos) << l;
    const auto linhas = d.Linhas();
    ASSERT_EQ(linhas.size(), esperado.size());
    EXPECT_EQ(linhas.back(), "3005;Fin;?x Contas");
}

}  // namespace
