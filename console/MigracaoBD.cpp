#include "console/MigracaoBD.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <thread>
#include <vector>

#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "common/Processos.h"
#include "common/Texto.h"
#include "common/Traducao.h"
#include "common/db/Esquema.h"
#include "common/db/Firebird.h"
#include "common/db/Script.h"
#include "common/db/Servicos.h"
#include "common/gbak/TrabalhoGbak.h"
#include "console/AtualizacaoBD.h"
#include "console/MDados.h"
#include "console/RegistroMigracao.h"
#include "console/UtilConsole.h"
#include "common/ServiceControl.h"

namespace fs = std::filesystem;

namespace {

const char* const NomeAntigo = "VERUZADU.FDB";
const char* const NomeAntigoRenomeado = "VERUZADU_OLD.FDB";
const char* const PacoteMigracao = "Veruzadu.udb";

// The server's "file not found" on attach: the database is absent.
bool ArquivoAusente(const FirebirdError& e) {
    const std::string m = e.what();
    return m.find("No such file") != std::string::npos;
}

}  // namespace

// One step of a run that may go on beside others (a gbak run).
struct Tarefa {
    Tarefa(std::function<bool(std::string&)> funcao) : f(std::move(funcao)) {}
    std::function<bool(std::string&)> f;
    bool ok = false;
    std::string motivo;
};

// What one run knows: where the databases are and what it made.
struct MigracaoBD::Execucao {
    std::string servidor;
    std::string usuario;
    std::string senha;
    std::string pastaDados;  // on the server, with "/"
    std::string pastaPrograma;
    std::string carimbo;  // yyyymmdd_hhnnss of this run
    std::string data;     // yyyymmdd
    std::string versaoServidor;

    std::string antigo, vivoPrincipal, vivoUnidade;
    bool unidadeExiste = false;
    // Working names of the old database restored, and the kept backups.
    std::string novoPrincipal, novaUnidade;
    std::string guardaPrincipal, guardaUnidade, guardaAntigo;
    // Where the old database goes (empty: the server could not tell), and
    // whether its copy there was made.
    std::string destinoAntigo;
    bool antigoCopiado = false;
    std::string motivoAntigo;
    // Live databases this run shut down to keep others out, online again on
    // every way out.
    std::vector<std::string> desligados;
    void Religa() {
        for (const std::string& d : desligados) try {
                ReligaBanco(servidor, usuario, senha, d);
            } catch (const FirebirdError& e) {
                GravaLogUpgrade("Não foi possível pôr " + d + " em linha: " + e.what());
            }
        desligados.clear();
    }
    // Databases this run created under a working name, dropped on every way out.
    std::vector<std::string> temporarios;
    // What a console killed half-way leaves for the next start.
    RegistroMigracao registro;
    // A live database could not be put back from its kept backup: the record
    // stays for the next start's recovery, and the service stays stopped.
    bool devolucaoFalhou = false;
    void Registra(const std::string& passo) {
        registro.passo = passo;
        registro.servidor = servidor;
        registro.versaoServidor = versaoServidor;
        GravaRegistroMigracao(registro);
    }

    std::string Conexao(const std::string& caminho) const { return servidor + ":" + caminho; }
    ParametrosConexao Parametros(const std::string& caminho) const {
        return {Conexao(caminho), usuario, senha, 30};
    }
    Attachment Conecta(const std::string& caminho) const {
        return Attachment::Conecta(Parametros(caminho));
    }
    bool Existe(const std::string& caminho) const {
        try {
            Conecta(caminho).Desconecta();
            return true;
        } catch (const FirebirdError& e) {
            if (ArquivoAusente(e)) return false;
            throw;
        }
    }
    // Drops the database; false with the server's message in `motivo`.
    bool Apaga(const std::string& caminho, std::string& motivo) const {
        try {
            Conecta(caminho).ApagaBanco();
            return true;
        } catch (const FirebirdError& e) {
            motivo = e.what();
            return false;
        }
    }
    void ApagaTemporarios() {
        for (const std::string& t : temporarios) {
            try {
                if (!Existe(t)) continue;
            } catch (const FirebirdError&) {
            }
            std::string motivo;
            if (!Apaga(t, motivo)) GravaLogUpgrade("Não foi possível apagar " + t + ": " + motivo);
        }
        temporarios.clear();
    }

    // gbak's status file of a run on `alvo`: runs that go on at once each
    // have their own.
    std::string Status(const std::string& alvo) const {
        return pastaPrograma + "backup-" + fs::path(alvo).filename().string() + ".log";
    }
    void Configura(TvekIbGbak& gbak, const std::string& status) const {
        gbak.CommandLineOnClipBoard = false;
        gbak.ShowProcess = false;
        gbak.NetworkProtocol = TNetwork::npTcpIp;
        gbak.Server = servidor;
        gbak.UserName = usuario;
        gbak.PassWord = senha;
        // Runs go on workers: the window is kept alive by the caller.
        gbak.ProcessaMensagens = nullptr;
        gbak.opBackup = TOptionBackup{};
        gbak.opBackup.Verbose = gbak.opBackup.OverWriteStatFile = true;
        gbak.opBackup.StatutMessageFile = status;
        gbak.opRestore = TOptionRestore{};
        gbak.opRestore.RestoreType = TRestoreType::rtCreate;
        gbak.opRestore.Verbose = gbak.opRestore.OverWriteStatFile = true;
        gbak.opRestore.StatutMessageFile = status;
    }
    // The console's gbak runs: a failure quotes the status file, which goes
    // after a success.
    RegraGbak Regra() const {
        RegraGbak r;
        r.variante = VarianteGbak::Console;
        r.completo = ComparaVersoes(versaoServidor, "2.5") >= 0;
        r.explicaStatus = r.apagaStatus = true;
        r.configura = [this](TvekIbGbak& gbak, const std::string& status) {
            Configura(gbak, status);
        };
        return r;
    }
    // gbak -b of the server's `banco` to the local `arquivo`, written under a
    // working name first so a cut backup never stands under the final one.
    bool Backup(const std::string& banco, const std::string& arquivo, std::string& motivo) const {
        return GravaBackup(Regra(), Status(arquivo), banco, arquivo + ".parcial", arquivo, nullptr,
                           motivo);
    }
    // The server's `origem` straight into `destino` (which must not exist)
    // through a piped gbak pair.
    bool Copia(const std::string& origem, const std::string& destino, std::string& motivo) const {
        return CopiaBanco(Regra(), Status(origem), Status(destino), origem, destino, motivo);
    }
    // gbak -c of the local `arquivo` into the server's `banco`, which must not exist.
    bool Restaura(const std::string& arquivo, const std::string& banco, std::string& motivo) const {
        return RestauraEmNovo(Regra(), Status(banco), arquivo, banco, motivo);
    }
    void Devolve(const std::string& viva, const std::string& guarda, bool existia);
};

MigracaoBD::MigracaoBD(MDados& dados, Mensageiro& mensagens)
    : versaoPrograma(VersaoPrograma()), dados_(dados), mensagens_(mensagens) {}

std::string MigracaoBD::ArquivoAntigo() const {
    return ComBarra(dados_.PastaDadosBD()) + NomeAntigo;
}

std::string MigracaoBD::ArquivoAntigoRenomeado() const {
    return ComBarra(dados_.PastaDadosBD()) + NomeAntigoRenomeado;
}

bool MigracaoBD::ExisteBaseAnterior() {
    Execucao ex;
    ex.servidor = dados_.ServidorBaseDados();
    ex.usuario = dados_.UsuarioBD;
    ex.senha = dados_.SenhaBD;
    return ex.Existe(ArquivoAntigo());
}

void MigracaoBD::Mostra(const std::string& texto) {
    if (Progresso) Progresso(texto);
    if (ProcessaMensagens) ProcessaMensagens();
}

bool MigracaoBD::Falha(const std::string& passo, const std::string& motivo) {
    mensagem_ = passo + (motivo.empty() ? "" : ": " + motivo);
    GravaLogUpgrade(mensagem_);
    if (Progresso) Progresso(mensagem_);
    return false;
}

namespace {

// Runs every task on a worker of its own, all at once, while the caller's
// window stays alive.
void EmParalelo(std::vector<Tarefa>& tarefas, const std::function<void()>& processa) {
    std::atomic<int> faltam{int(tarefas.size())};
    std::vector<std::thread> ts;
    for (Tarefa& t : tarefas)
        ts.emplace_back([&t, &faltam] {
            try {
                t.ok = t.f(t.motivo);
            } catch (const std::exception& e) {
                t.ok = false;
                t.motivo = e.what();
            }
            --faltam;
        });
    while (faltam > 0) {
        if (processa) processa();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (std::thread& t : ts) t.join();
}

// Runs `f` on a worker while the caller's window stays alive.
bool NoTrabalhador(const std::function<bool(std::string&)>& f, std::string& erro,
                   const std::function<void()>& processa) {
    std::vector<Tarefa> t{{f}};
    EmParalelo(t, processa);
    erro = t[0].motivo;
    return t[0].ok;
}

}  // namespace

ResultadoMigracao MigracaoBD::Executa() {
    mensagem_.clear();
    Execucao ex;
    ex.servidor = dados_.ServidorBaseDados();
    ex.usuario = dados_.UsuarioBD;
    ex.senha = dados_.SenhaBD;
    ex.pastaDados = ComBarra(dados_.PastaDadosBD());
    ex.pastaPrograma = ComBarra(PastaPrograma());
    ex.versaoServidor = dados_.VersaoServidorBD();
    const DataHora agora = Agora();
    ex.carimbo = FormataDataHora(agora, "yyyymmdd_hhnnss");
    ex.data = FormataDataHora(agora, "yyyymmdd");
    ex.antigo = ArquivoAntigo();
    GravaLogUpgrade("Migração da base de dados " + ex.antigo + " iniciada");

    // The console's own connections would count as others and keep the
    // main database from being dropped.
    dados_.FechaConexaoPrincipal();
    dados_.FechaBasePABX();

    bool parou = false;
    if (servico) {
        const EstadoServico estado = servico->Consulta();
        if (estado == EstadoServico::Executando || estado == EstadoServico::Iniciando) {
            Mostra(Traduz("Parando o serviço de gravação"));
            std::string erro;
            if (!NoTrabalhador([this](std::string& e) { return servico->Para(e); }, erro,
                               ProcessaMensagens)) {
                Falha(Traduz("Migração recusada") + ": " +
                          Traduz("o serviço de gravação não pôde ser parado"),
                      erro);
                return ResultadoMigracao::Recusada;
            }
            GravaLogUpgrade("Serviço de gravação parado para a migração");
            parou = true;
        }
    }

    ResultadoMigracao r = ResultadoMigracao::Falhou;
    ex.registro.servicoParado = parou;
    try {
        r = ExecutaParado(ex);
    } catch (const std::exception& e) {
        Falha(Traduz("Falha na migração da base de dados"), e.what());
        r = ResultadoMigracao::Falhou;
    }
    ex.ApagaTemporarios();
    ex.Religa();

    if (parou && ex.devolucaoFalhou) {
        GravaLogUpgrade("Serviço de gravação mantido parado: uma base de dados não foi devolvida");
    } else if (parou) {
        std::string erro;
        if (NoTrabalhador([this](std::string& e) { return servico->Inicia(e); }, erro,
                          ProcessaMensagens))
            GravaLogUpgrade("Serviço de gravação iniciado de novo");
        else
            GravaLogUpgrade("Não foi possível iniciar o serviço de gravação: " + erro);
    }
    if (r == ResultadoMigracao::Concluida) {
        IniFile(ArquivoVeruzaduIni()).WriteBool("BD", "UPD", false);
        mensagem_ = Traduz("Operação concluída") + "!";
        GravaLogUpgrade("Migração concluída");
        if (Progresso) Progresso(mensagem_);
    }
    // A live database not put back: the next start puts it back from the
    // kept backup (the record says which) before anything connects.
    if (ex.devolucaoFalhou) {
        GravaLogUpgrade("Registro da migração mantido para a recuperação no próximo início");
        return r;
    }
    // Everything is put right (or the migration stands): nothing to recover.
    ApagaRegistroMigracao();
    return r;
}

ResultadoMigracao MigracaoBD::ExecutaParado(Execucao& ex) {
    for (auto passo :
         {&MigracaoBD::VerificaConexoes, &MigracaoBD::Prepara, &MigracaoBD::GuardaBancos,
          &MigracaoBD::RestauraAntigo, &MigracaoBD::AtualizaEstrutura, &MigracaoBD::Troca})
        if (const Desfecho fim = (this->*passo)(ex)) return *fim;
    TerminaAntigo(ex);
    return ResultadoMigracao::Concluida;
}

// Where the live databases are, and who else is attached to them.
MigracaoBD::Desfecho MigracaoBD::VerificaConexoes(Execucao& ex) {
    const IniFile ini(ArquivoVeruzaduIni());
    const std::string falhaConexao = Traduz("Falha ao conectar base de dados QuvVeruzadu");
    Mostra(Traduz("Verificando conexões com a base de dados"));
    auto recusa = [this](const std::string& banco) {
        Falha(Traduz("Migração recusada") + ": " +
                  Traduz("há outras conexões com a base de dados") + " " + banco,
              "");
        return ResultadoMigracao::Recusada;
    };
    try {
        Attachment principal = Attachment::Conecta(
            {MontaCaminhoBD(ini, "VERUZADU", ex.pastaDados, NomeComputador()).conexao, ex.usuario,
             ex.senha, 30});
        ex.vivoPrincipal = principal.NomeArquivoServidor();
        if (principal.ContaConexoesUsuarios() > 1) return recusa(ex.vivoPrincipal);
    } catch (const FirebirdError& e) {
        Falha(falhaConexao, e.what());
        return ResultadoMigracao::Falhou;
    }
    try {
        Attachment unidade = Attachment::Conecta(
            {MontaCaminhoBD(ini, "GRVPAB001", ex.pastaDados, NomeComputador()).conexao, ex.usuario,
             ex.senha, 30});
        ex.unidadeExiste = true;
        ex.vivoUnidade = unidade.NomeArquivoServidor();
        if (unidade.ContaConexoesUsuarios() > 1) return recusa(ex.vivoUnidade);
    } catch (const FirebirdError& e) {
        if (!ArquivoAusente(e)) {
            Falha(Traduz("Falha ao conectar base de dados GRVPAB001"), e.what());
            return ResultadoMigracao::Falhou;
        }
        ex.vivoUnidade = ex.pastaDados + "GRVPAB001.FDB";
    }
    try {
        Attachment antigo = ex.Conecta(ex.antigo);
        if (antigo.ContaConexoesUsuarios() > 1) return recusa(ex.antigo);
    } catch (const FirebirdError& e) {
        Falha(falhaConexao, e.what());
        return ResultadoMigracao::Falhou;
    }
    return std::nullopt;
}

// The program folder checked, the recovery record written and the live
// databases shut down.
MigracaoBD::Desfecho MigracaoBD::Prepara(Execucao& ex) {
    // The program folder takes the backups: it must be there and writable.
    {
        const fs::path teste = ex.pastaPrograma + ".migracao-teste";
        std::ofstream f(teste);
        if (!f || !(f << "x") || (f.close(), !f)) {
            Falha(Traduz("Falha ao realizar backup da base de dados QuvVeruzadu"),
                  ex.pastaPrograma + ": " + Traduz("pasta sem permissão de escrita"));
            return ResultadoMigracao::Falhou;
        }
        std::error_code ec;
        fs::remove(teste, ec);
    }

    // Working names of the old database restored and brought up to date, and
    // the backups kept in the program folder.
    ex.novoPrincipal = ex.pastaDados + "QUVVERUZADU_MIGRACAO.FDB";
    ex.novaUnidade = ex.pastaDados + "GRVPAB001_MIGRACAO.FDB";
    ex.guardaPrincipal = ex.pastaPrograma + "QUVVERUZADU_" + ex.carimbo + ".gbk";
    ex.guardaUnidade = ex.pastaPrograma + "GRVPAB001_" + ex.carimbo + ".gbk";
    ex.guardaAntigo = ex.pastaPrograma + "VERUZADU_" + ex.carimbo + ".gbk";

    // Recorded before anything changes, so a console killed from here on
    // leaves the next start enough to put everything back.
    ex.registro.vivoPrincipal = ex.vivoPrincipal;
    ex.registro.vivoUnidade = ex.vivoUnidade;
    ex.registro.unidadeExiste = ex.unidadeExiste;
    ex.registro.antigo = ex.antigo;
    ex.registro.desligados = {ex.vivoPrincipal};
    if (ex.unidadeExiste) ex.registro.desligados.push_back(ex.vivoUnidade);
    ex.registro.temporarios = {ex.novoPrincipal, ex.novaUnidade};
    ex.Registra("preparo");

    // Nobody else gets in while they are replaced (the server refuses the
    // shutdown if someone came in meanwhile).
    for (const std::string& viva : {ex.vivoPrincipal, ex.vivoUnidade}) {
        if (viva == ex.vivoUnidade && !ex.unidadeExiste) continue;
        try {
            DesligaBancoExclusivo(ex.servidor, ex.usuario, ex.senha, viva);
            ex.desligados.push_back(viva);
        } catch (const FirebirdError& e) {
            Falha(Traduz("Migração recusada") + ": " +
                      Traduz("há outras conexões com a base de dados") + " " + viva,
                  e.what());
            return ResultadoMigracao::Recusada;
        }
    }

    PontoMorteMigracao("desligadas");
    return std::nullopt;
}

// 1. The live databases, kept, and the old one's backup, all at once.
MigracaoBD::Desfecho MigracaoBD::GuardaBancos(Execucao& ex) {
    const std::string falhaBackup = Traduz("Falha ao realizar backup da base de dados QuvVeruzadu");
    Mostra(Traduz("Realizando backup da base de dados QuvVeruzadu"));
    std::vector<std::pair<std::string, std::string>> copias{{ex.vivoPrincipal, ex.guardaPrincipal},
                                                            {ex.antigo, ex.guardaAntigo}};
    if (ex.unidadeExiste) copias.emplace_back(ex.vivoUnidade, ex.guardaUnidade);
    std::vector<Tarefa> t;
    for (const auto& [banco, arquivo] : copias)
        t.push_back(
            {[&ex, banco, arquivo](std::string& m) { return ex.Backup(banco, arquivo, m); }});
    EmParalelo(t, ProcessaMensagens);
    for (std::size_t i = 0; i < t.size(); ++i)
        if (!t[i].ok)
            return Falha(falhaBackup + " (" + copias[i].first + ")", t[i].motivo),
                   ResultadoMigracao::Falhou;
    for (const auto& [banco, arquivo] : copias)
        GravaLogUpgrade("Backup de " + banco + ": " + arquivo);
    return std::nullopt;
}

// 2. The old database under working names.
MigracaoBD::Desfecho MigracaoBD::RestauraAntigo(Execucao& ex) {
    const std::string falhaRestauracao = Traduz("Falha ao restaurar base de dados QuvVeruzadu");
    Mostra(Traduz("Restaurando base de dados QuvVeruzadu"));
    std::vector<Tarefa> t;
    for (const std::string& novo : {ex.novoPrincipal, ex.novaUnidade}) {
        // A leftover of an interrupted run is ours to drop.
        std::string motivo;
        if (ex.Existe(novo) && !ex.Apaga(novo, motivo))
            return Falha(falhaRestauracao + " (" + novo + ")", motivo), ResultadoMigracao::Falhou;
        ex.temporarios.push_back(novo);
        t.push_back(
            {[&ex, novo](std::string& m) { return ex.Restaura(ex.guardaAntigo, novo, m); }});
    }
    EmParalelo(t, ProcessaMensagens);
    for (std::size_t i = 0; i < t.size(); ++i)
        if (!t[i].ok)
            return Falha(falhaRestauracao + " (" + ex.temporarios[i] + ")", t[i].motivo),
                   ResultadoMigracao::Falhou;

    PontoMorteMigracao("restauradas");
    return std::nullopt;
}

// 3. Brought up to date there.
MigracaoBD::Desfecho MigracaoBD::AtualizaEstrutura(Execucao& ex) {
    const IniFile ini(ArquivoVeruzaduIni());
    Mostra(Traduz("Atualizando estrutura da base de dados"));
    const std::string falhaEstrutura = Traduz("Falha ao atualizar estrutura da base de dados");
    std::vector<ScriptPacote> scripts;
    const fs::path pacote = ex.pastaPrograma + PacoteMigracao;
    if (fs::is_regular_file(pacote)) {
        try {
            PacoteScripts p = LePacoteScripts(pacote, limites);
            if (ComparaVersoes(p.versao, versaoPrograma) > 0)
                return Falha(falhaEstrutura, std::string(PacoteMigracao) + ": " + p.versao + " > " +
                                                 versaoPrograma),
                       ResultadoMigracao::Falhou;
            scripts = std::move(p.scripts);
        } catch (const PacoteRecusado& e) {
            return Falha(falhaEstrutura, std::string(PacoteMigracao) + ": " +
                                             (e.entrada.empty() ? "" : e.entrada + ": ") +
                                             e.what()),
                   ResultadoMigracao::Falhou;
        }
    }
    std::sort(scripts.begin(), scripts.end(),
              [](const ScriptPacote& a, const ScriptPacote& b) { return a.nome < b.nome; });
    std::string ddd = Apara(ini.ReadString("Veruzadu", "DDD", ""));
    ddd = ddd.substr(0, 3);

    // Runs the scripts of these kinds on `banco`, through its ledger.
    auto aplica = [&](const std::string& banco, std::initializer_list<TipoScript> tipos,
                      bool unidade) -> bool {
        try {
            Attachment att = ex.Conecta(banco);
            {
                Transaction tr(att);
                if (!TabelaExiste(tr, "ATUALIZACAO")) {
                    tr.Commit();
                    ExecutaScript(att, SqlTabelaAtualizacao);
                }
            }
            for (TipoScript tipo : tipos)
                for (const ScriptPacote& s : scripts) {
                    if (s.tipo != tipo) continue;
                    {
                        Transaction tr(att);
                        Statement st(tr, "SELECT 1 FROM ATUALIZACAO WHERE ATU_SCRIPT = ?");
                        st.SetText(0, s.nome);
                        if (st.Abre().Proxima()) continue;
                    }
                    try {
                        ExecutaScript(att, s.texto);
                    } catch (const FirebirdError& e) {
                        return Falha(falhaEstrutura, s.nome + "-> " + banco + ": " + e.what());
                    }
                    Transaction tr(att);
                    Statement st(tr, "INSERT INTO ATUALIZACAO (ATU_SCRIPT, ATU_SHA256, ATU_PACOTE, "
                                     "ATU_DATA) VALUES (?, ?, ?, CURRENT_TIMESTAMP)");
                    st.SetText(0, s.nome).SetText(1, s.sha256).SetText(2, PacoteMigracao);
                    st.Executa();
                    tr.Commit();
                }
            Transaction tr(att);
            if (TabelaExiste(tr, "PABX")) {
                if (unidade) {
                    Statement st(tr, "UPDATE PABX SET PAB_DDDCODIGO = ?");
                    st.SetText(0, ddd);
                    st.Executa();
                } else if (!ddd.empty()) {
                    Statement st(tr, "UPDATE PABX SET PAB_DDDCODIGO = ? WHERE PAB_DDDCODIGO = ?");
                    st.SetText(0, ddd).SetText(1, "");
                    st.Executa();
                }
            }
            tr.Commit();
            return true;
        } catch (const FirebirdError& e) {
            return Falha(falhaEstrutura, banco + ": " + e.what());
        }
    };
    if (!aplica(ex.novoPrincipal, {TipoScript::Principal}, false)) return ResultadoMigracao::Falhou;
    if (!aplica(ex.novaUnidade, {TipoScript::Estrutura, TipoScript::Unidade}, true))
        return ResultadoMigracao::Falhou;
    {
        // The checks of every connection, on a data module of its own so the
        // console's connection keeps its parameters.
        MDados checagem(mensagens_);
        checagem.UsuarioBD = ex.usuario;
        checagem.SenhaBD = ex.senha;
        if (!checagem.ConectaBaseVeruzadu(ex.Conexao(ex.novoPrincipal)))
            return Falha(falhaEstrutura, ex.novoPrincipal), ResultadoMigracao::Falhou;
        try {
            checagem.VerificaEstruturaPrincipal();
            checagem.FechaConexaoPrincipal();
            checagem.ConectaBasePABX(1, ex.Conexao(ex.novaUnidade));
            checagem.FechaBasePABX();
        } catch (const ErroBasePABX& e) {
            return Falha(falhaEstrutura, ex.novaUnidade + ": " + e.detalhe),
                   ResultadoMigracao::Falhou;
        } catch (const std::exception& e) {
            return Falha(falhaEstrutura, ex.novoPrincipal + ": " + e.what()),
                   ResultadoMigracao::Falhou;
        }
        checagem.Desconecta();
    }
    return std::nullopt;
}

// Drops the live `viva` and, when it `existia`, puts it back from its kept
// backup `guarda`.
void MigracaoBD::Execucao::Devolve(const std::string& viva, const std::string& guarda,
                                   bool existia) {
    std::string m;
    if (Existe(viva) && !Apaga(viva, m))
        GravaLogUpgrade("Não foi possível apagar " + viva + ": " + m);
    if (!existia) return;
    if (Restaura(guarda, viva, m)) {
        GravaLogUpgrade(viva + " devolvida do backup " + guarda);
    } else {
        devolucaoFalhou = true;
        GravaLogUpgrade("ATENÇÃO: " + viva + " não pôde ser devolvida; restaure o backup " +
                        guarda + ": " + m);
    }
}

// 4. The swap: each live database dropped (the server refuses while anyone
// is attached) and the migrated one copied under its name (backup piped into
// restore: the working databases stay until the copies are complete, so
// nothing else needs keeping); a failure puts the kept backups back, so the
// live names hold the old databases again. The old database's copy under its
// new name is made meanwhile.
MigracaoBD::Desfecho MigracaoBD::Troca(Execucao& ex) {
    const std::string falhaRestauracao = Traduz("Falha ao restaurar base de dados QuvVeruzadu");
    Mostra(Traduz("Restaurando base de dados QuvVeruzadu"));
    ex.destinoAntigo = DestinoAntigo(ex);
    ex.registro.guardaPrincipal = ex.guardaPrincipal;
    ex.registro.guardaUnidade = ex.guardaUnidade;
    ex.registro.destinoAntigo = ex.destinoAntigo;
    ex.Registra("troca");
    std::string motivo;
    if (!ex.Apaga(ex.vivoPrincipal, motivo))
        return Falha(falhaRestauracao + " (" + ex.vivoPrincipal + ")", motivo),
               ResultadoMigracao::Falhou;
    if (ex.unidadeExiste && !ex.Apaga(ex.vivoUnidade, motivo)) {
        Falha(falhaRestauracao + " (" + ex.vivoUnidade + ")", motivo);
        ex.Devolve(ex.vivoPrincipal, ex.guardaPrincipal, true);
        return ResultadoMigracao::Falhou;
    }
    PontoMorteMigracao("apagadas");
    std::vector<Tarefa> t{
        {[&](std::string& m) { return ex.Copia(ex.novoPrincipal, ex.vivoPrincipal, m); }},
        {[&](std::string& m) { return ex.Copia(ex.novaUnidade, ex.vivoUnidade, m); }}};
    if (!ex.destinoAntigo.empty())
        t.push_back(
            {[&](std::string& m) { return ex.Restaura(ex.guardaAntigo, ex.destinoAntigo, m); }});
    EmParalelo(t, ProcessaMensagens);
    if (!t[0].ok || !t[1].ok) {
        Falha(falhaRestauracao + " (" + (t[0].ok ? ex.vivoUnidade : ex.vivoPrincipal) + ")",
              t[0].ok ? t[1].motivo : t[0].motivo);
        ex.Devolve(ex.vivoPrincipal, ex.guardaPrincipal, true);
        ex.Devolve(ex.vivoUnidade, ex.guardaUnidade, ex.unidadeExiste);
        if (!ex.destinoAntigo.empty()) ex.Devolve(ex.destinoAntigo, "", false);
        return ResultadoMigracao::Falhou;
    }
    if (!ex.destinoAntigo.empty()) {
        ex.antigoCopiado = t[2].ok;
        ex.motivoAntigo = t[2].motivo;
    }
    GravaLogUpgrade("Bases " + ex.vivoPrincipal + " e " + ex.vivoUnidade + " migradas");
    ex.Registra("antiga");
    PontoMorteMigracao("migradas");
    ex.ApagaTemporarios();
    return std::nullopt;
}

// 5. The old database out of the way (the migration stands even when this
// fails: it is logged).
void MigracaoBD::TerminaAntigo(Execucao& ex) {
    if (ex.destinoAntigo.empty()) return;
    std::string motivo;
    if (!ex.antigoCopiado) {
        GravaLogUpgrade("Falha ao restaurar " + ex.antigo + " como " + ex.destinoAntigo + ": " +
                        ex.motivoAntigo);
        ex.Devolve(ex.destinoAntigo, "", false);
    } else if (!ex.Apaga(ex.antigo, motivo)) {
        GravaLogUpgrade("Não foi possível apagar " + ex.antigo + ": " + motivo);
    } else {
        GravaLogUpgrade(ex.antigo + " renomeada para " + ex.destinoAntigo);
    }
}

std::string MigracaoBD::DestinoAntigo(Execucao& ex) {
    std::string destino = ArquivoAntigoRenomeado();
    try {
        if (ex.Existe(destino)) {
            const std::string outro = ex.pastaDados + "VERUZADU_OLD_" + ex.carimbo + ".FDB";
            GravaLogUpgrade(destino + " já existe e foi mantida; a base anterior vai para " +
                            outro);
            destino = outro;
        }
    } catch (const FirebirdError& e) {
        GravaLogUpgrade(destino + ": " + e.what());
        return {};
    }
    return destino;
}

bool MigracaoBD::MoveAntigo(Execucao& ex) {
    std::string motivo;
    const std::string destino = DestinoAntigo(ex);
    if (destino.empty()) return false;
    const std::string guarda = ex.pastaPrograma + "VERUZADU_" + ex.carimbo + ".gbk";
    std::vector<Tarefa> t{{[&](std::string& m) {
        return (fs::is_regular_file(guarda) || ex.Backup(ex.antigo, guarda, m)) &&
               ex.Restaura(guarda, destino, m);
    }}};
    EmParalelo(t, ProcessaMensagens);
    if (!t[0].ok) {
        GravaLogUpgrade("Falha ao mover " + ex.antigo + " para " + destino + ": " + t[0].motivo);
        std::string m;
        if (ex.Existe(destino)) ex.Apaga(destino, m);
        return false;
    }
    if (!ex.Apaga(ex.antigo, motivo)) {
        // Still there (someone attached): no second copy is left behind.
        GravaLogUpgrade("Não foi possível apagar " + ex.antigo + ": " + motivo);
        std::string m;
        if (!ex.Apaga(destino, m)) GravaLogUpgrade("Não foi possível apagar " + destino + ": " + m);
        return false;
    }
    GravaLogUpgrade(ex.antigo + " renomeada para " + destino);
    return true;
}

bool MigracaoBD::Renomeia() {
    Execucao ex;
    ex.servidor = dados_.ServidorBaseDados();
    ex.usuario = dados_.UsuarioBD;
    ex.senha = dados_.SenhaBD;
    ex.pastaDados = ComBarra(dados_.PastaDadosBD());
    ex.pastaPrograma = ComBarra(PastaPrograma());
    ex.versaoServidor = dados_.VersaoServidorBD();
    ex.carimbo = FormataDataHora(Agora(), "yyyymmdd_hhnnss");
    ex.antigo = ArquivoAntigo();
    try {
        if (!MoveAntigo(ex)) return false;
    } catch (const std::exception& e) {
        GravaLogUpgrade(ex.antigo + ": " + e.what());
        return false;
    }
    IniFile(ArquivoVeruzaduIni()).WriteBool("BD", "UPD", false);
    return true;
}

bool MigracaoBD::Recupera(ServiceControl* servicoParado) {
    std::optional<RegistroMigracao> r;
    try {
        r = LeRegistroMigracao();
    } catch (const std::exception& e) {
        GravaLogUpgrade(std::string("ATENÇÃO: ") + e.what());
        return false;
    }
    if (!r) return true;
    GravaLogUpgrade("Recuperando a migração interrompida (" + r->passo + ")");
    Execucao ex;
    ex.servidor = r->servidor;
    ex.usuario = dados_.UsuarioBD;
    ex.senha = dados_.SenhaBD;
    ex.pastaPrograma = ComBarra(PastaPrograma());
    ex.versaoServidor = r->versaoServidor;
    bool ok = true;
    try {
        if (r->passo == "troca") {
            // The live names may hold nothing, a cut restore or the migrated
            // database: the kept backups (made while nobody else was in) go
            // back in every case.
            auto devolve = [&](const std::string& viva, const std::string& guarda) {
                std::string m;
                if (ex.Existe(viva) && !ex.Apaga(viva, m)) {
                    GravaLogUpgrade("Não foi possível apagar " + viva + ": " + m);
                    if (!guarda.empty()) ex.devolucaoFalhou = true;
                    return false;
                }
                if (guarda.empty()) return true;
                if (!ex.Restaura(guarda, viva, m)) {
                    GravaLogUpgrade("ATENÇÃO: " + viva +
                                    " não pôde ser devolvida; restaure o backup " + guarda + ": " +
                                    m);
                    ex.devolucaoFalhou = true;
                    return false;
                }
                GravaLogUpgrade(viva + " devolvida do backup " + guarda);
                return true;
            };
            ok = devolve(r->vivoPrincipal, r->guardaPrincipal) && ok;
            ok = devolve(r->vivoUnidade, r->unidadeExiste ? r->guardaUnidade : "") && ok;
        }
        // The old database's copy is complete only once the old one is gone.
        if (!r->destinoAntigo.empty() && ex.Existe(r->antigo))
            ex.temporarios.push_back(r->destinoAntigo);
        for (const std::string& t : r->temporarios) ex.temporarios.push_back(t);
        ex.ApagaTemporarios();
        for (const std::string& t : r->temporarios)
            if (ex.Existe(t)) ok = false;
    } catch (const FirebirdError& e) {
        GravaLogUpgrade("Falha ao recuperar a migração: " + std::string(e.what()));
        ok = false;
    }
    ex.desligados = r->desligados;
    ex.Religa();
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(ex.pastaPrograma, ec))
        if (e.path().extension() == ".parcial") fs::remove(e.path(), ec);
    if (r->servicoParado && servicoParado && ex.devolucaoFalhou) {
        GravaLogUpgrade("Serviço de gravação mantido parado: uma base de dados não foi devolvida");
    } else if (r->servicoParado && servicoParado) {
        std::string erro;
        if (servicoParado->Inicia(erro))
            GravaLogUpgrade("Serviço de gravação iniciado de novo");
        else
            GravaLogUpgrade("Não foi possível iniciar o serviço de gravação: " + erro);
    }
    if (!ok) return false;
    // The live databases already hold the migrated ones: the migration stands.
    if (r->passo == "antiga") IniFile(ArquivoVeruzaduIni()).WriteBool("BD", "UPD", false);
    ApagaRegistroMigracao();
    GravaLogUpgrade("Migração interrompida recuperada");
    return true;
}
