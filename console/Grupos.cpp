#include "console/Grupos.h"

#include <algorithm>

#include "common/Texto.h"
#include "common/Traducao.h"
#include "common/db/Esquema.h"
#include "common/db/Firebird.h"
#include "common/db/OperacaoHistorico.h"
#include "console/Acesso.h"
#include "console/Historico.h"
#include "console/MDados.h"
#include "console/TextoColuna.h"
#include "console/UtilConsole.h"

namespace {

// A save or removal that must not go on; its text is the message shown.
struct Recusa {
    std::string mensagem;
};

std::string Texto(const Linha& l, unsigned i) {
    return l.IsNull(i) ? std::string() : Apara(l.GetText(i));
}

}  // namespace

std::string TextoRamal(std::string_view numero, std::string_view nome) {
    const std::string n = Apara(numero);
    const std::string d = Apara(nome);
    if (d.empty() || d == n) return n;
    return n + " [" + d + "]";
}

RamalGrupo SeparaRamal(std::string_view texto) {
    RamalGrupo r;
    const auto abre = texto.find(" [");
    if (abre == std::string_view::npos) {
        r.numero = Apara(texto);
        return r;
    }
    r.numero = Apara(texto.substr(0, abre));
    std::string_view resto = texto.substr(abre + 2);
    const auto fecha = resto.rfind(']');
    if (fecha != std::string_view::npos) resto = resto.substr(0, fecha);
    r.nome = Apara(resto);
    return r;
}

std::vector<ItemGrupo> CarregaGrupos(MDados& dados) {
    std::vector<ItemGrupo> r;
    dados.Executa([&](Transaction& tr) {
        Statement st(tr, "SELECT GRP_CODIGO, GRP_DESCRICAO FROM GRUPO ORDER BY GRP_DESCRICAO");
        auto c = st.Abre();
        while (c.Proxima()) r.push_back({c.GetInt(0), Texto(c, 1), {}});
        // One read of every group's extensions, in the order the database gives.
        std::map<int, std::string> ramais;
        Statement sr(tr, "SELECT GRP_CODIGO, RML_RAMAL FROM GRPRAMAL");
        auto cr = sr.Abre();
        while (cr.Proxima()) {
            std::string& lista = ramais[cr.GetInt(0)];
            lista += (lista.empty() ? "" : ",") + Texto(cr, 1);
        }
        for (ItemGrupo& g : r) g.ramais = ramais[g.codigo];
    });
    return r;
}

std::vector<std::string> CarregaListaGrupos(MDados& dados) {
    std::vector<std::string> r;
    dados.Executa([&](Transaction& tr) {
        Statement st(tr, "SELECT GRP_DESCRICAO FROM GRUPO ORDER BY GRP_DESCRICAO");
        auto c = st.Abre();
        while (c.Proxima()) r.push_back(Texto(c, 0));
    });
    std::sort(r.begin(), r.end());
    return r;
}

std::string ListaRamaisGrupo(MDados& dados, int codigo) {
    std::string r;
    dados.Executa([&](Transaction& tr) {
        Statement st(tr, "SELECT RML_RAMAL FROM GRPRAMAL WHERE GRP_CODIGO = ?");
        st.SetInt(0, codigo);
        auto c = st.Abre();
        while (c.Proxima()) r += (r.empty() ? "" : ",") + Texto(c, 0);
    });
    return r;
}

std::string VerificaNomeGrupo(const std::string& nome) {
    const std::string n = Apara(nome);
    if (n.empty()) return Traduz("Informe uma descrição para o grupo");
    if (NomeIndicaRamal(n))
        return Traduz("A descrição do grupo não pode começar com") + " \"" + Traduz("Ramal") + "\"";
    if (!CabeNaColuna(n, 30)) return Traduz("A descrição do grupo contém caracteres inválidos");
    return {};
}

bool RemoveGrupo(MDados& dados, int codigo, const std::string& nomeListado, const Responsavel& quem,
                 std::string& mensagem) {
    const std::string falha = Traduz("Não foi possível apagar o grupo");
    try {
        dados.Executa([&](Transaction& tr) {
            std::string nome;
            {
                Statement st(tr, "SELECT GRP_DESCRICAO FROM GRUPO WHERE GRP_CODIGO = ? WITH LOCK");
                st.SetInt(0, codigo);
                auto c = st.Abre();
                if (!c.Proxima()) throw Recusa{falha + "\n" + Traduz("O grupo não existe mais")};
                nome = Texto(c, 0);
            }
            Statement r(tr, "DELETE FROM GRPRAMAL WHERE GRP_CODIGO = ?");
            r.SetInt(0, codigo);
            r.Executa();
            Statement g(tr, "DELETE FROM GRUPO WHERE GRP_CODIGO = ?");
            g.SetInt(0, codigo);
            g.Executa();
            if (!nome.empty()) {
                Statement u(tr, "UPDATE USUARIO SET USR_GRUPO = '' WHERE USR_GRUPO = ?");
                u.SetText(0, nome);
                u.Executa();
            }
            InsereHistorico(tr, quem.codigo, quem.nome, Operacao::RemovidoGrupo, nomeListado);
        });
        return true;
    } catch (const Recusa& r) {
        mensagem = r.mensagem;
    } catch (const SemConexaoBD&) {
        mensagem.clear();
    } catch (const std::exception& e) {
        GravaLogConsole("Grupo " + std::to_string(codigo) + " não removido: " + e.what());
        mensagem = falha + "\n" + e.what();
    }
    return false;
}

// ------------------------------------------------------------------ editor

void EdicaoGrupo::Limpa() {
    CodigoGrupo = 0;
    NomeOriginal.clear();
    unidades_.clear();
    nomes_.clear();
}

EdicaoGrupo::Unidade* EdicaoGrupo::Procura(int codigoPABX) {
    for (Unidade& u : unidades_)
        if (u.codigo == codigoPABX) return &u;
    return nullptr;
}

bool EdicaoGrupo::Carrega(int codigo) {
    const int grupo = codigo;
    Limpa();
    CodigoGrupo = grupo;
    std::map<int, std::set<std::string>> linhas;
    bool achado = grupo <= 0;
    dados_.Executa([&](Transaction& tr) {
        if (grupo > 0) {
            Statement st(tr, "SELECT GRP_DESCRICAO FROM GRUPO WHERE GRP_CODIGO = ?");
            st.SetInt(0, grupo);
            auto c = st.Abre();
            if (!c.Proxima()) return;
            achado = true;
            NomeOriginal = Texto(c, 0);
            Statement r(tr,
                        "SELECT PAB_CODIGO, RML_RAMAL, RML_NOME FROM GRPRAMAL WHERE GRP_CODIGO = ? "
                        "ORDER BY PAB_CODIGO, RML_RAMAL");
            r.SetInt(0, grupo);
            auto cr = r.Abre();
            while (cr.Proxima()) {
                const std::string entrada = TextoRamal(Texto(cr, 1), Texto(cr, 2));
                if (!entrada.empty()) linhas[cr.GetInt(0)].insert(entrada);
            }
        }
        Statement p(tr, "SELECT PAB_CODIGO, PAB_DESCRICAO FROM PABX ORDER BY PAB_DESCRICAO");
        auto cp = p.Abre();
        while (cp.Proxima()) {
            Unidade u;
            u.codigo = cp.GetInt(0);
            u.descricao = Texto(cp, 1);
            auto i = linhas.find(u.codigo);
            u.acesso = i != linhas.end();
            if (u.acesso) u.selecionados = i->second;
            unidades_.push_back(std::move(u));
        }
    });
    if (!achado) Limpa();
    return achado;
}

void EdicaoGrupo::CarregaRamaisUnidade(int codigoPABX) {
    Unidade* u = Procura(codigoPABX);
    if (!u) return;
    if (VerificaAtualizacaoRamais) VerificaAtualizacaoRamais(codigoPABX);
    dados_.ConectaBasePABX(codigoPABX);
    std::vector<std::pair<std::string, std::string>> dns;
    dados_.ExecutaPABX([&](Transaction& tr) {
        Statement st(tr, "SELECT DNS_NUMERO, DNS_NOME FROM DNSPABX WHERE PAB_CODIGO = ? "
                         "ORDER BY DNS_NUMERO");
        st.SetInt(0, codigoPABX);
        auto c = st.Abre();
        while (c.Proxima()) dns.emplace_back(Texto(c, 0), Texto(c, 1));
    });
    std::vector<std::string>& nomes = nomes_[codigoPABX];
    nomes.clear();
    for (const auto& [numero, nome] : dns)
        if (std::string e = TextoRamal(numero, nome); !e.empty()) nomes.push_back(std::move(e));
    // The names refresh's rule for stored rows, applied to the choice held
    // here: an entry found by number or by name takes the unit's current one.
    std::set<std::string> atualizados;
    for (const std::string& entrada : u->selecionados) {
        const RamalGrupo r = SeparaRamal(entrada);
        auto achado = std::find_if(dns.begin(), dns.end(), [&](const auto& d) {
            return d.first == r.numero || d.second == r.numero;
        });
        atualizados.insert(achado == dns.end() ? entrada
                                               : TextoRamal(achado->first, achado->second));
    }
    u->selecionados = std::move(atualizados);
}

std::vector<std::string> EdicaoGrupo::Selecionados(int codigoPABX) const {
    for (const Unidade& u : unidades_)
        if (u.codigo == codigoPABX) return {u.selecionados.begin(), u.selecionados.end()};
    return {};
}

std::vector<std::string> EdicaoGrupo::Disponiveis(int codigoPABX) const {
    std::vector<std::string> r;
    auto n = nomes_.find(codigoPABX);
    if (n == nomes_.end()) return r;
    const Unidade* u = nullptr;
    for (const Unidade& x : unidades_)
        if (x.codigo == codigoPABX) u = &x;
    if (!u || !u->acesso) return r;
    std::set<std::string> vistos;
    for (const std::string& e : n->second)
        if (!u->selecionados.count(e) && vistos.insert(e).second) r.push_back(e);
    std::sort(r.begin(), r.end());
    return r;
}

void EdicaoGrupo::DefineAcesso(int codigoPABX, bool acesso) {
    if (Unidade* u = Procura(codigoPABX)) {
        u->acesso = acesso;
        if (!acesso) u->selecionados.clear();
    }
}

void EdicaoGrupo::Adiciona(int codigoPABX, const std::vector<std::string>& entradas) {
    Unidade* u = Procura(codigoPABX);
    if (!u || !u->acesso) return;
    for (const std::string& e : entradas)
        if (!Apara(e).empty()) u->selecionados.insert(e);
}

void EdicaoGrupo::Retira(int codigoPABX, const std::vector<std::string>& entradas) {
    if (Unidade* u = Procura(codigoPABX))
        for (const std::string& e : entradas) u->selecionados.erase(e);
}

void EdicaoGrupo::AdicionaTodos(int codigoPABX) { Adiciona(codigoPABX, Disponiveis(codigoPABX)); }

void EdicaoGrupo::RetiraTodos(int codigoPABX) {
    if (Unidade* u = Procura(codigoPABX)) u->selecionados.clear();
}

bool EdicaoGrupo::Salva(const std::string& nomeDigitado, const Responsavel& quem,
                        std::string& mensagem) {
    const std::string nome = Apara(nomeDigitado);
    mensagem = VerificaNomeGrupo(nome);
    if (!mensagem.empty()) return false;
    const std::string falha = Traduz("Não foi possível salvar informações do grupo");
    const std::string repetido = Traduz("Já existe um grupo com esta descrição");
    int codigo = CodigoGrupo;
    try {
        dados_.Executa([&](Transaction& tr) {
            {
                Statement st(tr, "SELECT 1 FROM GRUPO WHERE GRP_DESCRICAO = ? AND GRP_CODIGO <> ?");
                st.SetText(0, nome).SetInt(1, CodigoGrupo);
                auto c = st.Abre();
                if (c.Proxima()) throw Recusa{repetido};
            }
            if (CodigoGrupo > 0) {
                Statement st(tr, "UPDATE GRUPO SET GRP_DESCRICAO = ? WHERE GRP_CODIGO = ?");
                st.SetText(0, nome).SetInt(1, CodigoGrupo);
                if (st.Executa() != 1)
                    throw Recusa{falha + "\n" + Traduz("O grupo não existe mais")};
            } else {
                codigo = InsereComProximoCodigo(
                    tr, "GRUPO", "GRP_CODIGO", [&](Transaction& t, std::int32_t n) {
                        Statement st(t,
                                     "INSERT INTO GRUPO (GRP_CODIGO, GRP_DESCRICAO) VALUES (?, ?)");
                        st.SetInt(0, n).SetText(1, nome);
                        st.Executa();
                    });
            }
            Statement apaga(tr, "DELETE FROM GRPRAMAL WHERE GRP_CODIGO = ?");
            apaga.SetInt(0, codigo);
            apaga.Executa();
            Statement insere(tr,
                             "INSERT INTO GRPRAMAL (GRP_CODIGO, RML_RAMAL, RML_NOME, PAB_CODIGO) "
                             "VALUES (?, ?, ?, ?)");
            for (const Unidade& u : unidades_) {
                if (!u.acesso) continue;
                for (const std::string& e : u.selecionados) {
                    const RamalGrupo r = SeparaRamal(e);
                    if (r.numero.empty()) continue;
                    insere.SetInt(0, codigo)
                        .SetText(1, AjustaColuna(r.numero, 30))
                        .SetText(2, AjustaColuna(r.nome, 30))
                        .SetInt(3, u.codigo);
                    insere.Executa();
                }
            }
            if (!NomeOriginal.empty() && NomeOriginal != nome) {
                Statement st(tr, "UPDATE USUARIO SET USR_GRUPO = ? WHERE USR_GRUPO = ?");
                st.SetText(0, nome).SetText(1, NomeOriginal);
                st.Executa();
            }
            InsereHistorico(tr, quem.codigo, quem.nome,
                            CodigoGrupo > 0 ? Operacao::EditadoGrupo : Operacao::InseridoGrupo,
                            CodigoGrupo > 0 ? NomeOriginal : nome);
        });
    } catch (const Recusa& r) {
        mensagem = r.mensagem;
        return false;
    } catch (const SemConexaoBD&) {
        mensagem.clear();
        return false;
    } catch (const FirebirdError& e) {
        GravaLogConsole("Grupo " + nome + " não salvo: " + e.what());
        // Another console saved the same name between the check and the insert.
        mensagem = e.ChaveDuplicada() ? repetido : falha + "\n" + e.what();
        return false;
    } catch (const std::exception& e) {
        mensagem = falha + "\n" + e.what();
        return false;
    }
    CodigoGrupo = codigo;
    NomeOriginal = nome;
    return true;
}
