#include "console/ApagaRegistros.h"

#include <functional>
#include <optional>
#include <vector>

#include "common/Texto.h"
#include "common/Traducao.h"
#include "common/db/Firebird.h"
#include "console/MDados.h"
#include "console/UtilConsole.h"

std::string ConsultaResumoRegistros(MDados& dados, int tipo, const std::string& palavra) {
    std::string sql;
    if (palavra == "COUNT")
        sql = "SELECT COUNT(GRV_CODIGO) FROM GRAVACAO WHERE GRV_TPLIGA = ?";
    else if (palavra == "MIN" || palavra == "MAX")
        sql = "SELECT " + palavra + "(GRV_DATAGRV) FROM GRAVACAO WHERE GRV_TPLIGA = ?";
    else
        return {};
    std::string r;
    try {
        dados.ExecutaPABX([&](Transaction& tr) {
            Statement st(tr, sql);
            st.SetInt(0, tipo);
            Cursor c = st.Abre();
            if (!c.Proxima()) return;
            if (palavra == "COUNT")
                r = std::to_string(c.GetBigInt(0));
            else
                r = c.IsNull(0) ? "-" : FormataDataHora(c.GetTimestamp(0), "dd/mm/yyyy");
        });
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Resumo de registros: ") + e.what());
        return {};
    }
    return r;
}

int ResumoTipo::Quantidade() const {
    try {
        return quantidade.empty() ? 0 : std::stoi(quantidade);
    } catch (const std::exception&) {
        return 0;
    }
}

std::array<ResumoTipo, 3> CarregaResumoRegistros(MDados& dados) {
    std::array<ResumoTipo, 3> r;
    for (std::size_t i = 0; i < TiposResumo.size(); ++i) {
        try {
            // One read of the three figures per type, so they agree.
            dados.ExecutaPABX([&](Transaction& tr) {
                Statement st(tr, "SELECT MIN(GRV_DATAGRV), MAX(GRV_DATAGRV), COUNT(GRV_CODIGO) "
                                 "FROM GRAVACAO WHERE GRV_TPLIGA = ?");
                st.SetInt(0, TiposResumo[i]);
                Cursor c = st.Abre();
                if (!c.Proxima()) return;
                if (!c.IsNull(0)) {
                    r[i].primeiraData = c.GetTimestamp(0);
                    r[i].primeiro = FormataDataHora(r[i].primeiraData, "dd/mm/yyyy");
                    r[i].ultimo = FormataDataHora(c.GetTimestamp(1), "dd/mm/yyyy");
                }
                r[i].quantidade = std::to_string(c.GetBigInt(2));
            });
        } catch (const std::exception& e) {
            GravaLogConsole(std::string("Resumo de registros: ") + e.what());
        }
    }
    return r;
}

DataHora DataInicialApagamento(const std::array<ResumoTipo, 3>& resumo, const DataHora& hoje) {
    DataHora d = SoData(hoje);
    for (const ResumoTipo& t : resumo)
        if (!t.primeiraData.Vazia() && SoData(t.primeiraData) < d) d = SoData(t.primeiraData);
    return d;
}

bool PedidoApagamento::UsaFiltro() const {
    return filtro != FiltroApagamento::Nenhum && !Apara(item).empty();
}

std::string VerificaPedido(const PedidoApagamento& p) {
    if (!p.originadas && !p.recebidas && !p.internas) return Traduz("Selecione um tipo de ligação");
    if (p.inicio > p.fim) return Traduz("Data de início deve ser anterior à data de fim");
    if (p.filtro != FiltroApagamento::Nenhum && Apara(p.item).empty())
        return Traduz("Selecione o") + " " + CortaUtf8(p.palavraFiltro, 20) + " " +
               Traduz("para o qual deseja remover as gravações");
    return {};
}

std::string TextoConfirmacao(const PedidoApagamento& p) {
    const std::string fmt = "dd/mm/yy hh:nn:ss";
    std::string t = Traduz("Confirma a remoção das gravações selecionadas ");
    if (p.UsaFiltro())
        t += " " + Traduz("do") + " " + CortaUtf8(p.palavraFiltro, 20) + " \"" + Apara(p.item) +
             "\"";
    t += " " + Traduz("do período de") + " ";
    if (Apara(p.item).empty()) t += "\n";
    t += FormataDataHora(p.inicio, fmt) + " a " + FormataDataHora(p.fim, fmt) + " ?";
    t += "\n\n" + Traduz("ATENÇÃO: as informações apagadas NÃO poderão ser recuperadas");
    return t;
}

std::string ResultadoApagamento::Detalhe(long long n, const PedidoApagamento& p) {
    const std::string fmt = "dd/mm/yy hh:nn:ss";
    std::string d = std::to_string(n) + " " + Traduz("registros") + " " +
                    FormataDataHora(p.inicio, fmt) + " - " + FormataDataHora(p.fim, fmt);
    if (p.UsaFiltro()) d += " " + Apara(p.item);
    return d;
}

namespace {

// Codes (or texts) a list-valued filter expands to, read from the main database.
struct ValoresFiltro {
    std::vector<int> codigos;
    std::vector<std::string> ramais;
};

}  // namespace

ResultadoApagamento ApagaRegistros(MDados& dados, int codigoPABX, const PedidoApagamento& p) {
    ResultadoApagamento r;
    const std::string item = Apara(p.item);
    const FiltroApagamento filtro = p.UsaFiltro() ? p.filtro : FiltroApagamento::Nenhum;
    ValoresFiltro valores;
    try {
        if (filtro == FiltroApagamento::Cliente || filtro == FiltroApagamento::CNPJ ||
            filtro == FiltroApagamento::Grupo) {
            bool grupoExiste = false;
            dados.Executa([&](Transaction& tr) {
                if (filtro == FiltroApagamento::Grupo) {
                    Statement g(tr, "SELECT GRP_CODIGO FROM GRUPO WHERE GRP_DESCRICAO = ?");
                    g.SetText(0, item);
                    std::vector<int> grupos;
                    for (Cursor c = g.Abre(); c.Proxima();) grupos.push_back(c.GetInt(0));
                    grupoExiste = !grupos.empty();
                    Statement rm(tr, "SELECT DISTINCT RML_RAMAL FROM GRPRAMAL WHERE GRP_CODIGO = ? "
                                     "AND PAB_CODIGO = ?");
                    for (int grupo : grupos) {
                        rm.SetInt(0, grupo).SetInt(1, codigoPABX);
                        for (Cursor c = rm.Abre(); c.Proxima();)
                            valores.ramais.push_back(Apara(c.GetText(0)));
                    }
                } else {
                    Statement c(tr,
                                filtro == FiltroApagamento::Cliente
                                    ? "SELECT CLI_CODIGO FROM CLIENTE WHERE CLI_DESCRICAO = ?"
                                    : "SELECT CLI_CODIGO FROM CLIENTE WHERE CLI_IDENTIFICADOR = ?");
                    c.SetText(0, item);
                    for (Cursor k = c.Abre(); k.Proxima();) valores.codigos.push_back(k.GetInt(0));
                }
            });
            if (filtro == FiltroApagamento::Grupo && !grupoExiste) {
                r.erro = Traduz("Grupo não encontrado") + ": \"" + item + "\"";
                return r;
            }
        }

        dados.ExecutaPABX([&](Transaction& tr) {
            std::string sql =
                "DELETE FROM GRAVACAO WHERE GRV_DATAGRV BETWEEN ? AND ? AND GRV_TPLIGA = ?";
            switch (filtro) {
                case FiltroApagamento::Cliente:
                case FiltroApagamento::CNPJ: sql += " AND CLI_CODIGO = ?"; break;
                case FiltroApagamento::Grupo:
                case FiltroApagamento::Ramal: sql += " AND GRV_RAMGRAVADO = ?"; break;
                case FiltroApagamento::Telefone: sql += " AND GRV_DESTINO STARTING WITH ?"; break;
                case FiltroApagamento::Nenhum: break;
            }
            Statement st(tr, sql);
            st.SetTimestamp(0, p.inicio).SetTimestamp(1, p.fim);
            const std::array<bool, 3> marcados{p.originadas, p.recebidas, p.internas};
            for (std::size_t i = 0; i < TiposResumo.size(); ++i) {
                if (!marcados[i]) continue;
                st.SetInt(2, TiposResumo[i]);
                long long n = 0;
                switch (filtro) {
                    case FiltroApagamento::Nenhum: n += static_cast<long long>(st.Executa()); break;
                    case FiltroApagamento::Cliente:
                    case FiltroApagamento::CNPJ:
                        for (int c : valores.codigos) {
                            st.SetInt(3, c);
                            n += static_cast<long long>(st.Executa());
                        }
                        break;
                    case FiltroApagamento::Grupo:
                        for (const std::string& ramal : valores.ramais) {
                            st.SetText(3, ramal);
                            n += static_cast<long long>(st.Executa());
                        }
                        break;
                    case FiltroApagamento::Ramal:
                    case FiltroApagamento::Telefone:
                        st.SetText(3, item);
                        n += static_cast<long long>(st.Executa());
                        break;
                }
                r.removidas[i] = n;
            }
        });
        r.ok = true;
    } catch (const std::exception& e) {
        r = {};
        r.erro = e.what();
        GravaLogConsole(std::string("Apagar registros: ") + e.what());
    }
    return r;
}
