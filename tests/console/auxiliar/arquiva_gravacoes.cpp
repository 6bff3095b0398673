// For the console's player tests: fills a simulated unit's store and files
// its recordings into a unit database with the service's own filing, in the
// kinds the service writes: plain WAV, Ogg Vorbis, enciphered WAV (0x81) and
// enciphered Ogg (0x82), `--per-kind` of each, in that order.
//
// A program of its own because the service's and the console's libraries
// each define their own configuration record and cannot share one process.
//
//   arquiva_gravacoes --unit CONN --main CONN --user USER --work DIR
//                     [--per-kind N] [--seed S]
// The database password and the recordings' passphrase come from the
// environment (VZT_SENHA_BD, VZT_SENHA_GRAVACOES), never the command line.
// Exit 0 when every recording was filed.

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "common/CifraTexto.h"
#include "service/download/ArquivamentoGravacao.h"
#include "tools/pabx-sim/Recordings.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    std::string unidade, principal, usuario;
    fs::path trabalho;
    int porTipo = 5;
    unsigned semente = 24;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i], v = argv[i + 1];
        if (a == "--unit")
            unidade = v;
        else if (a == "--main")
            principal = v;
        else if (a == "--user")
            usuario = v;
        else if (a == "--work")
            trabalho = v;
        else if (a == "--per-kind")
            porTipo = std::stoi(v);
        else if (a == "--seed")
            semente = static_cast<unsigned>(std::stoul(v));
    }
    const char* senhaBD = std::getenv("VZT_SENHA_BD");
    const char* senhaGravacoes = std::getenv("VZT_SENHA_GRAVACOES");
    if (unidade.empty() || principal.empty() || trabalho.empty() || !senhaBD || !senhaGravacoes) {
        std::cerr << "arquiva_gravacoes: missing arguments\n";
        return 2;
    }
    try {
        const auto resumo = pabxsim::MakeRecordings(trabalho / "loja", porTipo * 8, semente);
        std::vector<fs::path> pares;
        for (const fs::path& w : resumo.wavFiles) {
            fs::path x = w;
            x.replace_extension(".XML");
            if (fs::exists(x) && fs::file_size(w) > 0) pares.push_back(w);
        }
        if (pares.size() < static_cast<std::size_t>(4 * porTipo)) {
            std::cerr << "arquiva_gravacoes: too few recordings in the store\n";
            return 1;
        }
        auto cfg = std::make_shared<ConfiguracaoGeral>();
        cfg->CFG_CRIPTOKEY = CriptografaTexto(senhaGravacoes);
        ContextoArquivamento c;
        c.CodigoPABX = 1;
        c.PastaPABX = trabalho / "PABX001";
        fs::create_directories(c.PastaPABX);
        c.BaseDadosPABX = {unidade, usuario, senhaBD};
        c.BaseDadosPrincipal = {principal, usuario, senhaBD};
        c.Tabela = TabelaALaw(8);
        c.Configuracao = [cfg] { return std::shared_ptr<const ConfiguracaoGeral>(cfg); };
        c.Log = [](std::uint16_t, bool, const std::string& t) { std::cerr << t << "\n"; };
        ArquivamentoGravacao arquivamento(std::move(c));
        for (int i = 0; i < 4 * porTipo; ++i) {
            cfg->CFG_CONVERTOGG = (i / porTipo) % 2;
            cfg->CFG_CRIPTOGRAFIA = i / (2 * porTipo);
            ContadoresArquivamento contadores;
            const int r = arquivamento.Registra(pares[i].parent_path(),
                                                pares[i].filename().string(), contadores);
            if (r != 0) {
                std::cerr << "arquiva_gravacoes: " << pares[i] << " gave " << r << "\n";
                return 1;
            }
        }
    } catch (const std::exception& e) {
        std::cerr << "arquiva_gravacoes: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
