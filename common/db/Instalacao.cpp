#include "common/db/Instalacao.h"

#include "common/CifraTexto.h"
#include "common/Texto.h"

#include "common/db/Esquema.h"
#include "common/db/FirebirdError.h"
#include "common/db/Script.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string_view Apara(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

} // namespace

// ------------------------------------------------------------------- aliases

namespace {

struct Trava {
    int fd = -1;
    explicit Trava(const fs::path& arquivo) {
        const fs::path nome = arquivo.string() + ".veruzadu.lock";
        fd = ::open(nome.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0)
            throw std::runtime_error("não foi possível travar " + nome.string() + ": " + std::strerror(errno));
    }
    ~Trava() {
        if (fd >= 0)
            ::close(fd);
    }
};

std::vector<std::string> LeLinhas(const fs::path& arquivo) {
    std::vector<std::string> linhas;
    std::ifstream in(arquivo);
    if (!in && fs::exists(arquivo))
        throw std::runtime_error("não foi possível ler " + arquivo.string());
    for (std::string l; std::getline(in, l);)
        linhas.push_back(l);
    return linhas;
}

// The alias a line defines ("NAME = path", outside comments) and its path.
bool LinhaDeAlias(const std::string& linha, std::string_view alias, std::string* caminho) {
    std::string_view l = Apara(linha);
    if (l.empty() || l.front() == '#')
        return false;
    const auto igual = l.find('=');
    if (igual == std::string_view::npos)
        return false;
    std::string_view nome = Apara(l.substr(0, igual));
    if (nome.size() != alias.size() ||
        !std::equal(nome.begin(), nome.end(), alias.begin(), [](char a, char b) {
            return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
        }))
        return false;
    if (caminho) {
        std::string_view resto = Apara(l.substr(igual + 1));
        const auto comentario = resto.find('#');
        *caminho = std::string(Apara(resto.substr(0, comentario)));
    }
    return true;
}

// Writes beside the file and renames over it, keeping its mode and owner.
void GravaLinhas(const fs::path& arquivo, const std::vector<std::string>& linhas) {
    const fs::path temp = arquivo.string() + ".veruzadu.tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        for (const auto& l : linhas)
            out << l << '\n';
        out.flush();
        if (!out)
            throw std::runtime_error("não foi possível gravar " + temp.string());
    }
    struct stat st {};
    const bool existia = ::stat(arquivo.c_str(), &st) == 0;
    if (existia) {
        ::chmod(temp.c_str(), st.st_mode & 07777);
        if (::chown(temp.c_str(), st.st_uid, st.st_gid) != 0) {
            // Not root: the file stays ours, readable as before.
        }
    } else {
        ::chmod(temp.c_str(), 0644);
    }
    // The server reloads the file when its modification time, in whole
    // seconds, changes: a second change within the same second would go
    // unseen. Each write moves the time at least one second forward.
    if (existia) {
        struct timespec tempos[2];
        tempos[0].tv_sec = 0;
        tempos[0].tv_nsec = UTIME_OMIT;
        tempos[1].tv_sec = std::max<time_t>(::time(nullptr), st.st_mtim.tv_sec + 1);
        tempos[1].tv_nsec = 0;
        ::utimensat(AT_FDCWD, temp.c_str(), tempos, 0);
    }
    fs::rename(temp, arquivo);
}

void ValidaAlias(std::string_view alias) {
    if (alias.empty() || !std::all_of(alias.begin(), alias.end(), [](unsigned char c) {
            return std::isalnum(c) || c == '_' || c == '-' || c == '.';
        }))
        throw std::invalid_argument("alias inválido: " + std::string(alias));
}

} // namespace

std::string CaminhoDoAlias(const fs::path& arquivoAliases, std::string_view alias) {
    std::string caminho;
    for (const auto& l : LeLinhas(arquivoAliases))
        if (LinhaDeAlias(l, alias, &caminho))
            return caminho;
    return {};
}

bool RemoveAlias(const fs::path& arquivoAliases, std::string_view alias) {
    ValidaAlias(alias);
    Trava trava(arquivoAliases);
    auto linhas = LeLinhas(arquivoAliases);
    const auto antes = linhas.size();
    std::erase_if(linhas, [&](const std::string& l) { return LinhaDeAlias(l, alias, nullptr); });
    if (linhas.size() == antes)
        return false;
    GravaLinhas(arquivoAliases, linhas);
    return true;
}

namespace {

// Adds "alias = caminho"; false when it was there already. The caller holds the lock.
bool AdicionaAlias(const fs::path& arquivoAliases, std::string_view alias, const fs::path& caminho) {
    ValidaAlias(alias);
    auto linhas = LeLinhas(arquivoAliases);
    std::string existente;
    for (const auto& l : linhas)
        if (LinhaDeAlias(l, alias, &existente)) {
            if (fs::path(existente).lexically_normal() == caminho.lexically_normal())
                return false;
            throw std::runtime_error("o alias " + std::string(alias) + " já aponta para " + existente + " em " +
                                     arquivoAliases.string());
        }
    linhas.push_back(std::string(alias) + " = " + caminho.string());
    GravaLinhas(arquivoAliases, linhas);
    return true;
}

// ------------------------------------------------------------------ databases

// DDL cannot take parameters: user names are checked, passwords quoted.
std::string NomeUsuarioValidado(const std::string& nome) {
    if (nome.empty() || nome.size() > 31 || !std::all_of(nome.begin(), nome.end(), [](unsigned char c) {
            return std::isalnum(c) || c == '_';
        }))
        throw std::invalid_argument("nome de usuário inválido: " + nome);
    std::string r;
    for (char c : nome)
        r.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    return r;
}

std::string Literal(std::string_view s) {
    std::string r = "'";
    for (char c : s) {
        r.push_back(c);
        if (c == '\'')
            r.push_back('\'');
    }
    return r + "'";
}

struct Banco {
    std::string descricao;
    fs::path arquivo;
    bool principal;
    int unidade; // for unit databases: brought its PABX row
};

} // namespace

std::vector<std::string> InstalaBancos(const OpcoesInstalacao& o) {
    std::vector<std::string> feito;
    const std::string usuario = NomeUsuarioValidado(o.usuario);
    const fs::path pasta = fs::absolute(o.pastaDados).lexically_normal();
    const fs::path principal = pasta / std::string(ArquivoBancoPrincipal);
    auto conexao = [&](const std::string& caminho) { return MontaStringConexao(o.servidor, o.porta, caminho); };
    // A unit database reads the main one through the server the server itself runs on.
    std::string conexaoPrincipal = "localhost";
    if (o.porta != 0 && o.porta != 3050)
        conexaoPrincipal += "/" + std::to_string(o.porta);
    conexaoPrincipal += ":" + o.alias;

    // One installation at a time per server: two runs would race on the
    // user, on the right to create databases and on the alias file.
    Trava trava(o.arquivoAliases);
    if (AdicionaAlias(o.arquivoAliases, o.alias, principal))
        feito.push_back("alias " + o.alias + " = " + principal.string() + " em " + o.arquivoAliases.string());

    std::vector<Banco> bancos{{"banco principal", principal, true, 0},
                              {"modelo dos bancos das centrais", pasta / NomeArquivoBancoPABX(0), false, 0}};
    for (int u : o.unidades) {
        if (u < 1 || u > 999)
            throw std::invalid_argument("código de central inválido: " + std::to_string(u));
        bancos.push_back({"banco da central " + std::to_string(u), pasta / NomeArquivoBancoPABX(u), false, u});
    }
    std::erase_if(bancos, [](const Banco& b) { return fs::exists(b.arquivo); });

    // The user is checked on an administrator's attachment; creating a
    // database needs one anyway, to let the program's user create it.
    // With nothing to create, an attachment of the program's user to the
    // main database shows the user is there with this password.
    if (bancos.empty()) {
        try {
            Attachment::Conecta({conexao(o.alias), o.usuario, o.senha}).Desconecta();
            return feito;
        } catch (const FirebirdError& e) {
            if (!e.LoginRecusado())
                throw;
        }
    }

    const fs::path rascunho = pasta / "VERUZADU_INSTALACAO.FDB";
    std::error_code ec;
    if (fs::exists(rascunho, ec)) {
        // Left by an interrupted run: the server drops it for us.
        try {
            Attachment::Conecta({conexao(rascunho.string()), o.adminUsuario, o.adminSenha}).ApagaBanco();
        } catch (const FirebirdError&) {
        }
    }
    Attachment admin = Attachment::Cria({conexao(rascunho.string()), o.adminUsuario, o.adminSenha});
    struct Apaga {
        Attachment& a;
        ~Apaga() {
            try {
                a.ApagaBanco();
            } catch (const FirebirdError&) {
            }
        }
    } apaga{admin};

    bool existe = false, podiaCriar = false;
    {
        Transaction tr(admin, true);
        Statement st(tr, "SELECT 1 FROM SEC$USERS WHERE SEC$USER_NAME = ?");
        st.SetText(0, usuario);
        auto c = st.Abre();
        existe = c.Proxima();
        Statement st2(tr, "SELECT 1 FROM SEC$DB_CREATORS WHERE SEC$USER = ? AND SEC$USER_TYPE = 8");
        st2.SetText(0, usuario);
        auto c2 = st2.Abre();
        podiaCriar = c2.Proxima();
    }
    if (!existe) {
        admin.Executa("CREATE USER " + usuario + " PASSWORD " + Literal(o.senha) +
                      " FIRSTNAME 'Veruzadu' LASTNAME 'Quorvanta'");
        feito.push_back("usuário " + usuario + " criado");
    }
    if (bancos.empty()) {
        // The user was there but refused: another password.
        throw std::runtime_error("o usuário " + usuario + " existe no servidor com outra senha");
    }

    // The right stays: the console creates the databases of units added later,
    // and a restore needs it too.
    if (!podiaCriar)
        admin.Executa("GRANT CREATE DATABASE TO USER " + usuario);

    for (const auto& b : bancos) {
        if (b.unidade > 0) {
            try {
                CriaBancoPABX({conexao(b.arquivo.string()), o.usuario, o.senha}, b.unidade, conexaoPrincipal);
            } catch (const FirebirdError& e) {
                if (e.LoginRecusado())
                    throw std::runtime_error("o usuário " + usuario + " existe no servidor com outra senha");
                throw;
            }
            feito.push_back(b.descricao + " criado: " + b.arquivo.string());
            continue;
        }
        Attachment att = [&] {
            try {
                return Attachment::Cria({conexao(b.arquivo.string()), o.usuario, o.senha});
            } catch (const FirebirdError& e) {
                if (e.LoginRecusado())
                    throw std::runtime_error("o usuário " + usuario + " existe no servidor com outra senha");
                throw;
            }
        }();
        try {
            ExecutaScript(att, b.principal ? ScriptBancoPrincipal() : ScriptBancoPABX(conexaoPrincipal));
            if (b.unidade > 0)
                att.Executa("EXECUTE PROCEDURE UPDATEPABX(" + std::to_string(b.unidade) + ")");
        } catch (...) {
            // A half-built database would pass for installed on the next run.
            try {
                att.ApagaBanco();
            } catch (const FirebirdError&) {
            }
            throw;
        }
        att.Desconecta();
        feito.push_back(b.descricao + " criado: " + b.arquivo.string());
    }
    return feito;
}

bool CriaBancoPABX(const ParametrosConexao& p, int codigo, std::string_view conexaoPrincipal)
{
    const std::string update = "EXECUTE PROCEDURE UPDATEPABX(" + std::to_string(codigo) + ")";
    try {
        Attachment att = Attachment::Conecta(p);
        att.Executa(update);
        att.Desconecta();
        return false;
    } catch (const FirebirdError& e) {
        // A refused login is no missing file; anything else: try to make it.
        if (e.LoginRecusado() || e.ConexaoPerdida())
            throw;
    }
    Attachment att = Attachment::Cria(p);
    try {
        ExecutaScript(att, ScriptBancoPABX(conexaoPrincipal));
        att.Executa(update);
    } catch (...) {
        // A half-built database would pass for a good one next time.
        try {
            att.ApagaBanco();
        } catch (const FirebirdError&) {
        }
        throw;
    }
    att.Desconecta();
    return true;
}

bool CriaPrimeiroAdministrador(const ParametrosConexao& principal, const std::string& senha)
{
    if (senha.empty() || ContaCaracteresUtf8(senha) > 21)
        throw std::invalid_argument("a senha do administrador deve ter de 1 a 21 caracteres");
    Attachment att = Attachment::Conecta(principal);
    Transaction tr(att);
    {
        Statement st(tr, "SELECT FIRST 1 1 FROM USUARIO");
        auto c = st.Abre();
        if (c.Proxima())
            return false;
    }
    InsereComProximoCodigo(tr, "USUARIO", "USR_CODIGO", [&](Transaction& t, std::int32_t codigo) {
        Statement st(t, "INSERT INTO USUARIO (USR_CODIGO, USR_NOME, USR_LOGIN, USR_SENHA, USR_PERFIL, USR_GRUPO) "
                        "VALUES (?, 'Administrador', 'ADMIN', ?, 1, '')");
        st.SetInt(0, codigo).SetText(1, CriptografaTexto(senha));
        st.Executa();
    });
    tr.Commit();
    return true;
}
