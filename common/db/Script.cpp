#include "common/db/Script.h"
#include "common/Texto.h"

#include "common/db/FirebirdInterno.h"

#include <cctype>

namespace {

bool Espaco(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// Strips blanks and comments at the start; the statement's command words come next.
std::string_view SemPrefixo(std::string_view s) {
    for (;;) {
        while (!s.empty() && Espaco(s.front())) s.remove_prefix(1);
        if (s.starts_with("--")) {
            const auto fim = s.find('\n');
            s = fim == std::string_view::npos ? std::string_view{} : s.substr(fim + 1);
        } else if (s.starts_with("/*")) {
            const auto fim = s.find("*/", 2);
            s = fim == std::string_view::npos ? std::string_view{} : s.substr(fim + 2);
        } else {
            return s;
        }
    }
}

// The first words of a statement in upper case, blanks collapsed.
std::vector<std::string> Palavras(std::string_view s, std::size_t quantas) {
    std::vector<std::string> r;
    s = SemPrefixo(s);
    std::size_t i = 0;
    while (r.size() < quantas && i < s.size()) {
        while (i < s.size() && Espaco(s[i])) ++i;
        std::string w;
        while (i < s.size() && !Espaco(s[i])) w += s[i++];
        if (!w.empty()) r.push_back(Maiusculas(w));
    }
    return r;
}

// New terminator of a "SET TERM x" statement, or empty when it is none.
std::string NovoTerminador(std::string_view comando) {
    std::string_view s = SemPrefixo(comando);
    auto palavra = [&s]() {
        while (!s.empty() && Espaco(s.front())) s.remove_prefix(1);
        std::size_t n = 0;
        while (n < s.size() && !Espaco(s[n])) ++n;
        std::string w(s.substr(0, n));
        s.remove_prefix(n);
        return w;
    };
    std::string set = palavra();
    std::string term = palavra();
    set = Maiusculas(set);
    term = Maiusculas(term);
    if (set != "SET" || (term != "TERM" && term != "TERMINATOR")) return {};
    return palavra();
}

}  // namespace

std::vector<std::string> DivideScript(std::string_view script) {
    std::vector<std::string> comandos;
    std::string terminador = ";";
    std::size_t inicio = 0;
    std::size_t i = 0;
    auto fecha = [&](std::size_t fim) {
        std::string comando(AparaBrancos(script.substr(inicio, fim - inicio)));
        if (!SemPrefixo(comando).empty()) {
            std::string novo = NovoTerminador(comando);
            if (!novo.empty())
                terminador = novo;
            else
                comandos.push_back(std::move(comando));
        }
    };
    while (i < script.size()) {
        const char c = script[i];
        if (c == '\'' || c == '"') {
            // Quotes inside are doubled, which this loop reads as two strings.
            const auto fim = script.find(c, i + 1);
            i = fim == std::string_view::npos ? script.size() : fim + 1;
        } else if (script.substr(i, 2) == "--") {
            const auto fim = script.find('\n', i);
            i = fim == std::string_view::npos ? script.size() : fim + 1;
        } else if (script.substr(i, 2) == "/*") {
            const auto fim = script.find("*/", i + 2);
            i = fim == std::string_view::npos ? script.size() : fim + 2;
        } else if (script.substr(i, terminador.size()) == terminador) {
            const std::size_t largura = terminador.size();  // SET TERM changes it
            fecha(i);
            i += largura;
            inicio = i;
        } else {
            ++i;
        }
    }
    fecha(script.size());
    return comandos;
}

void ExecutaScript(Attachment& att, std::string_view script, const TextoSecreto& segredo) {
    static const char* const ignorados[] = {
        "SQL",     "NAMES",    "AUTODDL",     "ECHO", "BAIL",         "LIST",
        "HEADING", "STATS",    "COUNT",       "PLAN", "PLANONLY",     "WARNINGS",
        "WNG",     "ROWCOUNT", "BLOBDISPLAY", "TIME", "SQLDA_DISPLAY"};
    Transaction tr(att);
    std::unique_ptr<Transaction> atual;
    Transaction* t = &tr;
    for (const std::string& comando : DivideScript(script)) {
        const std::vector<std::string> w = Palavras(comando, 2);
        if (w.empty()) continue;
        if (w[0] == "SET" && w.size() > 1) {
            bool ignora = false;
            for (const char* nome : ignorados) ignora = ignora || w[1] == nome;
            if (ignora) continue;
        }
        if (w[0] == "COMMIT" || w[0] == "ROLLBACK") {
            if (w[0] == "COMMIT")
                t->Commit();
            else
                t->Rollback();
            atual = std::make_unique<Transaction>(att);
            t = atual.get();
            continue;
        }
        if ((w[0] == "CREATE" && w.size() > 1 && (w[1] == "DATABASE" || w[1] == "SCHEMA")) ||
            w[0] == "CONNECT")
            throw FirebirdError({}, "script statement not allowed here (" + comando + ")");

        // Only the statements that hold the secret keep their text out of errors.
        const bool temSegredo =
            !segredo.valor.empty() && comando.find(segredo.valor) != std::string::npos;
        Statement st(*t, comando, temSegredo ? segredo : TextoSecreto{});
        unsigned tipo = 0;
        {
            fbinterno::Status s;
            tipo = st.Interface()->getType(s.Ptr());
            s.Verifica();
        }
        if (st.TemCursor()) {
            Cursor c = st.Abre();
            while (c.Proxima()) {
            }
        } else {
            st.Executa();
        }
        if (tipo == isc_info_sql_stmt_ddl) t->CommitRetaining();
    }
    t->Commit();
}
