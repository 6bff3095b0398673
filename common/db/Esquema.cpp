#include "common/db/Esquema.h"

#include "common/Texto.h"
#include "common/db/FirebirdError.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <limits>
#include <stdexcept>

// Generated at configure time from common/db/sql/*.sql.
#include "EsquemaScripts.inc"

namespace {

const std::string_view ConexaoPrincipalDosScripts = "localhost:VERUZADU";
const std::string_view CredenciaisDosScripts = "AS USER 'HMCXJXTFHJ' PASSWORD 'lomfadrix'";

std::string Substitui(std::string texto, std::string_view de, std::string_view para) {
    if (de == para) return texto;
    for (std::size_t pos = 0; (pos = texto.find(de, pos)) != std::string::npos; pos += para.size())
        texto.replace(pos, de.size(), para);
    return texto;
}

// The connection string ends up inside a quoted SQL literal.
std::string ConexaoValidada(std::string_view conexao) {
    if (conexao.empty() || conexao.find_first_of("'\"\r\n;") != std::string_view::npos)
        throw std::invalid_argument("conexão do banco principal inválida: " + std::string(conexao));
    return std::string(conexao);
}

// The program's user and password as the template's EXECUTE STATEMENT
// clauses write them: a plain user name, the password a quoted literal.
std::string Credenciais(std::string_view usuario, std::string_view senha) {
    auto valido = [](unsigned char c) { return std::isalnum(c) || c == '_'; };
    if (usuario.empty() || usuario.size() > 31 ||
        !std::all_of(usuario.begin(), usuario.end(), valido))
        throw std::invalid_argument("usuário do banco inválido: " + std::string(usuario));
    if (senha.empty() || senha.find_first_of("\r\n") != std::string_view::npos)
        throw std::invalid_argument("senha do banco inválida");
    std::string r = "AS USER '" + std::string(usuario) + "' PASSWORD '";
    for (char c : senha) {
        r.push_back(c);
        if (c == '\'') r.push_back('\'');
    }
    return r + "'";
}

const std::string& Identificador(const std::string& nome) {
    auto valido = [](unsigned char c) { return std::isalnum(c) || c == '_' || c == '$'; };
    if (nome.empty() || nome.size() > 63 || !std::all_of(nome.begin(), nome.end(), valido) ||
        std::isdigit(static_cast<unsigned char>(nome.front())))
        throw std::invalid_argument("nome SQL inválido: " + nome);
    return nome;
}

std::string Identificador(std::string_view nome) {
    std::string s(nome);
    Identificador(s);
    return s;
}

// A type as the upgrade statements write it: words, digits, blanks, parentheses, comma.
std::string TipoValidado(std::string_view tipo) {
    auto valido = [](unsigned char c) {
        return std::isalnum(c) || c == '_' || c == ' ' || c == '(' || c == ')' || c == ',';
    };
    if (tipo.empty() || !std::all_of(tipo.begin(), tipo.end(), valido))
        throw std::invalid_argument("tipo SQL inválido: " + std::string(tipo));
    return std::string(tipo);
}

}  // namespace

std::string NomeArquivoBancoPABX(int codigoPABX) {
    char nome[32];
    std::snprintf(nome, sizeof nome, "GRVPAB%03d.FDB", codigoPABX);
    return nome;
}

std::string ScriptBancoPrincipal() { return std::string(ScriptSqlVeruzadu); }

std::string ScriptBancoPABX(std::string_view conexaoPrincipal, std::string_view usuario,
                            std::string_view senha) {
    std::string s = Substitui(std::string(ScriptSqlGrvpab), "@LISTAGRV@", ScriptSqlListagrv);
    s = Substitui(std::move(s), CredenciaisDosScripts, Credenciais(usuario, senha));
    return Substitui(std::move(s), ConexaoPrincipalDosScripts, ConexaoValidada(conexaoPrincipal));
}

std::string ScriptLISTARAMGRUPO(std::string_view conexaoPrincipal, std::string_view usuario,
                                std::string_view senha) {
    // The procedure's text as the template holds it, from its comment to "END^".
    const std::string s(ScriptSqlGrvpab);
    const auto inicio = s.find("CREATE OR ALTER PROCEDURE LISTARAMGRUPO");
    const auto fim = s.find("END^", inicio);
    if (inicio == std::string::npos || fim == std::string::npos)
        throw std::logic_error("LISTARAMGRUPO ausente do script do banco da central");
    std::string texto = Substitui(s.substr(inicio, fim + 4 - inicio) + "\n", CredenciaisDosScripts,
                                  Credenciais(usuario, senha));
    return Substitui(std::move(texto), ConexaoPrincipalDosScripts,
                     ConexaoValidada(conexaoPrincipal));
}

std::string ScriptLISTAGRV(std::string_view conexaoPrincipal, std::string_view usuario,
                           std::string_view senha) {
    std::string s = Substitui(std::string(ScriptSqlListagrv), CredenciaisDosScripts,
                              Credenciais(usuario, senha));
    return Substitui(std::move(s), ConexaoPrincipalDosScripts, ConexaoValidada(conexaoPrincipal));
}

bool ListaGrvDesatualizada(Transaction& tr) {
    if (!TabelaExiste(tr, "TMP_RAMALVISTO") || !TabelaExiste(tr, "TMP_GRUPOCHAVE")) return true;
    Statement st(tr,
                 "SELECT 1 FROM RDB$PROCEDURES WHERE RDB$PROCEDURE_NAME = 'LISTACLIENTECODIGOS'");
    auto c = st.Abre();
    return !c.Proxima();
}

bool TabelaExiste(Transaction& tr, std::string_view tabela) {
    Statement st(tr, "SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = ?");
    st.SetText(0, tabela);
    auto c = st.Abre();
    return c.Proxima();
}

bool GeradorExiste(Transaction& tr, std::string_view gerador) {
    Statement st(tr, "SELECT 1 FROM RDB$GENERATORS WHERE RDB$GENERATOR_NAME = ?");
    st.SetText(0, gerador);
    auto c = st.Abre();
    return c.Proxima();
}

bool IndiceExiste(Transaction& tr, std::string_view indice) {
    Statement st(tr, "SELECT 1 FROM RDB$INDICES WHERE RDB$INDEX_NAME = ?");
    st.SetText(0, indice);
    auto c = st.Abre();
    return c.Proxima();
}

bool CampoExiste(Transaction& tr, std::string_view tabela, std::string_view campo) {
    Statement st(tr, "SELECT 1 FROM RDB$RELATION_FIELDS rf WHERE rf.RDB$RELATION_NAME = ? AND "
                     "rf.RDB$FIELD_NAME = ?");
    st.SetText(0, tabela).SetText(1, campo);
    auto c = st.Abre();
    return c.Proxima();
}

namespace {

// Type code and character length of a column's field source; false when missing.
bool DescreveCampo(Transaction& tr, std::string_view tabela, std::string_view campo, int& tipo,
                   int& tamanho) {
    Statement st(tr, "SELECT F.RDB$FIELD_TYPE, F.RDB$CHARACTER_LENGTH FROM RDB$RELATION_FIELDS R "
                     "JOIN RDB$FIELDS F ON R.RDB$FIELD_SOURCE = F.RDB$FIELD_NAME "
                     "WHERE R.RDB$RELATION_NAME = ? AND R.RDB$FIELD_NAME = ?");
    st.SetText(0, tabela).SetText(1, campo);
    auto c = st.Abre();
    if (!c.Proxima()) return false;
    tipo = c.IsNull(0) ? -1 : c.GetSmallInt(0);
    tamanho = c.IsNull(1) ? 0 : c.GetSmallInt(1);
    return true;
}

}  // namespace

int TamanhoCampo(Transaction& tr, std::string_view tabela, std::string_view campo) {
    int tipo = 0, tamanho = 0;
    return DescreveCampo(tr, tabela, campo, tipo, tamanho) ? tamanho : 0;
}

int CodigoTipoCampo(Transaction& tr, std::string_view tabela, std::string_view campo) {
    int tipo = -1, tamanho = 0;
    return DescreveCampo(tr, tabela, campo, tipo, tamanho) ? tipo : -1;
}

std::string NomeTipoCampo(int codigo) {
    switch (codigo) {
        case 7: return "SMALLINT";
        case 8: return "INTEGER";
        case 9: return "QUAD";
        case 10: return "FLOAT";
        case 11: return "D_FLOAT";
        case 12: return "DATE";
        case 13: return "TIME";
        case 14: return "CHAR";
        case 16: return "INT64";
        case 27: return "DOUBLE";
        case 35: return "TIMESTAMP";
        case 37: return "VARCHAR";
        case 40: return "CSTRING";
        case 261: return "BLOB";
        default: return "UNKNOWN";
    }
}

bool TipoCampoIgual(Transaction& tr, std::string_view tabela, std::string_view campo,
                    std::string_view tipo) {
    const int codigo = CodigoTipoCampo(tr, tabela, campo);
    if (codigo < 0) return false;
    const std::string nome = NomeTipoCampo(codigo);
    return IgualSemCaixa(nome, tipo);
}

std::string SqlAlteraTamanhoCampo(std::string_view tabela, std::string_view campo, int tamanho) {
    if (tamanho < 1 || tamanho > 32765) throw std::invalid_argument("tamanho de campo inválido");
    return "ALTER TABLE " + Identificador(tabela) + " ALTER COLUMN " + Identificador(campo) +
           " TYPE VARCHAR(" + std::to_string(tamanho) + ")";
}

std::string SqlAdicionaCampo(std::string_view tabela, std::string_view campo,
                             std::string_view tipo) {
    return "ALTER TABLE " + Identificador(tabela) + " ADD " + Identificador(campo) + " " +
           TipoValidado(tipo);
}

std::string SqlAlteraTipoCampo(std::string_view tabela, std::string_view campo,
                               std::string_view tipo) {
    return "ALTER TABLE " + Identificador(tabela) + " ALTER " + Identificador(campo) + " TYPE " +
           TipoValidado(tipo);
}

std::string SqlCriaGerador(std::string_view gerador) {
    return "CREATE SEQUENCE " + Identificador(gerador);
}

std::vector<std::string>
CriacaoGerador(std::string_view gerador,
               const std::vector<std::pair<std::string_view, std::string_view>>& colunas) {
    const std::string g = Identificador(gerador);
    // Moved by a difference through GEN_ID, which means the same on every
    // server version (what follows RESTART WITH changed between versions).
    std::string bloco = "EXECUTE BLOCK AS DECLARE M BIGINT = 0; DECLARE C BIGINT; BEGIN ";
    for (const auto& [tabela, coluna] : colunas)
        bloco += "SELECT MAX(" + Identificador(coluna) + ") FROM " + Identificador(tabela) +
                 " INTO :C; IF (C > M) THEN M = C; ";
    bloco += "M = GEN_ID(" + g + ", M - GEN_ID(" + g + ", 0)); END";
    return {SqlCriaGerador(g), bloco};
}

std::vector<std::string> AlteracoesDWNHISTORY() {
    static const std::pair<const char*, const char*> campos[] = {
        {"DWN_ARQBAIXAR", "INTEGER"},  {"DWN_ARQBAIXADO", "INTEGER"},
        {"DWN_BYTESBAIXAR", "BIGINT"}, {"DWN_BYTESBAIXADO", "BIGINT"},
        {"DWN_ARQCONVOGG", "INTEGER"}, {"DWN_ARQIMPORTADO", "INTEGER"},
        {"DWN_FALHASDOWN", "INTEGER"}, {"DWN_FALHASOGG", "INTEGER"},
        {"DWN_FALHASXML", "INTEGER"},  {"DWN_FALHASIMP", "INTEGER"},
        {"DWN_AVDUPIMP", "INTEGER"},   {"DWN_BYTESTIMEOUT", "BIGINT"},
    };
    std::vector<std::string> r;
    for (const auto& [campo, tipo] : campos)
        r.push_back(SqlAlteraTipoCampo("DWNHISTORY", campo, tipo));
    return r;
}

std::vector<std::string> AlteracoesPABX() {
    return {SqlAdicionaCampo("PABX", "PAB_SDCARDTOTAL", "BIGINT"),
            SqlAdicionaCampo("PABX", "PAB_SDCARDFREE", "BIGINT"),
            SqlAdicionaCampo("PABX", "PAB_SDCARDUSED", "BIGINT"),
            SqlAdicionaCampo("PABX", "PAB_ULTVERIFSDC", "TIMESTAMP"),
            SqlAdicionaCampo("PABX", "PAB_ULTALERTSDC", "TIMESTAMP")};
}

std::int32_t InsereComProximoCodigo(Transaction& tr, std::string_view tabela,
                                    std::string_view coluna,
                                    const std::function<void(Transaction&, std::int32_t)>& insere,
                                    int tentativas) {
    const std::string sqlMax =
        "SELECT MAX(" + Identificador(coluna) + ") FROM " + Identificador(tabela);
    std::int32_t anterior = 0;
    for (int tentativa = 1;; ++tentativa) {
        std::int32_t codigo = 1;
        {
            Statement st(tr, sqlMax);
            auto c = st.Abre();
            if (c.Proxima() && !c.IsNull(0)) {
                const std::int64_t maior = c.GetBigInt(0);
                if (maior >= std::numeric_limits<std::int32_t>::max())
                    throw std::overflow_error("códigos esgotados em " + std::string(tabela) + "." +
                                              std::string(coluna));
                codigo = static_cast<std::int32_t>(maior + 1);
            }
        }
        tr.Executa("SAVEPOINT VZ_PROXIMO_CODIGO");
        // Whatever `insere` throws, the savepoint is undone before it leaves.
        auto desfaz = [&tr] {
            tr.Executa("ROLLBACK TO SAVEPOINT VZ_PROXIMO_CODIGO");
            tr.Executa("RELEASE SAVEPOINT VZ_PROXIMO_CODIGO");
        };
        try {
            insere(tr, codigo);
            tr.Executa("RELEASE SAVEPOINT VZ_PROXIMO_CODIGO");
            return codigo;
        } catch (const FirebirdError& e) {
            desfaz();
            // A violation while the highest code stayed the same is another key's
            // (a duplicate login, say): trying again would meet it again.
            if (!e.ChaveDuplicada() || codigo == anterior || tentativa >= tentativas) throw;
            anterior = codigo;
        } catch (...) {
            desfaz();
            throw;
        }
    }
}

AvisoEmLote::AvisoEmLote(Attachment& unidade) : unidade_(&unidade) {
    unidade.Executa("EXECUTE BLOCK AS DECLARE R INTEGER; BEGIN "
                    "R = RDB$SET_CONTEXT('USER_SESSION', 'VERUZADU_AVISO_EM_LOTE', '1'); END");
}

AvisoEmLote::~AvisoEmLote() {
    try {
        Encerra();
    } catch (const FirebirdError&) {
    }
}

void AvisoEmLote::Encerra() {
    if (!unidade_) return;
    Attachment& att = *unidade_;
    unidade_ = nullptr;
    // The commit of this block relays once, through the commit trigger, when
    // the batch changed recordings.
    att.Executa("EXECUTE BLOCK AS DECLARE R INTEGER; BEGIN "
                "R = RDB$SET_CONTEXT('USER_SESSION', 'VERUZADU_AVISO_EM_LOTE', NULL); "
                "IF (RDB$GET_CONTEXT('USER_SESSION', 'VERUZADU_GRVGRAVACAO_PENDENTE') IS NOT NULL) "
                "THEN BEGIN "
                "R = RDB$SET_CONTEXT('USER_SESSION', 'VERUZADU_GRVGRAVACAO_PENDENTE', NULL); "
                "R = RDB$SET_CONTEXT('USER_TRANSACTION', 'VERUZADU_GRVGRAVACAO', '1'); END END");
}
