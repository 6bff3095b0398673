#include "console/PaginasAjuda.h"

#include <map>
#include <system_error>

#include "common/Configuracao.h"

namespace fs = std::filesystem;

const std::vector<PaginaAjuda>& PaginasAjuda() {
    static const std::vector<PaginaAjuda> paginas = {
        {ContextoAjuda::Principal, "index.html", "Janela principal"},
        {ContextoAjuda::Gravacoes, "gravacoes.html", "Gravações"},
        {ContextoAjuda::Apagamento, "apagar-registros.html", "Apagar registros"},
        {ContextoAjuda::Estado, "estado-downloads.html", "Estado dos downloads"},
        {ContextoAjuda::Centrais, "centrais.html", "Centrais PABX"},
        {ContextoAjuda::EdicaoCentral, "edicao-central.html", "Edição de central PABX"},
        {ContextoAjuda::Permissoes, "permissoes-ramais.html", "Permissões de ramais"},
        {ContextoAjuda::Grupos, "grupos.html", "Grupos"},
        {ContextoAjuda::Usuarios, "usuarios.html", "Usuários"},
        {ContextoAjuda::Contatos, "contatos.html", "Contatos"},
        {ContextoAjuda::ArquivosContatos, "arquivos-contatos.html", "Importar e exportar contatos"},
        {ContextoAjuda::Configuracao, "configuracao.html", "Configuração"},
        {ContextoAjuda::Historico, "historico.html", "Histórico de ocorrências"},
    };
    return paginas;
}

const PaginaAjuda& PaginaDe(ContextoAjuda contexto) {
    for (const PaginaAjuda& p : PaginasAjuda())
        if (p.contexto == contexto) return p;
    return PaginasAjuda().front();
}

ContextoAjuda ContextoDaJanela(const std::string& nomeJanela) {
    static const std::map<std::string, ContextoAjuda> janelas = {
        {"FormGravacoes", ContextoAjuda::Gravacoes},
        {"FormEdGrava", ContextoAjuda::Gravacoes},
        {"FormApagaReg", ContextoAjuda::Apagamento},
        {"FormStatus", ContextoAjuda::Estado},
        {"FormLogGrv", ContextoAjuda::Estado},
        {"FormCentrais", ContextoAjuda::Centrais},
        {"FormBuscaCentral", ContextoAjuda::Centrais},
        {"FormEdCentral", ContextoAjuda::EdicaoCentral},
        {"FormEdHoraCentral", ContextoAjuda::EdicaoCentral},
        {"FormCfgRamais", ContextoAjuda::Permissoes},
        {"FormEdCfgRamal", ContextoAjuda::Permissoes},
        {"FormAtualizaRamais", ContextoAjuda::Permissoes},
        {"FormGrupos", ContextoAjuda::Grupos},
        {"FormEdGrupo", ContextoAjuda::Grupos},
        {"FormUsuarios", ContextoAjuda::Usuarios},
        {"FormEdUsuario", ContextoAjuda::Usuarios},
        {"FormAcesso", ContextoAjuda::Usuarios},
        {"FormTrocaSenha", ContextoAjuda::Usuarios},
        {"FormClientes", ContextoAjuda::Contatos},
        {"FormEdCliente", ContextoAjuda::Contatos},
        {"FormEdFone", ContextoAjuda::Contatos},
        {"FormEdDDD", ContextoAjuda::Contatos},
        {"EscolheArquivo", ContextoAjuda::ArquivosContatos},
        {"FormConfig", ContextoAjuda::Configuracao},
        {"FormCfgAlerta", ContextoAjuda::Configuracao},
        {"FormConfigBD", ContextoAjuda::Configuracao},
        {"FormHistorico", ContextoAjuda::Historico},
    };
    const auto i = janelas.find(nomeJanela);
    return i == janelas.end() ? ContextoAjuda::Principal : i->second;
}

std::vector<fs::path> PastasAjuda() {
    std::vector<fs::path> pastas{fs::path(PastaPrograma()) / "ajuda"};
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        pastas.push_back(exe.parent_path() / "ajuda");
        pastas.push_back(
            (exe.parent_path() / ".." / "share" / "veruzadu" / "ajuda").lexically_normal());
    }
    return pastas;
}

fs::path CaminhoAjuda(ContextoAjuda contexto) {
    const char* arquivo = PaginaDe(contexto).arquivo;
    for (const fs::path& pasta : PastasAjuda()) {
        std::error_code ec;
        if (fs::is_regular_file(pasta / arquivo, ec)) return pasta / arquivo;
    }
    return {};
}
