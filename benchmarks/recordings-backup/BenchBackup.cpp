// Recordings backup: 200 recordings of 400 KB, each with its description, in
// ten device folders, sent by the run's backup and, in the same run, by the
// yardsticks it is held against:
//   - folder target ÷ a plain copy loop of the same files (std::filesystem
//     copy_file into the same layout), to be at least 0.8;
//   - FTP target ÷ a plain libcurl upload loop of the same files on one
//     connection to the same server (one STOR per file, folders made by
//     libcurl), to be at least 0.5.
// The ratios (yardstick time ÷ backup time) are printed after the benchmarks.
//
// Needs the Firebird server that scripts/test starts (VERUZADU_FB_* set), for
// the CONFIG row the backup reads:
//   scripts/firebird start; VERUZADU_FB_...=... build/benchmarks/recordings-backup/bench_recordings_backup
// BENCH_BACKUP_N sets the number of recordings (default 200).

#include <benchmark/benchmark.h>
#include <curl/curl.h>
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
#include <vector>

#include "common/CifraTexto.h"
#include "common/Sistema.h"
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
    fs::path pasta;     // scratch: program folder, targets, FTP root
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

std::map<std::string, double>& Segundos() {
    static std::map<std::string, double> s;
    return s;
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
    const std::string arquivo = std::string(dados) + "/bench-backup-" + std::to_string(getpid()) + ".fdb";
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
        for (std::size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>((k * 7 + i) & 0xFF);
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
    op.ambiente = {std::string("PABXSIM_FTP_USER=") + kUsuario, std::string("PABXSIM_FTP_PASSWORD=") + kSenha};
    op.saida = a.pasta / "ftp.out";
    a.ftp = ProcessoFilho({"/usr/bin/python3", FTP_SERVER_PY, "127.0.0.1", "0", (a.pasta / "ftp").string(),
                           arquivoPorta.string()},
                          op);
    for (int i = 0; i < 300 && a.portaFTP <= 0; ++i) {
        std::ifstream f(arquivoPorta);
        if (!(f >> a.portaFTP)) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (a.portaFTP <= 0) return false;

    a.config = std::make_shared<ConfiguracaoServico>();
    a.config->PastaPrograma = (a.pasta / "prog").string() + "/";
    a.log = std::make_unique<LogServico>(a.pasta / "prog");
    a.banco = std::make_unique<BancoServico>(*a.log, ParametrosBDServico{host, a.params.banco, usuario, senha});
    a.alertas = std::make_unique<AlertasEmail>([] { return 3; });
    Amb() = std::move(a);
    return true;
}

void Configura(int net, int ftp) {
    Ambiente& a = *Amb();
    Attachment att = Attachment::Conecta(a.params);
    Transaction tr(att);
    Statement st(tr,
                 "UPDATE CONFIG SET CFG_NETBACKUP=?, CFG_NETDSTPATH=?, CFG_FTPBACKUP=?, CFG_FTPHOST=?, "
                 "CFG_FTPPORT=?, CFG_FTPUSER=?, CFG_FTPPASS=?, CFG_FTPSECURITY=0");
    st.SetInt(0, net).SetText(1, (a.pasta / "rede").string()).SetInt(2, ftp).SetText(3, "127.0.0.1");
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

// Runs `corpo` once per iteration with the target emptied first (untimed),
// and keeps the mean seconds of one pass under `nome`.
template <typename F>
void Mede(benchmark::State& state, const char* nome, const fs::path& alvo, F&& corpo) {
    if (!Amb()) {
        state.SkipWithError("VERUZADU_FB_* not set or the FTP server did not start");
        return;
    }
    double total = 0;
    for (auto _ : state) {
        state.PauseTiming();
        Esvazia(alvo);
        state.ResumeTiming();
        const auto t0 = std::chrono::steady_clock::now();
        corpo();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    Segundos()[nome] = total / static_cast<double>(state.iterations());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Amb()->bytes));
}

void BM_PastaBackup(benchmark::State& state) {
    if (Amb()) Configura(1, 0);
    Mede(state, "pasta", Amb() ? Amb()->pasta / "rede" : fs::path(), [] { Execucao()->BackupArquivos(true); });
}

void BM_PastaCopiaSimples(benchmark::State& state) {
    Mede(state, "pasta-simples", Amb() ? Amb()->pasta / "rede" : fs::path(), [] {
        const fs::path base = Amb()->pasta / "rede" / "PABX001";
        for (const auto& [origem, rel] : Amb()->arquivos) {
            const fs::path destino = base / rel;
            fs::create_directories(destino.parent_path());
            fs::copy_file(origem, destino, fs::copy_options::overwrite_existing);
        }
    });
}

void BM_FTPBackup(benchmark::State& state) {
    if (Amb()) Configura(0, 1);
    Mede(state, "ftp", Amb() ? Amb()->pasta / "ftp" : fs::path(), [] { Execucao()->BackupArquivos(true); });
}

std::size_t LeArquivo(char* destino, std::size_t tamanho, std::size_t n, void* f) {
    return std::fread(destino, tamanho, n, static_cast<FILE*>(f));
}

void BM_FTPEnvioSimples(benchmark::State& state) {
    Mede(state, "ftp-simples", Amb() ? Amb()->pasta / "ftp" : fs::path(), [] {
        CURL* c = curl_easy_init();
        curl_easy_setopt(c, CURLOPT_USERNAME, kUsuario);
        curl_easy_setopt(c, CURLOPT_PASSWORD, kSenha);
        curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(c, CURLOPT_FTP_CREATE_MISSING_DIRS, static_cast<long>(CURLFTP_CREATE_DIR));
        curl_easy_setopt(c, CURLOPT_READFUNCTION, &LeArquivo);
        const std::string base = "ftp://127.0.0.1:" + std::to_string(Amb()->portaFTP) + "/PABX001/";
        for (const auto& [origem, rel] : Amb()->arquivos) {
            FILE* f = std::fopen(origem.c_str(), "rb");
            curl_easy_setopt(c, CURLOPT_URL, (base + rel).c_str());
            curl_easy_setopt(c, CURLOPT_READDATA, f);
            curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(fs::file_size(origem)));
            const CURLcode r = curl_easy_perform(c);
            std::fclose(f);
            if (r != CURLE_OK) std::cerr << "upload: " << curl_easy_strerror(r) << "\n";
        }
        curl_easy_cleanup(c);
    });
}

BENCHMARK(BM_PastaBackup)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_PastaCopiaSimples)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_FTPBackup)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
BENCHMARK(BM_FTPEnvioSimples)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    benchmark::Initialize(&argc, argv);
    if (!Prepara()) std::cerr << "VERUZADU_FB_* not set or the FTP server did not start\n";
    benchmark::RunSpecifiedBenchmarks();
    auto& s = Segundos();
    if (s.count("pasta") && s.count("pasta-simples"))
        std::printf("folder target / plain copy loop: %.2f (at least 0.80)\n", s["pasta-simples"] / s["pasta"]);
    if (s.count("ftp") && s.count("ftp-simples"))
        std::printf("FTP target / plain libcurl upload loop: %.2f (at least 0.50)\n", s["ftp-simples"] / s["ftp"]);
    if (Amb()) {
        Ambiente& a = *Amb();
        a.ftp.Sinaliza(SIGTERM);
        int status = 0;
        if (!a.ftp.Aguarda(std::chrono::seconds(5), status)) a.ftp.Termina();
        std::error_code ec;
        fs::remove_all(a.pasta, ec);
        try {
            Attachment::Conecta(a.params).ApagaBanco();
        } catch (...) {
        }
    }
    benchmark::Shutdown();
    return 0;
}
