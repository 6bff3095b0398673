#include "console/Centrais.h"

#include <cmath>
#include <cstdio>

#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "common/Processos.h"
#include "common/Traducao.h"
#include "common/db/Esquema.h"
#include "common/db/Firebird.h"
#include "common/db/Instalacao.h"
#include "console/MDados.h"
#include "console/TextoColuna.h"
#include "console/UtilConsole.h"

std::string CodigoCentralTexto(int codigo) {
    char b[16];
    std::snprintf(b, sizeof b, "%03d", codigo);
    return b;
}

std::string EnderecoCentral(const ItemCentral& c) {
    if (c.usb) return "USB " + Traduz("em") + " " + c.caminhoUSB;
    return c.enderecoIP;
}

std::string UsoSDCard(long long usado, long long total) {
    if (total <= 0) return {};
    const long long pct =
        std::llround(static_cast<double>(usado) / static_cast<double>(total) * 100.0);
    char b[32];
    std::snprintf(b, sizeof b, "%02lld %%", pct);
    return b;
}

std::vector<ItemCentral> CarregaCentrais(MDados& dados) {
    std::vector<ItemCentral> r;
    dados.Executa([&](Transaction& tr) {
        Statement st(
            tr, "SELECT PAB_CODIGO, PAB_DESCRICAO, PAB_KELVENDERIP, PAB_USB_ZIMB, PAB_USBPATH, "
                "PAB_SDCARDTOTAL, PAB_SDCARDUSED FROM PABX ORDER BY PAB_CODIGO");
        auto c = st.Abre();
        auto texto = [&](unsigned i) { return c.IsNull(i) ? std::string() : Apara(c.GetText(i)); };
        while (c.Proxima()) {
            ItemCentral i;
            i.codigo = c.GetInt(0);
            i.descricao = texto(1);
            i.enderecoIP = texto(2);
            i.usb = !c.IsNull(3) && c.GetInt(3) == 1;
            i.caminhoUSB = texto(4);
            i.sdTotal = c.IsNull(5) ? 0 : c.GetBigInt(5);
            i.sdUsado = c.IsNull(6) ? 0 : c.GetBigInt(6);
            r.push_back(std::move(i));
        }
    });
    return r;
}

bool RemoveCentral(MDados& dados, int codigo, std::string& erro) {
    try {
        dados.Executa([&](Transaction& tr) {
            for (const char* tabela : {"DWNHISTORY", "DOWNPABX", "GRPRAMAL", "PABX"}) {
                Statement st(tr, std::string("DELETE FROM ") + tabela + " WHERE PAB_CODIGO = ?");
                st.SetInt(0, codigo);
                st.Executa();
            }
        });
        return true;
    } catch (const std::exception& e) {
        erro = e.what();
        GravaLogConsole("Central " + std::to_string(codigo) + " não removida: " + erro);
        return false;
    }
}

std::string
PreparaBancoCentral(MDados& dados, int codigo,
                    const std::function<void(const std::function<void()>&)>& emSegundoPlano) {
    try {
        const IniFile ini(ArquivoVeruzaduIni());
        const CaminhoBD principal =
            MontaCaminhoBD(ini, "VERUZADU", dados.PastaDadosBD(), NomeComputador());
        const CaminhoBD unidade = MontaCaminhoBD(ini, "GRVPAB" + CodigoCentralTexto(codigo),
                                                 dados.PastaDadosBD(), NomeComputador());
        // Copies: the work may run on another thread.
        const ParametrosConexao parametros{unidade.conexao, dados.UsuarioBD, dados.SenhaBD,
                                           dados.TempoLimiteConexao};
        const std::string conexaoPrincipal = PrincipalVistaDoServidor(principal.conexao);
        bool criado = false;
        const auto cria = [&] { criado = CriaBancoPABX(parametros, codigo, conexaoPrincipal); };
        if (emSegundoPlano)
            emSegundoPlano(cria);
        else
            cria();
        if (criado)
            GravaLogConsole("Base da central " + std::to_string(codigo) +
                            " criada: " + unidade.conexao);
        dados.ConectaBasePABX(codigo);
        dados.ExecutaPABX([&](Transaction& tr) {
            for (const char* tabela : {"RMLPERMISS", "RAMALGRAVA"}) {
                Statement st(tr, std::string("DELETE FROM ") + tabela + " WHERE PAB_CODIGO = ?");
                st.SetInt(0, codigo);
                st.Executa();
            }
        });
        return {};
    } catch (const ErroBasePABX& e) {
        return e.detalhe.empty() ? e.what() : e.detalhe;
    } catch (const std::exception& e) {
        GravaLogConsole("Base da central " + std::to_string(codigo) + ": " + e.what());
        return e.what();
    }
}

void AtualizaBancoCentral(MDados& dados, int codigo) {
    dados.ConectaBasePABX(codigo);
    dados.ExecutaPABX([&](Transaction& tr) {
        Statement st(tr, "EXECUTE PROCEDURE UPDATEPABX(?)");
        st.SetInt(0, codigo);
        st.Executa();
    });
}
