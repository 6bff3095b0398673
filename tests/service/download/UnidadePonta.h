#pragma once
// The whole download road for the reliability tests: a private installation on
// the test Firebird server, simulated units (control link plus the FTP server
// over a generated store), the recording service as a real program in a
// program folder of its own, and the one check every scenario ends with.
//
// The check (Verifica) compares the unit database and the store with a copy of
// the original store taken before the first run:
//  - no recording file is filed twice (one row per GRV_IDFILE, whatever the
//    rows' dates: the date of a recording without a start in its description
//    can differ from one download to the next);
//  - every recording that can be filed (a WAV with audio and a description
//    beside it) that has a row has exactly the expected audio: the original
//    A-law decoded by sox, times the gain, clipped to 16 bits;
//  - nothing left the store without its row;
//  - after a clean run (`completa`), every recording that can be filed has
//    its row and none of its files is still in the store.
//
// One object per test, used by the test's thread only. Throws only from the
// gtest assertions' helpers (failures are reported, not thrown).

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/CifraTexto.h"
#include "common/DataHora.h"
#include "common/IniFile.h"
#include "common/Processos.h"
#include "common/Texto.h"
#include "service/download/ArquivamentoGravacao.h"
#include "tests/support/InstalacaoTeste.h"
#include "tests/support/PastaTemporaria.h"
#include "tests/service/download/DownloadFTPServidor.h"
#include "tools/pabx-sim/Recordings.h"
#include "tools/pabx-sim/Simulator.h"

namespace ponta {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

template <typename F> bool Espera(F condicao, std::chrono::milliseconds limite) {
    const auto fim = std::chrono::steady_clock::now() + limite;
    while (std::chrono::steady_clock::now() < fim) {
        if (condicao()) return true;
        std::this_thread::sleep_for(100ms);
    }
    return condicao();
}

// The files of a folder tree, relative to it.
inline std::set<std::string> Arquivos(const fs::path& raiz) {
    std::set<std::string> r;
    std::error_code ec;
    if (!fs::exists(raiz, ec)) return r;
    for (auto it = fs::recursive_directory_iterator(raiz, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file(ec) || it->is_symlink(ec))
            r.insert(fs::relative(it->path(), raiz).string());
    return r;
}

// 16-bit samples of a PCM WAV's data chunk; empty when it has none.
inline std::vector<std::int16_t> AmostrasWAV(const std::string& wav) {
    std::size_t pos = 12;
    while (pos + 8 <= wav.size()) {
        std::uint32_t tam;
        std::memcpy(&tam, wav.data() + pos + 4, 4);
        if (wav.compare(pos, 4, "data") == 0) {
            const std::size_t n = std::min<std::size_t>(tam, wav.size() - pos - 8) / 2;
            std::vector<std::int16_t> a(n);
            std::memcpy(a.data(), wav.data() + pos + 8, n * 2);
            return a;
        }
        pos += 8 + tam + (tam & 1);
    }
    return {};
}

// The PCM an A-law file must become: sox decodes it on its own, the gain and
// the clipping are applied here.
inline std::vector<std::int16_t> PCMEsperado(const fs::path& alaw, const fs::path& trabalho,
                                             int ganho) {
    const fs::path raw = trabalho / "sox.raw";
    OpcoesProcesso o;
    o.saida = trabalho / "sox.out";
    o.limite = std::chrono::minutes(2);
    const auto r = ExecutaProcesso(
        {"sox", alaw.string(), "-t", "raw", "-e", "signed-integer", "-b", "16", "-L", raw.string()},
        o);
    EXPECT_TRUE(r.Sucesso()) << LeTudo(trabalho / "sox.out");
    const std::string bruto = LeTudo(raw);
    std::vector<std::int16_t> a(bruto.size() / 2);
    std::memcpy(a.data(), bruto.data(), a.size() * 2);
    if (ganho > 0)
        for (auto& s : a)
            s = static_cast<std::int16_t>(
                std::clamp<std::int64_t>(std::int64_t{s} * ganho, -32768, 32767));
    return a;
}

// One simulated unit: its store (and the untouched copy), the simulator and
// its FTP server.
struct Unidade {
    int codigo;
    PastaTemporaria pasta;
    fs::path loja = pasta.Caminho() / "loja";
    fs::path original = pasta.Caminho() / "original";
    std::unique_ptr<pabxsim::Simulator> sim;
    std::unique_ptr<ServidorFTPTeste> ftp;
    std::string senha = "7391";

    Unidade(int c, int gravacoes, std::uint32_t semente, std::vector<std::string> opcoesFTP = {},
            bool preenche = true)
        : codigo(c) {
        fs::create_directories(loja);
        if (preenche) pabxsim::MakeRecordings(loja, gravacoes, semente);
        pabxsim::Scenario sc;
        sc.password = senha;
        sc.store = loja;
        sim = std::make_unique<pabxsim::Simulator>(sc);
        sim->Start();
        ftp = std::make_unique<ServidorFTPTeste>(loja, pasta.Caminho() / "ftp", opcoesFTP);
    }
    // The copy the check compares with; taken once the store is complete.
    void GuardaOriginal() {
        fs::remove_all(original);
        fs::copy(loja, original, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }
};

struct Linha {
    std::string idFile, dataGrv;
    std::string audio;
    bool temAudio = false;
};

class Ambiente {
  public:
    explicit Ambiente(const std::string& nome, std::vector<int> unidades = {1})
        : inst(nome, unidades) {}
    // On a server of the test's own (ServidorPrivadoTeste) with its alias file.
    Ambiente(const std::string& nome, const ServidorTeste& srv, const fs::path& aliases,
             std::vector<int> unidades = {1})
        : inst(srv, aliases, nome, unidades) {}

    bool Pronto() const { return inst.Pronta(); }

    // The program folder's INI; `extra` lines ("Secao", "Chave", "valor").
    void EscreveINI(const std::vector<std::array<std::string, 3>>& extra = {}) {
        IniFile ini(home.Caminho() / "VERUZADU.INI");
        ini.WriteString("BD", "Server", inst.srv.Servidor());
        ini.WriteString("BD", "Alias", inst.opcoes.alias);
        ini.WriteBool("Log", "Info", true);
        ini.WriteBool("Log", "Erro", true);
        ini.WriteBool("Log", "PABX", true);
        ini.WriteInteger("Veruzadu", "Porta", 40000 + (::getpid() * 7 + portaSeq_++) % 20000);
        ini.WriteInteger("Veruzadu", "TempoVerDownload", 1);
        ini.WriteInteger("Veruzadu", "PABXTimeOut", 30);
        for (const auto& [s, k, v] : extra) ini.WriteString(s, k, v);
    }

    // Unit `u` in the main database with an all-day window over FTP.
    void Registra(const Unidade& u) {
        Attachment att = Attachment::Conecta(inst.Principal());
        Transaction tr(att);
        Statement st(tr,
                     "UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_KELVENDERIP, "
                     "PAB_KELVPORTA, "
                     "PAB_KELVSENHA, PAB_USB_ZIMB, PAB_USBWAIT, PAB_KELVFTPPORT, PAB_KELVFTPUSER, "
                     "PAB_KELVFTPPASS, PAB_KELVFTPSECURITY, PAB_ULTVERIFSDC, PAB_DTULTDOWN) "
                     "VALUES (?, ?, '127.0.0.1', ?, ?, 0, 0, ?, ?, ?, 0, CURRENT_TIMESTAMP, NULL) "
                     "MATCHING (PAB_CODIGO)");
        st.SetInt(0, u.codigo)
            .SetText(1, "Simulada " + std::to_string(u.codigo))
            .SetInt(2, u.sim->Port())
            .SetText(3, CriptografaTexto(u.senha))
            .SetInt(4, u.ftp->Porta())
            .SetText(5, u.ftp->Usuario())
            .SetText(6, CriptografaTexto(u.ftp->Senha()))
            .Executa();
        Statement apaga(tr, "DELETE FROM DOWNPABX WHERE PAB_CODIGO = ?");
        apaga.SetInt(0, u.codigo).Executa();
        Statement janela(
            tr,
            "INSERT INTO DOWNPABX (PAB_CODIGO, DOW_HORAINI, DOW_HORAFIM) VALUES (?, '00:00', '')");
        janela.SetInt(0, u.codigo).Executa();
        tr.Commit();
    }

    // Clears the unit's stamp so its window runs it again.
    void LiberaJanela(int codigo) {
        Attachment att = Attachment::Conecta(inst.Principal());
        Transaction tr(att);
        Statement st(tr, "UPDATE PABX SET PAB_DTULTDOWN = NULL WHERE PAB_CODIGO = ?");
        st.SetInt(0, codigo).Executa();
        tr.Commit();
    }

    bool Carimbado(int codigo) {
        try {
            Attachment att = Attachment::Conecta(inst.Principal());
            Transaction tr(att, true);
            Statement st(tr, "SELECT PAB_DTULTDOWN FROM PABX WHERE PAB_CODIGO = ?");
            st.SetInt(0, codigo);
            Cursor c = st.Abre();
            return c.Proxima() && !c.IsNull(0);
        } catch (const std::exception&) {
            return false;
        }
    }

    // Results of the unit's runs, oldest first.
    std::vector<int> Resultados(int codigo) {
        std::vector<int> r;
        Attachment att = Attachment::Conecta(inst.Principal());
        Transaction tr(att, true);
        Statement st(
            tr, "SELECT DWN_RESULTADO FROM DWNHISTORY WHERE PAB_CODIGO = ? ORDER BY DWN_DTINIDOWN");
        st.SetInt(0, codigo);
        for (Cursor c = st.Abre(); c.Proxima();) r.push_back(c.IsNull(0) ? -1 : c.GetInt(0));
        return r;
    }

    ProcessoFilho Inicia(const std::vector<std::string>& ambiente = {}) {
        OpcoesProcesso op{
            {}, {"VERUZADU_HOME=" + home.Caminho().string()}, home.Caminho() / "saida.txt"};
        op.ambiente.insert(op.ambiente.end(), ambiente.begin(), ambiente.end());
        std::vector<std::string> linha = lancador;
        linha.push_back(PELMORAN_EXE);
        ProcessoFilho p(linha, op);
        EXPECT_TRUE(p.Iniciado());
        return p;
    }

    static bool Para(ProcessoFilho& p, std::chrono::seconds limite = 90s) {
        p.Sinaliza(SIGTERM);
        int status = 0;
        return p.Aguarda(limite, status);
    }

    // A run of the service until every unit in `codigos` is stamped, then a stop.
    bool RodaAteCarimbar(const std::vector<int>& codigos, std::chrono::seconds limite = 300s) {
        ProcessoFilho p = Inicia();
        const bool ok = Espera(
            [&] {
                for (int c : codigos)
                    if (!Carimbado(c)) return false;
                return true;
            },
            limite);
        EXPECT_TRUE(Para(p));
        return ok;
    }

    std::vector<Linha> Linhas(int codigo) {
        std::vector<Linha> r;
        Attachment att = Attachment::Conecta(inst.Unidade(codigo));
        Transaction tr(att, true);
        Statement st(tr, "SELECT GRV_IDFILE, GRV_DATAGRV, GRV_TEMAUDIO, GRV_BINDADOS FROM GRAVACAO "
                         "WHERE PAB_CODIGO = ?");
        st.SetInt(0, codigo);
        for (Cursor c = st.Abre(); c.Proxima();) {
            Linha l;
            l.idFile = c.GetText(0);
            l.dataGrv = FormataDataHora(c.GetTimestamp(1), "yyyy-mm-dd hh:nn:ss");
            l.temAudio = !c.IsNull(2) && c.GetInt(2) == 1;
            if (!c.IsNull(3)) {
                BlobReader b(tr, c.GetBlobId(3));
                std::vector<char> buf(1 << 16);
                for (std::size_t n; (n = b.Le(buf.data(), buf.size())) > 0;)
                    l.audio.append(buf.data(), n);
            }
            r.push_back(std::move(l));
        }
        return r;
    }

    std::string Logs() const {
        const std::string mes = FormataDataHora(Agora(), "yyyymm");
        std::string s =
            LeTudo(home.Caminho() / "saida.txt") + LeTudo(home.Caminho() / ("GRV" + mes + ".LOG"));
        for (const auto& e : fs::directory_iterator(home.Caminho()))
            if (e.is_directory()) s += LeTudo(e.path() / ("IMP" + mes + ".LOG"));
        return s;
    }

    // The check every scenario ends with (see the header comment).
    void Verifica(Unidade& u, bool completa, int ganho = 8) {
        SCOPED_TRACE("unit " + std::to_string(u.codigo));
        const auto linhas = Linhas(u.codigo);
        std::map<std::string, int> porArquivo;
        std::map<std::string, const Linha*> porId;
        for (const auto& l : linhas) {
            EXPECT_EQ(++porArquivo[l.idFile], 1) << "filed twice: " << l.idFile << " " << l.dataGrv;
            porId[Maiusculas(l.idFile)] = &l;
        }
        const auto restantes = Arquivos(u.loja);
        int arquivaveis = 0;
        for (const auto& rel : Arquivos(u.original)) {
            const fs::path orig = u.original / rel;
            const std::string ext = Maiusculas(orig.extension().string());
            fs::path wav = orig;
            if (ext == ".XML")
                wav.replace_extension(".WAV");
            else if (ext != ".WAV")
                continue;
            const std::string id = Maiusculas(IdArquivo(wav));
            const bool filado = porId.count(id) > 0;
            const bool saiu = restantes.count(rel) == 0;
            EXPECT_TRUE(filado || !saiu) << "left the store without its row: " << rel;
            if (ext != ".WAV") continue;
            fs::path xml = orig;
            xml.replace_extension(".XML");
            std::error_code ec;
            // Whatever the description says of the audio, a WAV with audio is stored.
            const bool podeArquivar =
                !fs::is_symlink(orig) && fs::file_size(orig, ec) > 44 && !ec && fs::exists(xml);
            if (!podeArquivar) continue;
            ++arquivaveis;
            if (completa) {
                EXPECT_TRUE(filado) << "not filed: " << rel;
                EXPECT_TRUE(saiu) << "filed but still in the store: " << rel;
            }
            if (filado) {
                const Linha& l = *porId[id];
                EXPECT_TRUE(l.temAudio) << rel;
                const auto esperado = PCMEsperado(orig, u.pasta.Caminho(), ganho);
                const auto gravado = AmostrasWAV(l.audio);
                EXPECT_EQ(gravado.size(), esperado.size()) << rel;
                EXPECT_TRUE(gravado == esperado) << "audio differs: " << rel;
            }
        }
        EXPECT_GT(arquivaveis, 0);
    }

    InstalacaoTeste inst;
    PastaTemporaria home;
    // A command the service is started through (it ends by exec'ing the
    // program given as its last argument); empty: the program itself.
    std::vector<std::string> lancador;

  private:
    int portaSeq_ = 0;
};

}  // namespace ponta
