#include "service/EspacoDisco.h"

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <cctype>
#include <exception>
#include <filesystem>

#include "common/Processos.h"
#include "common/Texto.h"
#include "service/AlertaEmail.h"
#include "service/LacoPrincipal.h"
#include "service/LogServico.h"

namespace {

// The highest folder above `pasta` on the same device: where its file system
// is mounted.
std::string PontoMontagem(const std::filesystem::path& pasta) {
    struct stat st {};
    if (::stat(pasta.c_str(), &st) != 0) return pasta.string();
    std::filesystem::path atual = pasta;
    for (;;) {
        const std::filesystem::path pai = atual.parent_path();
        if (pai.empty() || pai == atual) return atual.string();
        struct stat sp {};
        if (::stat(pai.c_str(), &sp) != 0 || sp.st_dev != st.st_dev) return atual.string();
        atual = pai;
    }
}

}  // namespace

std::optional<TamanhoDisco> ConsultaDiscoLocal::Consulta(const std::string& pasta) const {
    if (pasta.empty()) return std::nullopt;
    std::error_code ec;
    const std::filesystem::path caminho = std::filesystem::canonical(pasta, ec);
    if (ec) return std::nullopt;
    struct statvfs sv {};
    if (::statvfs(caminho.c_str(), &sv) != 0) return std::nullopt;
    TamanhoDisco t;
    t.Livre = static_cast<std::uint64_t>(sv.f_bavail) * sv.f_frsize;
    t.Total = static_cast<std::uint64_t>(sv.f_blocks) * sv.f_frsize;
    t.Raiz = PontoMontagem(caminho);
    return t;
}

bool ServidorNesteComputador(std::string_view servidor) {
    std::string nome = RemoveBarrasIniciais(servidor);
    if (const auto barra = nome.find('/'); barra != std::string::npos) nome.erase(barra);
    nome = Maiusculas(nome);
    if (nome.empty() || nome == "LOCALHOST" || nome == "::1" || nome.rfind("127.", 0) == 0)
        return true;
    const std::string computador = NomeComputador();
    if (!computador.empty() && (nome == computador || nome.rfind(computador + ".", 0) == 0))
        return true;
    for (const auto& ip : ListaIPs())
        if (nome == ip) return true;
    return false;
}

bool PoucoEspacoLivre(std::uint64_t livre, std::uint64_t total) {
    return static_cast<unsigned __int128>(livre) * 5 < static_cast<unsigned __int128>(total);
}

VerificacaoDisco::VerificacaoDisco(LogServico& log, AlertasEmail& alertas,
                                   const ConsultaDisco& consulta)
    : log_(log), alertas_(alertas), consulta_(consulta) {}

void VerificacaoDisco::VerificaEspacoLivreEmDisco(const std::string& pasta) {
    try {
        log_.Log(LogInfo, false, log_.Traduz("Verificando espaço em disco"));
        const std::optional<TamanhoDisco> disco = consulta_.Consulta(pasta);
        if (!disco) return;
        if (disco->Total == 0) {
            // No share of nothing can be formed: say so, alert nobody.
            log_.Log(LogErro, false,
                     "Ver disk: " + log_.Traduz("Tamanho total do disco é zero") + " (" +
                         disco->Raiz + ")");
            return;
        }
        if (!PoucoEspacoLivre(disco->Livre, disco->Total)) return;
        constexpr std::uint64_t MiB = 1048576;
        const std::string texto =
            log_.Traduz("Alerta de pouco espaço em disco na unidade") + " " + disco->Raiz + ": " +
            log_.Traduz("Espaço livre") + ": " + std::to_string(disco->Livre / MiB) + " Mb " +
            log_.Traduz("do total de") + ": " + std::to_string(disco->Total / MiB) + " Mb";
        log_.Log(LogSempre, false, texto);
        const DataHora agora = log_.AgoraLocal();
        if (ultimoAlertaDisco_.Vazia() || HorasEntre(ultimoAlertaDisco_, agora) >= 24) {
            ultimoAlertaDisco_ = agora;
            alertas_.EnfileiraAlertaEmail(AlertaCapacidade, nullptr, texto);
        }
    } catch (const std::exception& e) {
        log_.Log(LogErro, false, std::string("Ver disk: ") + e.what());
    }
}
