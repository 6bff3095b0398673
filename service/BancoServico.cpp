#include "service/BancoServico.h"

#include <algorithm>
#include <cctype>

#include "common/CifraTexto.h"
#include "common/Sistema.h"
#include "common/Texto.h"
#include "common/db/FirebirdError.h"
#include "service/PlacasRede.h"

const AlteracaoColuna AlteracoesDWNHISTORY[12] = {
    {"DWN_ARQBAIXAR", "INTEGER"},   {"DWN_ARQBAIXADO", "INTEGER"},
    {"DWN_BYTESBAIXAR", "BIGINT"},  {"DWN_BYTESBAIXADO", "BIGINT"},
    {"DWN_ARQCONVOGG", "INTEGER"},  {"DWN_ARQIMPORTADO", "INTEGER"},
    {"DWN_FALHASDOWN", "INTEGER"},  {"DWN_FALHASOGG", "INTEGER"},
    {"DWN_FALHASXML", "INTEGER"},   {"DWN_FALHASIMP", "INTEGER"},
    {"DWN_AVDUPIMP", "INTEGER"},    {"DWN_BYTESTIMEOUT", "BIGINT"},
};

const AlteracaoColuna AlteracoesPABX[5] = {
    {"PAB_SDCARDTOTAL", "BIGINT"},   {"PAB_SDCARDFREE", "BIGINT"},
    {"PAB_SDCARDUSED", "BIGINT"},    {"PAB_ULTVERIFSDC", "TIMESTAMP"},
    {"PAB_ULTALERTSDC", "TIMESTAMP"},
};

namespace {

constexpr std::string_view SqlTipoCampo =
    "SELECT CASE F.RDB$FIELD_TYPE"
    " WHEN 7 THEN 'SMALLINT' WHEN 8 THEN 'INTEGER' WHEN 9 THEN 'QUAD'"
    " WHEN 10 THEN 'FLOAT' WHEN 11 THEN 'D_FLOAT' WHEN 12 THEN 'DATE'"
    " WHEN 13 THEN 'TIME' WHEN 14 THEN 'CHAR' WHEN 16 THEN 'INT64'"
    " WHEN 27 THEN 'DOUBLE' WHEN 35 THEN 'TIMESTAMP' WHEN 37 THEN 'VARCHAR'"
    " WHEN 40 THEN 'CSTRING' WHEN 261 THEN 'BLOB' ELSE 'UNKNOWN' END AS FIELD_TYPE"
    " FROM RDB$RELATION_FIELDS R"
    " LEFT JOIN RDB$FIELDS F ON R.RDB$FIELD_SOURCE = F.RDB$FIELD_NAME"
    " WHERE R.RDB$RELATION_NAME = ? AND R.RDB$FIELD_NAME = ?"
    " ORDER BY R.RDB$FIELD_POSITION";

constexpr std::string_view SqlCampoExiste =
    "SELECT 1 FROM RDB$RELATION_FIELDS RF"
    " WHERE RF.RDB$RELATION_NAME = ? AND RF.RDB$FIELD_NAME = ?";

std::string Apara(std::string_view s) {
    std::size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return std::string(s.substr(a, b - a));
}

std::string TextoCampo(const Linha& l, unsigned i, std::size_t largura) {
    return CortaUtf8(Apara(l.GetText(i)), largura);
}

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
    std::string linha(tag);
    linha += ": ";
    linha += erro.what();
    linha += " (";
    linha += TextoComando(sql);
    linha += ")";
    return linha;
}

ConexaoServico::ConexaoServico(const ParametrosConexao& parametros)
    : att_(Attachment::Conecta(parametros)) {}

BancoServico::BancoServico(LogServico& log, ParametrosBDServico parametros)
    : log_(log),
      parametros_(std::move(parametros)),
      fonteIP_([](std::string* falha) { return GetIPConectado(falha); }),
      nomeComputador_(NomeComputador),
      configuracao_(std::make_shared<const ConfiguracaoGeral>()) {}

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

void BancoServico::DefineCredenciaisAdministrador(CredenciaisAdministrador c) {
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
        {
            Transaction tr(con->Conexao());
            Statement st(tr, con->Comando("UPDATE CONTROLE SET CRL_GRVSERVER=?, CRL_GRVIP=?, "
                                          "CRL_GRVPORTA=?"));
            st.SetText(0, CortaUtf8(nomeComputador(), 30));
            st.SetText(1, CortaUtf8(ip, 20));
            st.SetInt(2, porta);
            st.Executa();
            tr.Commit();
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
        Statement st(tr, con.Comando(SqlTipoCampo));
        st.SetText(0, tabela).SetText(1, coluna);
        Cursor c = st.Abre();
        std::string tipo = c.Proxima() ? Apara(c.GetText(0)) : std::string();
        c.Fecha();
        tr.Commit();
        return tipo;
    } catch (const FirebirdError&) {
        return {};
    }
}

bool BancoServico::CampoExiste(ConexaoServico& con, const char* tabela, const char* coluna) {
    Transaction tr(con.Conexao(), true);
    Statement st(tr, con.Comando(SqlCampoExiste));
    st.SetText(0, tabela).SetText(1, coluna);
    Cursor c = st.Abre();
    const bool existe = c.Proxima();
    c.Fecha();
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

    for (const auto& a : AlteracoesDWNHISTORY) {
        const std::string atual = TipoCampo(con, "DWNHISTORY", a.coluna);
        const int largura = Largura(atual);
        if (largura == 0 || largura >= Largura(a.tipo)) continue;
        executa("AlterField",
                std::string("ALTER TABLE DWNHISTORY ALTER ") + a.coluna + " TYPE " + a.tipo);
    }
    for (const auto& a : AlteracoesPABX) {
        if (CampoExiste(con, "PABX", a.coluna)) continue;
        executa("AlteraPABX", std::string("ALTER TABLE PABX ADD ") + a.coluna + " " + a.tipo);
    }
}

bool BancoServico::RegistraUserGRV() {
    // Filled in with the services-manager registration.
    return false;
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
        Statement st(tr, con->Comando(
                             "SELECT CFG_CRIPTOGRAFIA, CFG_CONVERTOGG, CFG_CRIPTOKEY, "
                             "CFG_FTPBACKUP, CFG_FTPHOST, CFG_FTPPORT, CFG_FTPUSER, CFG_FTPPASS, "
                             "CFG_FTPSECURITY, CFG_FTPDSTPATH, CFG_NETBACKUP, CFG_NETDSTPATH, "
                             "CFG_ALMALERTA, CFG_ALMMAILTO, CFG_ALMMAILCC, CFG_DBBACKUP, "
                             "CFG_DBDSTPATH FROM CONFIG"));
        Cursor c = st.Abre();
        if (c.Proxima()) {
            ConfiguracaoGeral nova;
            nova.CFG_CRIPTOGRAFIA = c.GetInt(0);
            nova.CFG_CONVERTOGG = c.GetInt(1);
            nova.CFG_CRIPTOKEY = TextoCampo(c, 2, 30);
            nova.CFG_FTPBACKUP = c.GetInt(3);
            nova.CFG_FTPHOST = TextoCampo(c, 4, 80);
            nova.CFG_FTPPORT = c.GetInt(5);
            nova.CFG_FTPUSER = TextoCampo(c, 6, 30);
            const std::string senha = TextoCampo(c, 7, 30);
            nova.CFG_FTPPASS = senha.empty() ? std::string() : DescriptografaTexto(senha);
            nova.CFG_FTPSECURITY = c.GetInt(8);
            nova.CFG_FTPDSTPATH = TextoCampo(c, 9, 80);
            nova.CFG_NETBACKUP = c.GetInt(10);
            nova.CFG_NETDSTPATH = TextoCampo(c, 11, 80);
            nova.CFG_ALMALERTA = c.GetInt(12);
            nova.CFG_ALMMAILTO = TextoCampo(c, 13, 80);
            nova.CFG_ALMMAILCC = TextoCampo(c, 14, 80);
            nova.CFG_DBBACKUP = c.GetInt(15);
            nova.CFG_DBDSTPATH = TextoCampo(c, 16, 80);
            std::lock_guard lock(estado_);
            nova.DDD = configuracao_->DDD;
            configuracao_ = std::make_shared<const ConfiguracaoGeral>(std::move(nova));
        }
        c.Fecha();
        tr.Commit();
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
