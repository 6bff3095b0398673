#include "console/Usuarios.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "common/CifraTexto.h"
#include "common/Texto.h"
#include "common/Traducao.h"
#include "common/db/Firebird.h"
#include "common/db/OperacaoHistorico.h"
#include "console/Historico.h"
#include "console/MDados.h"
#include "console/TextoColuna.h"
#include "console/UtilConsole.h"
#include "console/ValidaCampos.h"

namespace {

struct Recusa {
    std::string mensagem;
};

std::string Texto(const Linha& l, unsigned i) {
    return l.IsNull(i) ? std::string() : Apara(l.GetText(i));
}

// The other administrators' codes, their rows locked until the transaction
// ends: a console demoting or deleting one of them at the same time waits
// and then fails, so at least one administrator always stays.
int OutrosAdministradores(Transaction& tr, int codigo) {
    Statement st(tr, "SELECT USR_CODIGO FROM USUARIO WHERE USR_PERFIL = 1 AND USR_CODIGO <> ? "
                     "WITH LOCK");
    st.SetInt(0, codigo);
    auto c = st.Abre();
    int n = 0;
    while (c.Proxima()) ++n;
    return n;
}

// The next user code: GEN_USR_ID, moved past the highest code when rows were
// added without it (the installation's first administrator).
int ProximoCodigoUsuario(Transaction& tr) {
    long long maior = 0;
    {
        Statement st(tr, "SELECT MAX(USR_CODIGO) FROM USUARIO");
        auto c = st.Abre();
        if (c.Proxima() && !c.IsNull(0)) maior = c.GetBigInt(0);
    }
    Statement st(tr, "SELECT GEN_ID(GEN_USR_ID, CAST(? AS BIGINT)) FROM RDB$DATABASE");
    st.SetBigInt(0, 1);
    long long codigo = 0;
    {
        auto c = st.Abre();
        if (c.Proxima()) codigo = c.GetBigInt(0);
    }
    if (codigo <= maior) {
        st.SetBigInt(0, maior + 1 - codigo);
        auto c = st.Abre();
        if (c.Proxima()) codigo = c.GetBigInt(0);
    }
    if (codigo > INT32_MAX) throw std::overflow_error("USR_CODIGO");
    return static_cast<int>(codigo);
}

}  // namespace

std::vector<ItemUsuario> CarregaUsuarios(MDados& dados) {
    std::vector<ItemUsuario> r;
    dados.Executa([&](Transaction& tr) {
        Statement st(tr,
                     "SELECT USR_CODIGO, USR_NOME, USR_LOGIN, USR_PERFIL, USR_GRUPO FROM USUARIO "
                     "ORDER BY USR_NOME");
        auto c = st.Abre();
        while (c.Proxima()) {
            ItemUsuario u;
            u.codigo = c.GetInt(0);
            u.nome = Texto(c, 1);
            u.login = Texto(c, 2);
            u.perfil = c.IsNull(3) ? 0 : c.GetInt(3);
            u.grupo = c.IsNull(4) ? std::string() : c.GetText(4);
            r.push_back(std::move(u));
        }
    });
    return r;
}

std::vector<std::string> OpcoesGrupo(const std::vector<std::string>& grupos,
                                     const std::vector<std::string>& nomesRamais) {
    std::vector<std::string> r{std::string()};
    std::vector<std::string> g = grupos;
    std::sort(g.begin(), g.end());
    r.insert(r.end(), g.begin(), g.end());
    for (const std::string& n : nomesRamais) r.push_back(Traduz("Ramal") + " " + n);
    return r;
}

int EscolheOpcao(std::vector<std::string>& opcoes, const std::string& grupo) {
    auto i = std::find(opcoes.begin(), opcoes.end(), grupo);
    if (i != opcoes.end()) return static_cast<int>(i - opcoes.begin());
    if (grupo.empty()) return -1;
    opcoes.push_back(grupo);
    return static_cast<int>(opcoes.size()) - 1;
}

std::string VerificaCamposUsuario(const DadosUsuario& d) {
    if (Apara(d.nome).empty()) return Traduz("Informe um nome para o usuário");
    if (ContaCaracteresUtf8(Apara(d.login)) <= 3)
        return Traduz(
            "Informe um identificador contendo pelo menos 4 caracteres para login do usuário");
    if (ContaCaracteresUtf8(Apara(d.senha)) <= 3)
        return Traduz("Informe uma senha contendo pelo menos 4 caracteres para o usuário");
    return {};
}

bool LoginExistente(Transaction& tr, const std::string& login, int codigo) {
    Statement st(tr, "SELECT 1 FROM USUARIO WHERE UPPER(USR_LOGIN) = UPPER(?) AND USR_CODIGO <> ?");
    st.SetText(0, Apara(login)).SetInt(1, codigo);
    auto c = st.Abre();
    return c.Proxima();
}

int ContaOutrosAdministradores(MDados& dados, int codigo) {
    int n = 0;
    dados.Executa([&](Transaction& tr) {
        Statement st(tr, "SELECT COUNT(*) FROM USUARIO WHERE USR_PERFIL = 1 AND USR_CODIGO <> ?");
        st.SetInt(0, codigo);
        auto c = st.Abre();
        if (c.Proxima()) n = c.GetInt(0);
    });
    return n;
}

bool CarregaUsuario(MDados& dados, int codigo, DadosUsuario& d) {
    bool achou = false;
    dados.Executa([&](Transaction& tr) {
        Statement st(tr, "SELECT USR_NOME, USR_LOGIN, USR_SENHA, USR_PERFIL, USR_GRUPO FROM "
                         "USUARIO WHERE USR_CODIGO = ?");
        st.SetInt(0, codigo);
        auto c = st.Abre();
        if (!c.Proxima()) return;
        achou = true;
        d.nome = c.IsNull(0) ? std::string() : c.GetText(0);
        d.login = c.IsNull(1) ? std::string() : c.GetText(1);
        d.senha = DescriptografaTexto(Texto(c, 2));
        d.perfil = c.IsNull(3) ? 0 : c.GetInt(3);
        d.grupo = c.IsNull(4) ? std::string() : c.GetText(4);
    });
    return achou;
}

bool SalvaUsuario(MDados& dados, int& codigo, int perfilOriginal, const DadosUsuario& d,
                  const std::string& nomeListado, const Responsavel& quem, std::string& mensagem) {
    mensagem = VerificaCamposUsuario(d);
    if (!mensagem.empty()) return false;
    const std::string nome = Apara(d.nome);
    const std::string login = Apara(d.login);
    const std::string senha = Apara(d.senha);
    const std::string usado = Traduz("Este login já está sendo usado por outro usuário");
    const std::string falha = Traduz("Não foi possível salvar informações do usuário");
    if (!SoLatin1(senha)) {
        mensagem = Traduz("Senha inválida");
        return false;
    }
    int novo = codigo;
    try {
        dados.Executa([&](Transaction& tr) {
            if (LoginExistente(tr, login, codigo)) throw Recusa{usado};
            const std::string cifra = CriptografaTexto(senha);
            if (codigo > 0) {
                // The profile the row holds now (another console may have
                // changed it since loading), the row locked until the end.
                int perfilAtual = perfilOriginal;
                {
                    Statement st(tr,
                                 "SELECT USR_PERFIL FROM USUARIO WHERE USR_CODIGO = ? WITH LOCK");
                    st.SetInt(0, codigo);
                    auto c = st.Abre();
                    if (!c.Proxima())
                        throw Recusa{falha + "\n" + Traduz("O usuário não existe mais")};
                    perfilAtual = c.IsNull(0) ? 0 : c.GetInt(0);
                }
                if (d.perfil != 1 && (perfilAtual == 1 || perfilOriginal == 1) &&
                    OutrosAdministradores(tr, codigo) < 1)
                    throw Recusa{
                        Traduz("Deve existir pelo menos um usuário com perfil administrador")};
                Statement st(tr, "UPDATE USUARIO SET USR_NOME = ?, USR_LOGIN = ?, USR_SENHA = ?, "
                                 "USR_PERFIL = ?, USR_GRUPO = ? WHERE USR_CODIGO = ?");
                st.SetText(0, nome)
                    .SetText(1, login)
                    .SetText(2, cifra)
                    .SetInt(3, d.perfil)
                    .SetText(4, d.grupo)
                    .SetInt(5, codigo);
                if (st.Executa() != 1)
                    throw Recusa{falha + "\n" + Traduz("O usuário não existe mais")};
            } else {
                novo = ProximoCodigoUsuario(tr);
                Statement st(tr, "INSERT INTO USUARIO (USR_CODIGO, USR_NOME, USR_LOGIN, USR_SENHA, "
                                 "USR_PERFIL, USR_GRUPO) VALUES (?, ?, ?, ?, ?, ?)");
                st.SetInt(0, novo)
                    .SetText(1, nome)
                    .SetText(2, login)
                    .SetText(3, cifra)
                    .SetInt(4, d.perfil)
                    .SetText(5, d.grupo);
                st.Executa();
            }
            InsereHistorico(tr, quem.codigo, quem.nome,
                            codigo > 0 ? Operacao::EditadoUsuario : Operacao::InseridoUsuario,
                            codigo > 0 ? nomeListado : nome);
        });
    } catch (const Recusa& r) {
        mensagem = r.mensagem;
        return false;
    } catch (const SemConexaoBD&) {
        mensagem.clear();
        return false;
    } catch (const FirebirdError& e) {
        GravaLogConsole("Usuário " + login + " não salvo: " + e.what());
        // The login index refused a login another console saved meanwhile.
        const bool loginRepetido =
            e.ChaveDuplicada() &&
            std::string(e.what()).find("UNQ_USUARIO_LOGIN") != std::string::npos;
        mensagem = loginRepetido ? usado : falha + "\n" + e.what();
        return false;
    } catch (const std::exception& e) {
        mensagem = falha + "\n" + e.what();
        return false;
    }
    codigo = novo;
    return true;
}

std::string TextoUltimoAdministrador() {
    return Traduz(
        "Este usuário não pode ser excluido pois é necessário pelo menos um usuário com perfil "
        "administrador.");
}

ResultadoRemocao RemoveUsuario(MDados& dados, int codigo, const std::string& nomeListado,
                               const Responsavel& quem, std::string& mensagem) {
    const std::string falha = Traduz("Não foi possível apagar o usuário");
    bool ultimo = false;
    try {
        dados.Executa([&](Transaction& tr) {
            int perfil = 0;
            {
                Statement st(tr, "SELECT USR_PERFIL FROM USUARIO WHERE USR_CODIGO = ? WITH LOCK");
                st.SetInt(0, codigo);
                auto c = st.Abre();
                if (!c.Proxima()) throw Recusa{falha + "\n" + Traduz("O usuário não existe mais")};
                perfil = c.IsNull(0) ? 0 : c.GetInt(0);
            }
            if (perfil == 1 && OutrosAdministradores(tr, codigo) < 1) {
                ultimo = true;
                return;
            }
            Statement st(tr, "DELETE FROM USUARIO WHERE USR_CODIGO = ?");
            st.SetInt(0, codigo);
            st.Executa();
            InsereHistorico(tr, quem.codigo, quem.nome, Operacao::RemovidoUsuario, nomeListado);
        });
        if (ultimo) {
            mensagem = TextoUltimoAdministrador();
            return ResultadoRemocao::UltimoAdministrador;
        }
        return ResultadoRemocao::Removido;
    } catch (const Recusa& r) {
        mensagem = r.mensagem;
    } catch (const SemConexaoBD&) {
        mensagem.clear();
    } catch (const std::exception& e) {
        GravaLogConsole("Usuário " + std::to_string(codigo) + " não removido: " + e.what());
        mensagem = falha + "\n" + e.what();
    }
    return ResultadoRemocao::Falhou;
}
