#include "console/RegistroMigracao.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "common/Configuracao.h"
#include "common/PontoTeste.h"

namespace fs = std::filesystem;

namespace {

void Erro(const std::string& o_que, const fs::path& arquivo, int erro) {
    throw std::runtime_error(o_que + " " + arquivo.string() + ": " + std::strerror(erro));
}

// Names never hold a line break (server paths checked on the way in).
void Linha(std::string& s, const char* chave, const std::string& valor) {
    if (valor.find_first_of("\r\n") != std::string::npos)
        throw std::runtime_error(std::string("Valor inválido no registro da migração: ") + chave);
    s += chave;
    s += '=';
    s += valor;
    s += '\n';
}

}  // namespace

fs::path ArquivoRegistroMigracao() { return PastaPrograma() + "migracao.pendente"; }

void GravaRegistroMigracao(const RegistroMigracao& r) {
    std::string s;
    Linha(s, "passo", r.passo);
    Linha(s, "servidor", r.servidor);
    Linha(s, "versaoServidor", r.versaoServidor);
    for (const auto& d : r.desligados) Linha(s, "desligado", d);
    for (const auto& t : r.temporarios) Linha(s, "temporario", t);
    Linha(s, "vivoPrincipal", r.vivoPrincipal);
    Linha(s, "vivoUnidade", r.vivoUnidade);
    Linha(s, "unidadeExiste", r.unidadeExiste ? "1" : "0");
    Linha(s, "guardaPrincipal", r.guardaPrincipal);
    Linha(s, "guardaUnidade", r.guardaUnidade);
    Linha(s, "antigo", r.antigo);
    Linha(s, "destinoAntigo", r.destinoAntigo);
    Linha(s, "servicoParado", r.servicoParado ? "1" : "0");
    s += "fim=1\n";

    const fs::path destino = ArquivoRegistroMigracao();
    const fs::path temp = destino.string() + ".tmp";
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
    if (::rename(temp.c_str(), destino.c_str()) != 0)
        Erro("Não foi possível renomear", temp, errno);
    const int pasta = ::open(destino.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (pasta >= 0) {
        ::fsync(pasta);
        ::close(pasta);
    }
}

std::optional<RegistroMigracao> LeRegistroMigracao() {
    const fs::path arquivo = ArquivoRegistroMigracao();
    std::error_code ec;
    if (!fs::exists(arquivo, ec)) return std::nullopt;
    std::ifstream f(arquivo);
    if (!f) Erro("Não foi possível abrir", arquivo, errno);
    RegistroMigracao r;
    bool fim = false;
    for (std::string l; std::getline(f, l);) {
        const auto igual = l.find('=');
        if (igual == std::string::npos) continue;
        const std::string chave = l.substr(0, igual), valor = l.substr(igual + 1);
        if (chave == "passo")
            r.passo = valor;
        else if (chave == "servidor")
            r.servidor = valor;
        else if (chave == "versaoServidor")
            r.versaoServidor = valor;
        else if (chave == "desligado")
            r.desligados.push_back(valor);
        else if (chave == "temporario")
            r.temporarios.push_back(valor);
        else if (chave == "vivoPrincipal")
            r.vivoPrincipal = valor;
        else if (chave == "vivoUnidade")
            r.vivoUnidade = valor;
        else if (chave == "unidadeExiste")
            r.unidadeExiste = valor == "1";
        else if (chave == "guardaPrincipal")
            r.guardaPrincipal = valor;
        else if (chave == "guardaUnidade")
            r.guardaUnidade = valor;
        else if (chave == "antigo")
            r.antigo = valor;
        else if (chave == "destinoAntigo")
            r.destinoAntigo = valor;
        else if (chave == "servicoParado")
            r.servicoParado = valor == "1";
        else if (chave == "fim")
            fim = true;
    }
    // Written by rename only: a record without its last line is not ours.
    if (!fim || r.passo.empty() || r.servidor.empty())
        throw std::runtime_error("Registro da migração incompleto: " + arquivo.string());
    return r;
}

void ApagaRegistroMigracao() {
    std::error_code ec;
    fs::remove(ArquivoRegistroMigracao(), ec);
}

void PontoMorteMigracao(std::string_view ponto) { MorteNoPonto("VERUZADU_MIGRACAO_MORTE", ponto); }
