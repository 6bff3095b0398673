#include "console/Contatos.h"

#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "common/Texto.h"
#include "common/Traducao.h"
#include "common/db/Firebird.h"
#include "common/db/OperacaoHistorico.h"
#include "console/CodigoCliente.h"
#include "console/Historico.h"
#include "console/MDados.h"
#include "console/Mensageiro.h"
#include "console/TextoColuna.h"
#include "console/UtilConsole.h"

namespace {

// A refusal of the save that is not the server's (a number taken, the row
// gone): rolls the transaction back like a server error.
class Recusa : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

std::string Texto(const Linha& l, unsigned i) {
    return l.IsNull(i) ? std::string() : Apara(l.GetText(i));
}

// Runs the work by the console's rule and shows a refusal as "Erro" with
// `titulo` and the reason. A lost connection shows nothing.
bool Grava(MDados& dados, Mensageiro& mensagens, const std::string& titulo,
           const std::function<void(Transaction&)>& trabalho) {
    std::string motivo;
    try {
        dados.Executa(trabalho);
        return true;
    } catch (const SemConexaoBD&) {
        dados.BaseConectada();
        return false;
    } catch (const FirebirdError& e) {
        if (e.ConexaoPerdida()) return false;
        motivo = e.what();
    } catch (const std::exception& e) {
        motivo = e.what();
    }
    GravaLogConsole(titulo + ": " + motivo);
    mensagens.Mostra(TipoMensagem::Erro, titulo + "\n" + motivo);
    return false;
}

}  // namespace

std::string DescricaoTipoFone(int tipo) {
    switch (tipo) {
        case 0: return Traduz("Celular");
        case 1: return Traduz("Comercial");
        case 2: return Traduz("Residencial");
        default: return {};
    }
}

int CodigoTipoFone(const std::string& texto) {
    if (texto == Traduz("Comercial")) return 1;
    if (texto == Traduz("Residencial")) return 2;
    return 0;
}

const std::vector<std::string>& UFsCliente() {
    static const std::vector<std::string> ufs{
        "",   "AC", "AL", "AM", "AP", "BA", "CE", "DF", "ES", "GO", "MA", "MG", "MS", "MT",
        "PA", "PB", "PE", "PI", "PR", "RJ", "RN", "RO", "RR", "RS", "SC", "SE", "SP", "TO"};
    return ufs;
}

const std::vector<std::string>& CodigosDDD() {
    static const std::vector<std::string> codigos{
        "",   "11", "12", "13", "14", "15", "16", "17", "18", "19", "21", "22", "24", "27",
        "28", "31", "32", "33", "34", "35", "37", "38", "41", "42", "43", "44", "45", "46",
        "47", "48", "49", "51", "53", "54", "55", "61", "62", "63", "64", "65", "66", "67",
        "68", "69", "71", "73", "74", "75", "77", "79", "81", "82", "83", "84", "85", "86",
        "87", "88", "89", "91", "92", "93", "94", "95", "96", "97", "98", "99"};
    return codigos;
}

std::optional<std::string> LeDDDLocal() {
    const std::string ddd =
        CortaUtf8(Apara(IniFile(ArquivoVeruzaduIni()).ReadString("Veruzadu", "DDD", "")), 2);
    if (ddd.empty()) return std::nullopt;
    return ddd == "00" ? std::string() : ddd;
}

std::string GravaDDDLocal(const std::string& escolhido) {
    std::string ddd = CortaUtf8(Apara(escolhido), 2);
    IniFile(ArquivoVeruzaduIni()).WriteString("Veruzadu", "DDD", ddd.empty() ? "00" : ddd);
    return ddd == "00" ? std::string() : ddd;
}

std::vector<ItemCliente> CarregaClientes(MDados& dados) {
    std::vector<ItemCliente> r;
    dados.Executa([&](Transaction& tr) {
        Statement st(tr, "SELECT CLI_CODIGO, CLI_DESCRICAO, CLI_IDENTIFICADOR FROM CLIENTE "
                         "ORDER BY CLI_DESCRICAO, CLI_CODIGO");
        auto c = st.Abre();
        while (c.Proxima()) r.push_back({c.GetInt(0), Texto(c, 1), Texto(c, 2)});
    });
    return r;
}

bool CarregaCliente(MDados& dados, int codigo, ClienteAgenda& cli) {
    bool achado = false;
    dados.Executa([&](Transaction& tr) {
        Statement st(tr, "SELECT CLI_DESCRICAO, CLI_IDENTIFICADOR, CLI_ENDERECO, CLI_ENDERNUM, "
                         "CLI_BAIRRO, CLI_CEP, CLI_CIDADE, CLI_UF, CLI_CONTATO, CLI_EMAIL "
                         "FROM CLIENTE WHERE CLI_CODIGO = ?");
        st.SetInt(0, codigo);
        auto c = st.Abre();
        if (!c.Proxima()) return;
        achado = true;
        cli.codigo = codigo;
        std::string* campos[] = {&cli.descricao, &cli.identificador, &cli.endereco, &cli.endernum,
                                 &cli.bairro,    &cli.cep,           &cli.cidade,   &cli.uf,
                                 &cli.contato,   &cli.email};
        for (unsigned i = 0; i < 10; ++i) *campos[i] = Texto(c, i);
        cli.fones.clear();
        Statement f(tr, "SELECT TEL_NUMERO, TEL_TIPO FROM TELEFONE WHERE CLI_CODIGO = ? "
                        "ORDER BY TEL_NUMERO");
        f.SetInt(0, codigo);
        auto cf = f.Abre();
        while (cf.Proxima()) cli.fones.push_back({Texto(cf, 0), cf.IsNull(1) ? 0 : cf.GetInt(1)});
    });
    return achado;
}

namespace {

int DonoTelefone(Transaction& tr, const std::string& numero, int codigo) {
    Statement st(tr, "SELECT FIRST 1 CLI_CODIGO FROM TELEFONE WHERE TEL_NUMERO = ? AND "
                     "CLI_CODIGO <> ?");
    st.SetText(0, AjustaColuna(numero, 20)).SetInt(1, codigo);
    auto c = st.Abre();
    return c.Proxima() ? c.GetInt(0) : 0;
}

}  // namespace

int DonoTelefone(MDados& dados, const std::string& numero, int codigo) {
    int dono = 0;
    dados.Executa([&](Transaction& tr) { dono = DonoTelefone(tr, numero, codigo); });
    return dono;
}

std::string ValidaCliente(const ClienteAgenda& c) {
    if (Apara(c.descricao).empty()) return Traduz("Informe o nome do contato");
    const std::string email = Apara(c.email);
    if (!email.empty() && email.find('@') == std::string::npos)
        return Traduz("Informe um endereço de email válido");
    return {};
}

bool SalvaCliente(MDados& dados, Mensageiro& mensagens, ClienteAgenda& cli,
                  const AutorHistorico& autor, const std::string& nomeAnterior) {
    if (const std::string erro = ValidaCliente(cli); !erro.empty()) {
        mensagens.Mostra(TipoMensagem::Erro, erro);
        return false;
    }
    const int larguras[] = {40, 20, 40, 10, 30, 20, 30, 2, 40, 80};
    const std::string* campos[] = {&cli.descricao, &cli.identificador, &cli.endereco, &cli.endernum,
                                   &cli.bairro,    &cli.cep,           &cli.cidade,   &cli.uf,
                                   &cli.contato,   &cli.email};
    std::vector<std::string> valores;
    for (int i = 0; i < 10; ++i) valores.push_back(AjustaColuna(Apara(*campos[i]), larguras[i]));
    int codigo = cli.codigo;
    const bool novo = codigo == 0;
    const bool ok = Grava(
        dados, mensagens, Traduz("Não foi possível salvar informações do contato"),
        [&](Transaction& tr) {
            if (novo) {
                codigo = NovoCodigoCliente(tr);
                Statement st(tr,
                             "INSERT INTO CLIENTE (CLI_CODIGO, CLI_DESCRICAO, CLI_IDENTIFICADOR, "
                             "CLI_ENDERECO, CLI_ENDERNUM, CLI_BAIRRO, CLI_CEP, CLI_CIDADE, CLI_UF, "
                             "CLI_CONTATO, CLI_EMAIL, CLI_UPDATE) "
                             "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, 1)");
                st.SetInt(0, codigo);
                for (unsigned i = 0; i < 10; ++i) st.SetText(i + 1, valores[i]);
                st.Executa();
            } else {
                Statement st(tr, "UPDATE CLIENTE SET CLI_DESCRICAO = ?, CLI_IDENTIFICADOR = ?, "
                                 "CLI_ENDERECO = ?, CLI_ENDERNUM = ?, CLI_BAIRRO = ?, CLI_CEP = ?, "
                                 "CLI_CIDADE = ?, CLI_UF = ?, CLI_CONTATO = ?, CLI_EMAIL = ?, "
                                 "CLI_UPDATE = 1 WHERE CLI_CODIGO = ?");
                for (unsigned i = 0; i < 10; ++i) st.SetText(i, valores[i]);
                st.SetInt(10, codigo);
                if (st.Executa() == 0)
                    throw Recusa(Traduz("O contato foi removido por outro usuário"));
                Statement del(tr, "DELETE FROM TELEFONE WHERE CLI_CODIGO = ?");
                del.SetInt(0, codigo);
                del.Executa();
            }
            Statement ins(
                tr, "INSERT INTO TELEFONE (CLI_CODIGO, TEL_NUMERO, TEL_TIPO) VALUES (?, ?, ?)");
            for (const FoneAgenda& f : cli.fones) {
                const std::string numero = AjustaColuna(Apara(f.numero), 20);
                if (numero.empty()) continue;
                // Checked again here: the grid may be old, and another console
                // may have given the number away since the phone dialog.
                if (DonoTelefone(tr, numero, codigo) != 0)
                    throw Recusa(Traduz("Número") + " " + numero + " " +
                                 Traduz("já está registrado para outro contato"));
                ins.SetInt(0, codigo).SetText(1, numero).SetInt(2, f.tipo);
                ins.Executa();
            }
            InsereHistorico(tr, autor.codigo, autor.nome,
                            novo ? Operacao::InseridoCliente : Operacao::EditadoCliente,
                            novo ? valores[0] : nomeAnterior);
        });
    if (ok) cli.codigo = codigo;
    return ok;
}

bool RemoveCliente(MDados& dados, Mensageiro& mensagens, int codigo, const std::string& nome,
                   const AutorHistorico& autor) {
    return Grava(dados, mensagens, Traduz("Não foi possível apagar o contato"),
                 [&](Transaction& tr) {
                     Statement tel(tr, "DELETE FROM TELEFONE WHERE CLI_CODIGO = ?");
                     tel.SetInt(0, codigo);
                     tel.Executa();
                     Statement cli(tr, "DELETE FROM CLIENTE WHERE CLI_CODIGO = ?");
                     cli.SetInt(0, codigo);
                     if (cli.Executa() == 0)
                         throw Recusa(Traduz("O contato foi removido por outro usuário"));
                     InsereHistorico(tr, autor.codigo, autor.nome, Operacao::RemovidoCliente, nome);
                 });
}
