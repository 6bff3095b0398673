#include "console/ConfigArmazenamento.h"

#include <vector>

#include "common/CifraTexto.h"
#include "common/Processos.h"
#include "common/Texto.h"
#include "common/Traducao.h"
#include "console/MDados.h"
#include "console/Mensageiro.h"
#include "console/ValidaCampos.h"

namespace {

std::string Coluna(const Linha& l, const char* nome, std::size_t largura) {
    const int i = l.IndiceColuna(nome);
    if (i < 0 || l.IsNull(static_cast<unsigned>(i))) return {};
    return CortaUtf8(l.GetText(static_cast<unsigned>(i)), largura);
}

int Inteiro(const Linha& l, const char* nome) {
    const int i = l.IndiceColuna(nome);
    if (i < 0 || l.IsNull(static_cast<unsigned>(i))) return 0;
    return l.GetInt(static_cast<unsigned>(i));
}

std::uint16_t Porta(int v) { return static_cast<std::uint16_t>(v); }

// A stored backup code as a list index: 0 and 1 are WAV, 2 OGG, 3 the
// encrypted copy (third item).
int IndiceFormato(int codigo) {
    if (codigo == 3) return 2;
    if (codigo == 2) return 1;
    return 0;
}

int CodigoFormato(bool ligado, int indice) { return ligado ? indice + 1 : 0; }

std::string Decifra(const std::string& cifra) {
    return Apara(cifra).empty() ? std::string() : DescriptografaTexto(Apara(cifra));
}

struct Campo {
    const char* rotulo;
    const std::string* valor;
    std::size_t maximo;
};

std::string Excesso(const char* rotulo, std::size_t maximo) {
    return Traduz(rotulo) + ": " + Traduz("no máximo") + " " + std::to_string(maximo) + " " +
           Traduz("caracteres");
}

std::string NaoLatin1(const char* rotulo) {
    return Traduz(rotulo) + ": " + Traduz("contém caractere não permitido");
}

}  // namespace

bool CarregaConfiguracao(MDados& dados, ConfiguracaoGeral& cfg, ServidorGravacao& servidor) {
    try {
        ServidorGravacao s;
        std::optional<LinhaConfig> linha;
        dados.Executa([&](Transaction& tr) {
            linha = LeLinhaConfig(tr);
            Statement ctl(tr, "SELECT CRL_GRVSERVER, CRL_GRVIP, CRL_GRVPORTA FROM CONTROLE");
            auto k = ctl.Abre();
            if (k.Proxima()) {
                s.CRL_GRVSERVER = Coluna(k, "CRL_GRVSERVER", 30);
                s.CRL_GRVIP = Coluna(k, "CRL_GRVIP", 20);
                s.CRL_GRVPORTA = Porta(Inteiro(k, "CRL_GRVPORTA"));
            }
        });
        if (Apara(s.CRL_GRVIP).empty()) {
            s.CRL_GRVSERVER = CortaUtf8(NomeComputador(), 30);
            s.CRL_GRVIP = IPLocal();
            s.CRL_GRVPORTA = PortaStatusPadrao;
        }
        servidor = s;
        if (!linha) return false;
        cfg = *linha;
        return true;
    } catch (...) {
        return false;
    }
}

HabilitacaoConfig Habilitacao(const EdicaoConfig& e) {
    return {e.cripto, e.netBackup, e.ftpBackup, e.backupDB > 0};
}

EdicaoConfig ApresentaConfiguracao(const ConfiguracaoGeral& c) {
    EdicaoConfig e;
    e.converterOgg = c.CFG_CONVERTOGG == 1;
    e.cripto = c.CFG_CRIPTOGRAFIA == 1;
    e.chave = Decifra(c.CFG_CRIPTOKEY);
    e.netBackup = c.CFG_NETBACKUP > 0;
    e.itemCriptografadoNet = c.CFG_NETBACKUP == 3;
    e.formatoNet = IndiceFormato(c.CFG_NETBACKUP);
    e.netPath = c.CFG_NETDSTPATH;
    e.ftpBackup = c.CFG_FTPBACKUP > 0;
    e.itemCriptografadoFtp = c.CFG_FTPBACKUP == 3;
    e.formatoFtp = IndiceFormato(c.CFG_FTPBACKUP);
    e.servFtp = c.CFG_FTPHOST;
    e.portaFtp = std::to_string(Porta(c.CFG_FTPPORT));
    e.secFtp = c.CFG_FTPSECURITY >= 0 && c.CFG_FTPSECURITY <= 3 ? c.CFG_FTPSECURITY : 0;
    e.userFtp = c.CFG_FTPUSER;
    e.senhaFtp = Decifra(c.CFG_FTPPASS);
    e.backupDB = c.CFG_DBBACKUP >= 0 && c.CFG_DBBACKUP <= 3 ? c.CFG_DBBACKUP : 0;
    e.pathBackupDB = c.CFG_DBDSTPATH;
    return e;
}

std::optional<std::string> ValidaConfig(const EdicaoConfig& e) {
    if (e.cripto && Apara(e.chave).empty()) return Traduz("Informe a chave de criptografia");
    if (e.netBackup && Apara(e.netPath).empty())
        return Traduz("Informe o destino de backup na rede");
    if (e.ftpBackup && Apara(e.servFtp).empty())
        return Traduz("Informe o endereço do servidor de FTP");
    if (e.ftpBackup && Apara(e.userFtp).empty()) return Traduz("Informe o nome do usuário de FTP");
    if (e.ftpBackup && Apara(e.senhaFtp).empty()) return Traduz("Informe a senha de acesso ao FTP");
    if (e.backupDB > 0 && Apara(e.pathBackupDB).empty())
        return Traduz("Informe o destino do backup do banco de dados");

    // Every value is written, enabled or not, so every one must fit its
    // column whole: a cut key or password would no longer decipher to what
    // was typed.
    const std::string servidor = Apara(e.servFtp);
    const std::string usuario = Apara(e.userFtp);
    const Campo campos[] = {
        {"Chave de critpografia", &e.chave, MaximoSenhaCifrada},
        {"Pasta de destino", &e.netPath, 80},
        {"Servidor FTP", &servidor, 80},
        {"Usuário FTP", &usuario, 30},
        {"Senha FTP", &e.senhaFtp, MaximoSenhaCifrada},
        {"Pasta de destino", &e.pathBackupDB, 80},
    };
    for (const Campo& c : campos) {
        if (!SoLatin1(*c.valor)) return NaoLatin1(c.rotulo);
        if (ContaCaracteresUtf8(*c.valor) > c.maximo) return Excesso(c.rotulo, c.maximo);
    }
    const std::optional<long> porta = LePorta(e.portaFtp);
    if (e.ftpBackup) {
        if (!porta || !PortaValida(*porta)) return Traduz("Informe a porta do servidor de FTP");
        if (!ServidorValido(servidor))
            return Traduz("Servidor FTP") + ": " + Traduz("endereço inválido");
    } else if (porta && (*porta < 0 || *porta > 65535)) {
        return Traduz("Informe a porta do servidor de FTP");
    }
    return std::nullopt;
}

ConfiguracaoGeral NovaConfiguracao(const ConfiguracaoGeral& atual, const EdicaoConfig& e) {
    ConfiguracaoGeral c = atual;
    c.CFG_CONVERTOGG = e.converterOgg ? 1 : 0;
    c.CFG_CRIPTOGRAFIA = e.cripto ? 1 : 0;
    c.CFG_CRIPTOKEY = e.chave.empty() ? std::string() : CriptografaTexto(e.chave);
    c.CFG_NETBACKUP = CodigoFormato(e.netBackup, e.formatoNet);
    c.CFG_NETDSTPATH = e.netPath;
    c.CFG_FTPBACKUP = CodigoFormato(e.ftpBackup, e.formatoFtp);
    c.CFG_FTPHOST = Apara(e.servFtp);
    const std::optional<long> porta = LePorta(e.portaFtp);
    c.CFG_FTPPORT = porta && *porta >= 0 && *porta <= 65535 ? Porta(static_cast<int>(*porta)) : 0;
    c.CFG_FTPSECURITY = e.secFtp;
    c.CFG_FTPUSER = Apara(e.userFtp);
    c.CFG_FTPPASS = e.senhaFtp.empty() ? std::string() : CriptografaTexto(e.senhaFtp);
    c.CFG_DBBACKUP = e.backupDB;
    c.CFG_DBDSTPATH = e.pathBackupDB;
    c.CFG_GRVDELTIME = 0;
    return c;
}

bool SalvaConfiguracao(MDados& dados, Mensageiro& mensagens, ConfiguracaoGeral& cfg,
                       const EdicaoConfig& e) {
    if (auto recusa = ValidaConfig(e)) {
        mensagens.Mostra(TipoMensagem::Informacao, *recusa);
        return false;
    }
    const ConfiguracaoGeral novo = NovaConfiguracao(cfg, e);
    std::uint64_t linhas = 0;
    try {
        dados.Executa([&](Transaction& tr) {
            linhas = GravaLinhaConfig(
                tr, novo,
                {"CFG_CONVERTOGG", "CFG_CRIPTOGRAFIA", "CFG_CRIPTOKEY", "CFG_NETBACKUP",
                 "CFG_NETDSTPATH", "CFG_FTPBACKUP", "CFG_FTPHOST", "CFG_FTPPORT", "CFG_FTPSECURITY",
                 "CFG_FTPUSER", "CFG_FTPPASS", "CFG_DBBACKUP", "CFG_DBDSTPATH", "CFG_GRVDELTIME"});
        });
    } catch (...) {
        linhas = 0;
    }
    if (linhas == 0) {
        mensagens.Mostra(TipoMensagem::Informacao, Traduz("Não foi possível salvar configurações"));
        return false;
    }
    cfg = novo;
    return true;
}
