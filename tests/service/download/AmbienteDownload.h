#pragma once
// What the download tests share: a main database of their own on the test
// server, the service objects a run is handed (log, database, alerts, a clock
// the test may move), a private program folder and helpers to register units,
// create a unit database and read back rows and the unit's import log.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/db/Esquema.h"
#include "common/db/Script.h"
#include "service/AlertaEmail.h"
#include "service/BancoServico.h"
#include "service/LacoPrincipal.h"
#include "service/LogServico.h"
#include "service/download/PABXDownloadFTP.h"
#include "tests/support/BancoServicoTeste.h"

// A clock the test sets; the system clock until it does.
class RelogioTeste final : public Relogio {
  public:
    DataHora Agora() const override {
        std::lock_guard l(trava_);
        return fixo_ ? agora_ : ::Agora();
    }
    void Define(const DataHora& d) {
        std::lock_guard l(trava_);
        agora_ = d;
        fixo_ = true;
    }

  private:
    mutable std::mutex trava_;  // guards agora_, fixo_
    DataHora agora_;
    bool fixo_ = false;
};

inline DataHora Data(int ano, int mes, int dia, int hora = 0, int minuto = 0, int segundo = 0) {
    return DataHora{ano, mes, dia, hora, minuto, segundo, 0};
}

struct AmbienteDownloadTeste {
    BancoServicoTeste db;
    PastaTemporaria pasta;
    RelogioTeste relogio;
    LogServico log{pasta.Caminho(), [this] { return relogio.Agora(); }};
    std::unique_ptr<BancoServico> banco;
    AlertasEmail alertas{[] { return AlertaCapacidade | AlertaFalha; }};
    std::shared_ptr<FilaEmails> emails = std::make_shared<FilaEmails>();
    std::shared_ptr<FilaMensagens> console = std::make_shared<FilaMensagens>();
    ConfiguracaoServico config;

    explicit AmbienteDownloadTeste(const std::string& nome) : db(nome) {
        log.DefineMascara(LogSempre | LogInfo | LogErro);
        log.DefineFilaConsole(console);
        log.DefineConsoleConectado(true);
        alertas.DefineFila(emails);
        config.PastaPrograma = pasta.Caminho().string() + "/";
        config.PABXTimeOut = 1;
        config.MascaraLog = LogSempre | LogInfo | LogErro;
        PABXTimeOut = 1;
        banco = std::make_unique<BancoServico>(log, db.Pronto() ? db.Parametros()
                                                                : ParametrosBDServico{});
    }

    std::shared_ptr<const ConfiguracaoServico> Config() const {
        return std::make_shared<const ConfiguracaoServico>(config);
    }
    AmbienteDownload Ambiente() { return AmbienteDownload{log, *banco, alertas, relogio, {}}; }

    std::string PastaUnidade(int codigo) const {
        return config.PastaPrograma + "PABX" + CodigoTresDigitos(codigo) + "/";
    }

    // A run for unit `codigo` as the scheduler fills it, against `porta`.
    std::unique_ptr<TPABXDownloadFTP> Run(int codigo, std::uint16_t porta,
                                          const std::string& senha = "1234") {
        auto t = std::make_unique<TPABXDownloadFTP>(codigo, Ambiente(), Config());
        t->PastaPABX = PastaUnidade(codigo);
        std::filesystem::create_directories(t->PastaPABX);
        t->DescricaoPABX = "Unidade " + std::to_string(codigo);
        t->KELVEnderIP = "127.0.0.1";
        t->KELVPorta = porta;
        t->KELVSenha = senha;
        t->FTPHost = "127.0.0.1";
        t->BaseDadosPABX = unidade.empty() ? db.conexao.banco : unidade;
        return t;
    }

    // A unit database of this test (from the unit template's script).
    std::string CriaBancoUnidade() {
        static std::atomic<int> contador{0};
        const std::string arquivo = db.srv.pasta + "/unid-" + std::to_string(::getpid()) + "-" +
                                    std::to_string(++contador) + ".fdb";
        ParametrosConexao p{MontaStringConexao(db.srv.host, db.srv.porta, arquivo), db.srv.usuario,
                            db.srv.senha};
        Attachment att = Attachment::Cria(p, "WIN1252");
        ExecutaScript(att, ScriptBancoPABX(db.conexao.banco));
        att.Desconecta();
        unidade = p.banco;
        unidadeParametros = p;
        return unidade;
    }
    ~AmbienteDownloadTeste() {
        if (unidade.empty()) return;
        try {
            Attachment att = Attachment::Conecta(unidadeParametros);
            att.ApagaBanco();
        } catch (...) {
        }
    }

    void RegistraUnidade(int codigo, std::uint16_t porta = 0) {
        Attachment att = db.Conecta();
        Transaction tr(att);
        Statement st(tr,
                     "INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_KELVENDERIP, PAB_KELVPORTA) "
                     "VALUES (?, ?, '127.0.0.1', ?)");
        st.SetInt(0, codigo)
            .SetText(1, "Unidade " + std::to_string(codigo))
            .SetInt(2, porta)
            .Executa();
        tr.Commit();
    }

    // Lines of the unit's import log of this month, without the time stamp.
    std::vector<std::string> LinhasIMP(int codigo) const {
        std::vector<std::string> r;
        const auto arquivo = std::filesystem::path(PastaUnidade(codigo)) /
                             ("IMP" + FormataDataHora(relogio.Agora(), "yyyymm") + ".LOG");
        const std::string texto = LeTudo(arquivo);
        std::size_t ini = 0;
        while (ini < texto.size()) {
            std::size_t fim = texto.find("\r\n", ini);
            if (fim == std::string::npos) fim = texto.size();
            const std::string linha = texto.substr(ini, fim - ini);
            r.push_back(linha.size() > 23 ? linha.substr(23) : linha);
            ini = fim + 2;
        }
        return r;
    }
    std::vector<std::string> LinhasServico() const {
        std::vector<std::string> r;
        const std::string texto = LeTudo(log.ArquivoDoMes(relogio.Agora()));
        std::size_t ini = 0;
        while (ini < texto.size()) {
            std::size_t fim = texto.find("\r\n", ini);
            if (fim == std::string::npos) fim = texto.size();
            const std::string linha = texto.substr(ini, fim - ini);
            r.push_back(linha.size() > 23 ? linha.substr(23) : linha);
            ini = fim + 2;
        }
        return r;
    }

    std::string unidade;
    ParametrosConexao unidadeParametros;
};

inline bool Contem(const std::vector<std::string>& linhas, const std::string& texto) {
    for (const auto& l : linhas)
        if (l.find(texto) != std::string::npos) return true;
    return false;
}
inline int Conta(const std::vector<std::string>& linhas, const std::string& texto) {
    int n = 0;
    for (const auto& l : linhas)
        if (l.find(texto) != std::string::npos) ++n;
    return n;
}
