#include "service/BancoServico.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <thread>

#include "common/CifraTexto.h"
#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "common/Processos.h"
#include "common/Texto.h"
#include "common/db/FirebirdError.h"
#include "common/db/Esquema.h"
#include "service/PlacasRede.h"

const AlteracaoColuna ColunasDWNHISTORY[12] = {
    {"DWN_ARQBAIXAR", "INTEGER"},   {"DWN_ARQBAIXADO", "INTEGER"}, {"DWN_BYTESBAIXAR", "BIGINT"},
    {"DWN_BYTESBAIXADO", "BIGINT"}, {"DWN_ARQCONVOGG", "INTEGER"}, {"DWN_ARQIMPORTADO", "INTEGER"},
    {"DWN_FALHASDOWN", "INTEGER"},  {"DWN_FALHASOGG", "INTEGER"},  {"DWN_FALHASXML", "INTEGER"},
    {"DWN_FALHASIMP", "INTEGER"},   {"DWN_AVDUPIMP", "INTEGER"},   {"DWN_BYTESTIMEOUT", "BIGINT"},
};

const AlteracaoColuna ColunasPABX[5] = {
    {"PAB_SDCARDTOTAL", "BIGINT"},    {"PAB_SDCARDFREE", "BIGINT"},
    {"PAB_SDCARDUSED", "BIGINT"},     {"PAB_ULTVERIFSDC", "TIMESTAMP"},
    {"PAB_ULTALERTSDC", "TIMESTAMP"},
};

namespace {

// A row another program updated at the same moment (the console writes the
// control row too): FirebirdError::ConflitoAtualizacao, tried again.
constexpr int kTentativasConflito = 5;

// Widening rank of the integer types an upgrade may replace.
int Largura(std::string_view tipo) {
    if (tipo == "SMALLINT") return 2;
    if (tipo == "INTEGER") return 4;
    if (tipo == "INT64" || tipo == "BIGINT") return 8;
    return 0;
}

}  // namespace

std::string TextoComando(std::string_view sql) {
    const bool aspas = std::any_of(sql.begin(), sql.end(), [](char c) {
        return static_cast<unsigned char>(c) <= ' ' || c == ',' || c == '"';
    });
    if (!aspas) return std::string(sql);
    std::string s = "\"";
    for (char c : sql) {
        if (c == '"') s += '"';
        s += c;
    }
    s += '"';
    return s;
}

std::string LinhaErroBD(std::string_view tag, const std::exception& erro, std::string_view sql) {
    // The layer may already have appended the statement to its message.
    std::string_view mensagem = erro.what();
    const std::string sufixo = " (" + std::string(sql) + ")";
    if (!sql.empty() && mensagem.size() >= sufixo.size() &&
        mensagem.substr(mensagem.size() - sufixo.size()) == sufixo)
        mensagem.remove_suffix(sufixo.size());
    std::string linha(tag);
    linha += ": ";
    // A server going down also refuses new attachments for a moment
    // ("Error occurred during login", isc_login_error) before it stops
    // listening: that is the same loss.
    constexpr std::intptr_t kErroLoginServidor = 335545106;
    if (const auto* fb = dynamic_cast<const FirebirdError*>(&erro);
        fb && (fb->ConexaoPerdida() || fb->Tem(kErroLoginServidor))) {
        linha += kConexaoBDPerdida;
        linha += ": ";
        linha += mensagem;
        return linha;
    }
    linha += mensagem;
    linha += " (";
    linha += TextoComando(sql);
    linha += ")";
    return linha;
}

ConexaoServico::ConexaoServico(const ParametrosConexao& parametros)
    : att_(Attachment::Conecta(parametros)) {}

BancoServico::BancoServico(LogServico& log, ParametrosBDServico parametros)
    : log_(log), parametros_(std::move(parametros)),
      fonteIP_([](std::string* falha) { return GetIPConectado(falha); }),
      nomeComputador_(NomeComputador), configuracao_(std::make_shared<const ConfiguracaoGeral>()) {}

void BancoServico::DefineParametros(ParametrosBDServico parametros) {
    std::lock_guard lock(estado_);
    parametros_ = std::move(parametros);
}

ParametrosBDServico BancoServico::Parametros() const {
    std::lock_guard lock(estado_);
    return parametros_;
}

ParametrosConexao BancoServico::ConexaoPrincipal() const {
    std::lock_guard lock(estado_);
    return {parametros_.CaminhoBD, parametros_.UsuarioBD, parametros_.SenhaBD};
}

void BancoServico::DefineCredenciaisAdmin(CredenciaisAdmin c) {
    std::lock_guard lock(estado_);
    administrador_ = std::move(c);
}

void BancoServico::DefineFonteIP(std::function<std::string(std::string*)> fonte) {
    std::lock_guard lock(estado_);
    fonteIP_ = std::move(fonte);
}

void BancoServico::DefineNomeComputador(std::function<std::string()> nome) {
    std::lock_guard lock(estado_);
    nomeComputador_ = std::move(nome);
}

std::shared_ptr<const ConfiguracaoGeral> BancoServico::Configuracao() const {
    std::lock_guard lock(estado_);
    return configuracao_;
}

void BancoServico::DefineDDD(const std::string& ddd) {
    std::lock_guard lock(estado_);
    auto nova = std::make_shared<ConfiguracaoGeral>(*configuracao_);
    nova->DDD = CortaUtf8(ddd, 4);
    configuracao_ = std::move(nova);
}

DataHora BancoServico::UltimoBackupBD() const {
    std::lock_guard lock(estado_);
    return ultimoBackupBD_;
}

std::string BancoServico::IPConectado() const {
    std::lock_guard lock(estado_);
    return ipConectado_;
}

std::string BancoServico::PastaBaseDadosServidor() const {
    std::lock_guard lock(estado_);
    return pastaBaseDadosServidor_;
}

void BancoServico::DefinePastaBaseDadosServidor(const std::string& pasta) {
    std::lock_guard lock(estado_);
    pastaBaseDadosServidor_ = pasta;
}

std::vector<std::intptr_t> BancoServico::CodigosUltimaFalhaConexao() const {
    std::lock_guard lock(estado_);
    return codigosFalhaConexao_;
}

std::vector<std::string> BancoServico::AlteracoesExecutadas() const {
    std::lock_guard lock(estado_);
    return alteracoes_;
}

void BancoServico::LogaErro(std::string_view tag, const std::exception& e, std::string_view sql) {
    log_.Log(LogErro, false, LinhaErroBD(tag, e, sql));
}

bool BancoServico::Conecta(std::optional<ConexaoServico>& con, std::string& erro) {
    auto registraFalha = [&](const FirebirdError& e) {
        erro = e.what();
        std::lock_guard lock(estado_);
        codigosFalhaConexao_ = e.Codigos();
    };
    try {
        con.emplace(ConexaoPrincipal());
        return true;
    } catch (const FirebirdError& e) {
        registraFalha(e);
        if (!e.LoginRecusado()) return false;
    }
    log_.Log(LogInfo, false, log_.Traduz("Registrando usuário"));
    if (!RegistraUserGRV()) return false;
    try {
        con.emplace(ConexaoPrincipal());
        return true;
    } catch (const FirebirdError& e) {
        registraFalha(e);
        LogaErro("LOADCFG", e, "");
        return false;
    }
}

bool BancoServico::BDCarregaControle(int porta, std::string& erro) {
    erro.clear();
    {
        std::lock_guard lock(estado_);
        codigosFalhaConexao_.clear();
        alteracoes_.clear();
    }

    std::function<std::string(std::string*)> fonteIP;
    std::function<std::string()> nomeComputador;
    {
        std::lock_guard lock(estado_);
        fonteIP = fonteIP_;
        nomeComputador = nomeComputador_;
    }
    std::string falhaRede;
    const std::string ip = fonteIP(&falhaRede);
    if (!falhaRede.empty()) log_.Log(LogErro, true, falhaRede);
    {
        std::lock_guard lock(estado_);
        ipConectado_ = ip;
    }

    log_.Log(LogInfo, false, log_.Traduz("Carregando configurações"));

    std::optional<ConexaoServico> con;
    if (!Conecta(con, erro)) {
        log_.Log(LogSempre, false, log_.Traduz("Não foi possível ler configurações"));
        return false;
    }

    try {
        {
            Transaction tr(con->Conexao(), true);
            Statement st(tr, con->Comando("SELECT CRL_ULTBACKUPBD FROM CONTROLE"));
            Cursor c = st.Abre();
            DataHora ultimo;
            if (c.Proxima() && !c.IsNull(0)) {
                ultimo = c.GetTimestamp(0);
                // The installation writes 01/01/2012 for "never backed up".
                if (ultimo.ano == 2012 && ultimo.mes == 1 && ultimo.dia == 1) ultimo = DataHora{};
            }
            c.Fecha();
            tr.Commit();
            std::lock_guard lock(estado_);
            ultimoBackupBD_ = ultimo;
        }
        // The console writes this row too: an update conflict with it is
        // tried again after a short pause rather than failing the start.
        for (int tentativa = 1;; ++tentativa) {
            try {
                Transaction tr(con->Conexao());
                Statement st(tr, con->Comando("UPDATE CONTROLE SET CRL_GRVSERVER=?, CRL_GRVIP=?, "
                                              "CRL_GRVPORTA=?"));
                st.SetText(0, CortaUtf8(nomeComputador(), 30));
                st.SetText(1, CortaUtf8(ip, 20));
                st.SetInt(2, porta);
                st.Executa();
                tr.Commit();
                break;
            } catch (const FirebirdError& e) {
                if (tentativa >= kTentativasConflito || !e.ConflitoAtualizacao()) throw;
                std::this_thread::sleep_for(std::chrono::milliseconds(200 * tentativa));
            }
        }
        AtualizaEstrutura(*con);
        con->Conexao().Desconecta();
        return true;
    } catch (const FirebirdError& e) {
        erro = e.what();
        LogaErro("LOADCFG", e, con->ComandoAtual());
        return false;
    }
}

std::string BancoServico::TipoCampo(ConexaoServico& con, const char* tabela, const char* coluna) {
    try {
        Transaction tr(con.Conexao(), true);
        con.Comando("SELECT RDB$FIELD_TYPE OF " + std::string(tabela) + "." + coluna);
        const int codigo = CodigoTipoCampo(tr, tabela, coluna);
        tr.Commit();
        return codigo < 0 ? std::string() : NomeTipoCampo(codigo);
    } catch (const FirebirdError&) {
        return {};
    }
}

bool BancoServico::CampoPresente(ConexaoServico& con, const char* tabela, const char* coluna) {
    Transaction tr(con.Conexao(), true);
    con.Comando("SELECT * FROM RDB$RELATION_FIELDS rf WHERE rf.RDB$RELATION_NAME = '" +
                std::string(tabela) + "' AND rf.RDB$FIELD_NAME = '" + coluna + "'");
    const bool existe = CampoExiste(tr, tabela, coluna);
    tr.Commit();
    return existe;
}

// Each column is tested and altered in a transaction of its own, so a
// database that an earlier start left half upgraded is completed, and one
// failing statement never keeps the others from running.
void BancoServico::AtualizaEstrutura(ConexaoServico& con) {
    auto executa = [&](const char* tag, const std::string& sql) {
        try {
            Transaction tr(con.Conexao());
            tr.Executa(con.Comando(sql));
            tr.Commit();
            std::lock_guard lock(estado_);
            alteracoes_.push_back(sql);
        } catch (const FirebirdError& e) {
            LogaErro(tag, e, sql);
        }
    };

    for (const auto& a : ColunasDWNHISTORY) {
        const std::string atual = TipoCampo(con, "DWNHISTORY", a.coluna);
        const int largura = Largura(atual);
        if (largura == 0 || largura >= Largura(a.tipo)) continue;
        executa("AlterField", SqlAlteraTipoCampo("DWNHISTORY", a.coluna, a.tipo));
    }
    for (const auto& a : ColunasPABX) {
        if (CampoPresente(con, "PABX", a.coluna)) continue;
        executa("AlteraPABX", SqlAdicionaCampo("PABX", a.coluna, a.tipo));
    }
}

bool BancoServico::RegistraUserGRV() {
    std::filesystem::path arquivoIni;
    CredenciaisAdmin admin;
    ParametrosBDServico p;
    std::function<std::string()> nomeComputador;
    {
        std::lock_guard lock(estado_);
        arquivoIni = arquivoIni_;
        admin = administrador_;
        p = parametros_;
        nomeComputador = nomeComputador_;
    }
    if (arquivoIni.empty()) arquivoIni = ArquivoVeruzaduIni();
    const std::string padrao = "\\\\" + nomeComputador();
    IniFile ini(arquivoIni);
    if (Apara(ini.ReadString("BD", "Server", "")).empty()) ini.WriteString("BD", "Server", padrao);
    const std::string servidor = RemoveBarrasIniciais(ini.ReadString("BD", "Server", padrao));

    const RegistroUsuarioBD r = RegistraUsuarioBD(servidor, p.UsuarioBD, p.SenhaBD, admin);
    switch (r.resultado) {
        case ResultadoRegistro::Registrado: return true;
        case ResultadoRegistro::AdminRecusado:
            log_.Log(LogSempre, false,
                     log_.Traduz("Execute o aplicativo Veruzadu para registrar usuário no "
                                 "gerenciador de banco de dados"));
            return false;
        case ResultadoRegistro::Falhou: break;
    }
    log_.Log(LogErro, false, "REGUSR: " + r.mensagem);
    return false;
}

void BancoServico::DefineArquivoIni(std::filesystem::path arquivo) {
    std::lock_guard lock(estado_);
    arquivoIni_ = std::move(arquivo);
}

bool BancoServico::BDRegistraControle(bool backup, bool compactacao) {
    std::optional<ConexaoServico> con;
    try {
        con.emplace(ConexaoPrincipal());
        {
            Transaction tr(con->Conexao());
            if (compactacao)
                tr.Executa(con->Comando("UPDATE CONTROLE SET CRL_COMPBD=0"));
            else if (backup)
                tr.Executa(con->Comando("UPDATE CONTROLE SET CRL_ULTBACKUPBD='NOW'"));
            tr.Commit();
        }
        if (backup) {
            Transaction tr(con->Conexao(), true);
            Statement st(tr, con->Comando("SELECT CRL_ULTBACKUPBD FROM CONTROLE"));
            Cursor c = st.Abre();
            DataHora ultimo;
            if (c.Proxima() && !c.IsNull(0)) ultimo = c.GetTimestamp(0);
            c.Fecha();
            tr.Commit();
            std::lock_guard lock(estado_);
            ultimoBackupBD_ = ultimo;
        }
        con->Conexao().Desconecta();
        return true;
    } catch (const FirebirdError& e) {
        LogaErro("UPDWAT", e, con ? con->ComandoAtual() : "");
        return false;
    }
}

DataHora BancoServico::BDPegaDataServidor() {
    DataHora resultado = log_.AgoraLocal();
    std::optional<ConexaoServico> con;
    try {
        con.emplace(ConexaoPrincipal());
        Transaction tr(con->Conexao(), true);
        Statement st(tr, con->Comando("SELECT CURRENT_TIMESTAMP FROM RDB$DATABASE "));
        Cursor c = st.Abre();
        if (c.Proxima()) resultado = c.GetTimestamp(0);
        c.Fecha();
        tr.Commit();
    } catch (const FirebirdError& e) {
        LogaErro("SELDTH", e, con ? con->ComandoAtual() : "");
    }
    return resultado;
}

bool BancoServico::BDCarregaConfiguracaoGeral() {
    std::optional<ConexaoServico> con;
    try {
        con.emplace(ConexaoPrincipal());
        Transaction tr(con->Conexao(), true);
        con->Comando(SelecaoLinhaConfig);
        const std::optional<LinhaConfig> linha = LeLinhaConfig(tr);
        tr.Commit();
        if (linha) {
            ConfiguracaoGeral nova;
            static_cast<LinhaConfig&>(nova) = Aparada(*linha);
            if (!nova.CFG_FTPPASS.empty()) nova.SenhaFTP = DescriptografaTexto(nova.CFG_FTPPASS);
            std::lock_guard lock(estado_);
            nova.DDD = configuracao_->DDD;
            configuracao_ = std::make_shared<const ConfiguracaoGeral>(std::move(nova));
        }
        return true;
    } catch (const FirebirdError& e) {
        LogaErro("SELDTH", e, con ? con->ComandoAtual() : "");
        return false;
    }
}

int BancoServico::UsuariosConectados(const std::string& arquivo, std::string& pasta) {
    ParametrosConexao p = ConexaoPrincipal();
    if (arquivo != "QUVVERUZADU.FDB") {
        // Only a bare file name may be joined to the server's folder.
        if (arquivo.empty() || arquivo.find_first_of("/\\:") != std::string::npos ||
            arquivo == "." || arquivo == "..") {
            log_.Log(LogInfo, false,
                     "Não foi possível obter caminho da restauração do servidor. Utilizando "
                     "informação do arquivo INI");
            return 0;
        }
        std::lock_guard lock(estado_);
        p.banco = parametros_.ServidorBD + ":" + pastaBaseDadosServidor_ + arquivo;
    }
    try {
        ConexaoServico con(p);
        const std::string nome = con.Conexao().NomeArquivoServidor();
        const int quantos = con.Conexao().ContaConexoesUsuarios();
        const auto barra = nome.find_last_of("/\\");
        if (barra != std::string::npos) pasta = nome.substr(0, barra + 1);
        con.Conexao().Desconecta();
        return quantos;
    } catch (const FirebirdError&) {
        log_.Log(LogInfo, false,
                 "Não foi possível obter caminho da restauração do servidor. Utilizando "
                 "informação do arquivo INI");
        return 0;
    }
}
