// Recordings backup of a download run: the unit's working files go to a
// folder (typically a network share) and to an FTP server, each target with
// its own format setting in the CONFIG row. The first error of a target ends
// that target's pass and is logged and mailed; the other target still runs.
//
// Runs on the download thread; each call reads one configuration snapshot and
// makes its own FTP client.

#include "service/download/PABXDownloadFTP.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "common/IniFile.h"
#include "common/Arquivos.h"
#include "common/Texto.h"
#include "service/download/ClienteFTP.h"

namespace fs = std::filesystem;

namespace {

struct FormatoBackup {
    const char* mascara;   // files searched below AUDIOREC
    const char* extensao;  // upper-cased extension kept by the own-format filter
};

// The targets' format values: 2 Ogg copies, 3 encrypted copies, anything else
// above 0 the downloaded recordings.
FormatoBackup Formato(int valor) {
    switch (valor) {
        case 2: return {"C*.OGG", ".OGG"};
        case 3: return {"C*.DAD", ".DAD"};
        default: return {"R*.WAV", ".WAV"};
    }
}

std::string ExtensaoMaiuscula(const std::string& nome) {
    const auto ponto = nome.rfind('.');
    return ponto == std::string::npos ? std::string() : Maiusculas(nome.substr(ponto));
}

// The name a description has at the targets.
std::string NomeXMLBackup(const std::string& nome) {
    return "R" + (nome.size() > 1 ? nome.substr(1, 7) : std::string()) + ".XML";
}

// Where a working file sits below AUDIOREC: only files at L1/L2/, as the
// import files them, go to the targets.
struct Lugar {
    std::string l1, l2, nome;
};

std::optional<Lugar> LugarArquivo(const std::string& audiorec, const std::string& arquivo) {
    if (arquivo.size() <= audiorec.size() || arquivo.compare(0, audiorec.size(), audiorec) != 0)
        return std::nullopt;
    const std::string resto = arquivo.substr(audiorec.size());
    const auto a = resto.find('/');
    if (a == std::string::npos) return std::nullopt;
    const auto b = resto.find('/', a + 1);
    if (b == std::string::npos || resto.find('/', b + 1) != std::string::npos) return std::nullopt;
    Lugar l{resto.substr(0, a), resto.substr(a + 1, b - a - 1), resto.substr(b + 1)};
    if (l.l1.empty() || l.l2.empty() || l.nome.empty()) return std::nullopt;
    return l;
}

// The folder target is usable: an absolute path none of whose existing
// folders is an fstab mount point left unmounted (that would fill the local
// disk and report it as backed up). `motivo` says why not.
bool DestinoUtilizavel(const std::string& destino, const fs::path& fstab, const fs::path& montagens,
                       std::string& motivo) {
    if (destino.empty() || destino == "/") {
        motivo = "pasta não configurada";
        return false;
    }
    if (destino.front() != '/') {
        motivo = "caminho relativo: " + destino;
        return false;
    }
    const std::string s = SemBarraFinal(fs::path(destino).lexically_normal().string());
    std::error_code ec;
    for (fs::path p = s;; p = p.parent_path()) {
        if (fs::is_directory(p, ec) && !DiscoPronto(p.string(), fstab, montagens)) {
            motivo = "disco não disponível: " + p.string();
            return false;
        }
        if (p == p.parent_path()) break;
    }
    return true;
}

// A failure of one step of the FTP target, with its text ready.
struct FalhaFTP : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool QuedaFTP(const ErroFTP& e) {
    return e.Classe() == ClasseErroFTP::Queda || e.Classe() == ClasseErroFTP::Conexao;
}

// One backup call: the run, the snapshot and the file lists.
class Backup {
  public:
    Backup(TPABXDownloadFTP& run, bool somenteFormatoProprio, const std::vector<std::string>* dados)
        : run_(run), cfg_(run.ConfigGeral()), somenteProprio_(somenteFormatoProprio && !dados),
          dados_(dados) {
        if (!cfg_) cfg_ = std::make_shared<const ConfiguracaoGeral>();
        char codigo[8];
        std::snprintf(codigo, sizeof codigo, "%03d", run_.CodigoPABX);
        unidade_ = std::string("PABX") + codigo;
        audiorec_ = run_.PastaPABX;
        if (!audiorec_.empty() && audiorec_.back() != '/') audiorec_ += '/';
        audiorec_ += "NORVIKA/AUDIOREC/";
    }

    void Executa() {
        std::string erroPasta, erroFTP;
        if (cfg_->CFG_NETBACKUP > 0) erroPasta = Pasta();
        if (cfg_->CFG_FTPBACKUP > 0) erroFTP = FTP();
        if (!erroPasta.empty()) run_.LogAlerta(erroPasta);
        if (!erroFTP.empty()) run_.LogAlerta(erroFTP);
    }

  private:
    std::string T(std::string_view texto) const { return run_.Traduz(texto); }
    void Log(std::uint16_t nivel, bool console, const std::string& texto) {
        run_.Log(nivel, console, texto);
    }

    // The files a target sends, in order, with their place.
    std::vector<std::pair<std::string, Lugar>> Arquivos(int formato) const {
        std::vector<std::string> lista;
        if (dados_)
            lista = *dados_;
        else
            TPABXDownloadFTP::BuscaArquivos(lista, audiorec_, Formato(formato).mascara, true);
        std::vector<std::pair<std::string, Lugar>> r;
        for (auto& a : lista) {
            auto lugar = LugarArquivo(audiorec_, a);
            if (!lugar) continue;
            if (somenteProprio_ && ExtensaoMaiuscula(lugar->nome) != Formato(formato).extensao)
                continue;
            r.emplace_back(std::move(a), std::move(*lugar));
        }
        return r;
    }

    std::string Pasta() {
        Log(LogInfo, true, T("Início backup arquivos"));
        // The snapshot is shared: the separator goes on a copy of its text.
        std::string destino = cfg_->CFG_NETDSTPATH;
        if (!destino.empty() && destino.back() != '/') destino += '/';
        std::string erro, motivo;
        if (!DestinoUtilizavel(destino, run_.TabelaFstab, run_.TabelaMontagens, motivo))
            erro = T("Erro ao acessar pasta de backup") + ": " + motivo;
        const auto arquivos = erro.empty() ? Arquivos(cfg_->CFG_NETBACKUP)
                                           : std::vector<std::pair<std::string, Lugar>>{};
        for (const auto& [arquivo, lugar] : arquivos) {
            if (!erro.empty() || run_.Terminated()) break;
            const std::string pasta = destino + unidade_ + "/" + lugar.l1 + "/" + lugar.l2 + "/";
            Log(LogInfo, false, "Pasta backup: " + destino);
            std::error_code ec;
            fs::create_directories(pasta, ec);
            if (ec || !fs::is_directory(pasta)) {
                erro = T("Erro ao acessar pasta de backup") + ": " +
                       (ec ? ec.message() : pasta + " não é uma pasta");
                break;
            }
            try {
                const std::string alvo = pasta + lugar.nome;
                Log(LogInfo, false, "Backup WAV: " + arquivo);
                if (TPABXDownloadFTP::CopiaArquivoBackup(arquivo, alvo)) {
                    const std::string xml = TPABXDownloadFTP::ArquivoXMLBackup(arquivo);
                    Log(LogInfo, false, "Backup XML: " + xml);
                    if (fs::is_regular_file(xml, ec)) {
                        const std::string alvoXML = pasta + NomeXMLBackup(lugar.nome);
                        if (!TPABXDownloadFTP::CopiaArquivoBackup(xml, alvoXML))
                            erro = T("Não foi possível criar o arquivo de backup") + ": " + alvoXML;
                    } else {
                        Log(LogInfo, false, "Backup XML não existe arquivo: " + xml);
                    }
                } else {
                    erro = T("Não foi possível criar o arquivo de backup") + ": " + arquivo +
                           " para: " + alvo;
                }
            } catch (const std::exception& e) {
                erro = T("Erro ao transferir arquivo para backup") + ": " + e.what();
            }
        }
        Log(LogInfo, true, T("Fim backup arquivos"));
        return erro;
    }

    std::string FTP() {
        Log(LogInfo, true, T("Início backup FTP"));
        std::string erro;
        try {
            const auto arquivos = Arquivos(cfg_->CFG_FTPBACKUP);
            OpcoesFTP op;
            op.host = cfg_->CFG_FTPHOST;
            op.porta = cfg_->CFG_FTPPORT > 0 ? cfg_->CFG_FTPPORT : 21;
            op.usuario = cfg_->CFG_FTPUSER;
            op.senha = cfg_->SenhaFTP;
            op.seguranca = cfg_->CFG_FTPSECURITY;
            op.timeoutMs = run_.Config().FTPTimeOut;
            op.parar = [this] { return run_.Terminated(); };
            ClienteFTP ftp(std::move(op));
            try {
                ftp.Conecta();
                Log(LogInfo, true, T("Conectou FTP"));
            } catch (const ErroFTP& e) {
                erro = T("Falha ao conectar FTP de backup") + " " + e.what();
            }
            std::set<std::string> existentes;  // folders known at the server
            if (erro.empty()) {
                try {
                    PastaUnidade(ftp, existentes);
                } catch (const FalhaFTP& f) {
                    erro = f.what();
                } catch (const std::exception& e) {
                    erro = T("Falha ao verificar diretório FTP de backup") + " " + e.what();
                }
            }
            for (const auto& [arquivo, lugar] : arquivos) {
                if (!erro.empty() || run_.Terminated()) break;
                if (!ftp.Conectado()) {
                    erro = T("Conexão com servidor FTP de backup foi perdida");
                    break;
                }
                const std::string pasta = unidade_ + "/" + lugar.l1 + "/" + lugar.l2;
                const std::string chave = lugar.l1 + "/" + lugar.l2;
                if (!existentes.contains(chave)) {
                    try {
                        ftp.CriaPasta(pasta);
                    } catch (const ErroFTP& e) {
                        erro = QuedaFTP(e) ? T("Conexão com servidor FTP de backup foi perdida")
                                           : T("Falha ao criar pasta no servidor FTP de backup") +
                                                 ": " + e.what();
                        break;
                    }
                    existentes.insert(chave);
                }
                try {
                    ftp.Envia(pasta, lugar.nome, arquivo);
                    const std::string xml = TPABXDownloadFTP::ArquivoXMLBackup(arquivo);
                    std::error_code ec;
                    if (fs::is_regular_file(xml, ec))
                        ftp.Envia(pasta, NomeXMLBackup(lugar.nome), xml);
                } catch (const ErroFTP& e) {
                    erro = QuedaFTP(e)
                               ? T("Conexão com servidor FTP de backup foi perdida")
                               : T("Falha ao fazer upload em FTP de backup") + ": " + e.what();
                }
            }
            if (ftp.Conectado()) ftp.Desconecta();
        } catch (const std::exception& e) {
            erro = T("Não foi possível verificar conexão com servidor FTP de backup") + ". " +
                   e.what();
        }
        Log(LogInfo, true, T("Fim backup FTP"));
        return erro;
    }

    // The unit's folder below the login folder: found, or made; its entries
    // are remembered as existing.
    void PastaUnidade(ClienteFTP& ftp, std::set<std::string>& existentes) {
        auto lista = [&](std::string_view pasta) {
            try {
                return ftp.Lista(pasta);
            } catch (const ErroFTP& e) {
                throw FalhaFTP(T("Não foi possível obter lista do FTP") + " " + e.what());
            }
        };
        Log(LogInfo, true, T("Obtendo lista do FTP"));
        bool existe = false;
        for (const auto& e : lista("/"))
            if (e.tipo != EntradaFTP::Arquivo && Maiusculas(e.nome) == unidade_) existe = true;
        Log(LogInfo, true, T("Verificando pasta: ") + unidade_);
        if (!existe) ftp.CriaPasta(unidade_);
        Log(LogInfo, true, T("Obtendo lista do FTP") + " " + unidade_);
        for (const auto& e : lista(unidade_)) {
            Log(LogInfo, false, "Dir FTP: " + e.nome);
            if (e.tipo == EntradaFTP::Pasta) existentes.insert(e.nome);
        }
    }

    TPABXDownloadFTP& run_;
    std::shared_ptr<const ConfiguracaoGeral> cfg_;
    bool somenteProprio_;
    const std::vector<std::string>* dados_;
    std::string unidade_, audiorec_;
};

}  // namespace

void TPABXDownloadFTP::BackupArquivos(bool somenteFormatoProprio) {
    Backup(*this, somenteFormatoProprio, nullptr).Executa();
}

void TPABXDownloadFTP::BackupArquivos(const std::vector<std::string>& arquivos) {
    Backup(*this, false, &arquivos).Executa();
}

bool TPABXDownloadFTP::CopiaArquivoBackup(const std::string& origem, const std::string& destino) {
    std::error_code ec;
    const auto tamanho = fs::file_size(origem, ec);
    if (ec) return false;
    // A complete earlier copy stays; a cut one (smaller) is replaced.
    if (fs::is_regular_file(destino, ec)) {
        const auto existente = fs::file_size(destino, ec);
        if (!ec && existente >= tamanho) return true;
    }
    if (!CopiaArquivo(origem, destino, true)) return false;
    const auto copiado = fs::file_size(destino, ec);
    if (ec || copiado != tamanho) {
        fs::remove(destino, ec);
        return false;
    }
    return true;
}

std::string TPABXDownloadFTP::ArquivoXMLBackup(const std::string& arquivo) {
    const fs::path p(arquivo);
    const std::string nome = NomeXMLBackup(p.filename().string());
    if (auto achado = ProcuraArquivoSemCaixa(p.parent_path(), nome)) return achado->string();
    return (p.parent_path() / nome).string();
}
