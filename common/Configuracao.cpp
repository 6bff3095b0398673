#include "common/Configuracao.h"
#include "common/Texto.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <system_error>

#include "common/IniFile.h"
#include "common/Processos.h"

namespace fs = std::filesystem;

namespace {

// Guards `valores`; nothing else is locked while it is held.
std::mutex mutexValores;
std::shared_ptr<const ConfiguracaoServico> valores;

bool Branco(std::string_view s) { return s.find_first_not_of(" \t\r\n") == std::string_view::npos; }

// The first `n` characters of UTF-8 text (continuation bytes do not count).
std::string Corta(std::string s, size_t n) {
    size_t chars = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;
        if (chars++ == n) {
            s.resize(i);
            break;
        }
    }
    return s;
}

}  // namespace

std::string PastaPrograma() {
    std::error_code ec;
    if (const char* home = std::getenv("VERUZADU_HOME"); home && *home)
        return ComBarra(fs::absolute(home, ec).lexically_normal().string());
    const auto exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return ComBarra(fs::current_path(ec).string());
    return ComBarra(exe.parent_path().string());
}

fs::path ArquivoVeruzaduIni() { return ArquivoSemCaixa(PastaPrograma(), "VERUZADU.INI"); }

std::string CodigoTresDigitos(int codigo) {
    char texto[16];
    std::snprintf(texto, sizeof texto, "%03d", codigo);
    return texto;
}

std::string PastaPABX(int codigo) {
    return PastaPrograma() + "PABX" + CodigoTresDigitos(codigo) + "/";
}

fs::path ArquivoPabxIni(int codigo) { return ArquivoSemCaixa(PastaPABX(codigo), "PABX.INI"); }

namespace {

// A value outside these ranges would stop the service's work without a word:
// no time to wait on a link step, a window check on every pass, no run at all.
constexpr FaixaChave kFaixas[] = {
    {"MaxPABX", 1, 1000},           {"TempoVerDownload", 1, 86400},  // seconds
    {"PABXTimeOut", 1, 3600},                                        // seconds
    {"PABXTentaDel", 1, 100},       {"TentaCopiaArquivo", 1, 100},
    {"TempoVerSDCard", 1, 525600},   // minutes
    {"TempoAlertaSDCard", 1, 3650},  // days
    {"FTPTimeOut", 1000, 3600000},   // milliseconds
    {"FTPTentaConexao", 1, 100},    {"FTPTentaDownload", 1, 100},
    {"TempoLimiteGbak", 1, 604800},  // seconds
};

}  // namespace

int AjustaValorChave(std::string_view chave, int valor, std::vector<std::string>* ajustes) {
    for (const FaixaChave& f : kFaixas) {
        if (chave != f.chave) continue;
        const int ajustado = valor < f.minimo ? f.minimo : valor > f.maximo ? f.maximo : valor;
        if (ajustado != valor && ajustes)
            ajustes->push_back("[Veruzadu] " + std::string(chave) + "=" + std::to_string(valor) +
                               " fora do intervalo " + std::to_string(f.minimo) + "-" +
                               std::to_string(f.maximo) + ": usado " + std::to_string(ajustado));
        return ajustado;
    }
    return valor;
}

int LeTempoLimiteGbak(const IniFile& ini) {
    return AjustaValorChave(
        "TempoLimiteGbak",
        ini.ReadInteger("Veruzadu", "TempoLimiteGbak", ConfiguracaoServico{}.TempoLimiteGbak),
        nullptr);
}

int PABXTimeOutPadrao(Programa programa) { return programa == Programa::Servico ? 90 : 30; }

LocalBaseDados CaminhoBaseDados(const IniFile& ini) {
    LocalBaseDados r;
    r.servidor = RemoveBarrasIniciais(ini.ReadString("BD", "Server", "\\\\" + NomeComputador()));
    if (ini.ReadBool("BD", "Adv", false)) {
        r.servidor = RemoveBarrasIniciais(ini.ReadString("BD", "AdvServer", ""));
        const std::string advPath = ini.ReadString("BD", "AdvPath", "");
        r.caminho = Branco(r.servidor) ? advPath : r.servidor + ":" + advPath;
    }
    if (Branco(r.servidor)) r.servidor = "127.0.0.1";
    if (r.caminho.empty())
        r.caminho = r.servidor + ":" + ini.ReadString("BD", "Alias", AliasPadrao);
    return r;
}

LocalBaseDados CaminhoBaseDados() { return CaminhoBaseDados(IniFile(ArquivoVeruzaduIni())); }

ConfiguracaoServico LeConfiguracaoServico(const IniFile& ini, const ConfiguracaoServico& anterior) {
    ConfiguracaoServico c;
    c.PastaPrograma = PastaPrograma();
    const auto inteiro = [&](const char* secao, const char* chave, int& v) {
        v = ini.ReadInteger(secao, chave, v);
        if (std::string_view(secao) == "Veruzadu")
            v = AjustaValorChave(chave, v, &c.ValoresAjustados);
    };
    const auto booleano = [&](const char* secao, const char* chave, bool& v) {
        v = ini.ReadBool(secao, chave, v);
    };
    inteiro("Veruzadu", "MaxPABX", c.MaxPABX);
    inteiro("Veruzadu", "TempoVerDownload", c.TempoVerDownload);
    inteiro("Veruzadu", "PABXTimeOut", c.PABXTimeOut);
    inteiro("Veruzadu", "PABXTentaDel", c.PABXTentaDel);
    inteiro("Veruzadu", "TentaCopiaArquivo", c.TentaCopiaArquivo);
    inteiro("Veruzadu", "TempoVerSDCard", c.TempoVerSDCard);
    inteiro("Veruzadu", "TempoAlertaSDCard", c.TempoAlertaSDCard);
    inteiro("Veruzadu", "FTPTimeOut", c.FTPTimeOut);
    inteiro("Veruzadu", "FTPTentaConexao", c.FTPTentaConexao);
    inteiro("Veruzadu", "FTPTentaDownload", c.FTPTentaDownload);
    inteiro("Veruzadu", "TempoLimiteGbak", c.TempoLimiteGbak);
    booleano("Veruzadu", "IgnoraCTRLDesconhecido", c.IgnoraCTRLDesconhecido);
    booleano("Veruzadu", "DelDir", c.DelDir);
    booleano("Veruzadu", "DelXML", c.DelXML);
    booleano("Veruzadu", "ErroXML", c.ErroXML);
    // A port outside 1-65535 would be cut to some other port (or 0, any
    // port), which consoles could not find: keep the default instead.
    const int porta = ini.ReadInteger("Veruzadu", "Porta", PortaStatusPadrao);
    c.Porta = (porta >= 1 && porta <= 65535) ? porta : PortaStatusPadrao;

    inteiro("AmpliacaoSinal", "Padrao", c.GanhoPadrao);
    inteiro("AmpliacaoSinal", "Brelvo", c.GanhoBrelvo);
    inteiro("AmpliacaoSinal", "ORVAL500", c.GanhoORVAL500);

    c.DDD = anterior.DDD.empty() ? Corta(ini.ReadString("Norvika", "DDD", ""), 4) : anterior.DDD;
    inteiro("Norvika", "Cifras", c.CifrasNumeroLocal);
    if (auto v = ini.ReadString("Norvika", "VersaoMinima", ""); !v.empty())
        c.VersaoMinimaPABX = Corta(std::move(v), 20);

    booleano("BD", "Trusted", c.Trusted);
    if (c.Trusted) {
        c.UsuarioBD.clear();
        c.SenhaBD.clear();
    }

    if (ini.ReadBool("Log", "Info", false)) c.MascaraLog |= LogInfo;
    if (ini.ReadBool("Log", "Erro", false)) c.MascaraLog |= LogErro;
    if (ini.ReadBool("Log", "PABX", false)) c.MascaraLog |= LogPABX;
    if (ini.ReadBool("Log", "SDCard", false)) c.MascaraLog |= LogSDCard;

    const auto local = CaminhoBaseDados(ini);
    c.ServidorBD = local.servidor;
    c.CaminhoBD = local.caminho;
    return c;
}

std::shared_ptr<const ConfiguracaoServico> ValoresAtuais() {
    std::lock_guard<std::mutex> trava(mutexValores);
    if (!valores) valores = std::make_shared<const ConfiguracaoServico>();
    return valores;
}

void PublicaValores(ConfiguracaoServico novos) {
    auto p = std::make_shared<const ConfiguracaoServico>(std::move(novos));
    std::lock_guard<std::mutex> trava(mutexValores);
    valores = std::move(p);
}

std::shared_ptr<const ConfiguracaoServico> CarregaConfiguracaoServico() {
    const auto anterior = ValoresAtuais();
    PublicaValores(LeConfiguracaoServico(IniFile(ArquivoVeruzaduIni()), *anterior));
    return ValoresAtuais();
}

ConfiguracaoConsole LeConfiguracaoConsole(const IniFile& ini) {
    ConfiguracaoConsole c;
    c.Server = ini.ReadString("BD", "Server", "");
    c.Alias = ini.ReadString("BD", "Alias", AliasPadrao);
    c.AliasGRVPABX = ini.ReadBool("BD", "AliasGRVPABX", false);
    c.UPD = ini.ReadBool("BD", "UPD", false);
    c.DDD = ini.ReadString("Veruzadu", "DDD", "");
    c.PABXTimeOut =
        ini.ReadInteger("Veruzadu", "PABXTimeOut", PABXTimeOutPadrao(Programa::Console));
    c.LogPABX = ini.ReadBool("Log", "PABX", false);
    c.LogServico = ini.ReadBool("Log", "Servico", false);
    c.LatenciaAudio = ini.ReadInteger("AudioOutput", "Latency", 100);
    c.DispositivoAudio = ini.ReadString("AudioOutput", "Device", "default");
    if (c.DispositivoAudio.empty()) c.DispositivoAudio = "default";
    return c;
}

std::string SecaoBackup() { return "Backup"; }
std::string SecaoBackup(int codigoPABX) { return "Backup" + CodigoTresDigitos(codigoPABX); }

bool LeAgendaPABX(const IniFile& pabxIni) { return pabxIni.ReadBool("Dados", "Agenda", true); }
