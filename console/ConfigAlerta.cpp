#include "console/ConfigAlerta.h"

#include <cstdint>
#include <vector>

#include "common/CifraTexto.h"
#include "common/Texto.h"
#include "common/Traducao.h"
#include "common/db/LinhaConfig.h"
#include "console/ConfigArmazenamento.h"
#include "console/MDados.h"
#include "console/Mensageiro.h"
#include "console/ValidaCampos.h"

namespace {

std::vector<std::string> Itens(const std::string& lista) {
    std::vector<std::string> r;
    std::size_t i = 0;
    while (true) {
        const auto f = lista.find(';', i);
        r.push_back(Apara(lista.substr(i, f == std::string::npos ? std::string::npos : f - i)));
        if (f == std::string::npos) break;
        i = f + 1;
    }
    return r;
}

// Each ";" item of a recipient list is one address; empty items (a trailing
// ";") are allowed, as the service skips them.
std::optional<std::string> ValidaLista(const char* rotulo, const std::string& lista) {
    for (const std::string& item : Itens(lista))
        if (!item.empty() && !EmailValido(item))
            return Traduz(rotulo) + ": " + Traduz("endereço inválido") + " \"" + item + "\"";
    return std::nullopt;
}

}  // namespace

HabilitacaoAlerta Habilitacao(const EdicaoAlerta& e) {
    const bool alertas = e.alertaEspaco || e.alertaFalha;
    return {alertas, alertas && e.auth};
}

std::string PortaPorSeguranca(int seguranca) { return seguranca == 3 ? "465" : "25"; }

bool CarregaConfiguracaoAlerta(MDados& dados, EdicaoAlerta& e) {
    try {
        std::optional<LinhaConfig> lida;
        dados.Executa([&](Transaction& tr) { lida = LeLinhaConfig(tr); });
        if (!lida) return false;
        const LinhaConfig linha = Aparada(*lida);
        EdicaoAlerta c;
        c.alertaEspaco = (linha.CFG_ALMALERTA & 1) != 0;
        c.alertaFalha = (linha.CFG_ALMALERTA & 2) != 0;
        c.para = linha.CFG_ALMMAILTO;
        c.cc = linha.CFG_ALMMAILCC;
        c.servidor = linha.CFG_SMTPSERVER;
        c.porta = std::to_string(linha.CFG_SMTPPORTA);
        c.mail = linha.CFG_SMTPMAIL;
        c.auth = linha.CFG_SMTPAUTH == 1;
        c.usuario = linha.CFG_SMTPUSERNAME;
        c.senha = linha.CFG_SMTPUSERPASS.empty() ? std::string()
                                                 : DescriptografaTexto(linha.CFG_SMTPUSERPASS);
        const int sec = linha.CFG_SMTPSECURITY;
        c.seguranca = sec >= 0 && sec <= 3 ? sec : 0;
        e = c;
        return true;
    } catch (...) {
        return false;
    }
}

std::optional<std::string> ValidaAlerta(const EdicaoAlerta& e) {
    const bool alertas = e.alertaEspaco || e.alertaFalha;
    const std::string para = Apara(e.para), cc = Apara(e.cc), servidor = Apara(e.servidor),
                      mail = Apara(e.mail), usuario = Apara(e.usuario), senha = Apara(e.senha);
    const std::optional<long> porta = LePorta(e.porta);
    if (alertas) {
        if (para.empty()) return Traduz("Informe endereço de destino das mensagens");
        if (servidor.empty()) return Traduz("Informe endereço do servidor SMTP");
        if (!porta) return Traduz("Informe a porta do serviço SMTP");
        if (mail.empty()) return Traduz("Informe endereço de e-mail");
    }
    // Every value is written, enabled or not: each must fit its column whole.
    struct Campo {
        const char* rotulo;
        const std::string* valor;
        std::size_t maximo;
    } campos[] = {{"Para", &para, 80},
                  {"CC", &cc, 80},
                  {"Servidor SMTP", &servidor, 80},
                  {"Endereço de e-mail", &mail, 80},
                  {"Nome do usuário", &usuario, 80},
                  {"Senha", &senha, MaximoSenhaCifrada}};
    for (const Campo& c : campos) {
        if (!SoLatin1(*c.valor))
            return Traduz(c.rotulo) + ": " + Traduz("contém caractere não permitido");
        if (ContaCaracteresUtf8(*c.valor) > c.maximo)
            return Traduz(c.rotulo) + ": " + Traduz("no máximo") + " " + std::to_string(c.maximo) +
                   " " + Traduz("caracteres");
    }
    if (porta && !PortaValida(*porta)) return Traduz("Informe a porta do serviço SMTP");
    if (alertas) {
        if (auto r = ValidaLista("Para", para)) return r;
        if (auto r = ValidaLista("CC", cc)) return r;
        if (!ServidorValido(servidor))
            return Traduz("Servidor SMTP") + ": " + Traduz("endereço inválido");
        if (!EmailValido(mail))
            return Traduz("Endereço de e-mail") + ": " + Traduz("endereço inválido");
    }
    return std::nullopt;
}

bool SalvaConfiguracaoAlerta(MDados& dados, Mensageiro& mensagens, const EdicaoAlerta& e) {
    if (auto recusa = ValidaAlerta(e)) {
        mensagens.Mostra(TipoMensagem::Informacao, *recusa);
        return false;
    }
    LinhaConfig linha;
    linha.CFG_ALMALERTA = (e.alertaEspaco ? 1 : 0) | (e.alertaFalha ? 2 : 0);
    linha.CFG_ALMMAILTO = Apara(e.para);
    linha.CFG_ALMMAILCC = Apara(e.cc);
    linha.CFG_SMTPSERVER = Apara(e.servidor);
    const std::optional<long> porta = LePorta(e.porta);
    linha.CFG_SMTPPORTA = porta ? static_cast<int>(*porta) : 25;
    linha.CFG_SMTPMAIL = Apara(e.mail);
    linha.CFG_SMTPAUTH = e.auth ? 1 : 0;
    linha.CFG_SMTPUSERNAME = Apara(e.usuario);
    const std::string senha = Apara(e.senha);
    linha.CFG_SMTPUSERPASS = senha.empty() ? std::string() : CriptografaTexto(senha);
    linha.CFG_SMTPSECURITY = e.seguranca;
    std::uint64_t linhas = 0;
    try {
        dados.Executa([&](Transaction& tr) {
            linhas =
                GravaLinhaConfig(tr, linha,
                                 {"CFG_ALMALERTA", "CFG_ALMMAILTO", "CFG_ALMMAILCC",
                                  "CFG_SMTPSERVER", "CFG_SMTPPORTA", "CFG_SMTPMAIL", "CFG_SMTPAUTH",
                                  "CFG_SMTPUSERNAME", "CFG_SMTPUSERPASS", "CFG_SMTPSECURITY"});
        });
    } catch (...) {
        linhas = 0;
    }
    if (linhas == 0) {
        mensagens.Mostra(TipoMensagem::Informacao, Traduz("Não foi possível salvar configurações"));
        return false;
    }
    return true;
}
