#include "console/AgendaContatos.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

#include "common/ArquivoSaida.h"
#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "common/Processos.h"
#include "common/Texto.h"
#include "common/Traducao.h"
#include "common/db/Firebird.h"
#include "common/db/VigiaComandos.h"
#include "console/Centrais.h"
#include "console/CodigoCliente.h"
#include "console/MDados.h"
#include "console/TextoColuna.h"
#include "console/UtilConsole.h"

namespace fs = std::filesystem;

namespace {

class DestinoArquivo final : public DestinoAgenda {
  public:
    explicit DestinoArquivo(const fs::path& arquivo) : saida_(arquivo) {}
    void Escreve(std::string_view bytes) override { saida_.Escreve(bytes.data(), bytes.size()); }
    void Conclui() override { saida_.Conclui(); }

  private:
    ArquivoSaida saida_;
};

std::string Texto(const Linha& l, unsigned i) {
    return l.IsNull(i) ? std::string() : Apara(l.GetText(i));
}

std::string LeArquivo(const fs::path& arquivo) {
    std::error_code ec;
    const auto tamanho = fs::file_size(arquivo, ec);
    if (ec) throw std::runtime_error(arquivo.string() + ": " + ec.message());
    if (tamanho > TamanhoMaximoArquivoAgenda)
        throw std::runtime_error(Traduz("Arquivo muito grande") + ": " + arquivo.string());
    std::ifstream f(arquivo, std::ios::binary);
    if (!f)
        throw std::runtime_error(Traduz("Não foi possível abrir o arquivo") + " " +
                                 arquivo.string());
    std::string bytes{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
    if (f.bad()) throw std::runtime_error(Traduz("Erro ao ler o arquivo") + " " + arquivo.string());
    return bytes;
}

}  // namespace

std::unique_ptr<DestinoAgenda> DestinoArquivoAgenda(const fs::path& arquivo) {
    return std::make_unique<DestinoArquivo>(arquivo);
}

fs::path NomeArquivoAgenda(const fs::path& escolhido) {
    if (IgualSemCaixa(escolhido.extension().string(), ".csv")) return escolhido;
    fs::path r = escolhido;
    r += ".csv";
    return r;
}

void ExportaAgenda(Transaction& tr, FormatoAgenda formato, std::string_view ddd,
                   DestinoAgenda& destino) {
    std::unordered_map<int, std::vector<FoneAgenda>> fones;
    {
        Statement st(tr, "SELECT CLI_CODIGO, TEL_NUMERO, TEL_TIPO FROM TELEFONE");
        auto c = st.Abre();
        while (c.Proxima())
            fones[c.GetInt(0)].push_back({Texto(c, 1), c.IsNull(2) ? 0 : c.GetInt(2)});
    }
    // Each contact's few phones in number order as the column sorts them
    // (by their Windows-1252 bytes), without a sort of the whole table.
    for (auto& [codigo, lista] : fones)
        if (lista.size() > 1)
            std::sort(lista.begin(), lista.end(), [](const FoneAgenda& a, const FoneAgenda& b) {
                return Utf8ParaWin1252(a.numero) < Utf8ParaWin1252(b.numero);
            });
    std::string bloco = CabecalhoAgenda(formato);
    Statement st(tr,
                 "SELECT CLI_CODIGO, CLI_DESCRICAO, CLI_IDENTIFICADOR, CLI_ENDERECO, "
                 "CLI_ENDERNUM, CLI_BAIRRO, CLI_CEP, CLI_CIDADE, CLI_UF, CLI_CONTATO, CLI_EMAIL "
                 "FROM CLIENTE ORDER BY CLI_DESCRICAO, CLI_CODIGO");
    auto c = st.Abre();
    ClienteAgenda cli;
    std::string* campos[] = {&cli.descricao, &cli.identificador, &cli.endereco, &cli.endernum,
                             &cli.bairro,    &cli.cep,           &cli.cidade,   &cli.uf,
                             &cli.contato,   &cli.email};
    while (c.Proxima()) {
        cli.codigo = c.GetInt(0);
        for (unsigned i = 0; i < 10; ++i) *campos[i] = Texto(c, i + 1);
        auto f = fones.find(cli.codigo);
        if (f != fones.end())
            cli.fones = std::move(f->second);
        else
            cli.fones.clear();
        bloco += LinhasAgenda(formato, cli, ddd);
        if (bloco.size() >= 64 * 1024) {
            destino.Escreve(bloco);
            bloco.clear();
        }
    }
    if (!bloco.empty()) destino.Escreve(bloco);
}

VinculosAgenda GravaAgenda(Transaction& tr, const LeituraAgenda& leitura) {
    VinculosAgenda r;
    // Contacts by trimmed name: the first (lowest code) of stored twins.
    std::unordered_map<std::string, int> porNome;
    {
        Statement st(tr, "SELECT CLI_CODIGO, CLI_DESCRICAO FROM CLIENTE ORDER BY CLI_CODIGO DESC");
        auto c = st.Abre();
        while (c.Proxima()) porNome[Texto(c, 1)] = c.GetInt(0);
    }
    std::unordered_set<std::string> novos;
    for (const ContatoLido& c : leitura.contatos)
        if (!porNome.count(c.registro.nome)) novos.insert(c.registro.nome);
    std::int32_t proximo =
        novos.empty() ? 0 : ReservaCodigosCliente(tr, static_cast<std::int32_t>(novos.size()));
    const std::unordered_set<int> existentes = [&] {
        std::unordered_set<int> s;
        for (const auto& [nome, codigo] : porNome) s.insert(codigo);
        return s;
    }();

    Statement atualiza(tr,
                       "UPDATE CLIENTE SET CLI_DESCRICAO = ?, CLI_ENDERECO = ?, CLI_ENDERNUM = ?, "
                       "CLI_BAIRRO = ?, CLI_CIDADE = ?, CLI_UF = ?, CLI_EMAIL = ? "
                       "WHERE CLI_CODIGO = ?");
    Statement atualizaCep(tr, "UPDATE CLIENTE SET CLI_CEP = ? WHERE CLI_CODIGO = ?");
    Statement insere(tr, "INSERT INTO CLIENTE (CLI_CODIGO, CLI_DESCRICAO, CLI_IDENTIFICADOR, "
                         "CLI_ENDERECO, CLI_ENDERNUM, CLI_BAIRRO, CLI_CEP, CLI_CIDADE, CLI_UF, "
                         "CLI_CONTATO, CLI_EMAIL) VALUES (?, ?, '', ?, ?, ?, ?, ?, ?, '', ?)");
    Statement leFones(tr, "SELECT TEL_NUMERO FROM TELEFONE WHERE CLI_CODIGO = ?");
    Statement apagaFones(tr, "DELETE FROM TELEFONE WHERE CLI_CODIGO = ?");
    Statement insereFone(
        tr, "INSERT INTO TELEFONE (CLI_CODIGO, TEL_NUMERO, TEL_TIPO) VALUES (?, ?, ?)");
    // The numbers each touched contact had before the import (none for a new
    // one) and those it ends with: only the difference moves recordings.
    std::unordered_map<int, std::set<std::string>> antes, depois;
    std::vector<std::pair<int, std::string>> gravados;  // file order

    for (const ContatoLido& c : leitura.contatos) {
        const RegistroContatoAgenda& g = c.registro;
        auto col = [](const std::string& v, std::size_t n) { return AjustaColuna(v, n); };
        try {
            auto achado = porNome.find(g.nome);
            int codigo = 0;
            if (achado != porNome.end()) {
                codigo = achado->second;
                atualiza.SetText(0, col(g.nome, 40))
                    .SetText(1, col(g.endereco, 40))
                    .SetText(2, col(g.numero, 10))
                    .SetText(3, col(g.bairro, 30))
                    .SetText(4, col(g.cidade, 30))
                    .SetText(5, col(g.uf, 2))
                    .SetText(6, col(g.email, 80))
                    .SetInt(7, codigo);
                // Removed by another console since the names were read: a new one.
                if (atualiza.Executa() == 0) codigo = 0;
                if (codigo != 0 && c.cepLido) {
                    atualizaCep.SetText(0, col(g.cep, 20)).SetInt(1, codigo);
                    atualizaCep.Executa();
                }
            }
            if (codigo == 0) {
                codigo = proximo != 0 && novos.erase(g.nome) ? proximo++ : NovoCodigoCliente(tr);
                insere.SetInt(0, codigo)
                    .SetText(1, col(g.nome, 40))
                    .SetText(2, col(g.endereco, 40))
                    .SetText(3, col(g.numero, 10))
                    .SetText(4, col(g.bairro, 30))
                    .SetText(5, col(g.cep, 20))
                    .SetText(6, col(g.cidade, 30))
                    .SetText(7, col(g.uf, 2))
                    .SetText(8, col(g.email, 80));
                insere.Executa();
                porNome[g.nome] = codigo;
            } else if (!c.fones.empty()) {
                if (existentes.count(codigo) && !antes.count(codigo)) {
                    std::set<std::string>& tinha = antes[codigo];
                    leFones.SetInt(0, codigo);
                    auto lidos = leFones.Abre();
                    while (lidos.Proxima())
                        if (!lidos.IsNull(0)) tinha.insert(lidos.GetText(0));
                }
                apagaFones.SetInt(0, codigo);
                apagaFones.Executa();
            }
            if (!c.fones.empty()) depois[codigo].clear();
            for (const FoneAgenda& f : c.fones) {
                const std::string numero = col(f.numero, 20);
                insereFone.SetInt(0, codigo).SetText(1, numero).SetInt(2, f.tipo);
                insereFone.Executa();
                depois[codigo].insert(numero);
                gravados.emplace_back(codigo, numero);
            }
            ++r.contatos;
        } catch (const FirebirdError& e) {
            if (e.ConexaoPerdida()) throw;
            throw ErroImportacaoAgenda(c.linha, e.what());
        }
    }
    for (const auto& [codigo, tinha] : antes) {
        const std::set<std::string>& tem = depois[codigo];
        for (const std::string& numero : tinha)
            if (!tem.count(numero)) r.desvinculados.emplace_back(codigo, numero);
    }
    std::set<std::pair<int, std::string>> vistos;
    for (const auto& par : gravados) {
        auto a = antes.find(par.first);
        if (a != antes.end() && a->second.count(par.second)) continue;  // kept: no change
        if (!depois[par.first].count(par.second)) continue;  // replaced again later in the file
        if (vistos.insert(par).second) r.numeros.push_back(par);
    }
    return r;
}

namespace {

// Runs one statement for many rows in few round trips: an EXECUTE BLOCK
// holding the statement once per row, each row's values bound as that row's
// parameters. `corpo` writes the row's values as {0}, {1}, ... of `tipos`.
class Lote {
  public:
    static constexpr std::size_t Linhas = 128;

    Lote(Transaction& tr, std::vector<std::string> tipos, std::string corpo)
        : tr_(tr), tipos_(std::move(tipos)), corpo_(std::move(corpo)) {}

    // `liga` binds row `i`'s values from parameter index `base` on.
    void Executa(std::size_t total,
                 const std::function<void(Statement&, unsigned base, std::size_t i)>& liga) {
        for (std::size_t inicio = 0; inicio < total; inicio += Linhas) {
            const std::size_t n = std::min(Linhas, total - inicio);
            Statement& st = Prepara(n);
            for (std::size_t r = 0; r < n; ++r)
                liga(st, static_cast<unsigned>(r * tipos_.size()), inicio + r);
            st.Executa();
        }
    }

  private:
    Statement& Prepara(std::size_t n) {
        std::unique_ptr<Statement>& st = n == Linhas ? cheio_ : resto_;
        if (st && (n == Linhas || restoLinhas_ == n)) return *st;
        std::string parametros, corpo;
        for (std::size_t r = 0; r < n; ++r) {
            std::string linha = corpo_;
            for (std::size_t k = 0; k < tipos_.size(); ++k) {
                const std::string nome = "P" + std::to_string(r) + "_" + std::to_string(k);
                parametros += (parametros.empty() ? "" : ", ") + nome + " " + tipos_[k] + " = ?";
                const std::string marca = "{" + std::to_string(k) + "}";
                for (std::size_t pos; (pos = linha.find(marca)) != std::string::npos;)
                    linha.replace(pos, marca.size(), ":" + nome);
            }
            corpo += linha + "; ";
        }
        st = std::make_unique<Statement>(tr_, "EXECUTE BLOCK (" + parametros + ") AS BEGIN " +
                                                  corpo + "END");
        if (n != Linhas) restoLinhas_ = n;
        return *st;
    }

    Transaction& tr_;
    std::vector<std::string> tipos_;
    std::string corpo_;
    std::unique_ptr<Statement> cheio_, resto_;
    std::size_t restoLinhas_ = 0;
};

}  // namespace

namespace {

// Each number as dialled: as stored and, for a local number stored with the
// local area code, also without it. Exact numbers only: a prefix would take
// other parties' recordings (a 4-digit number would claim every call that
// begins with it).
std::vector<std::pair<int, std::string>>
ComoDiscados(const std::vector<std::pair<int, std::string>>& pares, std::string_view ddd) {
    std::vector<std::pair<int, std::string>> r;
    r.reserve(pares.size() * 2);
    for (const auto& [codigo, numero] : pares) {
        r.emplace_back(codigo, numero);
        const std::size_t n = ContaCaracteresUtf8(numero);
        if (!ddd.empty() && (n == 10 || n == 11) && numero.compare(0, ddd.size(), ddd) == 0)
            r.emplace_back(codigo, numero.substr(ddd.size()));
    }
    return r;
}

}  // namespace

void VinculaGravacoes(Transaction& tr, const VinculosAgenda& v, std::string_view ddd) {
    // Lost numbers first, so that a number moved to another contact ends with it.
    const auto perdidos = ComoDiscados(v.desvinculados, ddd);
    Lote desvincula(tr, {"INTEGER", "VARCHAR(20)"},
                    "UPDATE GRAVACAO SET CLI_CODIGO = 0 WHERE CLI_CODIGO = {0} AND "
                    "GRV_DESTINO = {1}");
    desvincula.Executa(perdidos.size(), [&](Statement& st, unsigned base, std::size_t i) {
        st.SetInt(base, perdidos[i].first).SetText(base + 1, perdidos[i].second);
    });
    const auto numeros = ComoDiscados(v.numeros, ddd);
    Lote vincula(tr, {"INTEGER", "VARCHAR(20)"},
                 "UPDATE GRAVACAO SET CLI_CODIGO = {0} WHERE GRV_DESTINO = {1}");
    vincula.Executa(numeros.size(), [&](Statement& st, unsigned base, std::size_t i) {
        st.SetInt(base, numeros[i].first).SetText(base + 1, numeros[i].second);
    });
}

void ExportaContatos(MDados& dados, FormatoAgenda formato, std::string_view ddd,
                     DestinoAgenda& destino) {
    dados.ExecutaInstantaneo([&](Transaction& tr) { ExportaAgenda(tr, formato, ddd, destino); });
    destino.Conclui();
}

ResultadoImportacao ImportaContatos(MDados& dados, const fs::path& arquivo, FormatoAgenda formato,
                                    std::string_view ddd, const ExecutorVinculo& executor) {
    ResultadoImportacao r;
    const std::string titulo =
        Traduz("Não foi possível importar o arquivo") + " " + arquivo.string();
    LeituraAgenda leitura;
    try {
        leitura = LeAgenda(LeArquivo(arquivo), formato, ddd);
    } catch (const std::exception& e) {
        r.erro = titulo + "\n" + e.what();
        return r;
    }
    if (leitura.Recusada()) {
        r.erro = leitura.linhaErro == 0
                     ? leitura.erro
                     : titulo + "\n" + Traduz("Linha") + " " + std::to_string(leitura.linhaErro) +
                           ": " + leitura.erro;
        return r;
    }
    VinculosAgenda vinculos;
    try {
        dados.Executa([&](Transaction& tr) { vinculos = GravaAgenda(tr, leitura); });
    } catch (const SemConexaoBD&) {
        dados.BaseConectada();
        return r;
    } catch (const ErroImportacaoAgenda& e) {
        r.erro = titulo + "\n" + Traduz("Linha") + " " + std::to_string(e.linha) + ": " + e.what();
        GravaLogConsole(r.erro);
        return r;
    } catch (const FirebirdError& e) {
        if (!e.ConexaoPerdida()) r.erro = titulo + "\n" + e.what();
        return r;
    } catch (const std::exception& e) {
        r.erro = titulo + "\n" + e.what();
        return r;
    }
    r.importado = true;
    r.contatos = vinculos.contatos;
    if (vinculos.numeros.empty() && vinculos.desvinculados.empty()) return r;

    // Where to link, read here (the data module is the main thread's); the
    // linking itself runs on connections of its own.
    struct Base {
        std::string onde;
        ParametrosConexao conexao;
    };
    std::vector<Base> bases{{"VERUZADU", dados.ParametrosPrincipal()}};
    std::vector<std::string> falhas;
    auto falha = [&falhas](const std::string& onde, const std::string& motivo) {
        falhas.push_back(Traduz("Gravações não vinculadas aos contatos") + " (" + onde +
                         "): " + motivo);
    };
    try {
        const IniFile ini(ArquivoVeruzaduIni());
        for (const ItemCentral& c : CarregaCentrais(dados)) {
            const std::string nome = "GRVPAB" + CodigoTresDigitos(c.codigo);
            const CaminhoBD caminho =
                MontaCaminhoBD(ini, nome, dados.PastaDadosBD(), NomeComputador());
            bases.push_back(
                {Traduz("central") + " " + CodigoCentralTexto(c.codigo) + " " + c.descricao,
                 {caminho.conexao, dados.UsuarioBD, dados.SenhaBD, dados.TempoLimiteConexao}});
        }
    } catch (const std::exception& e) {
        falha(Traduz("centrais"), e.what());
    }
    const std::string dddLocal(ddd);
    const std::function<void()> vincula = [&] {
        // A server gone silent ends that database's linking, not the console.
        VigiaComandos vigia(LimiteVinculoPorBase);
        for (const Base& b : bases) {
            try {
                Attachment att = Attachment::Conecta(b.conexao);
                const auto guarda = vigia.Vigia(att.Interface());
                Transaction tr(att);
                VinculaGravacoes(tr, vinculos, dddLocal);
                tr.Commit();
            } catch (const std::exception& e) {
                falha(b.onde, e.what());
            }
        }
    };
    if (executor)
        executor(vincula);
    else
        vincula();
    for (const std::string& linha : falhas) GravaLogConsole(linha);
    r.falhasVinculo = std::move(falhas);
    return r;
}
