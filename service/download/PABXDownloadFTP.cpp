#include "service/download/PABXDownloadFTP.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "common/IniFile.h"
#include "common/Arquivos.h"
#include "common/Texto.h"
#include "common/db/Esquema.h"
#include "service/download/RegrasDownload.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

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
    AguardaFim(std::chrono::minutes(5));
}

// ------------------------------------------------------------- Thread body

void TPABXDownloadFTP::Execute() {
    bool local = false;
    int unidadeExporta = 0;
    std::string textoInicio, textoFim;
    {
        const IniFile ini(ArquivoSemCaixa(config_->PastaPrograma.empty() ? PastaPrograma()
                                                                         : config_->PastaPrograma,
                                          "VERUZADU.INI"));
        local = ini.ReadBool("FTP", "Local", false);
        unidadeExporta = ini.ReadInteger("Exporta", "PABX", 0);
        textoInicio = Apara(ini.ReadString("Exporta", "DataInicio", ""));
        textoFim = Apara(ini.ReadString("Exporta", "DataFim", ""));
    }

    auto protegido = [this](const char* etiqueta, const std::function<void()>& passo) {
        try {
            passo();
        } catch (const std::exception& e) {
            Log(LogErro, false, std::string(etiqueta) + ": " + e.what());
        } catch (...) {
            Log(LogErro, false, std::string(etiqueta) + ": erro desconhecido");
        }
    };

    if (unidadeExporta == CodigoPABX && !textoInicio.empty()) {
        const auto inicio = LeDataDiaPrimeiro(textoInicio + " 00:00:00");
        const auto fim =
            textoFim.empty() ? std::nullopt : LeDataDiaPrimeiro(textoFim + " 23:59:59");
        protegido("EXPORTA",
                  [&] { ExportaGravacoes(inicio.value_or(DataHora{}), fim.value_or(DataHora{})); });
    }
    if (Terminated()) return;

    if (local)
        protegido("LOCAL", [this] { ProcessaLocal(); });
    else
        ProcessaPABX();
    // A row the database never got whole is kept by the service until it lands.
    protegido("DWNPEND", [this] { EntregaHistoricoPendente(); });

    // A stop request leaves the backup for the next run, so the service's
    // join is not held up by it.
    if (Terminated()) return;
    protegido("BACKUPBD", [this] {
        if (HoraBackup() && BackupBaseDados()) BDRegistraBackup();
    });
}

void TPABXDownloadFTP::LogAlerta(std::string_view texto) {
    const std::string linha = "PABX " + std::to_string(CodigoPABX) + ": " + std::string(texto);
    Log(LogSempre, true, linha);
    ambiente_.Alertas.EnfileiraAlertaEmail(AlertaFalha, nullptr, linha);
}

// ----------------------------------------------------------------- Helpers

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
