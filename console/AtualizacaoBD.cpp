#include "console/AtualizacaoBD.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "common/LinhaLog.h"
#include "common/Texto.h"
#include "common/Traducao.h"
#include "console/MDados.h"
#include "console/MigracaoBD.h"
#include "console/RegistroMigracao.h"
#include "common/ServiceControl.h"
#include "console/Mensageiro.h"
#include "console/UtilConsole.h"

const char* const SqlTabelaAtualizacao = "CREATE TABLE ATUALIZACAO (\n"
                                         "  ATU_SCRIPT VARCHAR(100) NOT NULL,\n"
                                         "  ATU_SHA256 CHAR(64) NOT NULL,\n"
                                         "  ATU_PACOTE VARCHAR(255),\n"
                                         "  ATU_DATA TIMESTAMP,\n"
                                         "  CONSTRAINT PK_ATUALIZACAO PRIMARY KEY (ATU_SCRIPT)\n"
                                         ");\n";

std::filesystem::path ArquivoLogUpgrade() {
    return std::filesystem::path(PastaPrograma()) / "Veruzadu.log";
}

void GravaLogUpgrade(std::string_view mensagem, const DataHora& quando) {
    try {
        AcrescentaAoArquivo(ArquivoLogUpgrade(), FormataDataHora(quando, "dd/mm/yy hh:nn:ss") +
                                                     " -> " + std::string(mensagem) + "\n");
    } catch (...) {
        // The log must never stop the console.
    }
}

// One database the scripts run on: the main one or a unit's, reached through
// the data module's connection of that kind.
struct AtualizacaoBD::Banco {
    std::string nome;  // "VERUZADU", "GRVPAB003"
    std::function<void(const std::function<void(Transaction&)>&)> executa;
    std::function<void(const std::string&)> script;
};

namespace {

std::map<std::string, std::string>
LeLedger(const std::function<void(const std::function<void(Transaction&)>&)>& executa) {
    std::map<std::string, std::string> ledger;
    executa([&](Transaction& tr) {
        Statement st(tr, "SELECT ATU_SCRIPT, ATU_SHA256 FROM ATUALIZACAO");
        auto c = st.Abre();
        while (c.Proxima()) ledger[c.GetText(0)] = c.GetText(1);
    });
    return ledger;
}

bool TemLedger(const std::function<void(const std::function<void(Transaction&)>&)>& executa) {
    bool tem = false;
    executa([&](Transaction& tr) {
        Statement st(tr, "SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'ATUALIZACAO'");
        auto c = st.Abre();
        tem = c.Proxima();
    });
    return tem;
}

}  // namespace

AtualizacaoBD::AtualizacaoBD(MDados& dados, Mensageiro& mensagens)
    : versaoPrograma(VersaoPrograma()), dados_(dados), mensagens_(mensagens) {}

bool AtualizacaoBD::VerificaAtualizacaoBD() {
    try {
        if (IniFile(ArquivoVeruzaduIni()).ReadBool("BD", "UPD", false) && OfereceMigracao())
            return true;
        AtualizaEstruturaBD();
    } catch (const std::exception& e) {
        GravaLogUpgrade(e.what());
    }
    return true;
}

void AtualizacaoBD::RecuperaMigracao() {
    if (!std::filesystem::exists(ArquivoRegistroMigracao())) return;
    MigracaoBD migracao(dados_, mensagens_);
    std::unique_ptr<ServiceControl> servico = ControleServico ? ControleServico() : nullptr;
    // Restores and drops take a while: the window keeps answering meanwhile.
    const std::function<void()> recupera = [&] { migracao.Recupera(servico.get()); };
    if (ExecutaLongo)
        ExecutaLongo(Traduz("Recuperando a migração interrompida. Aguarde ..."), recupera);
    else
        recupera();
}

bool AtualizacaoBD::OfereceMigracao() {
    MigracaoBD migracao(dados_, mensagens_);
    migracao.limites = limites;
    migracao.versaoPrograma = versaoPrograma;
    try {
        if (!migracao.ExisteBaseAnterior()) return false;
    } catch (const FirebirdError& e) {
        GravaLogUpgrade(migracao.ArquivoAntigo() + ": " + e.what());
        return false;
    }
    dados_.FechaConexaoPrincipal();
    const std::string pergunta =
        Traduz("Existe uma base de dados da versão anterior do QuvVeruzadu") + ".\n" +
        Traduz("Migração poderá ser realizada preservando informações existentes") + ".\n" +
        Traduz("Deseja realizar a migração para a nova base de dados") + " ?";
    if (mensagens_.Mostra(TipoMensagem::Confirmacao, pergunta) == RespostaMensagem::Sim) {
        std::unique_ptr<ServiceControl> servico = ControleServico ? ControleServico() : nullptr;
        migracao.servico = servico.get();
        if (MostraUpGrade)
            MostraUpGrade(migracao);
        else
            migracao.Executa();
    } else {
        migracao.Renomeia();
    }
    return true;
}

std::vector<AtualizacaoBD::PacoteLido> AtualizacaoBD::ExtraiPacotesScripts() {
    std::vector<PacoteLido> lidos;
    for (const auto& arquivo : ListaPacotes(PastaPrograma(), NomePacoteScripts)) {
        const std::string nome = arquivo.filename().string();
        try {
            PacoteScripts p = LePacoteScripts(arquivo, limites);
            if (ComparaVersoes(p.versao, versaoPrograma) > 0) {
                const std::string texto =
                    Traduz("Pacote de atualização de uma versão mais nova do programa") + ": " +
                    nome + " (" + p.versao + " > " + versaoPrograma + ")";
                GravaLogUpgrade(texto);
                mensagens_.Mostra(TipoMensagem::Aviso, texto);
                continue;
            }
            lidos.push_back({arquivo, std::move(p)});
        } catch (const PacoteRecusado& e) {
            GravaLogUpgrade(nome + ": " + (e.entrada.empty() ? "" : e.entrada + ": ") + e.what());
            std::error_code ec;
            std::filesystem::rename(arquivo, arquivo.string() + ".recusado", ec);
            mensagens_.Mostra(TipoMensagem::Erro,
                              Traduz("Pacote de atualização recusado") + ": " + nome +
                                  (e.entrada.empty() ? "" : " (" + e.entrada + ")") + ": " +
                                  e.what());
        }
    }
    return lidos;
}

bool AtualizacaoBD::Aplica(Banco& banco, const std::vector<Pendente>& scripts,
                           std::set<std::string>& registrados) {
    if (scripts.empty()) return true;
    bool ok = true;
    try {
        if (!TemLedger(banco.executa)) {
            try {
                banco.script(SqlTabelaAtualizacao);
            } catch (const FirebirdError&) {
                // Another console may have made it meanwhile.
                if (!TemLedger(banco.executa)) throw;
            }
        }
        const auto ledger = LeLedger(banco.executa);
        for (const Pendente& p : scripts) {
            const ScriptPacote& s = *p.script;
            if (auto it = ledger.find(s.nome); it != ledger.end()) {
                if (it->second != s.sha256)
                    GravaLogUpgrade(s.nome + " (" + p.pacote + "): " + banco.nome +
                                    " já tem um script com este nome e outro conteúdo; ignorado");
                registrados.insert(s.nome);
                continue;
            }
            try {
                banco.script(s.texto);
            } catch (const FirebirdError& e) {
                GravaLogUpgrade(s.nome + "-> " + banco.nome + ": " + e.what());
                ok = false;
                if (e.ConexaoPerdida()) return false;
                continue;
            }
            try {
                banco.executa([&](Transaction& tr) {
                    Statement st(
                        tr,
                        "INSERT INTO ATUALIZACAO (ATU_SCRIPT, ATU_SHA256, ATU_PACOTE, ATU_DATA) "
                        "VALUES (?, ?, ?, CURRENT_TIMESTAMP)");
                    st.SetText(0, s.nome).SetText(1, s.sha256).SetText(2, p.pacote.substr(0, 255));
                    st.Executa();
                });
            } catch (const FirebirdError& e) {
                // A second console recorded it first: the name is there all the same.
                if (!LeLedger(banco.executa).contains(s.nome)) {
                    GravaLogUpgrade(s.nome + "-> " + banco.nome + ": " + e.what());
                    ok = false;
                    continue;
                }
            }
            registrados.insert(s.nome);
        }
    } catch (const FirebirdError& e) {
        GravaLogUpgrade(banco.nome + ": " + e.what());
        return false;
    }
    return ok;
}

void AtualizacaoBD::AtualizaEstruturaBD() {
    const std::vector<PacoteLido> pacotes = ExtraiPacotesScripts();

    // Every script name once; a later package takes a name over.
    std::map<std::string, Pendente> porNome;
    for (const PacoteLido& p : pacotes)
        for (const ScriptPacote& s : p.conteudo.scripts)
            porNome[s.nome] = Pendente{&s, p.arquivo.filename().string()};
    auto doTipo = [&](TipoScript tipo) {
        std::vector<Pendente> v;
        for (const auto& [nome, p] : porNome)
            if (p.script->tipo == tipo) v.push_back(p);
        return v;
    };
    const auto principais = doTipo(TipoScript::Principal);
    const auto estrutura = doTipo(TipoScript::Estrutura);
    const auto unidade = doTipo(TipoScript::Unidade);

    bool completo = true;
    // Names recorded per database ("" is the main one, else the unit code).
    std::map<std::string, std::set<std::string>> registrados;

    Banco principal{"VERUZADU",
                    [this](const std::function<void(Transaction&)>& t) { dados_.Executa(t); },
                    [this](const std::string& s) { dados_.ExecutaScriptPrincipal(s); }};
    std::vector<int> unidades{0};
    std::string ddd;
    try {
        if (!Aplica(principal, principais, registrados[""])) completo = false;
        if (dados_.ExisteTabela("PABX")) {
            dados_.Executa([&](Transaction& tr) {
                Statement st(tr, "SELECT PAB_CODIGO FROM PABX ORDER BY PAB_CODIGO");
                auto c = st.Abre();
                while (c.Proxima()) unidades.push_back(c.GetInt(0));
            });
            const std::string dddIni =
                IniFile(ArquivoVeruzaduIni()).ReadString("Veruzadu", "DDD", "");
            ddd = std::string(AparaEspacos(dddIni)).substr(0, 3);
            if (!ddd.empty())
                dados_.Executa([&](Transaction& tr) {
                    Statement st(tr, "UPDATE PABX SET PAB_DDDCODIGO = ? WHERE PAB_DDDCODIGO = ?");
                    st.SetText(0, ddd).SetText(1, "");
                    st.Executa();
                });
        } else {
            unidades.push_back(1);
        }
    } catch (const std::exception& e) {
        GravaLogUpgrade(std::string("VERUZADU: ") + e.what());
        completo = false;
        unidades.clear();
    }

    std::set<std::string> unidadesAtingidas;
    if (!estrutura.empty() || !unidade.empty()) {
        for (int codigo : unidades) {
            if (codigo == 0 && estrutura.empty()) continue;
            const std::string nome = "GRVPAB" + CodigoTresDigitos(codigo);
            try {
                dados_.ConectaBasePABX(codigo);
            } catch (const ErroBasePABX& e) {
                GravaLogUpgrade(nome + ": " + e.detalhe);
                mensagens_.Mostra(TipoMensagem::Aviso, e.what());
                completo = false;
                continue;
            }
            Banco banco{
                nome, [this](const std::function<void(Transaction&)>& t) { dados_.ExecutaPABX(t); },
                [this](const std::string& s) { dados_.ExecutaScriptPABX(s); }};
            auto& nomes = registrados[std::to_string(codigo)];
            bool ok = true;
            try {
                ok = Aplica(banco, estrutura, nomes);
                if (codigo != 0) {
                    ok = Aplica(banco, unidade, nomes) && ok;
                    if (!unidade.empty())
                        dados_.ExecutaPABX([&](Transaction& tr) {
                            Statement st(tr, "UPDATE PABX SET PAB_DDDCODIGO = ?");
                            st.SetText(0, ddd);
                            st.Executa();
                        });
                }
            } catch (const std::exception& e) {
                GravaLogUpgrade(nome + ": " + e.what());
                ok = false;
            }
            if (!ok) completo = false;
            unidadesAtingidas.insert(std::to_string(codigo));
            dados_.FechaBasePABX();
        }
    }

    // A package goes only when each of its scripts is recorded on every
    // database it is for.
    for (const PacoteLido& p : pacotes) {
        bool feito = true;
        for (const ScriptPacote& s : p.conteudo.scripts) {
            std::vector<std::string> alvos;
            if (s.tipo == TipoScript::Principal) alvos.push_back("");
            for (int codigo : unidades)
                if (s.tipo == TipoScript::Estrutura ||
                    (s.tipo == TipoScript::Unidade && codigo != 0))
                    alvos.push_back(std::to_string(codigo));
            if (unidades.empty() && s.tipo != TipoScript::Principal) feito = false;
            for (const auto& alvo : alvos)
                if (!registrados[alvo].contains(s.nome)) feito = false;
        }
        if (!feito) continue;
        std::error_code ec;
        std::filesystem::remove(p.arquivo, ec);
        if (ec) GravaLogUpgrade(p.arquivo.filename().string() + ": " + ec.message());
    }
    if (!completo && !porNome.empty())
        mensagens_.Mostra(TipoMensagem::Aviso,
                          Traduz("A atualização da estrutura da base de dados não foi concluída") +
                              ". " + Traduz("Veja o arquivo") + " Veruzadu.log.");
}
