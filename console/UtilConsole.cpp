#include "console/UtilConsole.h"

#include <atomic>
#include <cstdio>
#include <filesystem>

#include "common/Configuracao.h"
#include "common/DataHora.h"
#include "common/LinhaLog.h"
#include "common/Processos.h"

namespace {
std::atomic<bool> logAtivo{false};
}

void DefineLogConsoleAtivo(bool ativo) { logAtivo.store(ativo); }
bool LogConsoleAtivo() { return logAtivo.load(); }

std::string NomeLogConsole(int ano, int mes) {
    char nome[32];
    std::snprintf(nome, sizeof nome, "GRE%04d%02d.LOG", ano, mes);
    return nome;
}

void GravaLogConsole(std::string_view texto) {
    if (!logAtivo.load()) return;
    try {
        const DataHora agora = Agora();
        AcrescentaAoArquivo(std::filesystem::path(PastaPrograma()) /
                                NomeLogConsole(agora.ano, agora.mes),
                            LinhaLog(agora, texto));
    } catch (...) {
    }
}

std::string NomePerfil(int perfil) {
    switch (perfil) {
        case 1: return "Administrador";
        case 2: return "Operador";
        default: return {};
    }
}

bool BitLigado(std::uint16_t palavra, int n) { return n >= 0 && n < 16 && (palavra >> n) & 1u; }

std::uint16_t LigaBit(std::uint16_t palavra, int n) {
    if (n < 0 || n > 15) return palavra;
    return static_cast<std::uint16_t>(palavra | (1u << n));
}

std::uint16_t DesligaBit(std::uint16_t palavra, int n) {
    if (n < 0 || n > 15) return palavra;
    return static_cast<std::uint16_t>(palavra & ~(1u << n));
}

void AjustaBit(bool ligado, std::uint16_t& palavra, int n) {
    palavra = ligado ? LigaBit(palavra, n) : DesligaBit(palavra, n);
}

int VersaoWindows() { return -1; }

std::string RetiraFinalCaminho(std::string_view caminho, int n) {
    if (n <= 0) return std::string(caminho);
    int achadas = 0;
    for (std::size_t i = caminho.size(); i-- > 1;) {
        if (caminho[i] == '/' && ++achadas == n) return std::string(caminho.substr(0, i));
    }
    return std::string(caminho);
}

bool ExecutaNaPastaEAguarda(const std::string& programa, const std::vector<std::string>& argumentos,
                            std::chrono::milliseconds limite) {
    std::vector<std::string> argv{programa};
    argv.insert(argv.end(), argumentos.begin(), argumentos.end());
    OpcoesProcesso opcoes;
    opcoes.pasta = std::filesystem::path(programa).parent_path();
    opcoes.limite = limite.count() > 0 ? limite : std::chrono::seconds(30);
    return ExecutaProcesso(argv, opcoes).iniciado;
}

#include "Versao.h"
#include "common/Traducao.h"

std::string VersaoPrograma() { return VERUZADU_VERSAO; }

std::string TextoVersaoPrograma() { return Traduz("Versão") + ": " + VersaoPrograma(); }
