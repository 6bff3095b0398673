#include "console/Acesso.h"

#include "common/CifraTexto.h"
#include "common/Texto.h"
#include "common/Traducao.h"
#include "common/db/Firebird.h"
#include "console/MDados.h"
#include "console/Mensageiro.h"
#include "console/TextoColuna.h"
#include "console/UtilConsole.h"

namespace {
constexpr std::size_t LarguraLogin = 20;
constexpr std::size_t LarguraSenha = 30;
}  // namespace

bool PossuiAutorizacao(int nivel, int perfil) {
    if (perfil != 1 && perfil != 2) return false;
    return nivel >= perfil;
}

bool VerificaPermissao(int nivel, int usuarioCodigo, int usuarioPerfil, Mensageiro& mensagens) {
    if (usuarioCodigo < 1) return false;
    if (!PossuiAutorizacao(nivel, usuarioPerfil)) {
        mensagens.Mostra(TipoMensagem::Erro,
                         Traduz("Usuário não possui autorização de acesso à esta função"));
        return false;
    }
    return true;
}

std::string VerificaNovaSenha(const std::string& nova, const std::string& confirmacao) {
    const std::string n = Apara(nova), c = Apara(confirmacao);
    if (n.empty()) return Traduz("Informe a nova senha");
    if (c.empty()) return Traduz("Informe a confirmação de senha");
    if (n != c) return Traduz("Senha e confirmação da senha são diferentes");
    return {};
}

bool Acesso::VerificaUsuario(const std::string& loginDigitado, const std::string& senhaDigitada,
                             Campo* foco) {
    CodigoConfirmado = 0;
    PerfilConfirmado = 0;
    const std::string login = Apara(loginDigitado), senha = Apara(senhaDigitada);
    std::string mensagem;
    Campo campo = Campo::Nenhum;
    if (login.empty()) {
        mensagem = "Informe o login do usuário";
        campo = Campo::Login;
    } else if (senha.empty()) {
        mensagem = "Informe a senha do usuário";
        campo = Campo::Senha;
    } else if (!ConfirmaLoginSenha(login, CriptografaTexto(senha))) {
        mensagem = "Login inexistente ou senha incorreta";
        campo = Campo::Login;
    }
    if (foco) *foco = campo;
    if (mensagem.empty()) return true;
    mensagens_.Mostra(TipoMensagem::Erro, Traduz(mensagem));
    return false;
}

bool Acesso::ConfirmaLoginSenha(const std::string& login, const std::string& cifra) {
    // A value the columns cannot hold names no user.
    if (!CabeNaColuna(login, LarguraLogin) || !CabeNaColuna(cifra, LarguraSenha)) return false;
    auto procura = [&](const std::string& l) {
        bool achou = false;
        dados_.Executa([&](Transaction& tr) {
            Statement st(tr, "SELECT USR_NOME, USR_CODIGO, USR_PERFIL FROM USUARIO "
                             "WHERE USR_LOGIN = ? AND USR_SENHA = ?");
            st.SetText(0, l).SetText(1, cifra);
            auto c = st.Abre();
            if (c.Proxima()) {
                achou = true;
                NomeConfirmado = c.IsNull(0) ? std::string() : c.GetText(0);
                CodigoConfirmado = c.GetInt(1);
                PerfilConfirmado = c.IsNull(2) ? 0 : c.GetInt(2);
            }
        });
        return achou;
    };
    try {
        if (procura(login)) return true;
        const std::string maiusculo = Maiusculas(login);
        if (maiusculo == "ADMIN" && login != maiusculo) return procura(maiusculo);
    } catch (const SemConexaoBD&) {
    } catch (const FirebirdError& e) {
        // A lost connection is the main window's to report; anything else is logged.
        if (!e.ConexaoPerdida()) GravaLogConsole(std::string("Login: ") + e.what());
    }
    return false;
}

bool Acesso::TrocaSenha(const std::string& novaSenha) {
    const std::string senha = Apara(novaSenha);
    if (senha.empty() || static_cast<int>(ContaCaracteresUtf8(senha)) > TamanhoMaximoSenha) {
        mensagens_.Mostra(TipoMensagem::Erro, Traduz("Senha inválida"));
        return false;
    }
    const std::string cifra = CriptografaTexto(senha);
    if (!CabeNaColuna(cifra, LarguraSenha)) {
        mensagens_.Mostra(TipoMensagem::Erro, Traduz("Senha inválida"));
        return false;
    }
    try {
        std::uint64_t linhas = 0;
        dados_.Executa([&](Transaction& tr) {
            Statement st(tr, "UPDATE USUARIO SET USR_SENHA = ? WHERE USR_CODIGO = ?");
            st.SetText(0, cifra).SetInt(1, CodigoConfirmado);
            linhas = st.Executa();
        });
        if (linhas == 1) return true;
        mensagens_.Mostra(TipoMensagem::Erro, Traduz("Usuário não encontrado"));
    } catch (const SemConexaoBD&) {
    } catch (const FirebirdError& e) {
        GravaLogConsole(std::string("Troca de senha: ") + e.what());
        if (!e.ConexaoPerdida()) mensagens_.Mostra(TipoMensagem::Erro, e.what());
    }
    return false;
}

bool NomeIndicaRamal(const std::string& grupo) {
    const std::string prefixo = Traduz("Ramal");
    return grupo.compare(0, prefixo.size(), prefixo) == 0;
}

std::vector<std::string> Acesso::CarregaListaRamaisUsuarios(int usuarioCodigo, int codigoPABX) {
    std::vector<std::string> lista;
    try {
        dados_.Executa([&](Transaction& tr) {
            Statement st(tr, "SELECT USR_PERFIL, USR_GRUPO FROM USUARIO WHERE USR_CODIGO = ?");
            st.SetInt(0, usuarioCodigo);
            auto c = st.Abre();
            if (!c.Proxima()) return;
            if (!c.IsNull(0) && c.GetInt(0) == 1) {
                lista.push_back("*");
                return;
            }
            const std::string grupo = c.IsNull(1) ? std::string() : c.GetText(1);
            if (NomeIndicaRamal(grupo)) {
                lista.push_back(Apara(grupo.substr(Traduz("Ramal").size())));
                return;
            }
            Statement g(tr, "SELECT r.RML_RAMAL, r.RML_NOME FROM GRUPO g LEFT JOIN GRPRAMAL r "
                            "ON g.GRP_CODIGO = r.GRP_CODIGO AND r.PAB_CODIGO = ? "
                            "WHERE g.GRP_DESCRICAO = ?");
            g.SetInt(0, codigoPABX).SetText(1, grupo);
            auto cg = g.Abre();
            while (cg.Proxima()) {
                const std::string ramal = cg.IsNull(0) ? std::string() : Apara(cg.GetText(0));
                const std::string nome = cg.IsNull(1) ? std::string() : Apara(cg.GetText(1));
                lista.push_back(ramal);
                if (!nome.empty() && nome != ramal) lista.push_back(nome);
            }
        });
    } catch (const std::exception& e) {
        GravaLogConsole(std::string("Lista de ramais: ") + e.what());
    }
    return lista;
}
