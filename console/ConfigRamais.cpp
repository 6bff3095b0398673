#include "console/ConfigRamais.h"

#include "common/CifraTexto.h"
#include "common/Texto.h"
#include "common/Traducao.h"
#include "common/db/Firebird.h"
#include "console/MDados.h"
#include "console/UtilConsole.h"

std::string DescricaoPermissaoRamal(int coluna, std::uint16_t permissao) {
    if (coluna == 1) return Traduz(BitLigado(permissao, BitAtendedor) ? "Sim" : "Não");
    if (coluna < 2 || coluna > 4) return {};
    const int primeiro = (coluna - 2) * 3;
    std::string texto;
    const char* nomes[] = {"Int", "Ori", "Rec"};
    for (int i = 0; i < 3; ++i) {
        if (!BitLigado(permissao, primeiro + i)) continue;
        if (!texto.empty()) texto += ",";
        texto += Traduz(nomes[i]);
    }
    return texto;
}

std::string DescricaoRamaisPermitidos(const LinhaConfigRamal& linha) {
    if (BitLigado(linha.permissao, BitTodasPortas)) return Traduz("Todos");
    std::string texto;
    for (const std::string& r : linha.permitidos) {
        if (!texto.empty()) texto += ",";
        texto += r;
    }
    return texto;
}

std::vector<LinhaConfigRamal> LeConfiguracaoRamais(MDados& dados, int codigo) {
    std::vector<LinhaConfigRamal> linhas;
    dados.ExecutaPABX([&](Transaction& tr) {
        Statement st(tr, "SELECT RML_RAMAL, RML_PERMISSAO FROM RMLPERMISS WHERE PAB_CODIGO = ? "
                         "ORDER BY RML_RAMAL");
        st.SetInt(0, codigo);
        auto c = st.Abre();
        while (c.Proxima()) {
            LinhaConfigRamal l;
            l.ramal = c.GetText(0);
            l.permissao = static_cast<std::uint16_t>(c.GetInt(1));
            linhas.push_back(std::move(l));
        }
        Statement g(tr,
                    "SELECT RML_RMLGRAVA FROM RAMALGRAVA WHERE RML_RAMAL = ? AND PAB_CODIGO = ?");
        for (LinhaConfigRamal& l : linhas) {
            if (BitLigado(l.permissao, BitTodasPortas)) continue;
            g.SetText(0, l.ramal).SetInt(1, codigo);
            auto cg = g.Abre();
            while (cg.Proxima()) l.permitidos.push_back(Apara(cg.GetText(0)));
        }
    });
    return linhas;
}

void RemoveConfigRamal(MDados& dados, int codigo, const std::string& ramal) {
    dados.ExecutaPABX([&](Transaction& tr) {
        for (const char* sql : {"DELETE FROM RMLPERMISS WHERE RML_RAMAL = ? AND PAB_CODIGO = ?",
                                "DELETE FROM RAMALGRAVA WHERE RML_RAMAL = ? AND PAB_CODIGO = ?"}) {
            Statement st(tr, sql);
            st.SetText(0, ramal).SetInt(1, codigo);
            st.Executa();
        }
    });
}

DadosLinkPABX LeDadosLinkPABX(MDados& dados, int codigo) {
    DadosLinkPABX d;
    dados.Executa([&](Transaction& tr) {
        Statement st(tr, "SELECT PAB_KELVENDERIP, PAB_KELVPORTA, PAB_KELVSENHA FROM PABX WHERE "
                         "PAB_CODIGO = ?");
        st.SetInt(0, codigo);
        auto c = st.Abre();
        if (!c.Proxima()) return;
        d.endereco = CortaUtf8(Apara(c.GetText(0)), 80);
        d.porta = static_cast<std::uint16_t>(c.GetInt(1));
        const std::string senha = Apara(c.GetText(2));
        d.senha = senha.empty() ? std::string() : CortaUtf8(DescriptografaTexto(senha), 10);
    });
    return d;
}

namespace {
// DNS_NOME of the extension's directory row, as the row would hold it, or
// empty when the directory has no row for it.
const TRamalPABX* EntradaDiretorio(const LeituraPABX& l, int numero) {
    const int i = TPABX::IndiceRamal(numero);
    if (i < 0) return nullptr;
    const TRamalPABX& r = l.ramais[static_cast<std::size_t>(i)];
    return r.NomeDNS.empty() ? nullptr : &r;
}
}  // namespace

void GravaLeituraPABX(MDados& dados, int codigo, const LeituraPABX& leitura, bool soNomes) {
    dados.ExecutaPABX([&](Transaction& tr) {
        {
            Statement del(tr, "DELETE FROM DNSPABX WHERE PAB_CODIGO = ?");
            del.SetInt(0, codigo).Executa();
        }
        Statement ins(tr,
                      "INSERT INTO DNSPABX (PAB_CODIGO, DNS_INDICE, DNS_NUMERO, DNS_NOME) VALUES "
                      "(?, ?, ?, ?)");
        for (int faixa : {1000, 3000}) {
            const int ultimo = faixa == 1000 ? 1899 : 3999;
            for (int n = faixa; n <= ultimo; ++n) {
                const TRamalPABX* r = EntradaDiretorio(leitura, n);
                if (r == nullptr) continue;
                ins.SetInt(0, codigo)
                    .SetInt(1, n)
                    .SetText(2, CortaUtf8(r->NomeDNS, 30))
                    .SetText(3, CortaUtf8(r->Nome, 30))
                    .Executa();
            }
        }
        if (soNomes) return;
        for (const char* sql : {"DELETE FROM RMLPERMISS WHERE PAB_CODIGO = ?",
                                "DELETE FROM RAMALGRAVA WHERE PAB_CODIGO = ?"}) {
            Statement st(tr, sql);
            st.SetInt(0, codigo).Executa();
        }
        Statement perm(tr, "INSERT INTO RMLPERMISS (PAB_CODIGO, RML_RAMAL, RML_INDICEDNS, "
                           "RML_PERMISSAO) VALUES (?, ?, ?, ?)");
        Statement grava(tr, "INSERT INTO RAMALGRAVA (PAB_CODIGO, RML_RAMAL, RML_RMLGRVDNS, "
                            "RML_RMLGRAVA) VALUES (?, ?, ?, ?)");
        for (const auto& [n, config] : leitura.configuracao) {
            // An extension is named after its directory entry, or its number.
            const TRamalPABX* r = EntradaDiretorio(leitura, n);
            const std::string nome = CortaUtf8(r ? r->Nome : std::to_string(n), 30);
            perm.SetInt(0, codigo).SetText(1, nome).SetInt(2, n).SetInt(3, config.permissao);
            perm.Executa();
            for (int m : config.lista) {
                grava.SetInt(0, codigo).SetText(1, nome).SetInt(2, m);
                if (const TRamalPABX* rm = EntradaDiretorio(leitura, m))
                    grava.SetText(3, CortaUtf8(rm->Nome, 30));
                else
                    grava.SetNull(3);
                grava.Executa();
            }
        }
    });
}

bool RamaisDesatualizados(MDados& dados, int codigo) {
    bool marcado = false;
    dados.Executa([&](Transaction& tr) {
        Statement st(tr, "SELECT PAB_DNSUPDATE FROM PABX WHERE PAB_CODIGO = ?");
        auto c = st.SetInt(0, codigo).Abre();
        marcado = c.Proxima() && !c.IsNull(0) && c.GetInt(0) == 1;
    });
    return marcado;
}
