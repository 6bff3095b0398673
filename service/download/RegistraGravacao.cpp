// Filing of one recording and the encrypted recording files: the run's side.
// The work itself is ArquivamentoGravacao's; these members hand it the run's
// unit, folders, databases, gain, configuration, log and link, and move the
// counters into Historico.

#include <filesystem>

#include "common/ArquivoCriptografado.h"
#include "service/download/ArquivamentoGravacao.h"
#include "service/download/PABXDownloadFTP.h"

ArquivamentoGravacao& TPABXDownloadFTP::Arquivamento() {
    if (!arquivamento_ || arquivamento_->Ganho() != GanhoALaw) {
        arquivamento_.reset();  // its private folder goes before the next is made
        ContextoArquivamento c;
        c.CodigoPABX = CodigoPABX;
        c.PastaPABX = PastaPABX;
        c.BaseDadosPABX = ConexaoPABX();
        c.BaseDadosPrincipal = ConexaoPrincipal();
        c.Tabela = TabelaALaw(GanhoALaw);
        c.ErroXML = Config().ErroXML;
        c.CifrasNumeroLocal = Config().CifrasNumeroLocal;
        c.Configuracao = [this] { return ConfigGeral(); };
        c.Log = [this](std::uint16_t nivel, bool console, const std::string& texto) {
            Log(nivel, console, texto);
        };
        c.Traduz = [this](std::string_view texto) { return Traduz(texto); };
        c.Relogio = [this] { return AgoraLocal(); };
        arquivamento_ = std::make_shared<ArquivamentoGravacao>(std::move(c));
    }
    return *arquivamento_;
}

int TPABXDownloadFTP::BDRegistraGravacao(TPABX& pabx, const std::string& pasta,
                                         const std::string& nome) {
    ArquivamentoGravacao& a = Arquivamento();
    a.DefineBuscaRamal(
        [&pabx](std::string_view nomeRamal) { return pabx.BuscaRamalPorNome(nomeRamal); });
    ContadoresArquivamento c;
    const int resultado = a.Registra(pasta, nome, c);
    a.DefineBuscaRamal({});
    Historico.DWN_FALHASXML += c.DWN_FALHASXML;
    Historico.DWN_ARQCONVOGG += c.DWN_ARQCONVOGG;
    Historico.DWN_FALHASOGG += c.DWN_FALHASOGG;
    Historico.DWN_ARQIMPORTADO += c.DWN_ARQIMPORTADO;
    Historico.DWN_AVDUPIMP += c.DWN_AVDUPIMP;
    Historico.DWN_FALHASIMP += c.DWN_FALHASIMP;
    BDRegistraHistoricoDownload(HistoricoImportados);
    return resultado;
}

bool TPABXDownloadFTP::CriptografaArquivo(const std::string& pasta, const std::string& nome) {
    return Arquivamento().CriptografaArquivo(pasta, nome, ConfigGeral()->CFG_CRIPTOKEY);
}

bool TPABXDownloadFTP::DescriptografaArquivo(int tipoArquivo, const std::string& chave,
                                             const std::string& caminho) {
    return Arquivamento().DescriptografaArquivo(tipoArquivo, chave, caminho);
}

std::string TPABXDownloadFTP::ExtensaoTipoArquivo(int tipo) { return ::ExtensaoTipoArquivo(tipo); }
