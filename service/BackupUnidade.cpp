#include "service/BackupUnidade.h"

#include <cctype>
#include <system_error>
#include <vector>

#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "common/Processos.h"
#include "common/Texto.h"
#include "common/db/FirebirdError.h"
#include "service/LogServico.h"

namespace fs = std::filesystem;

bool LogUnidadeRemovivel(std::string_view nome, std::string_view limite) {
    if (nome.size() != 13 || limite.size() != 6) return false;
    for (int i = 0; i < 3; ++i)
        if (!std::isalpha(static_cast<unsigned char>(nome[i]))) return false;
    for (int i = 3; i < 9; ++i)
        if (!std::isdigit(static_cast<unsigned char>(nome[i]))) return false;
    if (!IgualSemCaixa(nome.substr(9), ".log")) return false;
    return nome.substr(3, 6) < limite;
}

BackupUnidade::BackupUnidade(ContextoBackupUnidade contexto) : c_(std::move(contexto)) {
    c_.pastaPABX = ComBarraTrocaContrabarra(c_.pastaPABX);
}

void BackupUnidade::Log(int nivel, const std::string& texto) const {
    if (c_.log) c_.log(nivel, texto);
}

std::string BackupUnidade::Traduz(std::string_view texto) const {
    return c_.traduz ? c_.traduz(texto) : std::string(texto);
}

std::shared_ptr<const ConfiguracaoGeral> BackupUnidade::Configuracao() {
    if (!c_.configuracao) c_.configuracao = c_.banco->Configuracao();
    if (!c_.configuracao) c_.configuracao = std::make_shared<const ConfiguracaoGeral>();
    return c_.configuracao;
}

bool BackupUnidade::HoraBackup(const DataHora& ultimoBackupBD) {
    if (c_.limpeza && c_.limpeza->Vence(c_.codigo, c_.relogio())) LimpaLogs();
    const DataHora servidor = c_.banco->BDPegaDataServidor();
    return BackupVencido(Configuracao()->CFG_DBBACKUP, ultimoBackupBD, servidor);
}

int BackupUnidade::BDUsuariosConectados(std::string& pasta) {
    constexpr const char* sql = "SELECT * FROM PABX";
    try {
        Attachment att = Attachment::Conecta(c_.baseDadosPABX);
        {
            Transaction tr(att, true);
            Statement st(tr, sql);
            Cursor cur = st.Abre();
            cur.Proxima();
            cur.Fecha();
            tr.Commit();
        }
        const std::string nome = att.NomeArquivoServidor();
        const int anexos = att.ContaConexoesUsuarios();
        att.Desconecta();
        const auto barra = nome.find_last_of("/\\");
        if (barra != std::string::npos) pasta = nome.substr(0, barra + 1);
        return anexos;
    } catch (const FirebirdError& e) {
        Log(LogErro, LinhaErroBD("LOADUSR", e, sql));
        return 0;
    }
}

bool BackupUnidade::BackupBaseDados() {
    Log(LogInfo, Traduz("Realizando backup base de dados"));
    const auto cfg = Configuracao();
    if (cfg->CFG_DBDSTPATH.empty()) {
        const std::string linha =
            Traduz("Caminho de destino de backup da base de dados não configurado");
        Log(LogSempre, linha);
        if (c_.alertas) c_.alertas->EnfileiraAlertaEmail(AlertaFalha, nullptr, linha);
        return false;
    }
    const std::string nnn = CodigoTresDigitos(c_.codigo);
    const std::string falha = "PABX " + std::to_string(c_.codigo) + ": " +
                              Traduz("Falha ao realizar backup da base de dados");
    const auto falhou = [&](const std::string& motivo) {
        Log(LogSempre, falha);
        if (!motivo.empty()) Log(LogErro, motivo);
        if (c_.alertas) c_.alertas->EnfileiraAlertaEmail(AlertaFalha, nullptr, falha);
        return false;
    };

    std::string pasta = c_.banco->PastaBaseDadosServidor();
    BDUsuariosConectados(pasta);
    const std::string destino = ComBarraTrocaContrabarra(cfg->CFG_DBDSTPATH);
    Log(LogInfo, "Destino backup: " + destino);
    std::string motivo;
    if (!PreparaDestino(destino, motivo)) return falhou(motivo);
    const std::string arquivo = destino + NomeBackupUnidade(c_.codigo, c_.relogio());

    IniFile ini(c_.arquivoIni);
    const ParametrosBDServico p = c_.banco->Parametros();
    ContaGbak conta;
    const std::string padrao = p.ServidorBD.empty() ? NomeComputador() : p.ServidorBD;
    conta.servidor = RemoveBarrasIniciais(ini.ReadString("BD", "Server", padrao));
    if (conta.servidor.empty()) conta.servidor = padrao;
    conta.usuario = c_.baseDadosPABX.usuario;
    conta.senha = c_.baseDadosPABX.senha;
    const std::string bin = ini.ReadString("Firebird", "Bin", "");
    if (!bin.empty()) conta.pastaGbak = ComBarraTrocaContrabarra(bin);
    conta.tempoLimite = std::chrono::seconds(LeTempoLimiteGbak(ini));
    conta.interrompe = c_.interrompe;
    // The main section's status name also serves the units.
    const std::string nomeStatus = ini.ReadString("Backup", "Log", "Backup.txt");
    ini.WriteString("Backup" + nnn, "PathBDServer", pasta);
    ini.WriteString("Backup" + nnn, "Destino", arquivo);
    bool recusado = false;
    const std::string status = ArquivoStatusGbak(c_.pastaPABX, nomeStatus, recusado);
    if (recusado)
        Log(LogSempre, Traduz("Nome do arquivo de status do backup recusado") + ": " + nomeStatus);

    const std::string banco = pasta + "GRVPAB" + nnn + ".FDB";
    Log(LogInfo, "Origem backup: " + banco);
    if (!GravaBackup(RegraServico(conta), status, banco, ArquivoTemporarioBackup(arquivo), arquivo,
                     c_.pausa, motivo))
        return falhou(motivo);
    Log(LogInfo, Traduz("Backup da base de dados foi realizado"));
    return true;
}

bool BackupUnidade::BDRegistraBackup(DataHora& ultimoBackupBD) {
    std::optional<ConexaoServico> con;
    try {
        con.emplace(c_.banco->ConexaoPrincipal());
        Transaction tr(con->Conexao());
        {
            Statement st(tr, con->Comando("SELECT CURRENT_TIMESTAMP FROM RDB$DATABASE "));
            Cursor cur = st.Abre();
            if (cur.Proxima()) ultimoBackupBD = cur.GetTimestamp(0);
            cur.Fecha();
        }
        Statement up(tr, con->Comando("UPDATE PABX SET PAB_ULTBACKUPBD='NOW' WHERE PAB_CODIGO=?"));
        up.SetInt(0, c_.codigo);
        up.Executa();
        tr.Commit();
        con->Conexao().Desconecta();
        return true;
    } catch (const FirebirdError& e) {
        Log(LogErro, LinhaErroBD("UPDWAT", e, con ? con->ComandoAtual() : ""));
        return false;
    }
}

void BackupUnidade::LimpaLogs() {
    const std::string limite = LimiteLimpezaLog(c_.relogio());
    std::vector<fs::path> removiveis;
    std::error_code ec;
    for (fs::directory_iterator it(c_.pastaPABX, ec), fim; !ec && it != fim; it.increment(ec)) {
        std::error_code ecTipo;
        if (!it->is_regular_file(ecTipo)) continue;
        if (LogUnidadeRemovivel(it->path().filename().string(), limite))
            removiveis.push_back(it->path());
    }
    for (const auto& arquivo : removiveis) {
        Log(LogInfo, Traduz("Removido log") + ": " + arquivo.string());
        fs::remove(arquivo, ec);
    }
}
