#include "console/EdicaoConfigRamal.h"

#include <algorithm>

#include "common/Texto.h"
#include "common/db/Firebird.h"
#include "console/MDados.h"

namespace {

int IndiceDNS(Transaction& tr, int codigo, const std::string& nome) {
    Statement st(tr, "SELECT DNS_INDICE FROM DNSPABX WHERE DNS_NOME = ? AND PAB_CODIGO = ?");
    st.SetText(0, nome).SetInt(1, codigo);
    auto c = st.Abre();
    return c.Proxima() && !c.IsNull(0) ? c.GetInt(0) : 0;
}

void Acrescenta(std::vector<std::string>& lista, int numero) {
    if (!TPABX::RamalValido(numero)) return;
    const std::string texto = std::to_string(numero);
    if (std::find(lista.begin(), lista.end(), texto) == lista.end()) lista.push_back(texto);
}

}  // namespace

std::vector<std::string> LeRamaisPABX(MDados& dados, int codigo) {
    std::vector<std::string> nomes;
    dados.ExecutaPABX([&](Transaction& tr) {
        Statement st(tr, "SELECT DNS_NOME FROM DNSPABX WHERE PAB_CODIGO = ? ORDER BY DNS_NOME");
        st.SetInt(0, codigo);
        auto c = st.Abre();
        while (c.Proxima())
            if (!c.IsNull(0)) nomes.push_back(c.GetText(0));
    });
    return nomes;
}

int PegaIndiceDNS(MDados& dados, int codigo, const std::string& nome) {
    int n = 0;
    dados.ExecutaPABX([&](Transaction& tr) { n = IndiceDNS(tr, codigo, nome); });
    return n;
}

std::vector<std::string> LeListaRamaisConfigurados(MDados& dados, int codigo) {
    std::vector<std::string> lista;
    dados.ExecutaPABX([&](Transaction& tr) {
        Statement st(tr, "SELECT RML_INDICEDNS FROM RMLPERMISS WHERE PAB_CODIGO = ? ORDER BY "
                         "RML_INDICEDNS");
        st.SetInt(0, codigo);
        auto c = st.Abre();
        while (c.Proxima())
            if (!c.IsNull(0)) Acrescenta(lista, c.GetInt(0));
    });
    return lista;
}

ResultadoEdicao SalvaConfigRamais(MDados& dados, const EdicaoConfigRamal& e) {
    ResultadoEdicao r;
    dados.ExecutaPABX([&](Transaction& tr) {
        r = {};
        Statement grava(tr, "INSERT INTO RAMALGRAVA (PAB_CODIGO, RML_RAMAL, RML_RMLGRVDNS, "
                            "RML_RMLGRAVA) VALUES (?, ?, ?, ?)");
        for (const std::string& ramal : e.ramais) {
            const int n = IndiceDNS(tr, e.codigo, ramal);
            // No number, no block to program: PROG block 0 is not an extension.
            if (!TPABX::RamalValido(n)) {
                r.desconhecidos.push_back(ramal);
                continue;
            }
            std::uint64_t alteradas = 0;
            if (!e.ramalEdicao.empty()) {
                Statement up(tr, "UPDATE RMLPERMISS SET RML_PERMISSAO = ?, RML_INDICEDNS = ? WHERE "
                                 "RML_RAMAL = ? AND PAB_CODIGO = ?");
                up.SetInt(0, e.permissao)
                    .SetInt(1, n)
                    .SetText(2, e.ramalEdicao)
                    .SetInt(3, e.codigo);
                alteradas = up.Executa();
                Statement del(tr, "DELETE FROM RAMALGRAVA WHERE RML_RAMAL = ? AND PAB_CODIGO = ?");
                del.SetText(0, e.ramalEdicao).SetInt(1, e.codigo).Executa();
            }
            // A new extension, or one whose row went away while it was edited.
            if (alteradas == 0) {
                Statement ins(tr, "INSERT INTO RMLPERMISS (PAB_CODIGO, RML_RAMAL, RML_INDICEDNS, "
                                  "RML_PERMISSAO) VALUES (?, ?, ?, ?)");
                ins.SetInt(0, e.codigo).SetText(1, ramal).SetInt(2, n).SetInt(3, e.permissao);
                ins.Executa();
            }
            if (e.todasPortas) {
                // One row says "every other extension"; the PABX gets their numbers.
                grava.SetInt(0, e.codigo).SetText(1, ramal).SetInt(2, 0).SetText(3, "Todos");
                grava.Executa();
                Statement todos(tr,
                                "SELECT DNS_INDICE FROM DNSPABX WHERE PAB_CODIGO = ? AND DNS_NOME "
                                "<> ? ORDER BY DNS_NOME");
                todos.SetInt(0, e.codigo).SetText(1, ramal);
                auto c = todos.Abre();
                while (c.Proxima())
                    if (!c.IsNull(0)) Acrescenta(r.autorizados, c.GetInt(0));
            } else {
                for (const std::string& a : e.autorizados) {
                    const int m = IndiceDNS(tr, e.codigo, a);
                    Acrescenta(r.autorizados, m);
                    grava.SetInt(0, e.codigo).SetText(1, ramal).SetInt(2, m).SetText(3, a);
                    grava.Executa();
                }
            }
            r.fila.push_back({ramal, e.permissao, n});
        }
    });
    return r;
}
