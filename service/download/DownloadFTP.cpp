// FTP download of the recording store and USB copy, with the path and file
// helpers the run's areas share.
//
// The rule they keep: nothing is ever removed at the unit here. A file that
// cannot be had stays where it is and comes at a later run; what arrives is
// whole (downloads land under a temporary name and are renamed once every
// listed byte is there) and sits inside the unit's working folder whatever
// name the unit listed.

#include <fnmatch.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <thread>

#include "common/Arquivos.h"
#include "common/Texto.h"
#include "service/download/ClienteFTP.h"
#include "service/download/NomesGravacao.h"
#include "service/download/PABXDownloadFTP.h"

namespace fs = std::filesystem;

namespace {

// A listing in the order the walk takes it: by upper-cased name (so a WAV
// meets its XML), ties by the raw bytes. Names that are not plain, and the
// later of two names that differ only in case, are taken out into `recusados`.
std::vector<EntradaFTP> OrdenaListagem(std::vector<EntradaFTP> lista,
                                       std::vector<std::string>* recusados) {
    std::vector<std::pair<std::string, EntradaFTP>> chave;
    chave.reserve(lista.size());
    for (auto& e : lista) chave.emplace_back(Maiusculas(e.nome), std::move(e));
    std::sort(chave.begin(), chave.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second.nome < b.second.nome;
    });
    std::vector<EntradaFTP> r;
    r.reserve(chave.size());
    std::string anterior;
    bool temAnterior = false;
    for (auto& [maiuscula, e] : chave) {
        const bool aceitavel = NomeSimplesAceitavel(e.nome);
        const bool gemeo = temAnterior && anterior == maiuscula;
        if (!aceitavel || gemeo) {
            if (recusados) recusados->push_back(e.nome);
            continue;
        }
        anterior = maiuscula;
        temAnterior = true;
        r.push_back(std::move(e));
    }
    return r;
}

// Folder levels of the store below its root: AUDIOREC, the date folder (L1)
// and the device folder (L2). Nothing deeper is the unit's; a folder listed
// there (a link back up the tree, say) is never entered.
constexpr int NiveisLoja = 3;

// The store's fixed folder keeps, in the working folder, the case the import
// looks for, whatever case the server lists it in.
std::string NomeLocalPasta(const std::string& nome, int nivel) {
    return nivel == 0 && Maiusculas(nome) == "AUDIOREC" ? std::string("AUDIOREC") : nome;
}

// Whether `nome`, and the temporary name it is fetched under, fit in the
// local folder `pasta` (whose longest name is `nomeMax`).
bool CabeNaPasta(const std::string& pasta, const std::string& nome, long nomeMax) {
    const std::string temporario = ClienteFTP::NomeTemporario(nome);
    return static_cast<long>(temporario.size()) <= nomeMax &&
           pasta.size() + temporario.size() < PATH_MAX;
}

long NomeMaximo(const std::string& pasta) {
    const long n = ::pathconf(pasta.c_str(), _PC_NAME_MAX);
    return n > 0 ? n : NAME_MAX;
}

}  // namespace

// ------------------------------------------------------------ Small helpers

std::string TPABXDownloadFTP::ChaveNaUnidade(const std::string& caminhoLocal, bool pasta) const {
    const std::string local = SemBarraFinal(caminhoLocal);
    const fs::path rel = fs::path(local).lexically_relative(fs::path(PastaPABX) / "NORVIKA");
    std::string r = rel.generic_string();
    if (r.empty() || r == "." || r == ".." || r.starts_with("../")) return {};
    if (pasta) r += '/';
    return Maiusculas(r);
}

void TPABXDownloadFTP::FicaNaUnidade(const std::string& caminhoLocal, bool pasta) {
    if (auto chave = ChaveNaUnidade(caminhoLocal, pasta); !chave.empty())
        FicamNaUnidade.insert(std::move(chave));
}

void TPABXDownloadFTP::SaiuDaUnidade(const std::string& caminhoLocal, bool pasta) {
    FicamNaUnidade.erase(ChaveNaUnidade(caminhoLocal, pasta));
}

bool TPABXDownloadFTP::DentroDoPeriodo() const {
    const DataHora agora = AgoraLocal();
    // A run without a window end (a local run) is never cut.
    return InicioPeriodo <= agora && (FimPeriodo.Vazia() || agora < FimPeriodo);
}

std::string TPABXDownloadFTP::RetiraParteCaminho(const std::string& caminho, int n) {
    std::size_t fim = caminho.size(), pos = std::string::npos;
    for (int i = 0; i < n; ++i) {
        pos = fim == 0 ? std::string::npos : caminho.rfind('/', fim - 1);
        if (pos == std::string::npos)
            throw std::runtime_error(
                "Caminho original é muito curto, não foi possível retirar parte do caminho.");
        fim = pos;
    }
    return n <= 0 ? std::string() : caminho.substr(pos + 1);
}

void TPABXDownloadFTP::BuscaArquivos(std::vector<std::string>& lista, const std::string& pasta,
                                     const std::string& mascara, bool recursivo) {
    const std::string base = ComBarraOuRaiz(pasta);
    std::vector<std::string> arquivos, pastas;
    std::error_code ec;
    for (fs::directory_iterator it(base, ec), fim; !ec && it != fim; it.increment(ec)) {
        const std::string nome = it->path().filename().string();
        const auto estado = it->symlink_status(ec);
        if (ec) continue;
        if (fs::is_regular_file(estado)) {
            if (::fnmatch(mascara.c_str(), nome.c_str(), FNM_CASEFOLD) == 0)
                arquivos.push_back(nome);
        } else if (fs::is_directory(estado)) {
            pastas.push_back(nome);
        }
    }
    std::sort(arquivos.begin(), arquivos.end());
    std::sort(pastas.begin(), pastas.end());
    for (const auto& a : arquivos) lista.push_back(base + a);
    if (recursivo)
        for (const auto& p : pastas) BuscaArquivos(lista, base + p, mascara, true);
}

int TPABXDownloadFTP::Minimo(int a, int b) { return a < b ? a : b; }

// ------------------------------------------------------------------ USB copy

std::int64_t TPABXDownloadFTP::TamanhoPasta(const std::string& pasta) {
    const std::string base = ComBarraOuRaiz(pasta);
    Log(LogInfo, true, "Calculando tamanho de: " + base);
    std::int64_t total = 0;
    std::vector<std::string> pastas;
    std::error_code ec;
    for (fs::directory_iterator it(base, ec), fim; !ec && it != fim; it.increment(ec)) {
        const auto estado = it->symlink_status(ec);
        if (ec) continue;
        const std::string nome = it->path().filename().string();
        if (fs::is_regular_file(estado)) {
            const auto tamanho = static_cast<std::int64_t>(it->file_size(ec));
            if (ec) continue;
            ++Historico.DWN_ARQBAIXAR;
            total += tamanho;
            Log(LogInfo, false,
                Traduz("Tamanho") + ": " + base + nome + "  Sz (" + std::to_string(tamanho) + ")");
        } else if (fs::is_directory(estado)) {
            pastas.push_back(nome);
        }
    }
    std::sort(pastas.begin(), pastas.end());
    for (const auto& p : pastas) total += TamanhoPasta(base + p);
    return total;
}

void TPABXDownloadFTP::CopiaPasta(const std::string& origem, const std::string& destino) {
    const std::string de = ComBarraOuRaiz(origem), para = ComBarraOuRaiz(destino);
    // The copy of the whole store starts the record of what stays behind.
    if (ChaveNaUnidade(para, true).empty()) FicamNaUnidade.clear();
    std::vector<std::pair<std::string, bool>> entradas;  // name, is a folder
    std::error_code ec;
    fs::directory_iterator it(de, ec);
    if (ec) {
        FicaNaUnidade(para, true);
        return;
    }
    SaiuDaUnidade(para, true);
    for (fs::directory_iterator fim; !ec && it != fim; it.increment(ec)) {
        const auto estado = it->symlink_status(ec);
        if (ec) continue;
        const std::string nome = it->path().filename().string();
        // Links and special files are not the unit's recordings: a link could
        // lead out of the drive, a device or pipe could block the copy.
        if (fs::is_directory(estado)) {
            entradas.emplace_back(nome, true);
        } else if (fs::is_regular_file(estado)) {
            entradas.emplace_back(nome, false);
        } else {
            Log(LogInfo, false, "Ignorado: " + de + NomeVisivel(nome));
            FicaNaUnidade(para, true);
        }
    }
    if (ec) FicaNaUnidade(para, true);
    std::sort(entradas.begin(), entradas.end());
    // The store's two fixed folders are found in any case and kept in the
    // case the import looks for.
    auto alvoDe = [](const std::string& nome, bool pasta) {
        const std::string maiuscula = Maiusculas(nome);
        return pasta && (maiuscula == "NORVIKA" || maiuscula == "AUDIOREC") ? maiuscula : nome;
    };
    // Until it is copied, each entry is one that stays at the unit.
    for (const auto& [nome, pasta] : entradas) {
        if (NomeSimplesAceitavel(nome))
            FicaNaUnidade(para + alvoDe(nome, pasta), pasta);
        else
            FicaNaUnidade(para, true);
    }
    const int tentativas = std::max(1, Config().TentaCopiaArquivo);
    for (const auto& [nome, pasta] : entradas) {
        if (Terminated()) return;
        if (!NomeSimplesAceitavel(nome)) continue;
        if (pasta) {
            const std::string alvo = alvoDe(nome, true);
            fs::create_directories(para + alvo, ec);
            CopiaPasta(de + nome, para + alvo);
            continue;
        }
        for (int i = 0; i < tentativas; ++i) {
            if (CopiaArquivo(de + nome, para + nome, true)) {
                Historico.DWN_OPERATUAL = OpArquivoTransferido;
                std::error_code e2;
                Historico.DWN_BYTESBAIXADO +=
                    static_cast<std::int64_t>(fs::file_size(para + nome, e2));
                ++Historico.DWN_ARQBAIXADO;
                SaiuDaUnidade(para + nome, false);
                break;
            }
            Log(LogInfo, false, "Falha ao copiar: " + de + nome);
        }
    }
    if (!entradas.empty()) BDRegistraHistoricoDownload(HistoricoTransferidos);
}

// ------------------------------------------------------------- FTP download

std::int64_t TPABXDownloadFTP::CalculaTamanhoFTP(ClienteFTP& ftp, const std::string& pastaRemota,
                                                 int nivel) {
    const std::string prefixo = "PABX " + std::to_string(CodigoPABX) + ": ";
    Log(LogInfo, false, Traduz("FTP altera diretório") + ": " + pastaRemota);
    std::vector<EntradaFTP> lista;
    try {
        lista = OrdenaListagem(ftp.Lista(pastaRemota), nullptr);
    } catch (const ErroFTP& e) {
        if (e.Classe() == ClasseErroFTP::Queda || e.Classe() == ClasseErroFTP::Parada) return 0;
        const std::string linha = Traduz("Falha ao acessar FTP: ") + " " + e.what();
        Log(LogSempre, true, prefixo + linha);
        ErrosFTP.push_back(linha);
        return 0;
    }
    const std::string base = ComBarraOuRaiz(pastaRemota);
    std::int64_t total = 0;
    std::vector<std::string> pastas;
    for (const auto& e : lista) {
        if (Terminated()) return total;
        if (e.tipo == EntradaFTP::Pasta) {
            pastas.push_back(e.nome);
            continue;
        }
        if (e.tipo != EntradaFTP::Arquivo) continue;
        std::int64_t tamanho = e.tamanho.value_or(-1);
        if (tamanho < 0) {
            try {
                tamanho = ftp.Consulta(pastaRemota, e.nome).tamanho;
            } catch (const ErroFTP& erro) {
                if (erro.Classe() == ClasseErroFTP::Queda || erro.Classe() == ClasseErroFTP::Parada)
                    return total;
                const std::string linha =
                    Traduz("Falha ao ler arquivos de FTP. ") + " " + erro.what();
                Log(LogSempre, false, prefixo + linha);
                ErrosFTP.push_back(linha);
                return total;
            }
            if (tamanho < 0) tamanho = 0;
        }
        ++Historico.DWN_ARQBAIXAR;
        total += tamanho;
        Log(LogInfo, true,
            Traduz("Tamanho") + ": " + base + NomeVisivel(e.nome) + "  Sz (" +
                std::to_string(tamanho) + ")");
    }
    if (nivel < NiveisLoja)
        for (const auto& p : pastas) total += CalculaTamanhoFTP(ftp, base + p, nivel + 1);
    return total;
}

bool TPABXDownloadFTP::BaixaPastaFTP(ClienteFTP& ftp, const std::string& pastaRemota, bool& parar,
                                     const std::string& pastaLocal, int nivel) {
    const std::string prefixo = "PABX " + std::to_string(CodigoPABX) + ": ";
    bool resultado = false;
    const std::string local = ComBarraOuRaiz(pastaLocal);
    const std::string remota = ComBarraOuRaiz(pastaRemota);
    std::error_code ec;
    fs::create_directories(local, ec);

    Log(LogInfo, false, Traduz("FTP altera diretório") + ": " + remota);
    std::vector<std::string> recusados;
    std::vector<EntradaFTP> lista;
    try {
        lista = OrdenaListagem(ftp.Lista(remota), &recusados);
    } catch (const ErroFTP& e) {
        FicaNaUnidade(local, true);  // whatever it holds was not seen
        if (e.Classe() == ClasseErroFTP::Parada) {
            parar = true;
        } else if (e.Classe() != ClasseErroFTP::Queda) {
            const std::string linha = Traduz("Falha ao listar arquivos FTP") + " " + e.what();
            Log(LogSempre, true, prefixo + linha);
            ErrosFTP.push_back(linha);
        }
        return false;
    }
    // A name that could leave this folder, or that would overwrite its case
    // twin, is never written nor entered.
    SaiuDaUnidade(local, true);  // its entries stand for it from here on
    for (const auto& nome : recusados) {
        const std::string linha =
            Traduz("Nome de arquivo recusado") + ": " + remota + NomeVisivel(nome);
        Log(LogSempre, true, prefixo + linha);
        ErrosFTP.push_back(linha);
        FicaNaUnidade(local, true);
    }
    // Until it is fetched (or walked), each entry is one that stays at the unit.
    for (const auto& e : lista) {
        if (e.tipo == EntradaFTP::Arquivo)
            FicaNaUnidade(local + e.nome, false);
        else if (e.tipo == EntradaFTP::Pasta)
            FicaNaUnidade(local + NomeLocalPasta(e.nome, nivel), true);
        else
            FicaNaUnidade(local, true);
    }
    if (lista.empty()) return recusados.empty();
    const long nomeMax = NomeMaximo(local);

    const int tentaDownload = std::max(1, Config().FTPTentaDownload);
    const int tentaConexao = std::max(1, Config().FTPTentaConexao);
    bool segue = true;
    std::string ultimaBase;
    std::string wavAtual;  // the recording being fetched in this folder
    std::vector<std::string> pastas;

    auto reconecta = [&](const ErroFTP& causa) {
        for (int i = 0; i < tentaConexao; ++i) {
            if (Terminated()) return false;
            try {
                ftp.Conecta();
                return true;
            } catch (const ErroFTP& e) {
                Log(LogSempre, true,
                    prefixo + Traduz("Não foi possível reconectar FTP") + " " + e.what());
            }
            if (i + 1 < tentaConexao) {
                const auto fim = std::chrono::steady_clock::now() + PausaReconexaoFTP;
                while (!Terminated() && std::chrono::steady_clock::now() < fim)
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        ErrosFTP.push_back(Traduz("Não foi possível reconectar FTP") + "  " + causa.what());
        return false;
    };
    // A file given up stays at the unit: it was never filed. It is counted,
    // goes in the mail, and the walk goes on with the next one.
    auto desiste = [&](const EntradaFTP& e, const std::string& texto) {
        resultado = false;
        ++Historico.DWN_FALHASDOWN;
        ErrosFTP.push_back(Traduz("Falha ao ler arquivo de FTP") + ": " + NomeVisivel(e.nome) +
                           "  " + texto);
        Log(LogSempre, true,
            prefixo + Traduz("Arquivo mantido no PABX") + ": " + remota + NomeVisivel(e.nome));
    };

    for (const auto& e : lista) {
        if (!segue || parar || fimCaminhadaFTP_) break;
        const std::string base = BaseMaiuscula(e.nome);
        if (base != ultimaBase && !DentroDoPeriodo()) {
            parar = true;
            Historico.DWN_TIMEOUT = 1;
            const std::string periodo = FormataDataHora(InicioPeriodo, "dd/mm/yyyy hh:nn:ss") +
                                        " - " + FormataDataHora(FimPeriodo, "dd/mm/yyyy hh:nn:ss");
            Log(LogSempre, true,
                prefixo + Traduz("Download interrompido por ultrapassar limite de tempo."));
            Log(LogSempre, true, prefixo + periodo);
            Log(LogSempre, false, resultado ? "Result TRUE" : "Result FALSE");
            ErrosFTP.push_back(Traduz("Download interrompido por ultrapassar limite de tempo.") +
                               "  " + periodo);
            break;
        }
        if (Terminated()) {
            parar = true;  // the service's stop ends the walk as the window's end does
            break;
        }
        if (e.tipo == EntradaFTP::Pasta) {
            pastas.push_back(e.nome);
            continue;
        }
        if (e.tipo != EntradaFTP::Arquivo) continue;
        if (!CabeNaPasta(local, e.nome, nomeMax)) {
            Log(LogSempre, true,
                prefixo + Traduz("Nome de arquivo longo demais, mantido no PABX") + ": " + remota +
                    NomeVisivel(e.nome));
            continue;
        }

        if (ExtensaoMaiuscula(e.nome) == ".WAV") wavAtual = e.nome;
        int tentativas = 0;
        bool reconectado = false;
        for (;;) {
            Log(LogInfo, false, Traduz("Baixando arquivo") + ": " + remota + NomeVisivel(e.nome));
            try {
                const std::int64_t n = ftp.Baixa(remota, e.nome, local + e.nome,
                                                 e.tamanho.value_or(-1), e.modificacao);
                ultimaBase = base;
                wavAtual.clear();
                resultado = true;
                Historico.DWN_OPERATUAL = OpArquivoTransferido;
                Historico.DWN_BYTESBAIXADO += n;
                ++Historico.DWN_ARQBAIXADO;
                SaiuDaUnidade(local + e.nome, false);
                // The row follows the transfer about once a second: a commit
                // per file would cost more than a small file's transfer.
                if (const auto agora = std::chrono::steady_clock::now();
                    agora - ultimoRegistroFTP_ >= std::chrono::seconds(1)) {
                    ultimoRegistroFTP_ = agora;
                    BDRegistraHistoricoDownload(HistoricoTransferidos);
                }
                Log(LogInfo, true, Traduz("Baixou arquivo") + ": " + remota + NomeVisivel(e.nome));
                break;
            } catch (const ErroFTP& erro) {
                const ClasseErroFTP classe = erro.Classe();
                if (classe == ClasseErroFTP::Parada) {
                    parar = true;
                    break;
                }
                if (classe == ClasseErroFTP::Local) {
                    const std::string linha = Traduz("Falha ao gravar arquivo") + ": " + local +
                                              NomeVisivel(e.nome) + "  " + erro.what();
                    Log(LogSempre, true, prefixo + linha);
                    ErrosFTP.push_back(linha);
                    resultado = false;
                    segue = false;
                    fimCaminhadaFTP_ = true;
                    break;
                }
                Log(LogSempre, true,
                    prefixo + Traduz("Falha ao ler arquivos de FTP. ") + " " + erro.what());
                if (classe == ClasseErroFTP::Queda || classe == ClasseErroFTP::Conexao) {
                    if (!reconecta(erro)) {
                        // Only a lost connection ends the folder.
                        resultado = false;
                        segue = false;
                        ++Historico.DWN_FALHASDOWN;
                        break;
                    }
                    if (reconectado) {
                        desiste(e, erro.what());
                        break;
                    }
                    reconectado = true;
                    continue;
                }
                if (wavAtual.empty()) break;  // not a recording's audio: move on
                ++tentativas;
                if (!reconectado && tentativas < tentaDownload) continue;
                desiste(e, erro.what());
                break;
            }
        }
    }
    for (const auto& p : pastas) {
        if (!segue || parar || fimCaminhadaFTP_) break;
        if (nivel >= NiveisLoja) {
            Log(LogSempre, true,
                prefixo + Traduz("Pasta fora da estrutura de gravações") + ": " + remota +
                    NomeVisivel(p));
            continue;
        }
        resultado =
            BaixaPastaFTP(ftp, remota + p, parar, local + NomeLocalPasta(p, nivel), nivel + 1);
    }
    return resultado;
}

std::string TPABXDownloadFTP::RaizLojaFTP(ClienteFTP& ftp) {
    // The store's folder as the server spells it; a server that will not
    // list its top folder is asked for the usual name.
    try {
        for (const auto& e : ftp.Lista("/"))
            if (e.tipo == EntradaFTP::Pasta && Maiusculas(e.nome) == "NORVIKA") return "/" + e.nome;
    } catch (const ErroFTP&) {
    }
    return "/NORVIKA";
}

bool TPABXDownloadFTP::DownloadFTP() {
    const std::string prefixo = "PABX " + std::to_string(CodigoPABX) + ": ";
    const fs::path arvore = fs::path(PastaPABX) / "NORVIKA";
    ErrosFTP.clear();
    FicamNaUnidade.clear();
    fimCaminhadaFTP_ = false;
    ultimoRegistroFTP_ = {};
    Log(LogInfo, true, "Início download FTP");
    if (Config().DelDir) ApagaPasta(arvore);

    OpcoesFTP opcoes;
    opcoes.host = FTPHost;
    opcoes.porta = FTPPorta;
    opcoes.usuario = FTPUsuario;
    opcoes.senha = FTPSenha;
    opcoes.seguranca = FTPSeguranca;
    opcoes.timeoutMs = Config().FTPTimeOut;
    opcoes.parar = [this] { return Terminated(); };

    bool ok = false;
    try {
        ClienteFTP ftp(opcoes);
        ftp.Conecta();
        Historico.DWN_OPERATUAL = OpContando;
        BDRegistraHistoricoDownload(HistoricoEstado);

        const std::string raiz = RaizLojaFTP(ftp);
        Historico.DWN_BYTESBAIXAR = CalculaTamanhoFTP(ftp, raiz);
        RegistraAContar();

        bool parar = false;
        ok = BaixaPastaFTP(ftp, raiz, parar, arvore.string());
        BDRegistraHistoricoDownload(HistoricoTransferidos);  // the walk's final counts
        if (!ok) {
            if (parar) {
                ok = true;
                Log(LogSempre, true, prefixo + Traduz("Download FTP interrompido por timeout"));
            } else {
                ok = Historico.DWN_ARQBAIXADO > 0;
                Log(LogSempre, true, prefixo + Traduz("Falha ao realizar download FTP"));
            }
        }
        ftp.Desconecta();
    } catch (const std::exception& e) {
        Historico.DWN_OPERATUAL = OpLoginRecusado;
        const std::string linha = Traduz("Não foi possível conectar FTP") + " " + e.what();
        Log(LogSempre, true, prefixo + linha);
        ErrosFTP.push_back(linha);
        ok = false;
    }

    if (!ErrosFTP.empty()) {
        const fs::path mail =
            fs::path(PastaPABX) / ("MAIL" + FormataDataHora(AgoraLocal(), "yyyymm") + ".LOG");
        {
            std::ofstream f(mail, std::ios::binary | std::ios::trunc);
            for (const auto& l : ErrosFTP) f << l << "\r\n";
        }
        ErrosFTP.insert(ErrosFTP.begin(),
                        "PABX " + std::to_string(CodigoPABX) + " - " + DescricaoPABX);
        Ambiente().Alertas.EnfileiraAlertaEmail(AlertaFalha, &ErrosFTP, {});
        ErrosFTP.clear();
    }

    if (ok) {
        Historico.DWN_OPERATUAL = OpTransferenciaFim;
        Historico.DWN_RESULTADO = ResultadoSucesso;
    } else {
        Historico.DWN_RESULTADO = ResultadoFalha;
    }
    Historico.DWN_DTFIMDOWN = AgoraLocal();
    BDRegistraHistoricoDownload(HistoricoFimTransferencia);
    if (!ok && Config().DelDir) ApagaPasta(arvore);
    Log(LogInfo, true, "Fim download FTP");
    return ok;
}
