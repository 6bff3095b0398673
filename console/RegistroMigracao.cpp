#include "console/RegistroMigracao.h"

#include <cstdlib>
#include <stdexcept>

#include "common/Configuracao.h"
#include "common/PontoTeste.h"
#include "common/gbak/TrabalhoGbak.h"

namespace fs = std::filesystem;

namespace {

RegistroPendente Registro() { return RegistroPendente(ArquivoRegistroMigracao()); }

}  // namespace

fs::path ArquivoRegistroMigracao() { return PastaPrograma() + "migracao.pendente"; }

void GravaRegistroMigracao(const RegistroMigracao& r) {
    RegistroPendente::Campos c{
        {"passo", r.passo}, {"servidor", r.servidor}, {"versaoServidor", r.versaoServidor}};
    for (const auto& d : r.desligados) c.emplace_back("desligado", d);
    for (const auto& t : r.temporarios) c.emplace_back("temporario", t);
    c.insert(c.end(), {{"vivoPrincipal", r.vivoPrincipal},
                       {"vivoUnidade", r.vivoUnidade},
                       {"unidadeExiste", r.unidadeExiste ? "1" : "0"},
                       {"guardaPrincipal", r.guardaPrincipal},
                       {"guardaUnidade", r.guardaUnidade},
                       {"antigo", r.antigo},
                       {"destinoAntigo", r.destinoAntigo},
                       {"servicoParado", r.servicoParado ? "1" : "0"},
                       {"fim", "1"}});
    Registro().Grava(c);
}

std::optional<RegistroMigracao> LeRegistroMigracao() {
    const auto campos = Registro().Le();
    if (!campos) return std::nullopt;
    RegistroMigracao r;
    bool fim = false;
    for (const auto& [chave, valor] : *campos) {
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
        throw std::runtime_error("Registro da migração incompleto: " +
                                 ArquivoRegistroMigracao().string());
    return r;
}

void ApagaRegistroMigracao() { Registro().Apaga(); }

void PontoMorteMigracao(std::string_view ponto) { MorteNoPonto("VERUZADU_MIGRACAO_MORTE", ponto); }
