#include "console/forms/EscolheCentral.h"

#include "console/MDados.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/FormAtualizaRamais.h"
#include "console/forms/FormCentrais.h"

TrocaCentral EscolheCentral(ContextoConsole& ctx, int& codigo, std::string& nome,
                            bool atualizaRamais) {
    FormBuscaCentral* busca = ctx.formBuscaCentral.get();
    if (!busca || busca->isVisible()) return TrocaCentral::Cancelada;
    busca->CarregaItens();
    if (busca->exec() != QDialog::Accepted || busca->CodigoPABX <= 0)
        return TrocaCentral::Cancelada;
    codigo = busca->CodigoPABX;
    nome = busca->NomePABX;
    if (atualizaRamais) VerificaAtualizacaoRamais(ctx, codigo);
    try {
        ctx.dados.ConectaBasePABX(codigo);
        return TrocaCentral::Conectada;
    } catch (const ErroBasePABX& e) {
        ctx.mensagens.Mostra(TipoMensagem::Erro, std::string(e.what()) + "\n" + e.detalhe);
    } catch (const std::exception& e) {
        ctx.mensagens.Mostra(TipoMensagem::Erro, e.what());
    }
    return TrocaCentral::Falhou;
}
