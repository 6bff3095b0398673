#include "console/ConfigAlerta.h"

#include <cstdint>
#include <vector>

#include "common/CifraTexto.h"
#include "common/Texto.h"
#include "common/Traducao.h"
#include "console/ConfigArmazenamento.h"
#include "console/MDados.h"
#include "console/Mensageiro.h"
#include "console/ValidaCampos.h"

namespace {

std::string Texto(const Linha& l, const char* nome) {
    const int i = l.IndiceColuna(nome);
    if (i < 0 || l.IsNull(static_cast<unsigned>(i))) return {};
    return Apara(l.GetText(static_cast<unsigned>(i)));
}

int Inteiro(const Linha& l, const char* nome) {
    const int i = l.IndiceColuna(nome);
    if (i < 0 || l.IsNull(static_cast<unsigned>(i))) return 0;
    return l.GetInt(static_cast<unsigned>(i));
}

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
        EdicaoAlerta c;
        bool achou = false;
        dados.Executa([&](Transaction& tr) {
            Statement st(tr, "SELECT * FROM CONFIG");
            auto r = st.Abre();
            if (!r.Proxima()) return;
            achou = true;
            const int mascara = Inteiro(r, "CFG_ALMALERTA");
            c.alertaEspaco = (mascara & 1) != 0;
            c.alertaFalha = (mascara & 2) != 0;
            c.para = Texto(r, "CFG_ALMMAILTO");
            c.cc = Texto(r, "CFG_ALMMAILCC");
            c.servidor = Texto(r, "CFG_SMTPSERVER");
            c.porta = Texto(r, "CFG_SMTPPORTA");
            c.mail = Texto(r, "CFG_SMTPMAIL");
            c.auth = Inteiro(r, "CFG_SMTPAUTH") == 1;
            c.usuario = Texto(r, "CFG_SMTPUSERNAME");
            const std::string cifra = Texto(r, "CFG_SMTPUSERPASS");
            c.senha = cifra.empty() ? std::string() : DescriptografaTexto(cifra);
            const int sec = Inteiro(r, "CFG_SMTPSECURITY");
            c.seguranca = sec >= 0 && sec <= 3 ? sec : 0;
        });
        if (!achou) return false;
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
    const int mascara = (e.alertaEspaco ? 1 : 0) | (e.alertaFalha ? 2 : 0);
    const std::optional<long> porta = LePorta(e.porta);
    const std::string senha = Apara(e.senha);
    std::uint64_t linhas = 0;
    try {
        dados.Executa([&](Transaction& tr) {
            Statement st(tr, "UPDATE CONFIG SET CFG_ALMALERTA = ?, CFG_ALMMAILTO = ?, "
                             "CFG_ALMMAILCC = ?, CFG_SMTPSERVER = ?, CFG_SMTPPORTA = ?, "
                             "CFG_SMTPMAIL = ?, CFG_SMTPAUTH = ?, CFG_SMTPUSERNAME = ?, "
                             "CFG_SMTPUSERPASS = ?, CFG_SMTPSECURITY = ?");
            st.SetInt(0, mascara)
                .SetText(1, Apara(e.para))
                .SetText(2, Apara(e.cc))
                .SetText(3, Apara(e.servidor))
                .SetInt(4, porta ? static_cast<std::int32_t>(*porta) : 25)
                .SetText(5, Apara(e.mail))
                .SetInt(6, e.auth ? 1 : 0)
                .SetText(7, Apara(e.usuario))
                .SetText(8, senha.empty() ? std::string() : CriptografaTexto(senha))
                .SetInt(9, e.seguranca);
            linhas = st.Executa();
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
