#pragma once
// What the recordings backup and export tests share: a private installation
// on the test Firebird server (its CONFIG row sets the targets), one download
// run of unit 1, a working folder, the unit's import log and the alerts.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/CifraTexto.h"
#include "tests/support/PastaTemporaria.h"
#include "tests/support/InstalacaoTeste.h"
#include "tests/service/download/DownloadFTPExecucao.h"
#include "tests/service/download/DownloadFTPServidor.h"

namespace backupteste {

namespace fs = std::filesystem;

// Every file below `raiz` (relative path -> bytes).
inline std::map<std::string, std::string> Conteudo(const fs::path& raiz) {
    std::map<std::string, std::string> r;
    if (!fs::exists(raiz)) return r;
    for (auto it = fs::recursive_directory_iterator(raiz); it != fs::recursive_directory_iterator();
         ++it)
        if (it->is_regular_file()) r[fs::relative(it->path(), raiz).string()] = LeTudo(it->path());
    return r;
}

inline DataHora Data(int ano, int mes, int dia, int hora = 0, int minuto = 0, int segundo = 0) {
    return DataHora{ano, mes, dia, hora, minuto, segundo, 0};
}

// Bytes that tell files apart.
inline std::string Bytes(std::size_t n, unsigned semente) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 31 + semente * 17 + i / 7) & 0xFF);
    return s;
}

struct Alvos {
    int net = 0;
    std::string pastaNet;
    int ftp = 0;
    int porta = 0;
    std::string usuario, senha;
    int seguranca = 0;
};

class BackupBase : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { inst_ = new InstalacaoTeste("bkp21", {1}); }
    static void TearDownTestSuite() {
        delete inst_;
        inst_ = nullptr;
    }

    void SetUp() override {
        EXIGE_SERVIDOR(*inst_);
        const auto p = inst_->Principal();
        auto config = std::make_shared<ConfiguracaoServico>();
        config->MascaraLog = 0xFF;
        config->FTPTimeOut = 3000;
        config->PastaPrograma = (tmp_ / "prog").string() + "/";
        exec_ = std::make_unique<ExecucaoFTPTeste>(
            tmp_ / "prog", ParametrosBDServico{inst_->srv.host, p.banco, p.usuario, p.senha},
            config);
    }

    // Sets the targets in the CONFIG row and loads the snapshot.
    void Configura(const Alvos& a) {
        Attachment att = Attachment::Conecta(inst_->Principal(true));
        Transaction tr(att);
        Statement st(
            tr,
            "UPDATE CONFIG SET CFG_NETBACKUP=?, CFG_NETDSTPATH=?, CFG_FTPBACKUP=?, CFG_FTPHOST=?, "
            "CFG_FTPPORT=?, CFG_FTPUSER=?, CFG_FTPPASS=?, CFG_FTPSECURITY=?, CFG_ALMALERTA=3");
        st.SetInt(0, a.net).SetText(1, a.pastaNet).SetInt(2, a.ftp).SetText(3, "127.0.0.1");
        st.SetInt(4, a.porta).SetText(5, a.usuario);
        st.SetText(6, a.senha.empty() ? std::string() : CriptografaTexto(a.senha))
            .SetInt(7, a.seguranca);
        st.Executa();
        tr.Commit();
        ASSERT_TRUE(exec_->banco.BDCarregaConfiguracaoGeral());
    }
    Alvos FTP(const ServidorFTPTeste& s, int formato) const {
        Alvos a;
        a.ftp = formato;
        a.porta = s.Porta();
        a.usuario = s.Usuario();
        a.senha = s.Senha();
        return a;
    }

    std::unique_ptr<TPABXDownloadFTP> Execucao() {
        auto r = exec_->Cria(1, pastaPABX_);
        r->BaseDadosPABX = inst_->Unidade(1).banco;
        return r;
    }

    // The unit's import log (whatever month the run's clock gave it).
    std::string Log() const {
        std::string r;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(pastaPABX_, ec))
            if (e.path().filename().string().starts_with("IMP")) r += LeTudo(e.path());
        return r;
    }
    void ApagaLog() const {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(pastaPABX_, ec))
            if (e.path().filename().string().starts_with("IMP")) fs::remove(e.path(), ec);
    }
    std::vector<std::string> Alertas() {
        std::vector<std::string> r;
        while (auto m = exec_->fila->RetiraPrimeiro()) {
            EXPECT_EQ(m->FCategoria, AlertaFalha);
            for (auto& l : m->FLinhas) r.push_back(l);
        }
        return r;
    }

    fs::path Audiorec() const { return pastaPABX_ / "NORVIKA" / "AUDIOREC"; }

    static InstalacaoTeste* inst_;
    PastaTemporaria tmp_;
    fs::path pastaPABX_ = tmp_ / "prog" / "PABX001";
    std::unique_ptr<ExecucaoFTPTeste> exec_;
};

inline InstalacaoTeste* BackupBase::inst_ = nullptr;

}  // namespace backupteste
