// The contact files with 20,000 contacts of 2 phones each, against the same
// server in the same run, each side against the other in interleaved pairs
// (benchmarks/Intercalado.h):
//  - export (each format, into memory) against the plain reading: one SELECT
//    each of CLIENTE and TELEFONE fetched to the end. Goal: at most twice.
//  - import (a Vostrel file parsed, stored in one transaction, then the
//    recordings linked in the main database and in a unit database of
//    1,000,000 recordings, a tenth of them calls to the contacts' numbers,
//    as the console does) against the same work done plainly: the same
//    60,000 rows inserted with bound values in one transaction and one bound
//    UPDATE per number on each database. Goal: at most three times. Every
//    run starts with no contacts and no recording linked.
//
// Run it with benchmarks/run (server variables as for the tests). The unit
// database is kept in $VERUZADU_BENCH_CACHE for later runs.

#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <vector>

#include "benchmarks/Intercalado.h"
#include "common/db/Esquema.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "common/db/Firebird.h"
#include "common/db/Script.h"
#include "console/AgendaArquivo.h"
#include "console/AgendaContatos.h"

namespace {

constexpr int Contatos = 20000;

std::string LeArquivo(const std::string& caminho) {
    std::ifstream f(caminho, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::optional<ParametrosConexao>& Banco() {
    static std::optional<ParametrosConexao> p;
    return p;
}

std::string Nome(int i) {
    char b[48];
    std::snprintf(b, sizeof b, "Contato %05d Comercial Ltda", i);
    return b;
}

void Esvazia(Attachment& att) {
    att.Executa("DELETE FROM TELEFONE");
    att.Executa("DELETE FROM CLIENTE");
}

// The sample rows: every contact with a full address and two phones.
void Preenche(Attachment& att) {
    Esvazia(att);
    Transaction tr(att);
    Statement c(tr,
                "INSERT INTO CLIENTE (CLI_CODIGO, CLI_DESCRICAO, CLI_IDENTIFICADOR, CLI_ENDERECO, "
                "CLI_ENDERNUM, CLI_BAIRRO, CLI_CEP, CLI_CIDADE, CLI_UF, CLI_CONTATO, CLI_EMAIL) "
                "VALUES (?, ?, '11222333000181', 'Rua das Flores', '100', 'Centro', '88000000', "
                "'Florianópolis', 'SC', 'Ana Souza', 'contato@exemplo.com.br')");
    Statement t(tr, "INSERT INTO TELEFONE (CLI_CODIGO, TEL_NUMERO, TEL_TIPO) VALUES (?, ?, ?)");
    for (int i = 1; i <= Contatos; ++i) {
        c.SetInt(0, i).SetText(1, Nome(i));
        c.Executa();
        t.SetInt(0, i).SetText(1, "4833" + std::to_string(100000 + i)).SetInt(2, 1);
        t.Executa();
        t.SetInt(0, i).SetText(1, "4899" + std::to_string(1000000 + i)).SetInt(2, 0);
        t.Executa();
    }
    tr.Commit();
}

bool Prepara() {
    const char* host = std::getenv("VERUZADU_FB_HOST");
    const char* porta = std::getenv("VERUZADU_FB_PORT");
    const char* usuario = std::getenv("VERUZADU_FB_USER");
    const char* senha = std::getenv("VERUZADU_FB_PASSWORD");
    const char* pasta = std::getenv("VERUZADU_FB_DATA");
    if (!host || !usuario || !senha || !pasta) return false;
    const std::string arquivo =
        std::string(pasta) + "/bench-contatos-" + std::to_string(getpid()) + ".fdb";
    ParametrosConexao p{MontaStringConexao(host, porta ? std::atoi(porta) : 3050, arquivo), usuario,
                        senha};
    Attachment att = Attachment::Cria(p, "WIN1252");
    ExecutaScript(att, LeArquivo(std::string(VERUZADU_SOURCE_DIR) + "/common/db/sql/veruzadu.sql"));
    att.Desconecta();
    Banco() = p;
    return true;
}

void Limpa() {
    if (!Banco()) return;
    try {
        Attachment::Conecta(*Banco()).ApagaBanco();
    } catch (...) {
    }
}

class DestinoMemoria final : public DestinoAgenda {
  public:
    void Escreve(std::string_view b) override { bytes += b; }
    void Conclui() override {}
    std::string bytes;
};

constexpr int GravacoesUnidade = 1'000'000;

// A unit database of a million recordings, every tenth a call to a contact's
// number (as the file gives it, or without the local area code).
ParametrosConexao Unidade() {
    const char* host = std::getenv("VERUZADU_FB_HOST");
    const char* porta = std::getenv("VERUZADU_FB_PORT");
    const char* cache = std::getenv("VERUZADU_BENCH_CACHE");
    if (!cache || !*cache) cache = std::getenv("VERUZADU_FB_DATA");
    ParametrosConexao p{MontaStringConexao(host, porta ? std::atoi(porta) : 3050,
                                           std::string(cache) + "/bench-contatos-unidade.fdb"),
                        std::getenv("VERUZADU_FB_USER"), std::getenv("VERUZADU_FB_PASSWORD")};
    std::int64_t n = -1;
    try {
        Attachment att = Attachment::Conecta(p);
        Transaction tr(att, true);
        Statement st(tr, "SELECT COUNT(*) FROM GRAVACAO");
        auto c = st.Abre();
        c.Proxima();
        n = c.GetBigInt(0);
    } catch (...) {
    }
    if (n == GravacoesUnidade) return p;
    std::cerr << "filling a unit database of " << GravacoesUnidade
              << " recordings (kept for later runs)...\n";
    if (n >= 0) Attachment::Conecta(p).ApagaBanco();
    Attachment att = Attachment::Cria(p, "UTF8");
    ExecutaScript(att, ScriptBancoPABX());
    for (int bloco = 0; bloco < GravacoesUnidade; bloco += 100'000)
        att.Executa(
            "EXECUTE BLOCK AS DECLARE I INTEGER = " + std::to_string(bloco) +
            "; BEGIN WHILE (I < " + std::to_string(bloco + 100'000) +
            ") DO BEGIN INSERT INTO GRAVACAO (GRV_CODIGO, PAB_CODIGO, GRV_RAMGRAVADO, GRV_DESTINO, "
            "GRV_DATARG, GRV_DATAGRV, GRV_IDFILE, GRV_TPLIGA, GRV_DURACAO, GRV_TEMAUDIO, "
            "CLI_CODIGO) "
            "VALUES (:I + 1, 1, '201', IIF(MOD(:I, 10) = 0, IIF(MOD(:I, 20) = 0, '4833', '33') || "
            "(100000 + 1 + MOD(:I / 10, 20000)), '5511' || :I), 'NOW', "
            "TIMESTAMP '2024-01-01 00:00:00' + CAST(:I AS DOUBLE PRECISION) / 86400, "
            "'R' || :I, 1, 60, 1, 0); I = I + 1; END END");
    return p;
}

void Desvincula(Attachment& att) {
    att.Executa("UPDATE GRAVACAO SET CLI_CODIGO = 0 WHERE CLI_CODIGO <> 0");
}

}  // namespace

int main() {
    using namespace intercalado;
    if (!Prepara()) {
        std::fprintf(stderr, "bench_contatos: no test server (VERUZADU_FB_*)\n");
        return 1;
    }
    int status = 0;
    try {
        Attachment att = Attachment::Conecta(*Banco());
        Preenche(att);
        auto leitura = [&] {
            Transaction tr(att, true, Isolamento::Instantaneo);
            std::size_t n = 0;
            {
                Statement st(tr, "SELECT * FROM CLIENTE");
                auto c = st.Abre();
                while (c.Proxima()) n += c.GetText(1).size();
            }
            {
                Statement st(tr, "SELECT * FROM TELEFONE");
                auto c = st.Abre();
                while (c.Proxima()) n += c.GetText(1).size();
            }
            tr.Commit();
            volatile std::size_t v = n;
            (void)v;
        };
        for (FormatoAgenda f : {FormatoAgenda::Vostrel, FormatoAgenda::Kandrup}) {
            Compara(std::string("contacts export (") +
                        (f == FormatoAgenda::Vostrel ? "Vostrel" : "Kandrup") +
                        ", 20,000 contacts) / plain SELECT",
                    {"export",
                     {},
                     [&] {
                         DestinoMemoria d;
                         Transaction tr(att, true, Isolamento::Instantaneo);
                         ExportaAgenda(tr, f, "48", d);
                         tr.Commit();
                     }},
                    {"plain SELECT of CLIENTE and TELEFONE", {}, leitura},
                    {Meta::RazaoNoMaximo, 2.0});
        }

        DestinoMemoria arquivo;
        {
            Transaction tr(att, true, Isolamento::Instantaneo);
            ExportaAgenda(tr, FormatoAgenda::Vostrel, "48", arquivo);
            tr.Commit();
        }
        Attachment unidade = Attachment::Conecta(Unidade());
        auto inicio = [&] {
            Esvazia(att);
            Desvincula(att);
            Desvincula(unidade);
        };
        Compara(
            "contacts import (20,000 contacts, linked in the main and a unit database of 1,000,000 "
            "recordings) / "
            "plain inserts and updates",
            {"import", inicio,
             [&] {
                 const LeituraAgenda lida = LeAgenda(arquivo.bytes, FormatoAgenda::Vostrel, "48");
                 VinculosAgenda v;
                 {
                     Transaction tr(att);
                     v = GravaAgenda(tr, lida);
                     tr.Commit();
                 }
                 for (Attachment* a : {&att, &unidade}) {
                     Transaction tr(*a);
                     VinculaGravacoes(tr, v, "48");
                     tr.Commit();
                 }
                 if (v.contatos != Contatos) throw std::runtime_error("import incomplete");
             }},
            {"plain inserts and updates", inicio,
             [&] {
                 {
                     Transaction tr(att);
                     Statement c(
                         tr, "INSERT INTO CLIENTE (CLI_CODIGO, CLI_DESCRICAO, CLI_IDENTIFICADOR, "
                             "CLI_ENDERECO, CLI_ENDERNUM, CLI_BAIRRO, CLI_CEP, CLI_CIDADE, CLI_UF, "
                             "CLI_CONTATO, CLI_EMAIL) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
                     Statement t(tr, "INSERT INTO TELEFONE (CLI_CODIGO, TEL_NUMERO, TEL_TIPO) "
                                     "VALUES (?, ?, ?)");
                     for (int i = 1; i <= Contatos; ++i) {
                         c.SetInt(0, i)
                             .SetText(1, Nome(i))
                             .SetText(2, "")
                             .SetText(3, "Rua das Flores");
                         c.SetText(4, "100").SetText(5, "Centro").SetText(6, "88000000");
                         c.SetText(7, "FLORIANOPOLIS").SetText(8, "SC").SetText(9, "");
                         c.SetText(10, "contato@exemplo.com.br");
                         c.Executa();
                         t.SetInt(0, i)
                             .SetText(1, "4833" + std::to_string(100000 + i))
                             .SetInt(2, 1);
                         t.Executa();
                         t.SetInt(0, i)
                             .SetText(1, "4899" + std::to_string(1000000 + i))
                             .SetInt(2, 0);
                         t.Executa();
                     }
                     tr.Commit();
                 }
                 // The same numbers the import links: each as stored and
                 // without the local area code.
                 for (Attachment* a : {&att, &unidade}) {
                     Transaction tr(*a);
                     Statement u(tr, "UPDATE GRAVACAO SET CLI_CODIGO = ? WHERE GRV_DESTINO = ?");
                     for (int i = 1; i <= Contatos; ++i)
                         for (const std::string& n : {"4833" + std::to_string(100000 + i),
                                                      "33" + std::to_string(100000 + i),
                                                      "4899" + std::to_string(1000000 + i),
                                                      "99" + std::to_string(1000000 + i)}) {
                             u.SetInt(0, i).SetText(1, n);
                             u.Executa();
                         }
                     tr.Commit();
                 }
             }},
            {Meta::RazaoNoMaximo, 3.0});
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_contatos: %s\n", e.what());
        status = 1;
    }
    Limpa();
    return status;
}
