// The FTP walk of a download run (size count, then the walk itself) against
// a plain download of the same files over one connection (benchmarks/
// FTPSimples.h: one passive RETR per file, none of libcurl's own waits), from
// the same server in the same run, in interleaved pairs: 500 recordings of
// the simulated unit, and four 256 MB files. The figure to read is the ratio
// plain time / walk time (1.0: as fast as the plain loop); the project's
// client alone on the same files is shown beside the plain loop too.
// Run it with benchmarks/run (the walk's statistics row goes to the test
// server).

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "benchmarks/FTPSimples.h"
#include "benchmarks/Intercalado.h"
#include "service/download/ClienteFTP.h"
#include "tests/support/PastaTemporaria.h"
#include "tests/service/download/AmbienteDownload.h"
#include "tests/service/download/DownloadFTPServidor.h"
#include "tools/pabx-sim/Recordings.h"

namespace fs = std::filesystem;

namespace {

struct Loja {
    PastaTemporaria tmp;
    fs::path raiz = tmp.Caminho() / "loja";
    std::vector<std::string> arquivos;  // relative to raiz
    std::unique_ptr<ServidorFTPTeste> srv;

    explicit Loja(bool grandes) {
        if (grandes) {
            const fs::path gr = raiz / "NORVIKA" / "AUDIOREC" / "GR010124" / "X0001000";
            fs::create_directories(gr);
            for (int i = 1; i <= 4; ++i) {
                const fs::path f = gr / ("R000000" + std::to_string(i) + ".WAV");
                std::ofstream(f).close();
                fs::resize_file(f, 256ULL << 20);
            }
        } else {
            pabxsim::MakeRecordings(raiz, 500, 1);
        }
        for (auto it = fs::recursive_directory_iterator(raiz);
             it != fs::recursive_directory_iterator(); ++it)
            if (it->is_regular_file()) arquivos.push_back(fs::relative(it->path(), raiz).string());
        srv = std::make_unique<ServidorFTPTeste>(raiz, tmp.Caminho() / "srv");
    }
};

Loja& LojaDe(bool grandes) {
    static Loja pequenos(false);
    if (!grandes) return pequenos;
    static Loja grandesArquivos(true);
    return grandesArquivos;
}

}  // namespace

int main() {
    using namespace intercalado;
    try {
        for (bool grandes : {false, true}) {
            Loja& loja = LojaDe(grandes);
            AmbienteDownloadTeste amb("benchftp");
            if (!amb.db.Pronto())
                throw std::runtime_error("no test database server (VERUZADU_FB_* unset)");
            amb.RegistraUnidade(1);
            amb.log.DefineMascara(LogSempre);
            std::unique_ptr<TPABXDownloadFTP> ultima;
            auto limpa = [&] {
                if (ultima) fs::remove_all(ultima->PastaPABX);
                ultima.reset();
            };
            // The walk as a run does it, its statistics row on the test
            // server, so the per-file row updates cost what they cost.
            Lado caminhada{"download run's walk", limpa, [&] {
                               auto r = amb.Run(1, 0);
                               r->FTPPorta = static_cast<std::uint16_t>(loja.srv->Porta());
                               r->FTPUsuario = loja.srv->Usuario();
                               r->FTPSenha = loja.srv->Senha();
                               r->Historico.DWN_DTINIDOWN = Agora();
                               r->BDRegistraHistoricoDownload(HistoricoInsere);
                               const bool ok =
                                   r->DownloadFTP() && r->Historico.DWN_ARQBAIXADO ==
                                                           static_cast<int>(loja.arquivos.size());
                               ultima = std::move(r);
                               if (!ok)
                                   throw std::runtime_error("the walk did not bring every file");
                           }};
            PastaTemporaria destino;
            const fs::path saida = destino.Caminho() / "saida";
            auto esvazia = [&] { fs::remove_all(saida); };
            Lado simples{"plain RETR loop", esvazia, [&] {
                             FTPSimples c(loja.srv->Porta(), loja.srv->Usuario(),
                                          loja.srv->Senha());
                             for (const auto& a : loja.arquivos) {
                                 const fs::path alvo = saida / a;
                                 fs::create_directories(alvo.parent_path());
                                 c.Baixa("/" + a, alvo);
                             }
                         }};
            Lado cliente{"project's FTP client alone", esvazia, [&] {
                             OpcoesFTP o;
                             o.host = "127.0.0.1";
                             o.porta = loja.srv->Porta();
                             o.usuario = loja.srv->Usuario();
                             o.senha = loja.srv->Senha();
                             ClienteFTP ftp(o);
                             ftp.Conecta();
                             for (const auto& a : loja.arquivos) {
                                 const fs::path rel(a);
                                 const fs::path alvo = saida / rel;
                                 fs::create_directories(alvo.parent_path());
                                 ftp.Baixa("/" + rel.parent_path().string(),
                                           rel.filename().string(), alvo, -1, 0);
                             }
                         }};
            const std::string qual = grandes ? "four 256 MB files" : "500 recordings";
            Compara("download (" + qual + "): plain RETR loop / download run's walk", simples,
                    caminhada, {Meta::Nenhuma, 0}, std::min(Pares(), grandes ? 5 : Pares()));
            Compara("download (" + qual + "): plain RETR loop / project's FTP client alone",
                    simples, cliente, {Meta::Nenhuma, 0}, std::min(Pares(), grandes ? 5 : Pares()));
            limpa();
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_download: %s\n", e.what());
        return 1;
    }
    return 0;
}
