// The CONFIG row through its one read and one write, on the real server.

#include "tests/support/InstalacaoTeste.h"

#include "common/db/LinhaConfig.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>

namespace {

std::optional<LinhaConfig> Le(Attachment& att) {
    Transaction tr(att, true);
    auto r = LeLinhaConfig(tr);
    tr.Commit();
    return r;
}

std::uint64_t Grava(Attachment& att, const LinhaConfig& l,
                    std::initializer_list<std::string_view> colunas = {}) {
    Transaction tr(att);
    const auto n = GravaLinhaConfig(tr, l, colunas);
    tr.Commit();
    return n;
}

void Executa(Attachment& att, const std::string& sql) {
    Transaction tr(att);
    tr.Executa(sql);
    tr.Commit();
}

// Every column with its own value: texts at their full width, accents and
// blanks at the ends included, so a column swapped, cut or trimmed shows.
LinhaConfig Completa() {
    const auto largura = [](char c, std::size_t n) { return " " + std::string(n - 3, c) + "ç "; };
    return LinhaConfig{
        .CFG_CRIPTOGRAFIA = 1,
        .CFG_CONVERTOGG = 2,
        .CFG_CRIPTOKEY = largura('k', 30),
        .CFG_NETBACKUP = 3,
        .CFG_NETDSTPATH = largura('n', 80),
        .CFG_FTPBACKUP = 4,
        .CFG_FTPHOST = largura('h', 80),
        .CFG_FTPPORT = 70000,
        .CFG_FTPUSER = largura('u', 30),
        .CFG_FTPPASS = largura('p', 30),
        .CFG_FTPSECURITY = 5,
        .CFG_FTPDSTPATH = largura('f', 80),
        .CFG_DBBACKUP = 6,
        .CFG_DBDSTPATH = largura('d', 80),
        .CFG_GRVDELTIME = 7,
        .CFG_ALMALERTA = 8,
        .CFG_ALMMAILTO = largura('t', 80),
        .CFG_ALMMAILCC = largura('c', 80),
        .CFG_SMTPSERVER = largura('s', 80),
        .CFG_SMTPPORTA = -9,
        .CFG_SMTPMAIL = largura('m', 80),
        .CFG_SMTPAUTH = 10,
        .CFG_SMTPUSERNAME = largura('x', 80),
        .CFG_SMTPUSERPASS = largura('y', 30),
        .CFG_SMTPSECURITY = 11,
    };
}

}  // namespace

TEST(LinhaConfig, IdaEVoltaDeTodasAsColunasEDeParte) {
    InstalacaoTeste inst("linhacfg", {});
    EXIGE_SERVIDOR(inst);
    Attachment att = Attachment::Conecta(inst.Principal());

    // The installed row: the columns' defaults.
    LinhaConfig padrao;
    padrao.CFG_FTPPORT = 21;
    padrao.CFG_SMTPPORTA = 25;
    ASSERT_EQ(Le(att), padrao);

    const LinhaConfig completa = Completa();
    EXPECT_EQ(Grava(att, completa), 1u);
    EXPECT_EQ(Le(att), completa);

    // Only the named columns are written; the others keep the row's values.
    LinhaConfig parte;
    parte.CFG_SMTPSERVER = "smtp.exemplo";
    parte.CFG_FTPPORT = 2121;
    EXPECT_EQ(Grava(att, parte, {"CFG_SMTPSERVER", "CFG_FTPPORT"}), 1u);
    LinhaConfig esperada = completa;
    esperada.CFG_SMTPSERVER = "smtp.exemplo";
    esperada.CFG_FTPPORT = 2121;
    EXPECT_EQ(Le(att), esperada);

    // A name outside the record is refused before anything runs.
    EXPECT_THROW(Grava(att, LinhaConfig{}, {"CFG_FTPHOST", "CFG_NADA"}), std::invalid_argument);
    EXPECT_EQ(Le(att), esperada);

    // Trimmed for use: every text, nothing else.
    const LinhaConfig aparada = Aparada(completa);
    EXPECT_EQ(aparada.CFG_FTPHOST, std::string(77, 'h') + "ç");
    EXPECT_EQ(aparada.CFG_SMTPUSERPASS, std::string(27, 'y') + "ç");
    EXPECT_EQ(aparada.CFG_SMTPPORTA, -9);
}

TEST(LinhaConfig, NulosLidosComoVaziosESemLinha) {
    InstalacaoTeste inst("linhacfgnul", {});
    EXIGE_SERVIDOR(inst);
    Attachment att = Attachment::Conecta(inst.Principal());
    Executa(att, "UPDATE CONFIG SET CFG_FTPPORT = NULL, CFG_FTPHOST = NULL, CFG_ALMALERTA = 3");
    const auto lida = Le(att);
    ASSERT_TRUE(lida);
    EXPECT_EQ(lida->CFG_FTPPORT, 0);
    EXPECT_EQ(lida->CFG_FTPHOST, "");
    EXPECT_EQ(lida->CFG_ALMALERTA, 3);

    Executa(att, "ALTER TRIGGER CONFIG_UMA_LINHA INACTIVE");
    Executa(att, "DELETE FROM CONFIG");
    EXPECT_EQ(Le(att), std::nullopt);
    EXPECT_EQ(Grava(att, Completa()), 0u);
}
