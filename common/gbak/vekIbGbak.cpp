#include "common/gbak/vekIbGbak.h"
#include "common/Texto.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/Arquivos.h"

namespace fs = std::filesystem;

namespace {

enum Mensagem {
    SemUsuario,
    SemServidor,
    SemBase,
    SemBackup,
    SemRestauracao,
    StatusExiste,
    NumMensagens,
};

// The service's build speaks Portuguese, the console's build keeps the
// component's own French texts.
constexpr const char* MensagensServico[NumMensagens] = {
    "Defina o nome do usuário",
    "Defina o nome do servidor",
    "Defina o caminho da pasta da base de dados",
    "Defina o caminho da pasta de destino do Backup",
    "Defina o caminho da pasta de destino da restauração",
    "Erro, a pasta já existe",
};
constexpr const char* MensagensConsole[NumMensagens] = {
    "Vous devez saisir un nom d'utilisateur",
    "Vous devez saisir un nom de serveur",
    "Vous devez saisir un nom de fichier de Base de données",
    "Vous devez saisir au moins un nom de fichier Backup",
    "Vous devez saisir au moins un nom de fichier de restauration",
    "Erreur, le fichier Statut existe déjà sur le disque",
};

std::string Aspas(const std::string& s) { return "\"" + s + "\""; }

// Display text and argument vector grow together, piece by piece.
struct Construtor {
    LinhaGbak l;
    // A switch with no value: "-sw ".
    void Chave(const char* chave) {
        l.texto += chave;
        l.texto += ' ';
        l.argumentos.emplace_back(chave);
    }
    // A switch with a bare value: "-sw V ".
    void ChaveValor(const char* chave, const std::string& valor) {
        l.texto += std::string(chave) + ' ' + valor + ' ';
        l.argumentos.emplace_back(chave);
        l.argumentos.push_back(valor);
    }
    // A switch with a quoted value: "-sw "V" ".
    void ChaveAspas(const char* chave, const std::string& valor) {
        l.texto += std::string(chave) + ' ' + Aspas(valor) + ' ';
        l.argumentos.emplace_back(chave);
        l.argumentos.push_back(valor);
    }
    // The account: the display keeps the classic -pas with the password
    // masked; gbak itself reads the password from a file.
    void Conta(const std::string& usuario, const std::string& senha,
               const std::string& arquivoSenha) {
        l.texto += "-user " + Aspas(usuario) + " -pas " +
                   Aspas(senha.empty() ? std::string() : TvekIbGbak::SenhaOculta) + ' ';
        l.argumentos.emplace_back("-user");
        l.argumentos.push_back(usuario);
        if (!senha.empty()) {
            l.argumentos.emplace_back("-fetch_password");
            l.argumentos.push_back(arquivoSenha);
        }
    }
};

const char* SufixoTamanho(TBackupType t) {
    switch (t) {
        case TBackupType::blKilobytes: return "k";
        case TBackupType::blMegabytes: return "m";
        case TBackupType::blGigabytes: return "g";
        case TBackupType::blBytes: break;
    }
    return "";
}

// The services manager's name for the protocol. SPX and Windows named pipes
// do not exist on Linux: a line naming them could only fail later, inside
// gbak, with a far less clear message.
std::string GerenciadorServicos(TNetwork protocolo, const std::string& servidor) {
    switch (protocolo) {
        case TNetwork::npTcpIp: return servidor + ":service_mgr";
        case TNetwork::npLocal: return "service_mgr";
        case TNetwork::npSpx: throw GbakErro("Protocolo de rede não suportado neste sistema: SPX");
        case TNetwork::npNamePipe:
            throw GbakErro("Protocolo de rede não suportado neste sistema: Named Pipes");
    }
    throw GbakErro("Protocolo de rede desconhecido");
}

bool Executavel(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec) && ::access(p.c_str(), X_OK) == 0;
}

std::string ProcuraNoPath(const std::string& nome) {
    const char* path = std::getenv("PATH");
    std::string lista = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t inicio = 0;
    while (inicio <= lista.size()) {
        std::size_t fim = lista.find(':', inicio);
        if (fim == std::string::npos) fim = lista.size();
        std::string pasta = lista.substr(inicio, fim - inicio);
        if (pasta.empty()) pasta = ".";
        const fs::path candidato = fs::path(pasta) / nome;
        if (Executavel(candidato)) return candidato.string();
        inicio = fim + 1;
    }
    return {};
}

// A private folder (0700) for the password and output files of one run,
// removed with everything in it when the run ends, however it ends.
class PastaPrivada final {
  public:
    PastaPrivada() {
        const char* tmp = std::getenv("TMPDIR");
        std::string modelo = ComBarra(tmp && *tmp ? tmp : "/tmp") + "veruzadu-gbak.XXXXXX";
        if (::mkdtemp(modelo.data()))
            caminho_ = modelo;
        else
            erro_ = errno;
    }
    ~PastaPrivada() {
        if (caminho_.empty()) return;
        std::error_code ec;
        fs::remove_all(caminho_, ec);
    }
    PastaPrivada(const PastaPrivada&) = delete;
    PastaPrivada& operator=(const PastaPrivada&) = delete;

    bool Ok() const { return !caminho_.empty(); }
    int Erro() const { return erro_; }
    const fs::path& Caminho() const { return caminho_; }

  private:
    fs::path caminho_;
    int erro_ = 0;
};

// Writes the password to a new file readable by us alone; false with errno
// on failure.
bool GravaSenha(const fs::path& arquivo, const std::string& senha) {
    const int fd =
        ::open(arquivo.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const char* p = senha.data();
    std::size_t resta = senha.size();
    while (resta > 0) {
        const ssize_t n = ::write(fd, p, resta);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int e = errno;
            ::close(fd);
            errno = e;
            return false;
        }
        p += n;
        resta -= static_cast<std::size_t>(n);
    }
    return ::close(fd) == 0;
}

// gbak's own explanation of a failure: its "ERROR:" lines, else its last
// lines. Read from the captured output and, when that says nothing (a -y
// file takes all output), from the status file.
std::string ResumoSaida(const fs::path& saida, const std::string& arquivoStatus) {
    auto resume = [](const fs::path& arquivo) {
        std::ifstream in(arquivo, std::ios::binary);
        std::vector<std::string> erros, ultimas;
        std::string linha;
        while (std::getline(in, linha)) {
            linha = std::string(AparaBrancos(linha));
            if (linha.empty()) continue;
            const auto pos = linha.find("ERROR:");
            if (pos != std::string::npos) {
                const std::string resto(AparaBrancos(linha.substr(pos + 6)));
                if (!resto.empty()) erros.push_back(resto);
            }
            ultimas.push_back(linha);
            if (ultimas.size() > 3) ultimas.erase(ultimas.begin());
        }
        const auto& escolha = erros.empty() ? ultimas : erros;
        std::string r;
        for (const auto& l : escolha) {
            if (!r.empty()) r += ' ';
            r += l;
        }
        constexpr std::size_t Maximo = 1000;
        if (r.size() > Maximo) r = r.substr(0, Maximo) + "...";
        return r;
    };
    std::string r = resume(saida);
    if (r.empty() && !arquivoStatus.empty()) r = resume(arquivoStatus);
    return r;
}

}  // namespace

std::string TvekBackupFile::GetDisplayName() const {
    return FileName.empty() ? "TvekBackupFile" : FileName;
}

std::string TvekRestoreFile::GetDisplayName() const {
    return FileName.empty() ? "TvekRestoreFile" : FileName;
}

std::string TvekBddFile::GetDisplayName() const {
    return FileName.empty() ? "TvekBddFile" : FileName;
}

void TvekBddFile::SetFileSize(std::uint16_t paginas) {
    if (paginas > 0 && paginas < 200)
        throw GbakErro("Erreur, la valeur minimale doit être de 200 ou bien 0 quand il s'agit d'un "
                       "seul fichier");
    fileSize_ = paginas;
}

void TOptionRestore::SetBuffers(std::uint16_t buffers) {
    if (buffers > 0 && buffers < 50)
        throw GbakErro("La valeur des buffers doit être au moins égale à 50 (0 pour ne pas "
                       "utiliser cette option)");
    buffers_ = buffers;
    if (buffers_ != 0) pageSize_ = TPageSize::psNone;
}

void TOptionRestore::SetPageSize(TPageSize tamanho) {
    pageSize_ = tamanho;
    if (pageSize_ != TPageSize::psNone) buffers_ = 0;
}

TvekIbGbak::TvekIbGbak(VarianteGbak variante) : variante_(variante) {}

const char* TvekIbGbak::Texto(int id) const {
    return variante_ == VarianteGbak::Console ? MensagensConsole[id] : MensagensServico[id];
}

LinhaGbak TvekIbGbak::MontaBackup(const std::string& arquivoSenha) const {
    return Monta(false, false, false, arquivoSenha);
}

LinhaGbak TvekIbGbak::MontaRestore(const std::string& arquivoSenha) const {
    return Monta(true, false, false, arquivoSenha);
}

LinhaGbak TvekIbGbak::MontaRestore(const std::string& arquivoSenha, bool completo) const {
    return Monta(true, true, completo, arquivoSenha);
}

LinhaGbak TvekIbGbak::Monta(bool restauracao, bool console, bool completo,
                            const std::string& arquivoSenha) const {
    if (UserName.empty()) throw GbakErro(Texto(SemUsuario));
    if (Server.empty()) throw GbakErro(Texto(SemServidor));
    if (DataBaseFiles.Vazia()) throw GbakErro(Texto(SemBase));
    if (!restauracao && BackupFiles.Vazia()) throw GbakErro(Texto(SemBackup));
    if (restauracao && RestoreFiles.Vazia()) throw GbakErro(Texto(SemRestauracao));

    Construtor c;
    if (!restauracao) {
        const TOptionBackup& o = opBackup;
        c.Chave("-b");
        c.Conta(UserName, PassWord, arquivoSenha);
        if (o.Convert) c.Chave("-con");
        if (o.Expand) c.Chave("-exp");
        if (o.Factor != 0) c.ChaveValor("-fac", std::to_string(o.Factor));
        if (o.GarbageCollect) c.Chave("-gar");
        if (o.Ignore) c.Chave("-ign");
        if (o.Limbo) c.Chave("-lim");
        if (o.MetadataOnly) c.Chave("-met");
        c.Chave(o.TransportableFormat == TTypeTransport::ttNonTransportable ? "-nt" : "-tra");
        if (o.OldFormat) c.Chave("-old");
        if (!o.Role.empty()) c.ChaveAspas("-rol", o.Role);
        if (!o.StatutMessageFile.empty()) c.ChaveAspas("-y", o.StatutMessageFile);
        if (o.Verbose) c.Chave("-ver");

        const std::string& base = DataBaseFiles.GetItem(0).FileName;
        if (o.Service) {
            const std::string gerenciador = GerenciadorServicos(NetworkProtocol, Server);
            c.l.texto += "-ser " + Aspas(gerenciador) + ' ' + Aspas(base);
            c.l.argumentos.insert(c.l.argumentos.end(), {"-ser", gerenciador, base});
        } else {
            c.l.texto += Aspas(Server + ':' + base);
            c.l.argumentos.push_back(Server + ':' + base);
        }
        const std::size_t n = BackupFiles.Count();
        for (std::size_t i = 0; i < n; ++i) {
            const TvekBackupFile& f = BackupFiles.GetItem(i);
            c.l.texto += ' ' + Aspas(f.FileName);
            c.l.argumentos.push_back(f.FileName);
            if (i + 1 < n) {
                const std::string tamanho = std::to_string(f.FileSize) + SufixoTamanho(f.SizeType);
                c.l.texto += ' ' + tamanho;
                c.l.argumentos.push_back(tamanho);
            }
        }
        return std::move(c.l);
    }

    const TOptionRestore& o = opRestore;
    if (o.RestoreType == TRestoreType::rtReplace) {
        // "-r o" recreates over an existing database; a bare "-r" refuses one.
        if (!console || completo)
            c.ChaveValor("-r", "o");
        else
            c.Chave("-r");
    } else {
        c.Chave("-c");
    }
    c.Conta(UserName, PassWord, arquivoSenha);
    if (o.Buffers() != 0) c.ChaveValor("-buf", std::to_string(o.Buffers()));
    if (o.InactiveIndexes) c.Chave("-ina");
    if (o.KillShadow) c.Chave("-kill");
    if (o.Mode == TModeDB::moReadOnly) c.ChaveValor("-mod", "read_only");
    if (o.NoValidityConstraints) c.Chave("-no");
    switch (o.PageSize()) {
        case TPageSize::ps1024: c.ChaveValor("-page", "1024"); break;
        case TPageSize::ps2048: c.ChaveValor("-page", "2048"); break;
        case TPageSize::ps4196: c.ChaveValor("-page", "4196"); break;
        case TPageSize::ps8192: c.ChaveValor("-page", "8192"); break;
        case TPageSize::psNone: break;
    }
    if (o.UseAllSpace) c.Chave("-use_all");
    if (!o.StatutMessageFile.empty()) c.ChaveAspas("-y", o.StatutMessageFile);
    if (o.Verbose) c.Chave("-ver");
    if (o.Service) {
        const std::string gerenciador = GerenciadorServicos(NetworkProtocol, Server);
        c.l.texto += "-ser " + Aspas(gerenciador);
        c.l.argumentos.insert(c.l.argumentos.end(), {"-ser", gerenciador});
    }
    for (const TvekRestoreFile& f : RestoreFiles) {
        c.l.texto += ' ' + Aspas(f.FileName);
        c.l.argumentos.push_back(f.FileName);
    }
    const std::size_t n = DataBaseFiles.Count();
    for (std::size_t i = 0; i < n; ++i) {
        const TvekBddFile& f = DataBaseFiles.GetItem(i);
        const std::string alvo = o.Service ? f.FileName : Server + ':' + f.FileName;
        c.l.texto += ' ' + Aspas(alvo);
        c.l.argumentos.push_back(alvo);
        if (i + 1 < n) {
            c.l.texto += ' ' + std::to_string(f.FileSize());
            c.l.argumentos.push_back(std::to_string(f.FileSize()));
        }
    }
    return std::move(c.l);
}

std::string TvekIbGbak::ProgramaGbak(bool usaPasta) const {
    if (usaPasta && !gBakDirectory.empty()) return ComBarra(gBakDirectory) + "gbak";
    if (usaPasta) {
        const std::string pasta = PastaBinFirebird();
        if (!pasta.empty() && Executavel(ComBarra(pasta) + "gbak")) return ComBarra(pasta) + "gbak";
    }
    return ProcuraNoPath("gbak");
}

bool TvekIbGbak::Backup() { return Executa(false, false, false); }

bool TvekIbGbak::Restore() { return Executa(true, false, false); }

bool TvekIbGbak::Restore(bool completo) { return Executa(true, true, completo); }

// What a run has ready before its gbak starts: the line, the program and the
// private folder with the password file and gbak's output.
struct PreparoGbak {
    PastaPrivada pasta;
    fs::path saida;
    std::string programa;
    bool noPath = false;
    std::string status;
    LinhaGbak linha;
};

bool TvekIbGbak::Prepara(bool restauracao, bool console, bool completo, PreparoGbak& p) {
    motivo_.clear();
    // Checks first: a missing setting raises before anything is touched.
    LinhaGbak linha = Monta(restauracao, console, completo, std::string());
    linha_ = linha.texto;

    const bool sobrescreve = restauracao ? opRestore.OverWriteStatFile : opBackup.OverWriteStatFile;
    p.status = restauracao ? opRestore.StatutMessageFile : opBackup.StatutMessageFile;
    if (!p.status.empty()) {
        std::error_code ec;
        const bool existe = fs::exists(fs::symlink_status(p.status, ec));
        if (existe && !sobrescreve) throw GbakErro(Texto(StatusExiste));
        if (existe && !fs::remove(p.status, ec)) {
            motivo_ =
                "Não foi possível apagar o arquivo de status " + p.status + ": " + ec.message();
            return false;
        }
    }

    if (CommandLineOnClipBoard && AreaTransferencia)
        AreaTransferencia((restauracao ? "gBak " : "gbak ") + linha.texto);

    const bool usaPasta = !console || completo || !restauracao;
    // Not found in PATH: the runner still tries the bare name, so a missing
    // gbak fails like any program that cannot start (Error 1).
    p.programa = ProgramaGbak(usaPasta);
    p.noPath = p.programa.empty();
    if (p.noPath) p.programa = "gbak";

    if (!p.pasta.Ok()) {
        motivo_ = std::string("Não foi possível criar a pasta temporária do gbak: ") +
                  std::strerror(p.pasta.Erro());
        return false;
    }
    const fs::path arquivoSenha = p.pasta.Caminho() / "senha";
    p.saida = p.pasta.Caminho() / "saida.txt";
    if (!PassWord.empty() && !GravaSenha(arquivoSenha, PassWord)) {
        motivo_ = std::string("Não foi possível gravar o arquivo de senha do gbak: ") +
                  std::strerror(errno);
        return false;
    }
    p.linha = Monta(restauracao, console, completo, arquivoSenha.string());
    return true;
}

bool TvekIbGbak::Inicia(PreparoGbak& p, bool espera, int entrada, int saida) {
    FExecApp.ApplicationName = p.programa;
    FExecApp.Param = std::move(p.linha.argumentos);
    FExecApp.SetShowWindow(ShowProcess ? TShow::SHOW : TShow::HIDE);
    FExecApp.Wait = espera;
    FExecApp.ArquivoSaida = p.saida;
    FExecApp.DescritorEntrada = entrada;
    FExecApp.DescritorSaida = saida;
    FExecApp.ProcessaMensagens = ProcessaMensagens;
    FExecApp.TempoLimite = TempoLimite;
    FExecApp.Interrompe = Interrompe;
    const bool ok = FExecApp.Execute();
    // Whoever waits or not, this object ends its gbak when it goes away.
    FExecApp.Wait = true;
    if (ok) return true;
    const int erro = FExecApp.ErroSistema() ? FExecApp.ErroSistema() : EINVAL;
    if (erro == ENOENT)
        motivo_ = "gbak não encontrado: " + (p.noPath ? std::string("gbak (PATH)") : p.programa);
    else
        motivo_ = "Não foi possível iniciar o gbak (" + p.programa + "): " + std::strerror(erro);
    return false;
}

bool TvekIbGbak::Conclui(const PreparoGbak& p) {
    if (FExecApp.Excedido()) {
        motivo_ =
            "gbak encerrado: tempo limite de " +
            std::to_string(std::chrono::duration_cast<std::chrono::seconds>(TempoLimite).count()) +
            " segundos excedido";
        return false;
    }
    if (FExecApp.Interrompido()) {
        motivo_ = "gbak encerrado: serviço parando";
        return false;
    }
    if (FExecApp.ExitCode() == 0) return true;
    motivo_ = "gbak terminou com código " + std::to_string(FExecApp.ExitCode());
    const std::string resumo = ResumoSaida(p.saida, p.status);
    if (!resumo.empty()) motivo_ += ": " + resumo;
    return false;
}

bool TvekIbGbak::Executa(bool restauracao, bool console, bool completo) {
    PreparoGbak p;
    if (!Prepara(restauracao, console, completo, p)) return false;
    if (!Inicia(p, true, -1, -1)) return false;
    return Conclui(p);
}

bool TvekIbGbak::BackupRestore(TvekIbGbak& destino, bool completo) {
    BackupFiles.Clear();
    BackupFiles.Add().FileName = "stdout";
    destino.RestoreFiles.Clear();
    destino.RestoreFiles.Add().FileName = "stdin";
    PreparoGbak pb, pr;
    if (!Prepara(false, false, false, pb)) return false;
    if (!destino.Prepara(true, true, completo, pr)) return false;

    int canal[2];
    if (::pipe2(canal, O_CLOEXEC) != 0) {
        motivo_ =
            std::string("Não foi possível criar o canal entre os gbak: ") + std::strerror(errno);
        return false;
    }
    // Our copies close as soon as both have theirs: either end alone then
    // sees the other go (end of file, or a broken pipe) instead of waiting.
    struct Fecha {
        int& fd;
        ~Fecha() {
            if (fd >= 0) ::close(fd);
        }
        void Agora() {
            ::close(fd);
            fd = -1;
        }
    } leitura{canal[0]}, escrita{canal[1]};
    if (!destino.Inicia(pr, false, canal[0], -1)) return false;
    if (!Inicia(pb, false, -1, canal[1])) {
        destino.FExecApp.Terminate();
        return false;
    }
    leitura.Agora();
    escrita.Agora();
    FExecApp.WaitForExit();
    destino.FExecApp.WaitForExit();
    const bool okBackup = Conclui(pb);
    const bool okRestore = destino.Conclui(pr);
    return okBackup && okRestore;
}
