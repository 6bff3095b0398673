// Recordings backup: 200 recordings of 400 KB, each with its description, in
// ten device folders, sent by the run's backup and, in interleaved pairs
// (benchmarks/Intercalado.h), by the yardsticks it is held against (each
// ratio is yardstick time / backup time):
//   - folder target against a plain copy loop of the same files
//     (std::filesystem copy_file into the same layout): at least 0.8;
//   - FTP target against a plain upload loop of the same files on one
//     connection to the same server: one passive STOR per file, the folders
//     made once with MKD. The loop speaks FTP over plain sockets, so it has
//     none of libcurl's own waits (7.88 sometimes polls a full second before
//     it opens a data connection): at least 0.5.
// Each run starts with the target emptied.
//
// Run it with benchmarks/run (the backup reads the CONFIG row of a database
// on the test server). BENCH_BACKUP_N sets the number of recordings
// (default 200).

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <set>
#include <vector>

#include "benchmarks/FTPSimples.h"
#include "benchmarks/Intercalado.h"
#include "common/CifraTexto.h"
#include "common/Processos.h"
#include "common/db/Esquema.h"
#include "common/db/Firebird.h"
#include "common/db/Script.h"
#include "service/download/PABXDownloadFTP.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kUsuario = "bench";
constexpr const char* kSenha = "bench-senha";

class RelogioFixo final : public Relogio {
  public:
    DataHora Agora() const override { return DataHora{2024, 3, 5, 10, 0, 0, 0}; }
};

struct Ambiente {
    ParametrosConexao params;
    fs::path pasta;  // scratch: program folder, targets, FTP root
    fs::path pastaPABX;
    std::vector<std::pair<fs::path, std::string>> arquivos;  // source, path below PABX001
    std::uint64_t bytes = 0;
    ProcessoFilho ftp;
    int portaFTP = 0;
    std::unique_ptr<LogServico> log;
    std::unique_ptr<BancoServico> banco;
    std::unique_ptr<AlertasEmail> alertas;
    RelogioFixo relogio;
    std::shared_ptr<ConfiguracaoServico> config;
};

std::optional<Ambiente>& Amb() {
    static std::optional<Ambiente> a;
    return a;
}

bool Prepara() {
    const char* host = std::getenv("VERUZADU_FB_HOST");
    const char* porta = std::getenv("VERUZADU_FB_PORT");
    const char* usuario = std::getenv("VERUZADU_FB_USER");
    const char* senha = std::getenv("VERUZADU_FB_PASSWORD");
    const char* dados = std::getenv("VERUZADU_FB_DATA");
    if (!host || !usuario || !senha || !dados) return false;
    const int n = std::getenv("BENCH_BACKUP_N") ? std::atoi(std::getenv("BENCH_BACKUP_N")) : 200;

    Ambiente a;
    const std::string arquivo =
        std::string(dados) + "/bench-backup-" + std::to_string(getpid()) + ".fdb";
    a.params = {MontaStringConexao(host, porta ? std::atoi(porta) : 3050, arquivo), usuario, senha};
    {
        Attachment att = Attachment::Cria(a.params, "WIN1252");
        ExecutaScript(att, ScriptBancoPrincipal());
        att.Desconecta();
    }
    std::string modelo = (fs::temp_directory_path() / "bench-backup-XXXXXX").string();
    if (!::mkdtemp(modelo.data())) return false;
    a.pasta = modelo;
    a.pastaPABX = a.pasta / "prog" / "PABX001";
    const fs::path audiorec = a.pastaPABX / "NORVIKA" / "AUDIOREC";
    std::string bytes(400 * 1024, '\0');
    for (int i = 0; i < n; ++i) {
        char nome[16], pasta[32];
        std::snprintf(nome, sizeof nome, "R%07d", i + 1);
        std::snprintf(pasta, sizeof pasta, "D0000001/X%07d", i % 10 + 1);
        fs::create_directories(audiorec / pasta);
        for (std::size_t k = 0; k < bytes.size(); ++k)
            bytes[k] = static_cast<char>((k * 7 + i) & 0xFF);
        const std::string rel = std::string(pasta) + "/" + nome;
        std::ofstream(audiorec / (rel + ".WAV"), std::ios::binary) << bytes;
        std::ofstream(audiorec / (rel + ".XML"), std::ios::binary)
            << "<gravacao><ramalcomanda>1001</ramalcomanda><iniciogravacao>" << 1728550000 + i
            << "</iniciogravacao><audio>sim</audio></gravacao>";
        a.arquivos.emplace_back(audiorec / (rel + ".WAV"), rel + ".WAV");
        a.arquivos.emplace_back(audiorec / (rel + ".XML"), rel + ".XML");
        a.bytes += bytes.size() + fs::file_size(audiorec / (rel + ".XML"));
    }

    // In the order the backup walks them: folder by folder, by name.
    std::sort(a.arquivos.begin(), a.arquivos.end(),
              [](const auto& x, const auto& y) { return x.second < y.second; });

    // The FTP server over its own root.
    fs::create_directories(a.pasta / "ftp");
    const fs::path arquivoPorta = a.pasta / "ftp.port";
    OpcoesProcesso op;
    op.ambiente = {std::string("PABXSIM_FTP_USER=") + kUsuario,
                   std::string("PABXSIM_FTP_PASSWORD=") + kSenha};
    op.saida = a.pasta / "ftp.out";
    a.ftp = ProcessoFilho({"/usr/bin/python3", FTP_SERVER_PY, "127.0.0.1", "0",
                           (a.pasta / "ftp").string(), arquivoPorta.string()},
                          op);
    for (int i = 0; i < 300 && a.portaFTP <= 0; ++i) {
        std::ifstream f(arquivoPorta);
        if (!(f >> a.portaFTP)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (a.portaFTP <= 0) return false;

    a.config = std::make_shared<ConfiguracaoServico>();
    a.config->PastaPrograma = (a.pasta / "prog").string() + "/";
    a.log = std::make_unique<LogServico>(a.pasta / "prog");
    a.banco = std::make_unique<BancoServico>(
        *a.log, ParametrosBDServico{host, a.params.banco, usuario, senha});
    a.alertas = std::make_unique<AlertasEmail>([] { return 3; });
    Amb() = std::move(a);
    return true;
}

void Configura(int net, int ftp) {
    Ambiente& a = *Amb();
    Attachment att = Attachment::Conecta(a.params);
    Transaction tr(att);
    Statement st(
        tr, "UPDATE CONFIG SET CFG_NETBACKUP=?, CFG_NETDSTPATH=?, CFG_FTPBACKUP=?, CFG_FTPHOST=?, "
            "CFG_FTPPORT=?, CFG_FTPUSER=?, CFG_FTPPASS=?, CFG_FTPSECURITY=0");
    st.SetInt(0, net)
        .SetText(1, (a.pasta / "rede").string())
        .SetInt(2, ftp)
        .SetText(3, "127.0.0.1");
    st.SetInt(4, a.portaFTP).SetText(5, kUsuario).SetText(6, CriptografaTexto(kSenha));
    st.Executa();
    tr.Commit();
    att.Desconecta();
    a.banco->BDCarregaConfiguracaoGeral();
}

std::unique_ptr<TPABXDownloadFTP> Execucao() {
    Ambiente& a = *Amb();
    auto r = std::make_unique<TPABXDownloadFTP>(
        1, AmbienteDownload{*a.log, *a.banco, *a.alertas, a.relogio, {}}, a.config);
    r->PastaPABX = a.pastaPABX.string() + "/";
    return r;
}

void Esvazia(const fs::path& p) {
    std::error_code ec;
    fs::remove_all(p, ec);
    fs::create_directories(p, ec);
}

}  // namespace

int main() {
    using namespace intercalado;
    if (!Prepara()) {
        std::cerr << "VERUZADU_FB_* not set or the FTP server did not start\n";
        return 1;
    }
    Ambiente& a = *Amb();
    int status = 0;
    try {
        const fs::path rede = a.pasta / "rede", ftp = a.pasta / "ftp";
        Configura(1, 0);
        Compara("recordings backup to a folder: plain copy loop / backup",
                {"plain copy loop", [&] { Esvazia(rede); },
                 [&] {
                     const fs::path base = rede / "PABX001";
                     for (const auto& [origem, rel] : a.arquivos) {
                         const fs::path destino = base / rel;
                         fs::create_directories(destino.parent_path());
                         fs::copy_file(origem, destino, fs::copy_options::overwrite_existing);
                     }
                 }},
                {"backup to a folder", [&] { Esvazia(rede); },
                 [&] { Execucao()->BackupArquivos(true); }},
                {Meta::RazaoNoMinimo, 0.8});
        Configura(0, 1);
        Compara("recordings backup to FTP: plain socket upload loop / backup",
                {"plain upload loop", [&] { Esvazia(ftp); },
                 [&] {
                     FTPSimples c(a.portaFTP, kUsuario, kSenha);
                     for (const auto& [origem, rel] : a.arquivos) c.Envia(origem, "PABX001/" + rel);
                 }},
                {"backup to FTP", [&] { Esvazia(ftp); }, [&] { Execucao()->BackupArquivos(true); }},
                {Meta::RazaoNoMinimo, 0.5});
    } catch (const std::exception& e) {
        std::cerr << "bench_recordings_backup: " << e.what() << "\n";
        status = 1;
    }
    a.ftp.Sinaliza(SIGTERM);
    int fim = 0;
    if (!a.ftp.Aguarda(std::chrono::seconds(5), fim)) a.ftp.Termina();
    std::error_code ec;
    fs::remove_all(a.pasta, ec);
    try {
        Attachment::Conecta(a.params).ApagaBanco();
    } catch (...) {
    }
    return status;
}
