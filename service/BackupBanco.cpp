#include "service/BackupBanco.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "common/Sistema.h"
#include "common/PontoTeste.h"
#include "common/Texto.h"
#include "common/db/FirebirdError.h"
#include "common/db/Servicos.h"

namespace fs = std::filesystem;

namespace {

long long SegundosAbsolutos(const DataHora& a, const DataHora& b) {
    return std::llabs(SegundosDesdeEpoca(a) - SegundosDesdeEpoca(b));
}

// The host part of "host" or "host/port".
std::string SoHost(const std::string& servidor) {
    std::string s = RemoveBarrasIniciais(servidor);
    const auto barra = s.find('/');
    if (barra != std::string::npos) s.erase(barra);
    return Maiusculas(s);
}

// A rename is only durable once its folder has been written out.
void SincronizaPasta(const fs::path& pasta) {
    const int fd = ::open(pasta.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

void Remove(const fs::path& arquivo) {
    std::error_code ec;
    fs::remove(arquivo, ec);
}

std::string MensagemErro(const std::error_code& ec) { return ec.message(); }

}  // namespace

long long DiasEntre(const DataHora& a, const DataHora& b) {
    return SegundosAbsolutos(a, b) / 86400;
}

long long SemanasEntre(const DataHora& a, const DataHora& b) {
    return SegundosAbsolutos(a, b) / (7 * 86400);
}

long long MesesEntre(const DataHora& a, const DataHora& b) {
    // 30.4375 days = 2,629,800 seconds exactly.
    return SegundosAbsolutos(a, b) / 2629800;
}

bool BackupVencido(int periodo, const DataHora& ultimo, const DataHora& agoraServidor) {
    if (periodo != BackupDiario && periodo != BackupSemanal && periodo != BackupMensal)
        return false;
    if (ultimo.Vazia()) return true;
    switch (periodo) {
        case BackupDiario: return DiasEntre(ultimo, agoraServidor) >= 1;
        case BackupSemanal: return SemanasEntre(ultimo, agoraServidor) >= 1;
        default: return MesesEntre(ultimo, agoraServidor) >= 1;
    }
}

std::string NomeBackupPrincipal(const DataHora& data) {
    return "veruzadu_" + FormataDataHora(data, "yyyymmdd") + ".gbk";
}

std::string NomeBackupUnidade(int codigo, const DataHora& data) {
    return "grvpab" + CodigoTresDigitos(codigo) + "_" + FormataDataHora(data, "yyyymmdd") + ".gbk";
}

bool ServidorNesteComputador(const std::string& servidor, const std::string& ipConectado) {
    const std::string host = SoHost(servidor);
    if (host.empty()) return false;
    if (host == "LOCALHOST" || host == "127.0.0.1" || host == "::1") return true;
    if (host == Maiusculas(NomeComputador())) return true;
    if (!ipConectado.empty() && host == Maiusculas(ipConectado)) return true;
    const auto ips = ListaIPs();
    return std::find(ips.begin(), ips.end(), host) != ips.end();
}

std::string ArquivoStatusGbak(const std::string& pasta, const std::string& nome, bool& recusado) {
    recusado = false;
    if (nome.empty()) return {};
    if (nome.find_first_of("/\\") != std::string::npos || nome.find("..") != std::string::npos ||
        nome.find('\0') != std::string::npos) {
        recusado = true;
        return {};
    }
    return ComBarraTrocaContrabarra(pasta) + nome;
}

void ConfiguraGbak(TvekIbGbak& gbak, const ContaGbak& conta, const std::string& arquivoStatus) {
    gbak.CommandLineOnClipBoard = false;
    gbak.ShowProcess = false;
    gbak.NetworkProtocol = TNetwork::npTcpIp;
    gbak.Server = Maiusculas(RemoveBarrasIniciais(conta.servidor));
    gbak.gBakDirectory = conta.pastaGbak;
    gbak.UserName = conta.usuario;
    gbak.PassWord = conta.senha;
    gbak.TempoLimite = conta.tempoLimite;
    gbak.Interrompe = conta.interrompe;

    TOptionBackup b;
    b.TransportableFormat = TTypeTransport::ttTransportable;
    b.Verbose = b.OverWriteStatFile = !arquivoStatus.empty();
    b.StatutMessageFile = arquivoStatus;
    gbak.opBackup = b;

    TOptionRestore r;
    r.SetBuffers(0);
    r.SetPageSize(TPageSize::psNone);
    r.Mode = TModeDB::moReadWrite;
    r.Verbose = r.OverWriteStatFile = !arquivoStatus.empty();
    r.StatutMessageFile = arquivoStatus;
    gbak.opRestore = r;
}

PontoPausa PausaDoAmbiente() {
    return [](std::string_view ponto) { PausaNoPonto("VERUZADU_PAUSA_BACKUP", ponto); };
}

bool PreparaDestino(const std::string& pasta, std::string& motivo) {
    if (pasta.empty()) {
        motivo = "pasta de destino vazia";
        return false;
    }
    std::error_code ec;
    // A mount point above the folder that is not mounted is an empty folder on
    // the system disk: a backup there would fill the wrong disk and vanish
    // once the medium is mounted again.
    fs::path p = fs::absolute(fs::path(pasta), ec).lexically_normal();
    for (fs::path a = p; !a.empty(); a = a.parent_path()) {
        if (fs::exists(a, ec) && !DiscoPronto(a.string())) {
            motivo = "destino não disponível: " + a.string();
            return false;
        }
        if (a == a.root_path()) break;
    }
    fs::create_directories(p, ec);
    if (ec || !fs::is_directory(p, ec)) {
        motivo = "não foi possível criar " + pasta + (ec ? ": " + MensagemErro(ec) : "");
        return false;
    }
    if (::access(p.c_str(), W_OK | X_OK) != 0) {
        motivo = "sem permissão de escrita em " + pasta;
        return false;
    }
    return true;
}

fs::path ArquivoTemporarioBackup(const fs::path& final) {
    return fs::path(final.string() + ".tmp");
}

bool GravaBackup(const ContaGbak& conta, const std::string& arquivoStatus,
                 const std::string& bancoServidor, const fs::path& final, const PontoPausa& pausa,
                 std::string& motivo) {
    const fs::path temporario = ArquivoTemporarioBackup(final);
    Remove(temporario);  // a leftover of an interrupted run
    if (pausa) pausa("backup");
    TvekIbGbak gbak;
    bool ok = false;
    try {
        ConfiguraGbak(gbak, conta, arquivoStatus);
        gbak.BackupFiles.Add().FileName = temporario.string();
        gbak.DataBaseFiles.Add().FileName = bancoServidor;
        ok = gbak.Backup();
        if (!ok) motivo = gbak.Motivo();
    } catch (const GbakErro& e) {
        motivo = e.what();
    }
    std::error_code ec;
    if (ok && !fs::is_regular_file(temporario, ec)) {
        ok = false;
        motivo = "gbak não gravou " + temporario.string();
    }
    if (ok) {
        fs::rename(temporario, final, ec);
        if (ec) {
            ok = false;
            motivo = "não foi possível renomear " + temporario.string() + ": " + MensagemErro(ec);
        } else {
            SincronizaPasta(final.parent_path());
        }
    }
    if (!ok) Remove(temporario);
    return ok;
}

fs::path ArquivoNovoBanco(const fs::path& viva) { return fs::path(viva.string() + ".novo"); }

bool RestauraEmNovo(const ContaGbak& conta, const std::string& arquivoStatus,
                    const std::string& origem, const std::string& novo, std::string& motivo) {
    TvekIbGbak gbak;
    try {
        ConfiguraGbak(gbak, conta, arquivoStatus);
        gbak.opRestore.RestoreType = TRestoreType::rtCreate;
        gbak.RestoreFiles.Add().FileName = origem;
        gbak.DataBaseFiles.Add().FileName = novo;
        if (gbak.Restore()) return true;
        motivo = gbak.Motivo();
    } catch (const GbakErro& e) {
        motivo = e.what();
    }
    return false;
}

bool TrocaBanco(const fs::path& viva, const fs::path& novo, const fs::path& bak,
                const PontoPausa& pausa, std::string& motivo) {
    std::error_code ec;
    if (!fs::is_regular_file(novo, ec)) {
        motivo = "arquivo restaurado ausente: " + novo.string();
        return false;
    }
    fs::remove(bak, ec);
    if (ec) {
        motivo = "não foi possível remover " + bak.string() + ": " + MensagemErro(ec);
        return false;
    }
    // A second name for the live file, not a rename: the live name never
    // stands empty, whenever the process may be killed.
    if (fs::exists(viva, ec)) {
        fs::create_hard_link(viva, bak, ec);
        if (ec) {
            motivo = "não foi possível criar " + bak.string() + ": " + MensagemErro(ec);
            return false;
        }
    }
    if (pausa) pausa("troca");
    fs::rename(novo, viva, ec);
    if (ec) {
        motivo = "não foi possível renomear " + novo.string() + ": " + MensagemErro(ec);
        return false;
    }
    SincronizaPasta(viva.parent_path());
    return true;
}

// ---- TrabalhoPendente ----

TrabalhoPendente::TrabalhoPendente(fs::path pastaPrograma)
    : arquivo_(std::move(pastaPrograma) / "BackupBanco.pendente") {}

bool TrabalhoPendente::Registra(const std::string& bancoServidor, const fs::path& novo,
                                const fs::path& temporario) {
    IniFile ini(arquivo_);
    return ini.WriteString("Pendente", "Banco", bancoServidor) &&
           ini.WriteString("Pendente", "Novo", novo.string()) &&
           ini.WriteString("Pendente", "Temporario", temporario.string());
}

void TrabalhoPendente::Conclui() { Remove(arquivo_); }

bool TrabalhoPendente::Existe() const {
    std::error_code ec;
    return fs::exists(arquivo_, ec);
}

bool TrabalhoPendente::Recupera(const ContaGbak& conta, std::string& relato) {
    if (!Existe()) return true;
    IniFile ini(arquivo_);
    const std::string banco = ini.ReadString("Pendente", "Banco", "");
    const std::string novo = ini.ReadString("Pendente", "Novo", "");
    const std::string temporario = ini.ReadString("Pendente", "Temporario", "");
    std::error_code ec;
    if (!banco.empty() && fs::exists(banco, ec)) {
        try {
            ReligaBanco(RemoveBarrasIniciais(conta.servidor), conta.usuario, conta.senha, banco);
        } catch (const FirebirdError& e) {
            relato = "Não foi possível recolocar em linha " + banco + ": " + e.what();
            return false;
        }
    }
    if (!novo.empty()) Remove(novo);
    if (!temporario.empty()) Remove(temporario);
    Conclui();
    relato = "Trabalho interrompido da base de dados concluído: " + banco;
    return true;
}
