#include "common/db/LinhaConfig.h"

#include <array>
#include <stdexcept>

#include "common/Texto.h"
#include "common/db/Firebird.h"

namespace {

// Each column once: its name, the record's field (an integer or a text) and,
// for a text, its width in characters.
struct Coluna {
    const char* nome;
    int LinhaConfig::*inteiro;
    std::string LinhaConfig::*texto;
    std::size_t largura;
};

constexpr Coluna Inteira(const char* nome, int LinhaConfig::*campo) {
    return {nome, campo, nullptr, 0};
}

constexpr Coluna Textual(const char* nome, std::string LinhaConfig::*campo, std::size_t largura) {
    return {nome, nullptr, campo, largura};
}

const std::array<Coluna, 25> Colunas = {
    Inteira("CFG_CRIPTOGRAFIA", &LinhaConfig::CFG_CRIPTOGRAFIA),
    Inteira("CFG_CONVERTOGG", &LinhaConfig::CFG_CONVERTOGG),
    Textual("CFG_CRIPTOKEY", &LinhaConfig::CFG_CRIPTOKEY, 30),
    Inteira("CFG_NETBACKUP", &LinhaConfig::CFG_NETBACKUP),
    Textual("CFG_NETDSTPATH", &LinhaConfig::CFG_NETDSTPATH, 80),
    Inteira("CFG_FTPBACKUP", &LinhaConfig::CFG_FTPBACKUP),
    Textual("CFG_FTPHOST", &LinhaConfig::CFG_FTPHOST, 80),
    Inteira("CFG_FTPPORT", &LinhaConfig::CFG_FTPPORT),
    Textual("CFG_FTPUSER", &LinhaConfig::CFG_FTPUSER, 30),
    Textual("CFG_FTPPASS", &LinhaConfig::CFG_FTPPASS, 30),
    Inteira("CFG_FTPSECURITY", &LinhaConfig::CFG_FTPSECURITY),
    Textual("CFG_FTPDSTPATH", &LinhaConfig::CFG_FTPDSTPATH, 80),
    Inteira("CFG_DBBACKUP", &LinhaConfig::CFG_DBBACKUP),
    Textual("CFG_DBDSTPATH", &LinhaConfig::CFG_DBDSTPATH, 80),
    Inteira("CFG_GRVDELTIME", &LinhaConfig::CFG_GRVDELTIME),
    Inteira("CFG_ALMALERTA", &LinhaConfig::CFG_ALMALERTA),
    Textual("CFG_ALMMAILTO", &LinhaConfig::CFG_ALMMAILTO, 80),
    Textual("CFG_ALMMAILCC", &LinhaConfig::CFG_ALMMAILCC, 80),
    Textual("CFG_SMTPSERVER", &LinhaConfig::CFG_SMTPSERVER, 80),
    Inteira("CFG_SMTPPORTA", &LinhaConfig::CFG_SMTPPORTA),
    Textual("CFG_SMTPMAIL", &LinhaConfig::CFG_SMTPMAIL, 80),
    Inteira("CFG_SMTPAUTH", &LinhaConfig::CFG_SMTPAUTH),
    Textual("CFG_SMTPUSERNAME", &LinhaConfig::CFG_SMTPUSERNAME, 80),
    Textual("CFG_SMTPUSERPASS", &LinhaConfig::CFG_SMTPUSERPASS, 30),
    Inteira("CFG_SMTPSECURITY", &LinhaConfig::CFG_SMTPSECURITY),
};

const Coluna& ColunaPorNome(std::string_view nome) {
    for (const Coluna& c : Colunas)
        if (nome == c.nome) return c;
    throw std::invalid_argument("CONFIG: coluna desconhecida " + std::string(nome));
}

}  // namespace

std::optional<LinhaConfig> LeLinhaConfig(Transaction& tr) {
    Statement st(tr, SelecaoLinhaConfig);
    Cursor r = st.Abre();
    if (!r.Proxima()) return std::nullopt;
    LinhaConfig linha;
    for (const Coluna& c : Colunas) {
        const int i = r.IndiceColuna(c.nome);
        if (i < 0 || r.IsNull(static_cast<unsigned>(i))) continue;
        if (c.inteiro)
            linha.*c.inteiro = r.GetInt(static_cast<unsigned>(i));
        else
            linha.*c.texto = CortaUtf8(r.GetText(static_cast<unsigned>(i)), c.largura);
    }
    r.Fecha();
    return linha;
}

LinhaConfig Aparada(LinhaConfig linha) {
    for (const Coluna& c : Colunas)
        if (c.texto) linha.*c.texto = Apara(linha.*c.texto);
    return linha;
}

std::uint64_t GravaLinhaConfig(Transaction& tr, const LinhaConfig& linha,
                               std::initializer_list<std::string_view> colunas) {
    std::array<const Coluna*, Colunas.size()> escolhidas{};
    std::size_t n = 0;
    if (colunas.size() == 0)
        for (const Coluna& c : Colunas) escolhidas[n++] = &c;
    else
        for (std::string_view nome : colunas) {
            if (n == escolhidas.size()) throw std::invalid_argument("CONFIG: coluna repetida");
            escolhidas[n++] = &ColunaPorNome(nome);
        }
    std::string sql = "UPDATE CONFIG SET ";
    for (std::size_t i = 0; i < n; ++i)
        sql += std::string(i ? ", " : "") + escolhidas[i]->nome + " = ?";
    Statement st(tr, sql);
    for (std::size_t i = 0; i < n; ++i) {
        const Coluna& c = *escolhidas[i];
        const auto p = static_cast<unsigned>(i);
        if (c.inteiro)
            st.SetInt(p, linha.*c.inteiro);
        else
            st.SetText(p, linha.*c.texto);
    }
    return st.Executa();
}
