// The unit's extension directory (DNSPABX in its database), rewritten from
// the names the session read from the unit. The names are mapped to the
// columns' character set as every text the filing writes is (TextoColuna):
// one name the set cannot hold must not roll the whole rewrite back.

#include <algorithm>

#include "common/Texto.h"
#include "common/db/Esquema.h"
#include "service/download/ArquivamentoGravacao.h"
#include "service/download/PABXDownloadFTP.h"

// ----------------------------------------------- Extension directory (DNS)

void TPABXDownloadFTP::BDAtualizaDNS(TPABX& pabx) {
    std::string sql;
    try {
        Attachment att = Attachment::Conecta(ConexaoPABX());
        {
            // Old unit databases keep both columns narrower than the names.
            sql = "TamanhoCampo DNSPABX.DNS_NUMERO";
            Transaction tr(att, true);
            const int largura = TamanhoCampo(tr, "DNSPABX", "DNS_NUMERO");
            tr.Commit();
            if (largura < 30) {
                for (const char* coluna : {"DNS_NOME", "DNS_NUMERO"}) {
                    sql = SqlAlteraTamanhoCampo("DNSPABX", coluna, 30);
                    att.Executa(sql);
                }
            }
        }
        Transaction tr(att);
        sql = "DELETE FROM DNSPABX WHERE PAB_CODIGO = ?";
        {
            Statement del(tr, sql);
            del.SetInt(0, CodigoPABX).Executa();
        }
        sql = "INSERT INTO DNSPABX (PAB_CODIGO, DNS_INDICE, DNS_NOME, DNS_NUMERO) VALUES (?, ?, ?, "
              "?)";
        Statement ins(tr, sql);
        auto insere = [&](int primeiro, int ultimo) {
            for (int n = primeiro; n <= ultimo; ++n) {
                const TRamalPABX& r = pabx.FRamais[static_cast<std::size_t>(TPABX::IndiceRamal(n))];
                if (r.NomeDNS.empty()) continue;
                ins.SetInt(0, CodigoPABX)
                    .SetInt(1, n)
                    .SetText(2, TextoColuna(r.Nome, 30))
                    .SetText(3, TextoColuna(r.NomeDNS, 30))
                    .Executa();
            }
        };
        insere(1000, 1899);
        insere(3000, 3999);
        tr.Commit();
        att.Desconecta();
    } catch (const FirebirdError& e) {
        Log(LogErro, false, LinhaErroBD("INSDNSBD", e, sql));
    }
}

void TPABXDownloadFTP::BDAtualizaNomesAgenda(TPABX& pabx) {
    const std::string sql =
        "UPDATE DNSPABX SET DNS_NOME = ? WHERE DNS_INDICE = ? AND PAB_CODIGO = ?";
    try {
        Attachment att = Attachment::Conecta(ConexaoPABX());
        Transaction tr(att);
        Statement st(tr, sql);
        for (const std::string& entrada : pabx.FAgendaRamais) {
            // "nnnn;name": anything else is not an extension entry.
            if (entrada.size() < 4 || !std::all_of(entrada.begin(), entrada.begin() + 4,
                                                   [](char c) { return c >= '0' && c <= '9'; }))
                continue;
            const int numero = std::stoi(entrada.substr(0, 4));
            const std::string nome = entrada.size() > 5 ? TextoColuna(entrada.substr(5), 10) : "";
            st.SetText(0, nome).SetInt(1, numero).SetInt(2, CodigoPABX).Executa();
        }
        tr.Commit();
        att.Desconecta();
    } catch (const FirebirdError& e) {
        Log(LogErro, false, LinhaErroBD("UPDDNSBD", e, sql));
    }
}
