#include "console/ControleMain.h"

#include <cmath>
#include <cstdio>

#include "common/Traducao.h"
#include "console/MDados.h"

std::string TextoContagem(long long segundos) {
    const long long resta = segundos > 60 ? 0 : (segundos < 0 ? 60 : 60 - segundos);
    return Traduz("Conexão com o banco de dados foi perdida. Reconexão será tentada em") + " " +
           std::to_string(resta) + " " + Traduz("segundos");
}

AcoesTick TickConexao(MDados& dados, const DataHora& agora, const EstadoJanelaMain& janela) {
    AcoesTick a;
    if (!janela.monitorAtivo) {
        a.desliga = true;
        return a;
    }
    const long long s = SegundosDesdeEpoca(agora) - SegundosDesdeEpoca(dados.HoraConexaoPerdida());
    if (dados.ConexaoPerdida()) {
        a.textoPainel = TextoContagem(s);
        if (dados.AvisoConexaoPendente()) {
            dados.LimpaAvisoConexaoPendente();
            a.mostraAviso = true;
        }
    }
    a.reinicia = !janela.inicializando && !janela.sequenciaPendente && !janela.avisoAberto &&
                 !a.mostraAviso && !dados.AvisoConexaoPendente() && s > 60 &&
                 dados.EstadoConexao() == ConexaoPerdidaBD;
    return a;
}

const std::vector<RegraAcao>& RegrasMain() {
    static const std::vector<RegraAcao> regras{
        {"btnGravacoes", false, 2, "gravacoes"},
        {"btnUsuarios", true, 1, "usuarios"},
        {"btnContatos", true, 2, "contatos"},
        {"Centrais1", true, 1, "configuracao"},
        {"Armazenamento1", true, 1, "configuracao"},
        {"Emaildealertas1", true, 1, "configuracao"},
        {"Histricoatividades1", true, 1, "manutencao"},
        {"Apagarregistros1", false, 1, "manutencao"},
        {"btnEstadoVeruzadu", true, 0, ""},
        {"Estadoveruzadu1", true, 0, ""},
        {"IniciarServioGravaoNorvika1", false, 1, "manutencao"},
        {"PararServioGravacoNorvika1", false, 1, "manutencao"},
        {"Sobre1", false, 0, "ajuda"},
        {"Ajuda1", false, 0, "ajuda"},
    };
    return regras;
}

const RegraAcao* RegraDe(const std::string& componente) {
    for (const RegraAcao& r : RegrasMain())
        if (r.componente == componente) return &r;
    return nullptr;
}

bool AutorizaAcao(const RegraAcao& regra, MDados& dados,
                  const std::function<bool(int)>& verificaPermissao) {
    if (regra.guarda && !dados.BaseConectada()) return false;
    if (regra.nivel != 0 && !(verificaPermissao && verificaPermissao(regra.nivel))) return false;
    return true;
}

std::string FormataInteiro(long long valor) {
    const bool negativo = valor < 0;
    std::string digitos =
        std::to_string(negativo ? -(valor + 1) + 1ULL : static_cast<unsigned long long>(valor));
    std::string r;
    for (std::size_t i = 0; i < digitos.size(); ++i) {
        if (i > 0 && (digitos.size() - i) % 3 == 0) r += '.';
        r += digitos[i];
    }
    return negativo ? "-" + r : r;
}

std::string FormataDecimal(double valor, int casas) {
    if (casas < 0) casas = 0;
    if (casas > 9) casas = 9;
    const double fator = std::pow(10.0, casas);
    const long long total = std::llround(std::fabs(valor) * fator);
    const long long inteiro = total / static_cast<long long>(fator);
    std::string r = (valor < 0 && total != 0 ? "-" : "") + FormataInteiro(inteiro);
    if (casas > 0) {
        char frac[48];
        std::snprintf(frac, sizeof frac, "%0*lld", casas, total % static_cast<long long>(fator));
        r += ',';
        r += frac;
    }
    return r;
}

std::string FormataData(const DataHora& d) { return FormataDataHora(d, "dd/mm/yy"); }
