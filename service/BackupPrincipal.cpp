#include "service/BackupPrincipal.h"

#include <chrono>
#include <system_error>
#include <thread>

#include "common/IniFile.h"
#include "common/Processos.h"
#include "common/Texto.h"
#include "common/db/FirebirdError.h"
#include "common/db/Servicos.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kBancoPrincipal = "QUVVERUZADU";
constexpr const char* kStatusPadrao = "Backup.txt";
// How long bringing a database back online waits for someone who took the
// one place of its shutdown.
constexpr auto kEsperaReligar = std::chrono::seconds(60);

}  // namespace

BackupPrincipal::BackupPrincipal(std::string pastaPrograma, fs::path arquivoIni,
                                 BancoServico& banco, LogServico& log, AlertasEmail& alertas,
                                 Relogio relogio)
    : pasta_(ComBarraTrocaContrabarra(std::move(pastaPrograma))),
      arquivoIni_(std::move(arquivoIni)), banco_(banco), log_(log), alertas_(alertas),
      relogio_(std::move(relogio)), pausa_(PausaDoAmbiente()), pendente_(pasta_) {}

ContaGbak BackupPrincipal::Conta() const {
    IniFile ini(arquivoIni_);
    const ParametrosBDServico p = banco_.Parametros();
    ContaGbak c;
    std::string padrao = p.ServidorBD.empty() ? NomeComputador() : p.ServidorBD;
    c.servidor = RemoveBarrasIniciais(ini.ReadString("BD", "Server", padrao));
    if (c.servidor.empty()) c.servidor = padrao;
    c.usuario = p.UsuarioBD;
    c.senha = p.SenhaBD;
    const std::string bin = ini.ReadString("Firebird", "Bin", "");
    if (!bin.empty()) c.pastaGbak = ComBarraTrocaContrabarra(bin);
    c.tempoLimite = std::chrono::seconds(LeTempoLimiteGbak(ini));
    c.interrompe = interrompe_;
    return c;
}

void BackupPrincipal::Falha(const std::string& linha, const std::string& motivo) {
    log_.Log(LogSempre, true, linha);
    if (!motivo.empty()) log_.Log(LogErro, false, motivo);
    alertas_.EnfileiraAlertaEmail(AlertaFalha, nullptr, linha);
}

// ---- decision ----

bool BackupPrincipal::HoraRealizarBackup(bool& compactar, bool& restaurar,
                                         DataHora& ultimaVerificacao) {
    compactar = false;
    restaurar = false;
    const DataHora agora = relogio_();
    // A database left shut down (someone held its one place for too long)
    // goes back online here at the latest.
    if (!CompactacaoEmCurso()) RecuperaTrabalhoInterrompido();
    IniFile ini(arquivoIni_);
    restaurar = ini.ReadInteger("Backup", "RestauraPABX", 0) > 0 ||
                !ini.ReadString("Backup", "Restaura", "").empty();
    if (restaurar) {
        if (!restauracaoAdiada_) return true;
        // It failed at the previous decision: the same failure again at every
        // pass would only repeat its lines and alerts.
        restauracaoAdiada_ = false;
        restaurar = false;
        ultimaVerificacao = agora;
        return false;
    }
    restauracaoAdiada_ = false;

    const DataHora limpeza = log_.UltimaLimpezaLog();
    if (limpeza.Vazia() || DiasEntre(limpeza, agora) >= 1) log_.RealizaLimpezaLog();

    ultimaVerificacao = agora;
    const DataHora servidor = banco_.BDPegaDataServidor();
    banco_.BDCarregaConfiguracaoGeral();
    const auto cfg = banco_.Configuracao();
    bool resultado = cfg && BackupVencido(cfg->CFG_DBBACKUP, banco_.UltimoBackupBD(), servidor);
    if (VerificaCompactacaoBaseDados()) {
        compactar = true;
        resultado = true;
    }
    return resultado;
}

bool BackupPrincipal::VerificaCompactacaoBaseDados() {
    std::optional<ConexaoServico> con;
    try {
        con.emplace(banco_.ConexaoPrincipal());
        int pedido = 0;
        {
            Transaction tr(con->Conexao(), true);
            Statement st(tr, con->Comando("SELECT CRL_COMPBD FROM CONTROLE"));
            Cursor c = st.Abre();
            if (c.Proxima()) pedido = c.GetInt(0);
            c.Fecha();
            tr.Commit();
        }
        if (pedido != 1) return false;
        con->Comando("SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$SYSTEM_FLAG = 0");
        // This check's own connection is one of them.
        const int anexos = con->Conexao().ContaConexoesUsuarios();
        con->Conexao().Desconecta();
        return anexos < 2;
    } catch (const FirebirdError& e) {
        log_.Log(LogErro, false, LinhaErroBD("VERCOMP", e, con ? con->ComandoAtual() : ""));
        return false;
    }
}

// ---- backup ----

bool BackupPrincipal::PreparaCompactacao(const ContaGbak& conta, const std::string& banco) {
    if (!ServidorNesteComputador(conta.servidor, banco_.IPConectado())) {
        log_.Log(LogSempre, true,
                 Traduz("Compactação não realizada: o servidor de banco de dados não está neste "
                        "computador"));
        return false;
    }
    std::error_code ec;
    fs::remove(ArquivoNovoBanco(banco), ec);
    if (!pendente_.Registra(banco, ArquivoNovoBanco(banco), "")) {
        log_.Log(LogSempre, true, Traduz("Compactação não realizada"));
        return false;
    }
    try {
        DesligaBancoExclusivo(RemoveBarrasIniciais(conta.servidor), conta.usuario, conta.senha,
                              banco);
    } catch (const FirebirdError& e) {
        pendente_.Conclui();
        log_.Log(LogSempre, true, Traduz("Há usuários conectados. Compactação não será realizada"));
        log_.Log(LogErro, false, std::string("Compactação: ") + e.what());
        return false;
    }
    bancoCompactacao_ = banco;
    return true;
}

int BackupPrincipal::Segura(const ContaGbak& conta, const std::string& banco) {
    guarda_.reset();
    try {
        guarda_.emplace(
            Attachment::Conecta({MontaStringConexao(RemoveBarrasIniciais(conta.servidor), 0, banco),
                                 conta.usuario, conta.senha}));
        Transaction tr(*guarda_, true);
        Statement st(tr, "SELECT CURRENT_CONNECTION FROM RDB$DATABASE");
        Cursor c = st.Abre();
        c.Proxima();
        const int id = c.GetInt(0);
        c.Fecha();
        tr.Commit();
        return id;
    } catch (const FirebirdError&) {
        guarda_.reset();
        return -1;
    }
}

bool BackupPrincipal::Religa(const ContaGbak& conta, const std::string& banco) {
    const auto limite = std::chrono::steady_clock::now() + kEsperaReligar;
    for (;;) {
        try {
            ReligaBanco(RemoveBarrasIniciais(conta.servidor), conta.usuario, conta.senha, banco);
            return true;
        } catch (const FirebirdError& e) {
            if (std::chrono::steady_clock::now() >= limite) {
                // The record stays: the next decision or start tries again.
                log_.Log(LogSempre, true,
                         Traduz("Não foi possível recolocar a base de dados em linha") + ": " +
                             e.what());
                return false;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
}

void BackupPrincipal::LiberaCompactacao(const ContaGbak& conta) {
    guarda_.reset();
    if (bancoCompactacao_.empty()) return;
    if (Religa(conta, bancoCompactacao_)) pendente_.Conclui();
    bancoCompactacao_.clear();
    arquivoCompactacao_.clear();
}

bool BackupPrincipal::RealizaBackupBaseDadosPrincipal(bool compactar) {
    arquivoCompactacao_.clear();
    log_.Log(LogInfo, true, Traduz("Realizando backup base de dados"));
    const auto cfg = banco_.Configuracao();
    const std::string destinoCfg = cfg ? cfg->CFG_DBDSTPATH : std::string();
    if (destinoCfg.empty() && !compactar) {
        const std::string linha =
            Traduz("Caminho de destino de backup da base de dados não configurado");
        log_.Log(LogSempre, true, linha);
        alertas_.EnfileiraAlertaEmail(AlertaFalha, nullptr, linha);
        return false;
    }
    std::string pasta = banco_.PastaBaseDadosServidor();
    banco_.UsuariosConectados(std::string(kBancoPrincipal) + ".FDB", pasta);

    const std::string destino =
        destinoCfg.empty() ? pasta_ + "backup/" : ComBarraTrocaContrabarra(destinoCfg);
    log_.Log(LogInfo, true, "Destino backup: " + destino);
    const std::string falha = Traduz("Falha ao realizar backup da base de dados QuvVeruzadu");
    std::string motivo;
    if (!PreparaDestino(destino, motivo)) {
        Falha(falha, motivo);
        return false;
    }
    const std::string arquivo = destino + NomeBackupPrincipal(relogio_());

    IniFile ini(arquivoIni_);
    const ContaGbak conta = Conta();
    const std::string nomeStatus = ini.ReadString("Backup", "Log", kStatusPadrao);
    ini.WriteString("Backup", "PathBDServer", pasta);
    ini.WriteString("Backup", "Destino", arquivo);
    bool recusado = false;
    const std::string status = ArquivoStatusGbak(pasta_, nomeStatus, recusado);
    if (recusado)
        log_.Log(LogSempre, true,
                 Traduz("Nome do arquivo de status do backup recusado") + ": " + nomeStatus);

    const std::string banco = pasta + kBancoPrincipal + ".FDB";
    log_.Log(LogInfo, true, "Origem backup: " + banco);

    if (compactar) PreparaCompactacao(conta, banco);
    if (!GravaBackup(RegraServico(conta), status, banco, ArquivoTemporarioBackup(arquivo), arquivo,
                     pausa_, motivo)) {
        Falha(falha, motivo);
        LiberaCompactacao(conta);
        return false;
    }
    log_.Log(LogInfo, true, Traduz("Backup da base de dados foi realizado"));
    if (!bancoCompactacao_.empty()) {
        // Held from here to the swap. Anyone who took the place before the
        // backup made it fail; anyone who takes it as gbak leaves keeps it
        // from us, and the compaction gives up.
        if (Segura(conta, bancoCompactacao_) < 0) {
            log_.Log(LogSempre, true,
                     Traduz("Há usuários conectados. Compactação não será realizada"));
            LiberaCompactacao(conta);
        } else {
            arquivoCompactacao_ = arquivo;
        }
    }
    return true;
}

// ---- restore ----

bool BackupPrincipal::DesligaParaTroca(const ContaGbak& conta, const std::string& viva) {
    std::error_code ec;
    if (!fs::exists(viva, ec)) return true;  // nothing to keep anyone out of
    const std::string servidor = RemoveBarrasIniciais(conta.servidor);
    try {
        DesligaBancoExclusivo(servidor, conta.usuario, conta.senha, viva);
        if (Segura(conta, viva) >= 0) return true;
        // Someone took the one place first.
        Religa(conta, viva);
        return false;
    } catch (const FirebirdError&) {
    }
    // Refused: someone is attached, or the server cannot open the file at all
    // (a broken database is simply replaced).
    try {
        Attachment att = Attachment::Conecta(
            {MontaStringConexao(servidor, 0, viva), conta.usuario, conta.senha});
        att.Desconecta();
    } catch (const FirebirdError&) {
        return true;
    }
    return false;
}

bool BackupPrincipal::RestauraBackupBaseDados(bool compactar, bool& arquivoAusente) {
    arquivoAusente = false;
    log_.Log(LogSempre, true, Traduz("Realizando restauração de backup base de dados"));
    IniFile ini(arquivoIni_);
    const ContaGbak conta = Conta();
    std::string pasta = ini.ReadString("Backup", "PathBDServer", "");
    std::string nomeStatus = ini.ReadString("Backup", "Log", kStatusPadrao);
    int unidade = ini.ReadInteger("Backup", "RestauraPABX", 0);
    std::string origem = ini.ReadString("Backup", "Restaura", "");
    if (compactar) {
        unidade = 0;
        origem = arquivoCompactacao_;
    }
    log_.Log(LogSempre, true, "PABXRestauraBD: " + std::to_string(unidade));

    const auto adia = [this](const std::string& linha) {
        log_.Log(LogSempre, true, linha);
        alertas_.EnfileiraAlertaEmail(AlertaFalha, nullptr, linha);
        restauracaoAdiada_ = true;
        return false;
    };

    if (compactar && bancoCompactacao_.empty()) {
        // The backup ran without holding the database: nothing to swap.
        log_.Log(LogSempre, true, Traduz("Compactação não realizada"));
        return false;
    }
    std::string banco = kBancoPrincipal;
    if (unidade != 0) {
        if (unidade < 1 || unidade > 999)
            return adia(Traduz("Código de PABX inválido para restauração") + ": " +
                        std::to_string(unidade));
        const std::string secao = "Backup" + CodigoTresDigitos(unidade);
        banco = "GRVPAB" + CodigoTresDigitos(unidade);
        nomeStatus = ini.ReadString(secao, "Log", kStatusPadrao);
        origem = ini.ReadString(secao, "Restaura", "");
    }
    log_.Log(LogSempre, true, "Origem backup: " + origem);
    if (origem.empty()) return adia(Traduz("Arquivo para restauração não informado"));
    std::error_code ec;
    if (!fs::is_regular_file(origem, ec)) {
        if (compactar) {
            Falha(Traduz("Falha ao restaurar backup da base de dados"), "");
            LiberaCompactacao(conta);
            return false;
        }
        arquivoAusente = true;
        log_.Log(LogSempre, true, Traduz("Arquivo para restauração não encontrado"));
        return false;
    }
    if (!compactar) {
        if (!ServidorNesteComputador(conta.servidor, banco_.IPConectado()))
            return adia(Traduz("Restauração não realizada: o servidor de banco de dados não está "
                               "neste computador"));
        if (banco_.UsuariosConectados(banco + ".FDB", pasta) >= 2) {
            log_.Log(LogSempre, true,
                     Traduz("Há usuários conectados. Restauração não será realizada"));
            return false;
        }
    } else {
        pasta = fs::path(bancoCompactacao_).parent_path().string();
    }
    pasta = ComBarraTrocaContrabarra(pasta);

    log_.Log(LogSempre, true, Traduz("Iniciando restauração"));
    const std::string viva = pasta + banco + ".FDB";
    const std::string novo = ArquivoNovoBanco(viva).string();
    const std::string bak = pasta + banco + ".BAK";
    bool recusado = false;
    const std::string status = ArquivoStatusGbak(pasta_, nomeStatus, recusado);
    if (recusado)
        log_.Log(LogSempre, true,
                 Traduz("Nome do arquivo de status do backup recusado") + ": " + nomeStatus);
    {
        TvekIbGbak g;
        ConfiguraGbak(g, conta, status);
        const std::string programa = g.ProgramaGbak();
        log_.Log(LogInfo, true, Traduz("Servidor") + ": " + conta.servidor);
        log_.Log(LogInfo, true, "GBDir : " + fs::path(programa).parent_path().string() + "/");
        log_.Log(LogInfo, true, Traduz("Origem") + ": " + origem);
        log_.Log(LogInfo, true, Traduz("Destino") + ": " + viva);
        log_.Log(LogInfo, true, "Log: " + status);
    }

    if (!compactar) {
        fs::remove(novo, ec);
        pendente_.Registra("", novo, "");
    }
    std::string motivo;
    if (pausa_) pausa_("restauracao");
    bool ok = RestauraEmNovo(RegraServico(conta), status, origem, novo, motivo);
    bool desligado = compactar;
    if (ok && !compactar) {
        pendente_.Registra(viva, novo, "");
        ok = desligado = DesligaParaTroca(conta, viva);
        if (!ok) motivo = Traduz("Há usuários conectados. Restauração não será realizada");
    }
    if (ok) ok = TrocaBanco(viva, novo, bak, pausa_, motivo);
    guarda_.reset();
    if (!ok) {
        fs::remove(novo, ec);
        if (compactar) {
            LiberaCompactacao(conta);
        } else {
            if (!desligado || Religa(conta, viva)) pendente_.Conclui();
            restauracaoAdiada_ = true;
        }
        Falha(Traduz("Falha ao restaurar backup da base de dados"), motivo);
        return false;
    }
    pendente_.Conclui();
    bancoCompactacao_.clear();
    arquivoCompactacao_.clear();
    // The old file keeps the shutdown it was swapped out with; online again it
    // can be opened by whoever needs to look back.
    try {
        ReligaBanco(RemoveBarrasIniciais(conta.servidor), conta.usuario, conta.senha, bak);
    } catch (const FirebirdError&) {
    }

    ini.WriteInteger("Backup", "RestauraPABX", 0);
    ini.WriteString("Backup", "Restaura", "");
    if (unidade > 0) ini.WriteString("Backup" + CodigoTresDigitos(unidade), "Restaura", "");
    log_.Log(LogSempre, true, Traduz("Restauração da base de dados realizada"));
    // The backup time written between the backup and the swap went with the
    // old file.
    if (compactar) banco_.BDRegistraControle(true, false);
    return true;
}

void BackupPrincipal::RecuperaTrabalhoInterrompido() {
    if (!pendente_.Existe()) return;
    std::string relato;
    pendente_.Recupera(Conta(), relato);
    if (!relato.empty()) log_.Log(LogSempre, false, relato);
}
