#include "common/db/Instalacao.h"
#include "common/Texto.h"

#include "common/CifraTexto.h"

#include "common/db/Esquema.h"
#include "common/db/FirebirdError.h"
#include "common/db/Script.h"
#include "common/Arquivos.h"

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

// ------------------------------------------------------------------- aliases

namespace {

// The alias file's lock, shared by every run of the installer on the machine.
class Trava final {
  public:
    explicit Trava(const fs::path& arquivo) : trava_(arquivo.string() + ".veruzadu.lock", 0600) {
        if (!trava_.Ok())
            throw std::runtime_error("não foi possível travar " + arquivo.string() +
                                     ".veruzadu.lock: " + std::strerror(trava_.Erro()));
    }

  private:
    TravaArquivo trava_;
};

std::vector<std::string> LeLinhas(const fs::path& arquivo) {
    std::vector<std::string> linhas;
    std::ifstream in(arquivo);
    if (!in && fs::exists(arquivo))
        throw std::runtime_error("não foi possível ler " + arquivo.string());
    for (std::string l; std::getline(in, l);) linhas.push_back(l);
    return linhas;
}

// The alias a line defines ("NAME = path", outside comments) and its path.
bool LinhaDeAlias(const std::string& linha, std::string_view alias, std::string* caminho) {
    std::string_view l = AparaBrancos(linha);
    if (l.empty() || l.front() == '#') return false;
    const auto igual = l.find('=');
    if (igual == std::string_view::npos) return false;
    std::string_view nome = AparaBrancos(l.substr(0, igual));
    if (!IgualSemCaixa(nome, alias)) return false;
    if (caminho) {
        std::string_view resto = AparaBrancos(l.substr(igual + 1));
        const auto comentario = resto.find('#');
        *caminho = std::string(AparaBrancos(resto.substr(0, comentario)));
    }
    return true;
}

// Writes beside the file, flushed to disk, and renames over it keeping its
// mode and owner: a crash leaves the old file or the new one, never a torn one.
void GravaLinhas(const fs::path& arquivo, const std::vector<std::string>& linhas) {
    std::string texto;
    for (const auto& l : linhas) texto += l + '\n';
    // The server reloads the file when its modification time, in whole
    // seconds, changes: a second change within the same second would go
    // unseen. Each write moves the time at least one second forward.
    if (!SubstituiArquivo(arquivo, texto, {.modoNovo = 0644, .avancaHora = true}))
        throw std::runtime_error("não foi possível gravar " + arquivo.string() + ": " +
                                 std::strerror(errno));
}

void ValidaAlias(std::string_view alias) {
    if (alias.empty() || !std::all_of(alias.begin(), alias.end(), [](unsigned char c) {
            return std::isalnum(c) || c == '_' || c == '-' || c == '.';
        }))
        throw std::invalid_argument("alias inválido: " + std::string(alias));
}

}  // namespace

std::string CaminhoDoAlias(const fs::path& arquivoAliases, std::string_view alias) {
    std::string caminho;
    for (const auto& l : LeLinhas(arquivoAliases))
        if (LinhaDeAlias(l, alias, &caminho)) return caminho;
    return {};
}

bool RemoveAlias(const fs::path& arquivoAliases, std::string_view alias) {
    ValidaAlias(alias);
    Trava trava(arquivoAliases);
    auto linhas = LeLinhas(arquivoAliases);
    const auto antes = linhas.size();
    std::erase_if(linhas, [&](const std::string& l) { return LinhaDeAlias(l, alias, nullptr); });
    if (linhas.size() == antes) return false;
    GravaLinhas(arquivoAliases, linhas);
    return true;
}

namespace {

// Adds "alias = caminho"; false when it was there already. The caller holds the lock.
bool AdicionaAlias(const fs::path& arquivoAliases, std::string_view alias,
                   const fs::path& caminho) {
    ValidaAlias(alias);
    auto linhas = LeLinhas(arquivoAliases);
    std::string existente;
    for (const auto& l : linhas)
        if (LinhaDeAlias(l, alias, &existente)) {
            if (fs::path(existente).lexically_normal() == caminho.lexically_normal()) return false;
            throw std::runtime_error("o alias " + std::string(alias) + " já aponta para " +
                                     existente + " em " + arquivoAliases.string());
        }
    linhas.push_back(std::string(alias) + " = " + caminho.string());
    GravaLinhas(arquivoAliases, linhas);
    return true;
}

// ------------------------------------------------------------------ databases

// DDL cannot take parameters: user names are checked, passwords quoted.
std::string NomeUsuarioValidado(const std::string& nome) {
    if (nome.empty() || nome.size() > 31 ||
        !std::all_of(nome.begin(), nome.end(),
                     [](unsigned char c) { return std::isalnum(c) || c == '_'; }))
        throw std::invalid_argument("nome de usuário inválido: " + nome);
    return Maiusculas(nome);
}

std::string Literal(std::string_view s) {
    std::string r = "'";
    for (char c : s) {
        r.push_back(c);
        if (c == '\'') r.push_back('\'');
    }
    return r + "'";
}

// A database is built under a name of its own and moved to its real name only
// once its script (and, for a unit, its PABX row) is complete: a run killed
// half-way leaves that name, never a half-built database under the real one,
// which the next run would take for installed.
fs::path NomeEmConstrucao(const fs::path& arquivo) { return arquivo.string() + ".instalando"; }

// Drops what a killed run left under the building name. The server drops it
// (it owns the file); its attachment of the killed run may still be closing,
// so a few tries a short while apart. A file the server cannot open as a
// database is removed here.
void ApagaEmConstrucao(const ParametrosConexao& admin, const fs::path& arquivo) {
    for (int tentativa = 1;; ++tentativa) {
        try {
            Attachment::Conecta(admin).ApagaBanco();
            return;
        } catch (const FirebirdError&) {
            std::error_code ec;
            if (!fs::exists(arquivo, ec)) return;
            if (tentativa >= 20) {
                if (fs::remove(arquivo, ec)) return;
                throw std::runtime_error("não foi possível apagar o banco incompleto " +
                                         arquivo.string() + ": " + ec.message());
            }
            ::usleep(250000);
        }
    }
}

// The password as it stands inside a quoted literal of the script.
std::string SemAspas(std::string_view s) {
    const std::string l = Literal(s);
    return l.substr(1, l.size() - 2);
}

struct Banco {
    std::string descricao;
    fs::path arquivo;
    bool principal;
    int unidade;  // for unit databases: brought its PABX row
};

}  // namespace

std::vector<std::string> InstalaBancos(const OpcoesInstalacao& o) {
    std::vector<std::string> feito;
    const std::string usuario = NomeUsuarioValidado(o.usuario);
    const fs::path pasta = fs::absolute(o.pastaDados).lexically_normal();
    const fs::path principal = pasta / std::string(ArquivoBancoPrincipal);
    auto conexao = [&](const std::string& caminho) {
        return MontaStringConexao(o.servidor, o.porta, caminho);
    };
    // A unit database reads the main one through the server the server itself runs on.
    std::string conexaoPrincipal = "localhost";
    if (o.porta != 0 && o.porta != 3050) conexaoPrincipal += "/" + std::to_string(o.porta);
    conexaoPrincipal += ":" + o.alias;

    // One installation at a time per server: two runs would race on the
    // user, on the right to create databases and on the alias file.
    Trava trava(o.arquivoAliases);
    if (AdicionaAlias(o.arquivoAliases, o.alias, principal))
        feito.push_back("alias " + o.alias + " = " + principal.string() + " em " +
                        o.arquivoAliases.string());

    std::vector<Banco> bancos{
        {"banco principal", principal, true, 0},
        {"modelo dos bancos das centrais", pasta / NomeArquivoBancoPABX(0), false, 0}};
    for (int u : o.unidades) {
        if (u < 1 || u > 999)
            throw std::invalid_argument("código de central inválido: " + std::to_string(u));
        bancos.push_back(
            {"banco da central " + std::to_string(u), pasta / NomeArquivoBancoPABX(u), false, u});
    }
    std::erase_if(bancos, [](const Banco& b) { return fs::exists(b.arquivo); });

    // The user is checked on an administrator's attachment; creating a
    // database needs one anyway, to let the program's user create it.
    // With nothing to create, an attachment of the program's user to the
    // main database shows the user is there with this password.
    if (bancos.empty()) {
        try {
            Attachment::Conecta({conexao(o.alias), o.usuario, o.senha}).Desconecta();
            // An installation made before the user kept the right gets it now.
            Attachment admin =
                Attachment::Conecta({conexao(o.alias), o.adminUsuario, o.adminSenha});
            bool podeCriar = false;
            {
                Transaction tr(admin, true);
                Statement st(
                    tr, "SELECT 1 FROM SEC$DB_CREATORS WHERE SEC$USER = ? AND SEC$USER_TYPE = 8");
                st.SetText(0, usuario);
                auto c = st.Abre();
                podeCriar = c.Proxima();
            }
            if (!podeCriar) {
                admin.Executa("GRANT CREATE DATABASE TO USER " + usuario);
                feito.push_back("usuário " + usuario + " pode criar bancos");
            }
            admin.Desconecta();
            return feito;
        } catch (const FirebirdError& e) {
            if (!e.LoginRecusado()) throw;
        }
    }

    const fs::path rascunho = pasta / "VERUZADU_INSTALACAO.FDB";
    std::error_code ec;
    if (fs::exists(rascunho, ec)) {
        // Left by an interrupted run: the server drops it for us.
        try {
            Attachment::Conecta({conexao(rascunho.string()), o.adminUsuario, o.adminSenha})
                .ApagaBanco();
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
                          " FIRSTNAME 'Veruzadu' LASTNAME 'Quorvanta'",
                      TextoSecreto{o.senha});
        feito.push_back("usuário " + usuario + " criado");
    }
    if (bancos.empty()) {
        // The user was there but refused: another password.
        throw std::runtime_error("o usuário " + usuario + " existe no servidor com outra senha");
    }

    // Kept after the installation: the service's restores and compaction
    // build the new database file with gbak as this user, and the console
    // creates the databases of units added later.
    if (!podiaCriar) admin.Executa("GRANT CREATE DATABASE TO USER " + usuario);

    for (const auto& b : bancos) {
        const fs::path emConstrucao = NomeEmConstrucao(b.arquivo);
        if (fs::exists(emConstrucao, ec)) {
            ApagaEmConstrucao({conexao(emConstrucao.string()), o.adminUsuario, o.adminSenha},
                              emConstrucao);
            feito.push_back(b.descricao + " incompleto apagado: " + emConstrucao.string());
        }
        Attachment att = [&] {
            try {
                return Attachment::Cria({conexao(emConstrucao.string()), o.usuario, o.senha});
            } catch (const FirebirdError& e) {
                if (e.LoginRecusado())
                    throw std::runtime_error("o usuário " + usuario +
                                             " existe no servidor com outra senha");
                throw;
            }
        }();
        try {
            // The unit's script carries the program's password in its
            // cross-database statements.
            ExecutaScript(att,
                          b.principal ? ScriptBancoPrincipal()
                                      : ScriptBancoPABX(conexaoPrincipal, usuario, o.senha),
                          TextoSecreto{SemAspas(o.senha)});
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
        // Complete: now it may count as installed.
        fs::rename(emConstrucao, b.arquivo);
        feito.push_back(b.descricao + " criado: " + b.arquivo.string());
    }
    return feito;
}

bool CriaBancoPABX(const ParametrosConexao& p, int codigo, std::string_view conexaoPrincipal) {
    const std::string update = "EXECUTE PROCEDURE UPDATEPABX(" + std::to_string(codigo) + ")";
    try {
        Attachment att = Attachment::Conecta(p);
        att.Executa(update);
        att.Desconecta();
        return false;
    } catch (const FirebirdError& e) {
        // A refused login is no missing file; anything else: try to make it.
        if (e.LoginRecusado() || e.ConexaoPerdida()) throw;
    }
    Attachment att = Attachment::Cria(p);
    try {
        // The unit's script carries the program's password in its
        // cross-database statements.
        ExecutaScript(att, ScriptBancoPABX(conexaoPrincipal, p.usuario, p.senha),
                      TextoSecreto{SemAspas(p.senha)});
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

bool CriaPrimeiroAdministrador(const ParametrosConexao& principal, const std::string& senha) {
    if (senha.empty() || ContaCaracteresUtf8(senha) > 21)
        throw std::invalid_argument("a senha do administrador deve ter de 1 a 21 caracteres");
    Attachment att = Attachment::Conecta(principal);
    Transaction tr(att);
    {
        Statement st(tr, "SELECT FIRST 1 1 FROM USUARIO");
        auto c = st.Abre();
        if (c.Proxima()) return false;
    }
    InsereComProximoCodigo(tr, "USUARIO", "USR_CODIGO", [&](Transaction& t, std::int32_t codigo) {
        Statement st(t, "INSERT INTO USUARIO (USR_CODIGO, USR_NOME, USR_LOGIN, USR_SENHA, "
                        "USR_PERFIL, USR_GRUPO) "
                        "VALUES (?, 'Administrador', 'ADMIN', ?, 1, '')");
        st.SetInt(0, codigo).SetText(1, CriptografaTexto(senha));
        st.Executa();
    });
    tr.Commit();
    return true;
}
