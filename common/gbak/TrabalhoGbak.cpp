#include "common/gbak/TrabalhoGbak.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <thread>
#include "common/PontoTeste.h"

namespace fs = std::filesystem;

namespace {

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

// The last lines of gbak's status file that say what went wrong.
std::string ErroDoStatus(const std::string& status) {
    if (status.empty()) return {};
    std::ifstream f(status);
    std::vector<std::string> erros;
    for (std::string l; std::getline(f, l);)
        if (l.find("ERROR") != std::string::npos || l.find("rror") != std::string::npos)
            erros.push_back(l);
    std::string r;
    for (std::size_t i = erros.size() > 3 ? erros.size() - 3 : 0; i < erros.size(); ++i)
        r += (r.empty() ? "" : " ") + erros[i];
    return r;
}

std::string Motivo(const RegraGbak& regra, const TvekIbGbak& gbak, const std::string& status) {
    std::string m = gbak.Motivo();
    if (!regra.explicaStatus) return m;
    const std::string s = ErroDoStatus(status);
    if (!s.empty()) m += (m.empty() ? "" : ": ") + s;
    return m;
}

void Configura(const RegraGbak& regra, TvekIbGbak& gbak, const std::string& status) {
    if (regra.configura) regra.configura(gbak, status);
}

void ApagaStatus(const RegraGbak& regra, const std::string& status) {
    if (regra.apagaStatus && !status.empty()) Remove(status);
}

[[noreturn]] void Erro(const std::string& o_que, const fs::path& arquivo, int erro) {
    throw std::runtime_error(o_que + " " + arquivo.string() + ": " + std::strerror(erro));
}

}  // namespace

PontoPausa PausaDoAmbiente() {
    return [](std::string_view ponto) { PausaNoPonto("VERUZADU_PAUSA_BACKUP", ponto); };
}

bool GravaBackup(const RegraGbak& regra, const std::string& status, const std::string& banco,
                 const fs::path& temporario, const fs::path& final, const PontoPausa& pausa,
                 std::string& motivo) {
    Remove(temporario);  // a leftover of an interrupted run
    if (pausa) pausa("backup");
    TvekIbGbak gbak(regra.variante);
    bool ok = false;
    try {
        Configura(regra, gbak, status);
        gbak.BackupFiles.Add().FileName = temporario.string();
        gbak.DataBaseFiles.Add().FileName = banco;
        ok = gbak.Backup();
        if (!ok) motivo = Motivo(regra, gbak, status);
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
            motivo = "não foi possível renomear " + temporario.string() + ": " + ec.message();
        } else {
            SincronizaPasta(final.parent_path());
        }
    }
    if (!ok)
        Remove(temporario);
    else
        ApagaStatus(regra, status);
    return ok;
}

bool RestauraEmNovo(const RegraGbak& regra, const std::string& status, const std::string& origem,
                    const std::string& novo, std::string& motivo) {
    TvekIbGbak gbak(regra.variante);
    try {
        Configura(regra, gbak, status);
        gbak.opRestore.RestoreType = TRestoreType::rtCreate;
        gbak.RestoreFiles.Add().FileName = origem;
        gbak.DataBaseFiles.Add().FileName = novo;
        const bool ok =
            regra.variante == VarianteGbak::Console ? gbak.Restore(regra.completo) : gbak.Restore();
        if (ok) {
            ApagaStatus(regra, status);
            return true;
        }
        motivo = Motivo(regra, gbak, status);
    } catch (const GbakErro& e) {
        motivo = e.what();
    }
    return false;
}

bool CopiaBanco(const RegraGbak& regra, const std::string& statusOrigem,
                const std::string& statusDestino, const std::string& origem,
                const std::string& destino, std::string& motivo) {
    TvekIbGbak backup(regra.variante), restauracao(regra.variante);
    try {
        Configura(regra, backup, statusOrigem);
        backup.opBackup.GarbageCollect = true;  // gbak's -g: no garbage collection
        backup.DataBaseFiles.Add().FileName = origem;
        Configura(regra, restauracao, statusDestino);
        restauracao.opRestore.RestoreType = TRestoreType::rtCreate;
        restauracao.DataBaseFiles.Add().FileName = destino;
        if (backup.BackupRestore(restauracao, regra.completo)) {
            ApagaStatus(regra, statusOrigem);
            ApagaStatus(regra, statusDestino);
            return true;
        }
        // The restore's own failure says more than a backup cut short by it.
        const std::string mr = Motivo(regra, restauracao, statusDestino);
        const std::string mb = Motivo(regra, backup, statusOrigem);
        motivo = !mr.empty() ? mr : mb;
        if (!mr.empty() && !mb.empty()) motivo += " (backup: " + mb + ")";
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
        motivo = "não foi possível remover " + bak.string() + ": " + ec.message();
        return false;
    }
    // A second name for the live file, not a rename: the live name never
    // stands empty, whenever the process may be killed.
    if (fs::exists(viva, ec)) {
        fs::create_hard_link(viva, bak, ec);
        if (ec) {
            motivo = "não foi possível criar " + bak.string() + ": " + ec.message();
            return false;
        }
    }
    if (pausa) pausa("troca");
    fs::rename(novo, viva, ec);
    if (ec) {
        motivo = "não foi possível renomear " + novo.string() + ": " + ec.message();
        return false;
    }
    SincronizaPasta(viva.parent_path());
    return true;
}

// ---- RegistroPendente ----

RegistroPendente::RegistroPendente(fs::path arquivo, std::string secao)
    : arquivo_(std::move(arquivo)), secao_(std::move(secao)) {}

void RegistroPendente::Grava(const Campos& campos) const {
    std::string s;
    if (!secao_.empty()) s += "[" + secao_ + "]\n";
    for (const auto& [chave, valor] : campos) {
        // Names never hold a line break (server paths checked on the way in).
        if (valor.find_first_of("\r\n") != std::string::npos)
            throw std::runtime_error("Valor inválido no registro " + arquivo_.string() + ": " +
                                     chave);
        s += chave + '=' + valor + '\n';
    }

    const fs::path temp = arquivo_.string() + ".tmp";
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) Erro("Não foi possível criar", temp, errno);
    const char* p = s.data();
    std::size_t falta = s.size();
    while (falta > 0) {
        const ssize_t n = ::write(fd, p, falta);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int e = errno;
            ::close(fd);
            Erro("Erro ao gravar", temp, e);
        }
        p += n;
        falta -= std::size_t(n);
    }
    if (::fsync(fd) != 0) {
        const int e = errno;
        ::close(fd);
        Erro("Erro ao gravar", temp, e);
    }
    if (::close(fd) != 0) Erro("Erro ao gravar", temp, errno);
    if (::rename(temp.c_str(), arquivo_.c_str()) != 0)
        Erro("Não foi possível renomear", temp, errno);
    SincronizaPasta(arquivo_.parent_path());
}

std::optional<RegistroPendente::Campos> RegistroPendente::Le() const {
    if (!Existe()) return std::nullopt;
    std::ifstream f(arquivo_);
    if (!f) Erro("Não foi possível abrir", arquivo_, errno);
    Campos campos;
    for (std::string l; std::getline(f, l);) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        if (!l.empty() && l.front() == '[') continue;
        const auto igual = l.find('=');
        if (igual == std::string::npos) continue;
        campos.emplace_back(l.substr(0, igual), l.substr(igual + 1));
    }
    return campos;
}

bool RegistroPendente::Existe() const {
    std::error_code ec;
    return fs::exists(arquivo_, ec);
}

void RegistroPendente::Apaga() const { Remove(arquivo_); }
