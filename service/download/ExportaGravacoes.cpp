// Export of a period's recordings and the local test run of a download run.
//
// The export writes the unit's recordings of a period out of its database
// into the working folder (encrypted ones also deciphered beside them) and
// hands exactly those files to the recordings backup. The operator asks for
// it in VERUZADU.INI ([Exporta]); the request is cleared once served, unless
// a new one was written meanwhile.
//
// The local test run empties the unit's GRAVACAO table and imports whatever
// the unit's recording board offers by FTP, without the PABX's control link.

#include "service/download/PABXDownloadFTP.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/IniFile.h"
#include "common/Arquivos.h"
#include "common/Texto.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* SqlContaPeriodo =
    "SELECT COUNT(*) FROM GRAVACAO WHERE GRV_DATAGRV BETWEEN ? AND ?";
constexpr const char* SqlGravacoesPeriodo =
    "SELECT GRV_CODIGO,GRV_BINDADOS,GRV_CONTROLE,GRV_TPFILE,GRV_IDFILE FROM GRAVACAO "
    "WHERE GRV_DATAGRV BETWEEN ? AND ? ORDER BY GRV_DATAGRV,GRV_CODIGO";

// The request as one run read it.
struct PedidoExporta {
    int pabx = 0;
    std::string inicio, fim;
    bool operator==(const PedidoExporta&) const = default;
};

PedidoExporta LePedido(const IniFile& ini) {
    return {ini.ReadInteger("Exporta", "PABX", 0), ini.ReadString("Exporta", "DataInicio", ""),
            ini.ReadString("Exporta", "DataFim", "")};
}

// One part of GRV_IDFILE: a plain name that stays inside its folder.
bool ParteSegura(const std::string& parte) {
    return !parte.empty() && parte != "." && parte != ".." &&
           parte.find('/') == std::string::npos && parte.find('\0') == std::string::npos;
}

// GRV_IDFILE ("L1\L2\name", as the filing writes it) as its three parts.
std::vector<std::string> PartesIdArquivo(const std::string& id) {
    std::vector<std::string> partes;
    std::size_t inicio = 0;
    for (;;) {
        const auto fim = id.find('\\', inicio);
        partes.push_back(
            id.substr(inicio, fim == std::string::npos ? std::string::npos : fim - inicio));
        if (fim == std::string::npos) break;
        inicio = fim + 1;
    }
    if (partes.size() != 3) throw std::runtime_error("identificação de arquivo inválida: " + id);
    for (const auto& p : partes)
        if (!ParteSegura(p)) throw std::runtime_error("identificação de arquivo inválida: " + id);
    return partes;
}

std::string TrocaExtensao(const std::string& nome, const std::string& extensao) {
    const auto ponto = nome.rfind('.');
    return (ponto == std::string::npos ? nome : nome.substr(0, ponto)) + extensao;
}

struct Descritor {
    int fd = -1;
    ~Descritor() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

bool TPABXDownloadFTP::ExportaGravacoes(const DataHora& inicio, const DataHora& fimPedido) {
    // An unreadable start is no request at all: nothing happens and the
    // operator's text stays as it is.
    if (inicio.Vazia()) return false;
    const DataHora fim = fimPedido.Vazia() ? DataHora{2099, 12, 30, 23, 59, 59, 0} : fimPedido;
    IniFile ini(ArquivoSemCaixa(
        Config().PastaPrograma.empty() ? PastaPrograma() : Config().PastaPrograma, "VERUZADU.INI"));
    const PedidoExporta pedido = LePedido(ini);

    const auto cfg = ConfigGeral();
    if (!cfg || (cfg->CFG_NETBACKUP <= 0 && cfg->CFG_FTPBACKUP <= 0)) {
        const std::string texto = Traduz("Backup não está configurado");
        Log(LogSempre, true, texto);
        Ambiente().Alertas.EnfileiraAlertaEmail(AlertaFalha, nullptr, texto);
        return true;
    }

    bool ok = true;
    bool parado = false;  // the service is stopping: the request stays for the next run
    Log(LogInfo, true, Traduz("Inicio exportação"));
    std::vector<std::string> escritos;
    const std::string audiorec = PastaPABX + "NORVIKA/AUDIOREC/";
    try {
        Attachment att = Attachment::Conecta(ConexaoPABX());
        Transaction tr(att, true);
        {
            Statement conta(tr, SqlContaPeriodo);
            conta.SetTimestamp(0, inicio).SetTimestamp(1, fim);
            Cursor c = conta.Abre();
            const std::int64_t n = c.Proxima() ? c.GetBigInt(0) : 0;
            c.Fecha();
            Log(LogInfo, true,
                Traduz("Exportar arquivos") + "(" + std::to_string(n) +
                    "): " + FormataDataHora(inicio, "mm/dd/yyyy hh:nn:ss") + " à " +
                    FormataDataHora(fim, "mm/dd/yyyy hh:nn:ss"));
        }
        Statement st(tr, SqlGravacoesPeriodo);
        st.SetTimestamp(0, inicio).SetTimestamp(1, fim);
        try {
            Cursor c = st.Abre();
            while (c.Proxima()) {
                if (Terminated()) {
                    ok = false;
                    parado = true;
                    break;
                }
                std::string arquivo = c.GetText(4);
                try {
                    const std::string chave = CortaUtf8(c.GetText(2), 30);
                    const int tipo = c.GetInt(3);
                    const auto partes = PartesIdArquivo(c.GetText(4));
                    const std::string pasta = audiorec + partes[0] + "/" + partes[1] + "/";
                    const std::string nome = TrocaExtensao(partes[2], ExtensaoTipoArquivo(tipo));
                    arquivo = pasta + nome;
                    fs::create_directories(pasta);
                    // The BLOB goes to a temporary name first, so a cut export
                    // never leaves a partial recording under its own name.
                    const std::string temporario = pasta + "~" + nome + ".exportando";
                    std::uint64_t bytes = 0;
                    {
                        Descritor f;
                        f.fd = ::open(temporario.c_str(),
                                      O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
                        if (f.fd < 0)
                            throw std::runtime_error(temporario + ": " + std::strerror(errno));
                        try {
                            bytes = c.ReadBlob(1, [&](const char* dados, std::size_t n) {
                                while (n > 0) {
                                    const ssize_t r = ::write(f.fd, dados, n);
                                    if (r < 0) {
                                        if (errno == EINTR) continue;
                                        throw std::runtime_error(temporario + ": " +
                                                                 std::strerror(errno));
                                    }
                                    dados += r;
                                    n -= static_cast<std::size_t>(r);
                                }
                            });
                            const int fd = f.fd;
                            f.fd = -1;
                            if (::close(fd) != 0)
                                throw std::runtime_error(temporario + ": " + std::strerror(errno));
                            fs::rename(temporario, arquivo);
                        } catch (...) {
                            std::error_code ec;
                            fs::remove(temporario, ec);
                            throw;
                        }
                    }
                    escritos.push_back(arquivo);
                    if (bytes > 0 && (tipo & 0x80) != 0 &&
                        DescriptografaArquivo(tipo, chave, arquivo)) {
                        const std::string plano =
                            pasta + TrocaExtensao(nome, ExtensaoTipoArquivo(tipo & 0x7F));
                        if (plano != arquivo) escritos.push_back(plano);
                    }
                } catch (const std::exception& e) {
                    ok = false;
                    Log(LogInfo, true,
                        Traduz("Ao exportar: ") + arquivo + " " + Traduz("ocorreu erro: ") +
                            e.what());
                }
            }
            c.Fecha();
        } catch (const std::exception& e) {
            ok = false;
            Log(LogInfo, true, Traduz("Erro ao ler base de dados: ") + e.what());
        }
        tr.Commit();
        att.Desconecta();
    } catch (const std::exception& e) {
        ok = false;
        Log(LogInfo, true, Traduz("Erro exportação: ") + e.what());
    }

    if (ok) BackupArquivos(escritos);
    if (Config().DelDir) ApagaPasta(PastaPABX + "NORVIKA");

    // Cleared also after a failure, but only when it still is the request
    // this run served: one the operator wrote meanwhile stays for the next.
    if (!parado && LePedido(ini) == pedido) {
        ini.WriteInteger("Exporta", "PABX", 0);
        ini.WriteString("Exporta", "DataInicio", "");
        ini.WriteString("Exporta", "DataFim", "");
    }
    if (ok) Log(LogInfo, true, Traduz("Fim exportação"));
    return ok;
}

bool TPABXDownloadFTP::BDApagaGravacoes() {
    try {
        Attachment att = Attachment::Conecta(ConexaoPABX());
        Transaction tr(att);
        const std::uint64_t n = tr.Executa("DELETE FROM GRAVACAO");
        tr.Commit();
        att.Desconecta();
        Log(LogSempre, false,
            Traduz("Gravações apagadas da base de dados") + ": " + std::to_string(n));
        return true;
    } catch (const std::exception& e) {
        Log(LogErro, false, std::string("DELGRV: ") + e.what() + " (DELETE FROM GRAVACAO)");
        return false;
    }
}

void TPABXDownloadFTP::ProcessaLocal() {
    BDApagaGravacoes();

    Historico = {};
    Historico.DWN_DTINIDOWN = AgoraLocal();
    Historico.DWN_DTINIDOWN.milissegundo = 0;
    Historico.DWN_OPERATUAL = OpIniciando;
    BDRegistraHistoricoDownload(HistoricoInsere);

    // The link object carries the run's settings as for a PABX session, but
    // no connection is opened: the import's removal requests fail and are
    // logged by it.
    EventoPABX evento;
    ClientePABX = std::make_unique<TPABX>();
    TPABX& pabx = *ClientePABX;
    PreparaLink(pabx, *this, &evento);
    try {
        if (DownloadFTP() && ImportaArquivos(pabx)) LogEstado("Arquivos importados");
    } catch (...) {
        BDRegistraUltimoDownload();
        ClientePABX.reset();
        throw;
    }
    BDRegistraUltimoDownload();
    ClientePABX.reset();
}
