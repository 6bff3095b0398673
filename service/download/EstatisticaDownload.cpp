// The run's import log, its DWNHISTORY row and the unit's last-run stamp.

#include <chrono>
#include <fstream>
#include <thread>

#include "common/IniFile.h"
#include "common/LinhaLog.h"

#include "service/download/PABXDownloadFTP.h"
#include "service/download/RegrasDownload.h"

namespace {

// The whole row at once, inserted when missing.
constexpr const char* kSqlHistoricoCompleto =
    "UPDATE OR INSERT INTO DWNHISTORY (DWN_OPERATUAL, DWN_RESULTADO, DWN_TIMEOUT, DWN_ARQBAIXAR, "
    "DWN_ARQBAIXADO, DWN_BYTESBAIXAR, DWN_BYTESBAIXADO, DWN_ARQCONVOGG, DWN_ARQIMPORTADO, "
    "DWN_FALHASDOWN, DWN_FALHASOGG, DWN_FALHASXML, DWN_FALHASIMP, DWN_AVDUPIMP, DWN_DTFIMDOWN, "
    "DWN_DTFIMIMP, PAB_CODIGO, DWN_DTINIDOWN) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) MATCHING (PAB_CODIGO, "
    "DWN_DTINIDOWN)";

void VinculaData(Statement& st, unsigned i, const DataHora& v) {
    if (v.Vazia())
        st.SetNull(i);
    else
        st.SetTimestamp(i, v);
}

void VinculaHistoricoCompleto(Statement& st, int codigo, const THistoricoDownload& h) {
    DataHora inicio = h.DWN_DTINIDOWN;
    inicio.milissegundo = 0;
    unsigned i = 0;
    for (std::int32_t v :
         {h.DWN_OPERATUAL, h.DWN_RESULTADO, h.DWN_TIMEOUT, h.DWN_ARQBAIXAR, h.DWN_ARQBAIXADO})
        st.SetInt(i++, v);
    st.SetBigInt(i++, h.DWN_BYTESBAIXAR);
    st.SetBigInt(i++, h.DWN_BYTESBAIXADO);
    for (std::int32_t v : {h.DWN_ARQCONVOGG, h.DWN_ARQIMPORTADO, h.DWN_FALHASDOWN, h.DWN_FALHASOGG,
                           h.DWN_FALHASXML, h.DWN_FALHASIMP, h.DWN_AVDUPIMP})
        st.SetInt(i++, v);
    VinculaData(st, i++, h.DWN_DTFIMDOWN);
    VinculaData(st, i++, h.DWN_DTFIMIMP);
    st.SetInt(i++, codigo);
    VinculaData(st, i++, inicio);
}

}  // namespace

bool GravaHistoricoCompleto(const ParametrosConexao& banco, int codigo, const THistoricoDownload& h,
                            std::string& erro) {
    try {
        Attachment att = Attachment::Conecta(banco);
        {
            Transaction tr(att);
            Statement st(tr, kSqlHistoricoCompleto);
            VinculaHistoricoCompleto(st, codigo, h);
            st.Executa();
            tr.Commit();
        }
        att.Desconecta();
        return true;
    } catch (const FirebirdError& e) {
        erro = e.what();
        return false;
    }
}

// ------------------------------------------------ Rows left pending

void HistoricosPendentes::Guarda(int codigo, const THistoricoDownload& h) {
    std::lock_guard trava(trava_);
    for (auto& [c, linha] : linhas_)
        if (c == codigo && linha.DWN_DTINIDOWN == h.DWN_DTINIDOWN) {
            linha = h;
            return;
        }
    linhas_.emplace_back(codigo, h);
}

std::size_t HistoricosPendentes::Grava(
    const std::function<bool(int codigo, const THistoricoDownload& h)>& grava, int codigo) {
    std::vector<std::pair<int, THistoricoDownload>> vez;
    {
        std::lock_guard trava(trava_);
        for (auto it = linhas_.begin(); it != linhas_.end();) {
            if (codigo == 0 || it->first == codigo) {
                vez.push_back(std::move(*it));
                it = linhas_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // After a failure the database is taken as away: the rest are kept
    // untried, so a pass never waits on it once per row.
    std::vector<std::pair<int, THistoricoDownload>> ficam;
    bool fora = false;
    for (auto& l : vez) {
        if (!fora && grava(l.first, l.second)) continue;
        fora = true;
        ficam.push_back(std::move(l));
    }
    std::lock_guard trava(trava_);
    // A newer copy of the same run handed over meanwhile wins.
    for (auto& l : ficam) {
        bool maisNova = false;
        for (const auto& [c, linha] : linhas_)
            maisNova = maisNova || (c == l.first && linha.DWN_DTINIDOWN == l.second.DWN_DTINIDOWN);
        if (!maisNova) linhas_.push_back(std::move(l));
    }
    return linhas_.size();
}

std::size_t HistoricosPendentes::Quantidade() const {
    std::lock_guard trava(trava_);
    return linhas_.size();
}

// ------------------------------------------------ Thread log and statistics

void TPABXDownloadFTP::Log(std::uint16_t nivel, bool console, std::string_view texto) {
    // A database away for a while fails every statement of the run: its
    // loss is said once, not once per statement.
    if (texto.find(kConexaoBDPerdida) != std::string_view::npos) {
        int nunca = 0;
        if (!conexaoBD_.compare_exchange_strong(nunca, 1)) return;
    }
    if ((MascaraLog & nivel) == nivel) {
        try {
            const DataHora agora = AgoraLocal();
            const std::string mes = FormataDataHora(agora, "yyyymm");
            if (mes != mesLog_ || arquivoLog_.empty()) {
                mesLog_ = mes;
                arquivoLog_ = ArquivoSemCaixa(PastaPABX, "IMP" + mes + ".LOG");
            }
            AcrescentaAoArquivo(arquivoLog_, LinhaLog(agora, texto));
        } catch (...) {
            // A line that cannot be written is lost; the run goes on.
        }
    }
    if (console && ambiente_.LogSrv.ConsoleConectado())
        ambiente_.LogSrv.EnfileiraConsole(LinhaConsolePABX(CodigoPABX, texto));
}

void TPABXDownloadFTP::ConexaoBDVoltou() {
    int perdida = 1;
    if (conexaoBD_.compare_exchange_strong(perdida, 2))
        Log(LogInfo, true, Traduz(kConexaoBDRestabelecida));
}

bool TPABXDownloadFTP::BDRegistraHistoricoDownload(int tipo) {
    if (tipo != HistoricoInsere) return GravaHistorico(tipo, nullptr);
    // The row's key is the unit and the start second: a run that starts in
    // the second a previous run of the unit started (a quick failure and a
    // console request, a restart) takes the next free second.
    Historico.DWN_DTINIDOWN.milissegundo = 0;
    for (int tentativa = 0; tentativa < 10; ++tentativa) {
        bool duplicada = false;
        const bool ok = GravaHistorico(tipo, &duplicada);
        if (!duplicada) return ok;
        Historico.DWN_DTINIDOWN = SomaSegundos(Historico.DWN_DTINIDOWN, 1);
    }
    return GravaHistorico(tipo, nullptr);
}

bool TPABXDownloadFTP::GravaHistorico(int tipo, bool* duplicada) {
    const THistoricoDownload& h = Historico;
    DataHora inicio = h.DWN_DTINIDOWN;
    inicio.milissegundo = 0;
    std::string sql;
    if (tipo == HistoricoInsere) {
        sql =
            "INSERT INTO DWNHISTORY (PAB_CODIGO, DWN_DTINIDOWN, DWN_RESULTADO, DWN_OPERATUAL, "
            "DWN_TIMEOUT, DWN_ARQBAIXAR, DWN_ARQBAIXADO, DWN_BYTESBAIXAR, DWN_BYTESBAIXADO, "
            "DWN_ARQCONVOGG, DWN_ARQIMPORTADO, DWN_FALHASDOWN, DWN_FALHASOGG, DWN_FALHASXML, "
            "DWN_FALHASIMP, DWN_AVDUPIMP) VALUES (?, ?, ?, ?, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0)";
    } else {
        sql = "UPDATE DWNHISTORY SET DWN_OPERATUAL = ?, DWN_RESULTADO = ?";
        switch (tipo) {
            case HistoricoAContar: sql += ", DWN_ARQBAIXAR = ?, DWN_BYTESBAIXAR = ?"; break;
            case HistoricoTransferidos:
                sql += ", DWN_ARQBAIXADO = ?, DWN_BYTESBAIXADO = ?, DWN_FALHASDOWN = ?";
                break;
            case HistoricoFimTransferencia: sql += ", DWN_TIMEOUT = ?, DWN_DTFIMDOWN = ?"; break;
            case HistoricoImportados:
                sql += ", DWN_ARQCONVOGG = ?, DWN_ARQIMPORTADO = ?, DWN_FALHASOGG = ?, "
                       "DWN_FALHASXML = ?, DWN_FALHASIMP = ?, DWN_AVDUPIMP = ?";
                break;
            case HistoricoFimImportacao: sql += ", DWN_DTFIMIMP = ?"; break;
            default: break;
        }
        sql += " WHERE PAB_CODIGO = ? AND DWN_DTINIDOWN = ?";
    }
    if (tipo == HistoricoCompleto) sql = kSqlHistoricoCompleto;
    try {
        if (!conexaoHistorico_) conexaoHistorico_.emplace(Attachment::Conecta(ConexaoPrincipal()));
        Transaction tr(*conexaoHistorico_);
        Statement st(tr, sql);
        unsigned i = 0;
        auto inteiro = [&](std::int32_t v) { st.SetInt(i++, v); };
        auto grande = [&](std::int64_t v) { st.SetBigInt(i++, v); };
        auto data = [&](const DataHora& v) {
            if (v.Vazia())
                st.SetNull(i++);
            else
                st.SetTimestamp(i++, v);
        };
        if (tipo == HistoricoCompleto) {
            VinculaHistoricoCompleto(st, CodigoPABX, h);
        } else if (tipo == HistoricoInsere) {
            inteiro(CodigoPABX);
            data(inicio);
            inteiro(h.DWN_RESULTADO);
            inteiro(h.DWN_OPERATUAL);
        } else {
            inteiro(h.DWN_OPERATUAL);
            inteiro(h.DWN_RESULTADO);
            switch (tipo) {
                case HistoricoAContar:
                    inteiro(h.DWN_ARQBAIXAR);
                    grande(h.DWN_BYTESBAIXAR);
                    break;
                case HistoricoTransferidos:
                    inteiro(h.DWN_ARQBAIXADO);
                    grande(h.DWN_BYTESBAIXADO);
                    inteiro(h.DWN_FALHASDOWN);
                    break;
                case HistoricoFimTransferencia:
                    inteiro(h.DWN_TIMEOUT);
                    data(h.DWN_DTFIMDOWN);
                    break;
                case HistoricoImportados:
                    for (std::int32_t v : {h.DWN_ARQCONVOGG, h.DWN_ARQIMPORTADO, h.DWN_FALHASOGG,
                                           h.DWN_FALHASXML, h.DWN_FALHASIMP, h.DWN_AVDUPIMP})
                        inteiro(v);
                    break;
                case HistoricoFimImportacao: data(h.DWN_DTFIMIMP); break;
                default: break;
            }
            inteiro(CodigoPABX);
            data(inicio);
        }
        st.Executa();
        tr.Commit();
        if (tipo == HistoricoCompleto) historicoPendente_ = false;
        ConexaoBDVoltou();
        return true;
    } catch (const FirebirdError& e) {
        if (duplicada != nullptr && e.ChaveDuplicada()) {
            *duplicada = true;
            return false;
        }
        // A broken connection is not reused; the next write opens a new one.
        conexaoHistorico_.reset();
        historicoPendente_ = true;
        Log(LogErro, false, LinhaErroBD("DWNUPD", e, sql));
        return false;
    }
}

bool TPABXDownloadFTP::FalhasNaExecucao() const {
    return Historico.DWN_FALHASDOWN > 0 || Historico.DWN_FALHASIMP > 0;
}

bool TPABXDownloadFTP::RegravaHistoricoPendente() {
    if (!historicoPendente_) return true;
    const auto fim =
        std::chrono::steady_clock::now() + std::chrono::seconds(std::max(1, Config().PABXTimeOut));
    for (;;) {
        if (GravaHistorico(HistoricoCompleto, nullptr)) return true;
        const auto pausa = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        if (pausa > fim) return false;
        while (std::chrono::steady_clock::now() < pausa) {
            if (Terminated()) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
}

void TPABXDownloadFTP::GravaHistoricosPendentes() {
    if (ambiente_.Pendentes == nullptr || ambiente_.Pendentes->Quantidade() == 0) return;
    ambiente_.Pendentes->Grava(
        [this](int codigo, const THistoricoDownload& h) {
            std::string erro;
            if (!GravaHistoricoCompleto(ConexaoPrincipal(), codigo, h, erro)) return false;
            Log(LogInfo, false,
                "Histórico de download gravado: " +
                    FormataDataHora(h.DWN_DTINIDOWN, "dd/mm/yyyy hh:nn:ss"));
            return true;
        },
        CodigoPABX);
}

void TPABXDownloadFTP::EntregaHistoricoPendente() {
    if (!historicoPendente_) return;
    // One last try here: the database may be back by now.
    if (GravaHistorico(HistoricoCompleto, nullptr)) return;
    if (ambiente_.Pendentes == nullptr) return;
    ambiente_.Pendentes->Guarda(CodigoPABX, Historico);
    historicoPendente_ = false;
    Log(LogErro, false,
        "Histórico de download pendente até o banco de dados voltar: " +
            FormataDataHora(Historico.DWN_DTINIDOWN, "dd/mm/yyyy hh:nn:ss"));
}

bool TPABXDownloadFTP::BDRegistraUltimoDownload() {
    const std::string sql =
        "UPDATE PABX SET PAB_DTULTDOWN = CURRENT_TIMESTAMP WHERE PAB_CODIGO = ?";
    try {
        Attachment att = Attachment::Conecta(ConexaoPrincipal());
        Transaction tr(att);
        Statement st(tr, sql);
        st.SetInt(0, CodigoPABX).Executa();
        tr.Commit();
        att.Desconecta();
        return true;
    } catch (const FirebirdError& e) {
        Log(LogErro, false, LinhaErroBD("UPDPBX", e, sql));
        return false;
    }
}

void TPABXDownloadFTP::RegistraAContar() {
    Log(LogInfo, true, Traduz("Bytes a baixar") + ": " + std::to_string(Historico.DWN_BYTESBAIXAR));
    Log(LogInfo, true,
        Traduz("Arquivos a baixar") + ": " + std::to_string(Historico.DWN_ARQBAIXAR));
    Historico.DWN_OPERATUAL = OpTransferindo;
    BDRegistraHistoricoDownload(HistoricoAContar);
}
