#include "service/LogServico.h"
#include "common/Texto.h"

#include <cstdio>
#include <cstring>

#include "common/LinhaLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <system_error>

namespace {

std::string SemQuebras(std::string_view texto) {
    std::string s(texto);
    for (char& c : s)
        if (c == '\r' || c == '\n') c = ' ';
    return s;
}

}  // namespace

std::string LimiteLimpezaLog(const DataHora& hoje) {
    int ano = hoje.ano;
    int mes = hoje.mes - 1;
    if (mes < 1) {
        mes = 12;
        --ano;
    }
    // Only year and month matter: clamping the day cannot change them.
    DataHora limite{ano, mes, 1};
    return FormataDataHora(limite, "yyyymm");
}

bool LogRemovivel(std::string_view nome, std::string_view limite) {
    // GRV202404.LOG: three letters, six digits, ".LOG".
    if (nome.size() != 13) return false;
    const std::string_view prefixo = nome.substr(0, 3);
    if (!IgualSemCaixa(prefixo, "GRV") && !IgualSemCaixa(prefixo, "GRE")) return false;
    if (!IgualSemCaixa(nome.substr(9), ".LOG")) return false;
    const std::string_view mes = nome.substr(3, 6);
    for (char c : mes)
        if (c < '0' || c > '9') return false;
    return mes < limite;
}

LogServico::LogServico(std::filesystem::path pasta, Relogio relogio)
    : pasta_(std::move(pasta)), relogio_(std::move(relogio)) {}

void LogServico::DefineFilaConsole(std::shared_ptr<FilaMensagens> fila) {
    std::lock_guard lock(trava_);
    filaConsole_ = std::move(fila);
}

void LogServico::DefineFilaLogBD(std::shared_ptr<FilaMensagens> fila) {
    std::lock_guard lock(trava_);
    filaLogBD_ = std::move(fila);
}

void LogServico::DefineDespertador(std::function<void()> despertador) {
    std::lock_guard lock(trava_);
    despertador_ = std::move(despertador);
}

void LogServico::DefineAoEnfileirarConsole(std::function<void()> aviso) {
    std::lock_guard lock(trava_);
    aoEnfileirarConsole_ = std::move(aviso);
}

void LogServico::DefineTradutor(Tradutor tradutor) {
    std::lock_guard lock(trava_);
    tradutor_ = std::move(tradutor);
}

std::string LogServico::Traduz(std::string_view texto) const {
    Tradutor t;
    {
        std::lock_guard lock(trava_);
        t = tradutor_;
    }
    return t ? t(texto) : std::string(texto);
}

std::filesystem::path LogServico::ArquivoDoMes(const DataHora& quando) const {
    return pasta_ / ("GRV" + FormataDataHora(quando, "yyyymm") + ".LOG");
}

void LogServico::Log(std::uint16_t nivel, bool console, std::string_view texto) {
    Registra(nivel, console, texto, true);
}

void LogServico::LogSemHistorico(std::uint16_t nivel, bool console, std::string_view texto) {
    Registra(nivel, console, texto, false);
}

bool LogServico::EscreveLinha(const DataHora& quando, std::string_view texto) {
    const std::string mes = FormataDataHora(quando, "yyyymm");
    if (mes != mesArquivo_) {
        // A month's file may already exist under another case (written by an
        // older installation or copied in by hand): keep appending to it.
        const std::string canonico = "GRV" + mes + ".LOG";
        std::filesystem::path escolhido = pasta_ / canonico;
        std::error_code ec;
        if (!std::filesystem::exists(escolhido, ec)) {
            for (std::filesystem::directory_iterator it(pasta_, ec), fim; !ec && it != fim;
                 it.increment(ec)) {
                if (IgualSemCaixa(it->path().filename().string(), canonico)) {
                    escolhido = it->path();
                    break;
                }
            }
        }
        mesArquivo_ = mes;
        arquivo_ = escolhido;
    }
    errno = 0;
    const bool ok = AcrescentaAoArquivo(arquivo_, LinhaLog(quando, texto));
    if (!ok && !falhaAvisada_) {
        // Said once, so an unwritable log is not silent and not a flood.
        falhaAvisada_ = true;
        std::fprintf(stderr, "pelmoran: não foi possível gravar o log %s: %s\n", arquivo_.c_str(),
                     std::strerror(errno ? errno : EIO));
    }
    return ok;
}

void LogServico::Registra(std::uint16_t nivel, bool console, std::string_view texto,
                          bool historico) {
    if ((nivel & mascara_.load()) != nivel) return;
    const std::string limpo = SemQuebras(texto);

    std::lock_guard lock(trava_);
    try {
        if (!EscreveLinha(relogio_(), limpo)) return;
        if (console && consoleConectado_.load() && filaConsole_) {
            filaConsole_->Adiciona(TMsgVeruzadu{0, "LOG;PABX000;" + limpo});
            if (aoEnfileirarConsole_) aoEnfileirarConsole_();
        }
        if (historico && nivel > LogInfo && filaLogBD_)
            filaLogBD_->Adiciona(TMsgVeruzadu{
                nivel == LogErro ? Operacao::ErroServico : Operacao::AvisoServico, limpo});
        if (despertador_) despertador_();
    } catch (...) {
        // A line that cannot be handled is lost; the caller must never fail
        // because it reported something.
    }
}

void LogServico::EnfileiraConsole(std::string_view linha) {
    if (!consoleConectado_.load()) return;
    const std::string limpo = SemQuebras(linha);
    std::lock_guard lock(trava_);
    try {
        if (!filaConsole_) return;
        filaConsole_->Adiciona(TMsgVeruzadu{0, limpo});
        if (aoEnfileirarConsole_) aoEnfileirarConsole_();
        if (despertador_) despertador_();
    } catch (...) {
        // As for every line: a failure to queue never reaches the caller.
    }
}

DataHora LogServico::UltimaLimpezaLog() const {
    std::lock_guard lock(travaLimpeza_);
    return ultimaLimpeza_;
}

void LogServico::DefineUltimaLimpezaLog(const DataHora& quando) {
    std::lock_guard lock(travaLimpeza_);
    ultimaLimpeza_ = quando;
}

int LogServico::RealizaLimpezaLog() {
    const DataHora agora = relogio_();
    DefineUltimaLimpezaLog(agora);
    const std::string limite = LimiteLimpezaLog(agora);

    std::vector<std::filesystem::path> removiveis;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(pasta_, ec), fim; !ec && it != fim;
         it.increment(ec)) {
        std::error_code ecTipo;
        if (!it->is_regular_file(ecTipo)) continue;
        if (LogRemovivel(it->path().filename().string(), limite)) removiveis.push_back(it->path());
    }

    int removidos = 0;
    const std::string rotulo = Traduz("Removido log");
    for (const auto& arquivo : removiveis) {
        Log(LogInfo, false, rotulo + ": " + arquivo.string());
        std::error_code ecRemove;
        if (std::filesystem::remove(arquivo, ecRemove)) ++removidos;
    }
    return removidos;
}
