// Import of a downloaded recordings folder: every recording of the copy of
// the unit's store in PastaPABX/NORVIKA/AUDIOREC/<L1>/<L2>/ is filed, then
// removed at the unit; files without partner are set aside in ARQNOK until
// their partner shows up; emptied folders are removed at the unit.
//
// The rule it keeps: a recording leaves the unit only once it is in the
// database (filing result below 5), and a folder is asked for removal only
// when nothing of it stays at the unit, by the import's own account and by the
// transfer's (FicamNaUnidade: what it listed there and did not bring).

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "common/Arquivos.h"
#include "service/download/NomesGravacao.h"
#include "service/download/PABXDownloadFTP.h"
#include "service/download/PontoMorte.h"

namespace fs = std::filesystem;

namespace {

// A file's place in the store: its date folder (L1), device folder (L2) and
// name, when it sits at AUDIOREC/<L1>/<L2>/<name>.
struct Lugar {
    std::string l1, l2, nome;
    std::string Pasta() const { return Maiusculas(l1) + "/" + Maiusculas(l2); }
    std::string NaUnidade() const { return "NORVIKA/AUDIOREC/" + Pasta() + "/" + Maiusculas(nome); }
};

std::optional<Lugar> LugarDe(const fs::path& raiz, const std::string& arquivo) {
    const fs::path rel = fs::path(arquivo).lexically_relative(raiz);
    std::vector<std::string> partes;
    for (const auto& p : rel) partes.push_back(p.string());
    if (partes.size() != 3 || partes[0] == "..") return std::nullopt;
    return Lugar{partes[0], partes[1], partes[2]};
}

std::string Gemeo(const std::string& arquivo, const char* extensao) {
    const std::size_t ponto = arquivo.rfind('.');
    return arquivo.substr(0, ponto) + extensao;
}

}  // namespace

bool TPABXDownloadFTP::AguardaRespostaRemocao(TPABX& pabx) {
    const auto inicio = std::chrono::steady_clock::now();
    auto limite = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::seconds(std::max(1, Config().PABXTimeOut)));
    // A request already sent still has its answer awaited after the service
    // is asked to stop, so the answer is never taken for a later request's;
    // the wait is then cut short enough for the service's own stop.
    bool parada = false;
    // The link sets the event when the answer comes: no poll interval is
    // added to each removal.
    while (pabx.FStatusCTRL.Vazio() && std::chrono::steady_clock::now() - inicio <= limite) {
        if (!parada && Terminated()) {
            parada = true;
            limite = std::min(limite,
                              std::chrono::steady_clock::now() - inicio + EsperaRemocaoAposParada);
        }
        if (pabx.FEvento != nullptr)
            pabx.FEvento->Aguarda(std::chrono::milliseconds(50));
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const std::string resposta = pabx.FStatusCTRL.Le();
    Log(LogInfo, false, "Resposta PABX: " + resposta);
    return resposta == "OK";
}

bool TPABXDownloadFTP::RemoveGravacaoPABX(TPABX& pabx, const std::string& caminho) {
    const int tentativas = std::max(1, Config().PABXTentaDel);
    auto remove = [&](const std::string& arquivo) {
        const auto lugar =
            LugarDe(fs::path(arquivo).parent_path().parent_path().parent_path(), arquivo);
        const std::string p = lugar ? lugar->NaUnidade() : arquivo;
        // After a stop request no attempt is repeated.
        for (int i = 0; i < tentativas && (i == 0 || !Terminated()); ++i) {
            if (!lugar || !pabx.PedeRemocaoArquivo(lugar->l1, lugar->l2, lugar->nome)) {
                Log(LogInfo, true, Traduz("Falha ao enviar remoção") + ": " + p);
                continue;
            }
            if (AguardaRespostaRemocao(pabx)) {
                Log(LogInfo, true, Traduz("Arquivo removido") + ": " + p);
                return true;
            }
            Log(LogInfo, true, Traduz("Remoção não OK") + ": " + p);
        }
        return false;
    };
    bool removido = remove(caminho);
    if (removido) PontoMorte("entre-wav-e-xml");
    if (removido && Config().DelXML) removido = remove(Gemeo(caminho, ".XML"));
    return removido;
}

bool TPABXDownloadFTP::ImportaArquivos(TPABX& pabx) {
    const fs::path raiz = fs::path(PastaPABX) / "NORVIKA" / "AUDIOREC";
    const fs::path arqnok = fs::path(PastaPABX) / "ARQNOK";
    Log(LogInfo, true, Traduz("Importando arquivos"));
    Historico.DWN_OPERATUAL = OpImportando;
    BDRegistraHistoricoDownload(HistoricoEstado);

    // Folders of which something stays at the unit ("L1/L2" and "L1", upper
    // case): they are never asked for removal.
    std::set<std::string> ficam;
    auto fica = [&](const Lugar& l) {
        ficam.insert(l.Pasta());
        ficam.insert(Maiusculas(l.l1));
    };
    // What the transfer listed and did not bring is still in its folders.
    for (const auto& chave : FicamNaUnidade) {
        if (!chave.starts_with("AUDIOREC/")) continue;
        std::vector<std::string> pastas;
        std::size_t ini = 9;
        for (std::size_t barra; (barra = chave.find('/', ini)) != std::string::npos;
             ini = barra + 1)
            pastas.push_back(chave.substr(ini, barra - ini));
        if (!pastas.empty()) ficam.insert(pastas[0]);
        if (pastas.size() >= 2) ficam.insert(pastas[0] + "/" + pastas[1]);
    }

    // 2. The recordings and descriptions where the store keeps them; anything
    // else is left where it is.
    std::vector<std::string> todos;
    BuscaArquivos(todos, raiz.string(), "*", true);
    std::map<std::string, std::string> wavs, xmls;  // upper-cased path -> found path
    for (const auto& a : todos) {
        const auto lugar = LugarDe(raiz, a);
        const std::string ext = ExtensaoMaiuscula(a);
        const bool gravacao = lugar && (lugar->nome[0] == 'R' || lugar->nome[0] == 'r') &&
                              (ext == ".WAV" || ext == ".XML");
        if (!gravacao) {
            Log(LogInfo, false, Traduz("Arquivo ignorado") + ": " + NomeVisivel(a));
            if (lugar)
                fica(*lugar);
            else if (const auto rel = fs::path(a).lexically_relative(raiz);
                     std::distance(rel.begin(), rel.end()) == 2)
                ficam.insert(Maiusculas(rel.begin()->string()));
            continue;
        }
        (ext == ".WAV" ? wavs : xmls)[Maiusculas(a)] = a;
    }

    // 3-5. Files without partner go to ARQNOK the first time they are seen.
    std::error_code ec;
    fs::create_directories(arqnok, ec);
    std::vector<std::string> xmlOrfaos;
    auto separa = [&](const std::string& arquivo, const char* falha) {
        const fs::path alvo = arqnok / RetiraParteCaminho(arquivo, 3);
        const bool existia = fs::exists(alvo, ec);
        fs::create_directories(alvo.parent_path(), ec);
        if (!CopiaArquivo(arquivo, alvo, true)) {
            Log(LogInfo, true, Traduz(falha) + ": " + arquivo);
            return 0;  // stays in the tree and is taken as it is
        }
        return existia ? 2 : 1;
    };
    for (const auto& [chave, x] : xmls) {
        if (wavs.count(Gemeo(chave, ".WAV"))) continue;
        if (FicamNaUnidade.count(ChaveNaUnidade(Gemeo(x, ".WAV"), false))) {
            // Its recording is still at the unit (not fetched this time): the
            // two are filed together once it comes.
            Log(LogInfo, false, Traduz("XML aguardando arquivo WAV no PABX") + ": " + x);
            fica(*LugarDe(raiz, x));
            continue;
        }
        Log(LogInfo, false, Traduz("XML sem arquivo WAV") + ": " + x);
        const int r = separa(x, "Falha ao copiar XML para pasta ARQNOK");
        if (r == 2) {
            xmlOrfaos.push_back(x);  // second sighting: filed after the recordings
        } else {
            if (r == 1) fs::remove(x, ec);
            fica(*LugarDe(raiz, x));
        }
    }
    for (const auto& [chave, w] : wavs) {
        if (xmls.count(Gemeo(chave, ".XML"))) continue;
        Log(LogInfo, false, Traduz("WAV sem arquivo XML") + ": " + w);
        const int r = separa(w, "Falha ao copiar WAV para pasta ARQNOK");
        if (r == 1) {
            fs::remove(w, ec);
            fica(*LugarDe(raiz, w));
        }
    }

    // 6. Empty folders.
    std::set<std::string> pastasRemover;  // "0;L1/L2" and "1;L1": device folders first
    std::vector<std::string> vazias;
    ListaPastasVazias(vazias, raiz, true);
    for (const auto& f : vazias) {
        const fs::path rel = fs::path(f).lexically_relative(raiz);
        std::vector<std::string> partes;
        for (const auto& p : rel)
            if (!p.empty() && p != ".") partes.push_back(p.string());
        if (partes.empty() || partes.size() > 2 || partes[0] == "..") continue;
        if (partes.size() == 2) pastasRemover.insert("0;" + partes[0] + "/" + partes[1]);
        pastasRemover.insert("1;" + partes[0]);
        Log(LogInfo, false, Traduz("Pasta vazia") + ": " + f);
    }

    // 7. The recordings to file, as found.
    Log(LogInfo, true, "Dir: " + raiz.string());
    std::vector<std::string> lista;
    BuscaArquivos(lista, raiz.string(), "R*.WAV", true);
    std::vector<std::pair<std::string, Lugar>> gravacoes;
    for (const auto& w : lista) {
        const auto lugar = LugarDe(raiz, w);
        if (!lugar) continue;
        Log(LogInfo, false, Traduz("Encontrado") + ": " + w);
        pastasRemover.insert("0;" + lugar->l1 + "/" + lugar->l2);
        pastasRemover.insert("1;" + lugar->l1);
        gravacoes.emplace_back(w, *lugar);
    }

    // 8. Filing, then removal at the unit. The run's result is the highest
    // code of all filings, so one failure anywhere marks the run failed.
    int resultado = 0;
    int arquivadas = 0, falhas = 0;
    auto registra = [&](const std::string& pasta, const std::string& nome) {
        int r = 7;
        try {
            r = BDRegistraGravacao(pabx, pasta, nome);
        } catch (const std::exception& e) {
            Log(LogErro, true, Traduz("Erro") + ": " + pasta + "/" + nome + ": " + e.what());
        }
        resultado = std::max(resultado, r);
        if (r < 5) ConexaoBDVoltou();
        (r < 5 ? arquivadas : falhas)++;
        return r;
    };
    auto removeDeArqnok = [&](const std::string& arquivo) {
        const fs::path copia = arqnok / RetiraParteCaminho(arquivo, 3);
        if (fs::exists(copia, ec) && fs::remove(copia, ec))
            Log(LogInfo, true, Traduz("Removido de ARQNOK") + ": " + copia.filename().string());
    };
    // A stop request ends the filing between two recordings: the one under
    // way is filed and removed whole, the rest come at a later run.
    bool interrompida = false;
    for (const auto& [w, lugar] : gravacoes) {
        if (Terminated()) {
            interrompida = true;
            break;
        }
        Log(LogInfo, true, Traduz("Importando") + ": " + w);
        const int r = registra(fs::path(w).parent_path().string(), fs::path(w).filename().string());
        if (r < 5) {
            PontoMorte("commit-antes-remocao");
            removeDeArqnok(w);
            removeDeArqnok(Gemeo(w, ".XML"));
            Log(LogInfo, true, Traduz("Apagar") + ": " + lugar.NaUnidade());
            if (!RemoveGravacaoPABX(pabx, w)) fica(lugar);
            // Without DelXML the description stays at the unit, and so does
            // its folder.
            if (!Config().DelXML && xmls.count(Maiusculas(Gemeo(w, ".XML")))) fica(lugar);
        } else {
            Log(LogInfo, true,
                Traduz("Erro") + " (" + std::to_string(r) + ") " + Traduz("ao importar") + ": " +
                    w);
            fica(lugar);
        }
    }

    // 9.1 Descriptions seen twice without their recording: filed on their own.
    for (const auto& x : xmlOrfaos) {
        if (interrompida || Terminated()) {
            interrompida = true;
            break;
        }
        const Lugar lugar = *LugarDe(raiz, x);
        Log(LogInfo, true, Traduz("Registrando XML") + ": " + x);
        const int r = registra(fs::path(x).parent_path().string(),
                               fs::path(Gemeo(x, ".WAV")).filename().string());
        if (r >= 5) {
            Log(LogInfo, true,
                Traduz("Erro") + " (" + std::to_string(r) + ") " + Traduz("ao importar") + ": " +
                    x);
            fica(lugar);
            continue;
        }
        const std::string p = lugar.NaUnidade();
        if (!pabx.PedeRemocaoArquivo(lugar.l1, lugar.l2, lugar.nome)) {
            Log(LogInfo, true, Traduz("Falha ao enviar remoção") + ": " + p);
            fica(lugar);
        } else if (AguardaRespostaRemocao(pabx)) {
            Log(LogInfo, true, Traduz("Arquivo removido") + ": " + p);
            removeDeArqnok(x);
        } else {
            Log(LogInfo, true, Traduz("Remoção não OK") + ": " + p);
            fica(lugar);
        }
    }

    // 9.2 Folders of which nothing stays at the unit: device folders, then
    // date folders.
    for (const auto& entrada : pastasRemover) {
        if (interrompida || Terminated()) break;  // folders of recordings not filed stay
        const std::string pasta = entrada.substr(2);
        if (ficam.count(Maiusculas(pasta))) continue;
        const std::size_t barra = pasta.find('/');
        const std::string l1 = pasta.substr(0, barra);
        const std::string l2 = barra == std::string::npos ? std::string() : pasta.substr(barra + 1);
        const std::string p = "NORVIKA/AUDIOREC/" + Maiusculas(pasta);
        if (!pabx.PedeRemocaoPasta(l1, l2)) {
            Log(LogInfo, true, Traduz("Falha ao enviar remoção") + ": " + p);
        } else if (AguardaRespostaRemocao(pabx)) {
            Log(LogInfo, true, Traduz("Pasta removida") + ": " + p);
        } else {
            Log(LogInfo, true, Traduz("Remoção não OK") + ": " + p);
        }
    }

    // 10. The run's outcome. The backup takes what was filed unless nothing
    // was; the local tree goes only after a run without failure.
    const auto config = ConfigGeral();
    const bool comBackup = config && (config->CFG_NETBACKUP > 0 || config->CFG_FTPBACKUP > 0);
    if (arquivadas > 0 || falhas == 0) {
        if (comBackup)
            BackupArquivos(true);
        else
            Log(LogInfo, true, Traduz("Configurado sem backup"));
    }
    const bool ok = resultado < 5;
    if (ok) {
        if (Config().DelDir) ApagaPasta(fs::path(PastaPABX) / "NORVIKA");
        Historico.DWN_RESULTADO = ResultadoSucesso;
    } else {
        Historico.DWN_RESULTADO = ResultadoFalha;
        Log(LogInfo, true, Traduz("Indicação de erro") + ": " + std::to_string(resultado));
    }
    ApagaPastasVazias(arqnok);
    Historico.DWN_OPERATUAL = OpImportacaoFim;
    Historico.DWN_DTFIMIMP = AgoraLocal();
    BDRegistraHistoricoDownload(HistoricoFimImportacao);
    return ok;
}
