#include "console/ExportaGravacoes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <system_error>

#include "common/Texto.h"
#include "common/Traducao.h"
#include "common/db/Esquema.h"
#include "common/db/Firebird.h"
#include "console/ArquivoAudio.h"
#include "console/CodigoCliente.h"
#include "console/MDados.h"
#include "console/TextoColuna.h"
#include "console/UtilConsole.h"

namespace fs = std::filesystem;

namespace {

// A file being written under a temporary name in its folder; removed unless
// renamed to its final name.
class ArquivoTemporario {
  public:
    explicit ArquivoTemporario(const fs::path& pasta) {
        std::string modelo = (pasta / ".GRV_XXXXXX").string();
        fd_ = ::mkstemp(modelo.data());
        if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "mkstemp " + modelo);
        caminho_ = modelo;
    }
    ~ArquivoTemporario() {
        if (fd_ >= 0) ::close(fd_);
        if (!caminho_.empty()) ::unlink(caminho_.c_str());
    }
    ArquivoTemporario(const ArquivoTemporario&) = delete;
    ArquivoTemporario& operator=(const ArquivoTemporario&) = delete;

    void Escreve(const char* p, std::size_t n) {
        while (n > 0) {
            const ssize_t w = ::write(fd_, p, n);
            if (w < 0) {
                if (errno == EINTR) continue;
                throw std::system_error(errno, std::generic_category(), "write");
            }
            p += w;
            n -= static_cast<std::size_t>(w);
        }
    }
    // rename() replaces the name itself, so a symlink there is replaced, not followed.
    void Conclui(const fs::path& destino) {
        ::fchmod(fd_, 0644);
        if (::fsync(fd_) != 0 || ::close(fd_) != 0) {
            fd_ = -1;
            throw std::system_error(errno, std::generic_category(), "close");
        }
        fd_ = -1;
        if (::rename(caminho_.c_str(), destino.c_str()) != 0)
            throw std::system_error(errno, std::generic_category(), "rename " + destino.string());
        caminho_.clear();
    }

  private:
    int fd_ = -1;
    std::string caminho_;
};

}  // namespace

ResultadoArquivo SalvaArquivoAudio(MDados& dados, int codigo, const fs::path& pasta,
                                   std::string& erro, std::string* nome) {
    try {
        std::uint64_t bytes = 0;
        int tipo = 0;
        std::string chave;
        fs::path destino;
        bool achou = false;
        dados.ExecutaPABX([&](Transaction& tr) {
            Statement st(tr, "SELECT GRV_BINDADOS, GRV_CONTROLE, GRV_TPFILE, GRV_RAMGRAVADO, "
                             "GRV_DATAGRV, GRV_DESTINO FROM GRAVACAO WHERE GRV_CODIGO = ?");
            st.SetInt(0, codigo);
            Cursor c = st.Abre();
            if (!c.Proxima()) return;
            achou = true;
            chave = c.GetText(1);
            tipo = c.GetInt(2);
            destino =
                pasta / NomeArquivoExportado(c.GetText(3), c.GetTimestamp(4), c.GetText(5), tipo);
            if (c.IsNull(0)) return;
            ArquivoTemporario temp(pasta);
            bytes = c.ReadBlob(0, [&](const char* p, std::size_t n) { temp.Escreve(p, n); });
            if (bytes > 0) temp.Conclui(destino);
        });
        if (!achou) {
            erro = Traduz("Gravação não encontrada") + " (" + std::to_string(codigo) + ")";
            return ResultadoArquivo::Falhou;
        }
        if (bytes == 0) return ResultadoArquivo::SemAudio;
        if (nome) *nome = destino.filename().string();
        if (tipo & 0x80) {
            std::string motivo;
            if (!DescriptografaArquivo(tipo, chave, destino, &motivo)) {
                erro = destino.filename().string() + ": " + motivo;
                GravaLogConsole("Exportação de gravação " + std::to_string(codigo) + ": " + erro);
                return ResultadoArquivo::Falhou;
            }
        }
        return ResultadoArquivo::Exportado;
    } catch (const std::exception& e) {
        erro = e.what();
        GravaLogConsole("Exportação de gravação " + std::to_string(codigo) + ": " + erro);
        return ResultadoArquivo::Falhou;
    }
}

std::string ResultadoExportacao::Mensagem() const {
    std::string m;
    auto linha = [&](const std::string& t) { m += (m.empty() ? "" : "\n") + t; };
    if (exportadas + semAudio + falhas > 0)
        linha(Traduz("Gravações exportadas") + ": " + std::to_string(exportadas));
    if (semAudio > 0) linha(Traduz("Sem áudio") + ": " + std::to_string(semAudio));
    if (falhas > 0)
        linha(Traduz("Falharam") + ": " + std::to_string(falhas) + " (" + primeiroErro + ")");
    if (duracaoZero > 0)
        linha(Traduz("Arquivo com duração de gravação 00:00:00 não foram exportados"));
    return m;
}

ResultadoExportacao ExportaGravacoes(MDados& dados, const std::vector<ItemExportacao>& itens,
                                     const fs::path& pasta,
                                     const std::function<void(const std::string&)>& registra) {
    ResultadoExportacao r;
    std::set<int> feitos;
    for (const ItemExportacao& item : itens) {
        if (!feitos.insert(item.codigo).second) continue;
        if (item.duracao == "00:00:00") {
            ++r.duracaoZero;
            continue;
        }
        std::string erro;
        switch (SalvaArquivoAudio(dados, item.codigo, pasta, erro)) {
            case ResultadoArquivo::Exportado:
                ++r.exportadas;
                if (registra) registra(item.historico);
                break;
            case ResultadoArquivo::SemAudio: ++r.semAudio; break;
            case ResultadoArquivo::Falhou:
                if (r.falhas++ == 0) r.primeiroErro = erro;
                break;
        }
    }
    return r;
}

int CodigoClienteParaEdicao(Transaction& tr, const std::string& nome, const std::string& fone) {
    {
        Statement st(tr, "SELECT CLI_CODIGO FROM CLIENTE WHERE CLI_DESCRICAO = ?");
        st.SetText(0, nome);
        Cursor c = st.Abre();
        if (c.Proxima()) return c.GetInt(0);
    }
    // From the generator: a deleted contact's recordings keep its code, so
    // "highest plus one" could hand that code to someone else.
    const std::int32_t n = NovoCodigoCliente(tr);
    Statement cli(tr, "INSERT INTO CLIENTE (CLI_CODIGO, CLI_DESCRICAO, CLI_IDENTIFICADOR, "
                      "CLI_ENDERECO, CLI_ENDERNUM, CLI_BAIRRO, CLI_CEP, CLI_CIDADE, CLI_UF, "
                      "CLI_CONTATO, CLI_EMAIL) VALUES (?, ?, '', '', '', '', '', '', '', '', '')");
    cli.SetInt(0, n).SetText(1, nome);
    cli.Executa();
    Statement tel(tr, "INSERT INTO TELEFONE (CLI_CODIGO, TEL_NUMERO, TEL_TIPO) VALUES (?, ?, 1)");
    tel.SetInt(0, n).SetText(1, fone);
    tel.Executa();
    return n;
}

bool SalvaEdicaoGravacao(MDados& dados, int codigoGravacao, const std::string& cliente,
                         const std::string& fone, const std::string& identificador,
                         std::string& erro) {
    try {
        const std::string nome = AjustaColuna(Apara(cliente), 40);
        int codigoCliente = 0;
        if (!nome.empty())
            dados.Executa([&](Transaction& tr) {
                codigoCliente = CodigoClienteParaEdicao(tr, nome, AjustaColuna(Apara(fone), 20));
            });
        dados.ExecutaPABX([&](Transaction& tr) {
            Statement st(
                tr, "UPDATE GRAVACAO SET GRV_IDENTIFICA = ?, CLI_CODIGO = ? WHERE GRV_CODIGO = ?");
            st.SetText(0, AjustaColuna(Apara(identificador), 30)).SetInt(1, codigoCliente);
            st.SetInt(2, codigoGravacao);
            if (st.Executa() == 0) throw std::runtime_error(Traduz("Gravação não encontrada"));
        });
        return true;
    } catch (const std::exception& e) {
        erro = e.what();
        GravaLogConsole("Edição de gravação " + std::to_string(codigoGravacao) + ": " + erro);
        return false;
    }
}
