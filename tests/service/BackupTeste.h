#pragma once
// A database folder of its own on the test server for one backup test: the
// main database QUVVERUZADU.FDB (the installation's schema) and unit databases GRVPAB<nnn>.FDB on
// demand, all dropped with the folder at the end. Plus a content picture of a database (row count
// and a SHA-256 over every row, BLOBs included, of every table) to compare a database before and
// after a backup and restore.

#include <grp.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "common/db/Esquema.h"
#include "common/db/Firebird.h"
#include "common/db/Script.h"
#include "service/BancoServico.h"
#include "tests/support/ServidorTeste.h"
#include "tests/support/PastaTemporaria.h"

inline std::string Sha256Hex(std::string_view dados) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EVP_Digest(dados.data(), dados.size(), md, &n, EVP_sha256(), nullptr);
    static const char* hex = "0123456789abcdef";
    std::string r;
    for (unsigned i = 0; i < n; ++i) {
        r += hex[md[i] >> 4];
        r += hex[md[i] & 15];
    }
    return r;
}

// Table name → (rows, SHA-256 over the sorted row digests).
using Retrato = std::map<std::string, std::pair<long long, std::string>>;

inline Retrato TiraRetrato(const ParametrosConexao& p) {
    Retrato r;
    Attachment att = Attachment::Conecta(p);
    Transaction tr(att, true);
    std::vector<std::string> tabelas;
    {
        Statement st(tr,
                     "SELECT TRIM(RDB$RELATION_NAME) FROM RDB$RELATIONS WHERE RDB$SYSTEM_FLAG = 0 "
                     "AND RDB$VIEW_BLR IS NULL ORDER BY 1");
        Cursor c = st.Abre();
        while (c.Proxima()) tabelas.push_back(c.GetText(0));
    }
    for (const auto& t : tabelas) {
        std::vector<std::pair<std::string, bool>> colunas;
        {
            Statement st(
                tr, "SELECT TRIM(RF.RDB$FIELD_NAME), F.RDB$FIELD_TYPE FROM RDB$RELATION_FIELDS RF "
                    "JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
                    "WHERE RF.RDB$RELATION_NAME = ? ORDER BY RF.RDB$FIELD_POSITION");
            st.SetText(0, t);
            Cursor c = st.Abre();
            while (c.Proxima()) colunas.emplace_back(c.GetText(0), c.GetInt(1) == 261);
        }
        std::string sql = "SELECT ";
        for (std::size_t i = 0; i < colunas.size(); ++i)
            sql += (i ? ", \"" : "\"") + colunas[i].first + "\"";
        sql += " FROM \"" + t + "\"";
        Statement st(tr, sql);
        Cursor c = st.Abre();
        std::vector<std::string> linhas;
        while (c.Proxima()) {
            std::string linha;
            for (unsigned i = 0; i < colunas.size(); ++i) {
                if (c.IsNull(i))
                    linha += "\x01";
                else if (colunas[i].second)
                    linha += Sha256Hex(c.ReadBlob(i));
                else
                    linha += c.GetText(i);
                linha += '\x1f';
            }
            linhas.push_back(Sha256Hex(linha));
        }
        std::sort(linhas.begin(), linhas.end());
        std::string tudo;
        for (const auto& l : linhas) tudo += l;
        r[t] = {static_cast<long long>(linhas.size()), Sha256Hex(tudo)};
    }
    tr.Commit();
    att.Desconecta();
    return r;
}

class BancosBackup {
  public:
    BancosBackup() {
        auto s = ServidorTeste::DoAmbiente();
        if (!s) return;
        srv = *s;
        static std::atomic<int> contador{0};
        pasta = srv.pasta + "/bk-" + std::to_string(::getpid()) + "-" + std::to_string(++contador) +
                "/";
        std::filesystem::create_directories(pasta);
        // The server creates and opens its files here as its own user, and
        // the service (this process) renames them: the folder is the
        // server's (root), or open to both (a user with sudo, who may not
        // hand a folder to another user).
        const passwd* pw = ::getpwnam("firebird");
        direitosServidor = pw && ::chown(pasta.c_str(), pw->pw_uid, pw->pw_gid) == 0;
        if (direitosServidor)
            std::filesystem::permissions(pasta, std::filesystem::perms(0770));
        else
            std::filesystem::permissions(pasta, std::filesystem::perms::all);
        Attachment att = Attachment::Cria(Parametros("QUVVERUZADU.FDB"), "WIN1252");
        ExecutaScript(att, ScriptBancoPrincipal());
        att.Desconecta();
        pronto = true;
    }
    ~BancosBackup() {
        if (pasta.empty()) return;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(pasta, ec)) {
            const std::string nome = e.path().filename().string();
            if (nome.size() > 4 && nome.substr(nome.size() - 4) == ".FDB") {
                try {
                    Attachment::Conecta(Parametros(nome)).ApagaBanco();
                } catch (...) {
                }
            }
        }
        std::filesystem::remove_all(pasta, ec);
    }
    bool Pronto() const { return pronto; }
    // The folder is the server's (the tests run as root): a restore or a
    // compaction, which keeps the server's old file beside the new one, and
    // a test that reads the server's files can work only then, as the
    // service needs the server's rights for them.
    bool direitosServidor = false;

    ParametrosConexao Parametros(const std::string& arquivo) const {
        return srv.Parametros(pasta + arquivo);
    }
    ParametrosConexao Principal() const { return Parametros("QUVVERUZADU.FDB"); }
    ParametrosBDServico ParametrosServico() const {
        return {srv.Servidor(), srv.Conexao(pasta + "QUVVERUZADU.FDB"), srv.usuario, srv.senha};
    }
    void Executa(const ParametrosConexao& p, std::initializer_list<std::string> sqls) const {
        Attachment att = Attachment::Conecta(p);
        for (const auto& s : sqls) att.Executa(s);
        att.Desconecta();
    }

    // A unit database with `gravacoes` recordings of `tamanho` random bytes,
    // and the unit's row in the main database.
    ParametrosConexao CriaUnidade(int codigo, int gravacoes, std::size_t tamanho) const {
        char nome[32];
        std::snprintf(nome, sizeof nome, "GRVPAB%03d.FDB", codigo);
        const ParametrosConexao p = Parametros(nome);
        Attachment att = Attachment::Cria(p, "WIN1252");
        ExecutaScript(att, ScriptBancoPABX(srv.Conexao(pasta + "QUVVERUZADU.FDB")));
        std::mt19937 gerador(static_cast<unsigned>(codigo));
        std::string dados(tamanho, '\0');
        {
            Transaction tr(att);
            Statement st(tr,
                         "INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_DATAGRV, GRV_IDFILE, "
                         "GRV_RAMGRAVADO, GRV_BINDADOS) VALUES (?, ?, ?, ?, ?, ?)");
            for (int i = 1; i <= gravacoes; ++i) {
                for (auto& b : dados) b = static_cast<char>(gerador());
                st.SetInt(0, i).SetInt(1, codigo);
                st.SetTimestamp(2, DataHora{2026, 1 + i % 12, 1 + i % 28, i % 24, i % 60, 0});
                st.SetText(3, "GR101024/X0001010/R" + std::to_string(i) + ".WAV");
                st.SetText(4, std::to_string(1000 + i % 50));
                st.SetBlob(5, dados);
                st.Executa();
            }
            tr.Commit();
        }
        att.Executa("INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO) VALUES (" +
                    std::to_string(codigo) + ", 'unidade')");
        att.Desconecta();
        Executa(Principal(), {"INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO) VALUES (" +
                              std::to_string(codigo) + ", 'unidade')"});
        return p;
    }

    ServidorTeste srv;
    std::string pasta;  // ends with "/"
    bool pronto = false;
};

#define EXIGE_BANCOS(b)                                                                            \
    if (!(b).Pronto()) GTEST_SKIP() << "no test server (run through scripts/test)"
#define EXIGE_DIREITOS_SERVIDOR(b)                                                                 \
    if (!(b).direitosServidor)                                                                     \
    GTEST_SKIP() << "restore and compaction keep the server's old database file beside the new "   \
                    "one: they need the rights of the server's data folder (root)"
