#include "service/HistoricoServico.h"

#include <algorithm>
#include <optional>

#include "common/Texto.h"
#include "common/db/Esquema.h"
#include "common/db/FirebirdError.h"

namespace {

constexpr std::chrono::milliseconds EsperaInicial{1000};
constexpr std::chrono::milliseconds EsperaMaxima{60000};

constexpr std::string_view SqlMaximo = "SELECT MAX (LOG_CODIGO) FROM LOGHISTORY";
constexpr std::string_view SqlInsere =
    "INSERT INTO LOGHISTORY (LOG_CODIGO,LOG_DATARG,LOG_OPERACAO,USR_CODIGO,LOG_USUARIO,"
    "LOG_DETALHES) VALUES (?,'NOW',?,65535,'',?)";

}  // namespace

std::string DetalheHistorico(std::string_view texto) {
    std::string s;
    s.reserve(texto.size());
    for (char c : texto)
        if (c != '(' && c != ')') s += c;
    return Win1252ParaUtf8(Utf8ParaWin1252(CortaUtf8(s, 120)));
}

HistoricoServico::HistoricoServico(BancoServico& banco, RelogioMonotonico relogio)
    : banco_(banco), relogio_(std::move(relogio)) {}

ResultadoHistorico HistoricoServico::GravaMensagemLogBD(int operacao, std::string_view texto) {
    const std::string detalhe = DetalheHistorico(texto);
    std::optional<ConexaoServico> con;
    try {
        con.emplace(banco_.ConexaoPrincipal());
        Transaction tr(con->Conexao());
        // Another writer (a console or a second service thread) may take the
        // same code between our read and our insert: the helper reads again.
        InsereComProximoCodigo(tr, "LOGHISTORY", "LOG_CODIGO",
                               [&](Transaction& t, std::int32_t codigo) {
                                   Statement st(t, con->Comando(SqlInsere));
                                   st.SetInt(0, codigo).SetInt(1, operacao).SetText(2, detalhe);
                                   st.Executa();
                               });
        tr.Commit();
        con->Conexao().Desconecta();
        return ResultadoHistorico::Gravado;
    } catch (const FirebirdError& e) {
        const std::string sql = con ? con->ComandoAtual() : std::string(SqlMaximo);
        banco_.Log().LogSemHistorico(LogErro, false, LinhaErroBD("INSLOGBD", e, sql));
        return !con || e.ConexaoPerdida() ? ResultadoHistorico::Indisponivel
                                          : ResultadoHistorico::Recusado;
    }
}

bool HistoricoServico::EmEspera() const {
    std::lock_guard lock(trava_);
    return espera_.count() > 0 && relogio_() < proximaTentativa_;
}

bool HistoricoServico::GravaLogEmBancoDados(FilaMensagens& fila) {
    if (EmEspera()) return false;
    // The queue's lock is released before the row is written: writing may log,
    // and the log takes its own lock and then this queue's.
    const std::optional<TMsgVeruzadu> item = fila.Primeiro();
    if (!item) return false;

    ResultadoHistorico r;
    try {
        r = GravaMensagemLogBD(item->FCodigo, item->FTexto);
    } catch (const std::exception& e) {
        banco_.Log().LogSemHistorico(LogErro, false, std::string("LOGBD: ") + e.what());
        r = ResultadoHistorico::Recusado;
    }

    if (r == ResultadoHistorico::Indisponivel) {
        std::lock_guard lock(trava_);
        espera_ = espera_.count() == 0 ? EsperaInicial : std::min(espera_ * 2, EsperaMaxima);
        proximaTentativa_ = relogio_() + espera_;
        return false;
    }
    {
        std::lock_guard lock(trava_);
        espera_ = std::chrono::milliseconds{0};
    }
    // Only the main loop removes items, so the head is still the row written.
    fila.RetiraPrimeiro();
    return true;
}
