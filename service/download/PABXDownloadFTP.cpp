#include "service/download/PABXDownloadFTP.h"

TPABXDownloadFTP::TPABXDownloadFTP(int codigoPABX, AmbienteDownload ambiente,
                                   std::shared_ptr<const ConfiguracaoServico> config)
    : ThreadServico(codigoPABX), ambiente_(std::move(ambiente)), config_(std::move(config)) {
    if (!config_) config_ = std::make_shared<const ConfiguracaoServico>();
    MascaraLog = static_cast<std::uint16_t>(config_->MascaraLog);
    GanhoALaw = config_->GanhoPadrao;
}

TPABXDownloadFTP::~TPABXDownloadFTP() {
    // The body uses this object's members: it must be gone before they are.
    Terminate();
    if (AguardaFim(std::chrono::minutes(5))) Junta();
}

void TPABXDownloadFTP::Execute() {}

void TPABXDownloadFTP::ProcessaPABX() {}

void TPABXDownloadFTP::BDAtualizaDNS(TPABX&) {}

void TPABXDownloadFTP::BDAtualizaNomesAgenda(TPABX&) {}

void TPABXDownloadFTP::Log(std::uint16_t, bool, std::string_view) {}

bool TPABXDownloadFTP::BDRegistraHistoricoDownload(int) { return false; }

bool TPABXDownloadFTP::BDRegistraUltimoDownload() { return false; }

DataHora TPABXDownloadFTP::AgoraLocal() const { return ambiente_.RelogioLocal.Agora(); }

std::string TPABXDownloadFTP::Traduz(std::string_view texto) const {
    return ambiente_.LogSrv.Traduz(texto);
}

std::shared_ptr<const ConfiguracaoGeral> TPABXDownloadFTP::ConfigGeral() const {
    return ambiente_.Banco.Configuracao();
}

ParametrosConexao TPABXDownloadFTP::ConexaoPrincipal() const {
    return ambiente_.Banco.ConexaoPrincipal();
}

ParametrosConexao TPABXDownloadFTP::ConexaoPABX() const {
    ParametrosConexao p = ambiente_.Banco.ConexaoPrincipal();
    p.banco = BaseDadosPABX;
    return p;
}

void TPABXDownloadFTP::LogAlerta(std::string_view) {}
