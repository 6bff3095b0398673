#include "console/forms/AbreAjuda.h"

#include <QDesktopServices>
#include <QUrl>

#include "common/Traducao.h"
#include "console/Mensageiro.h"
#include "console/UtilConsole.h"

std::function<void(const std::filesystem::path&)> MostraPaginaAjuda =
    [](const std::filesystem::path& pagina) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(pagina.string())));
    };

void AbreAjuda(ContextoAjuda contexto, Mensageiro& mensagens) {
    const std::filesystem::path pagina = CaminhoAjuda(contexto);
    if (pagina.empty()) {
        const std::string texto =
            Traduz("Página de ajuda não encontrada") + ": " + PaginaDe(contexto).arquivo;
        GravaLogConsole(texto);
        mensagens.Mostra(TipoMensagem::Erro, texto);
        return;
    }
    if (MostraPaginaAjuda) MostraPaginaAjuda(pagina);
}
