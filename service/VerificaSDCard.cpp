#include "service/VerificaSDCard.h"

#include <filesystem>
#include <optional>

#include "common/Configuracao.h"
#include "common/LinhaLog.h"
#include "common/db/Firebird.h"
#include "service/AlertaEmail.h"
#include "service/BancoServico.h"
#include "service/LacoPrincipal.h"
#include "service/LogServico.h"

namespace {

// Attempts made when other writers keep changing the row in between (a
// conflict: a fresh attempt reads their values).
constexpr int kTentativasAtualizacao = 5;

}  // namespace

bool SDCardCheio(const TVolumeSDCard& volume) {
    if (volume.Total <= 0) return false;
    // 128-bit products: a unit may send any 64-bit values.
    return static_cast<__int128>(volume.Usado) * 5 >= static_cast<__int128>(volume.Total) * 4;
}

bool BDAtualizaSDCard(const ContextoSDCard& contexto, bool alerta, int codigo,
                      std::string_view descricao, const TVolumeSDCard& volume) {
    LogServico& log = contexto.Banco.Log();
    std::optional<ConexaoServico> con;
    bool alertou = false;
    try {
        con.emplace(contexto.Banco.ConexaoPrincipal());
        for (int tentativa = 1;; ++tentativa) {
            try {
                Transaction tr(con->Conexao());
                alertou = false;
                if (alerta && SDCardCheio(volume)) {
                    DataHora servidor;
                    {
                        Statement st(tr,
                                     con->Comando("SELECT current_timestamp FROM rdb$database"));
                        Cursor c = st.Abre();
                        if (c.Proxima()) servidor = c.GetTimestamp(0);
                    }
                    DataHora ultimo;
                    {
                        Statement st(
                            tr,
                            con->Comando("SELECT PAB_ULTALERTSDC FROM PABX WHERE PAB_CODIGO=?"));
                        st.SetInt(0, codigo);
                        Cursor c = st.Abre();
                        if (c.Proxima() && !c.IsNull(0)) ultimo = c.GetTimestamp(0);
                    }
                    alertou = !servidor.Vazia() &&
                              (ultimo.Vazia() || SegundosEntre(ultimo, servidor) / 86400 >=
                                                     contexto.TempoAlertaSDCard);
                }
                Statement st(
                    tr,
                    con->Comando(alertou ? "UPDATE PABX SET PAB_SDCARDTOTAL=?, PAB_SDCARDFREE=?, "
                                           "PAB_SDCARDUSED=?, PAB_ULTALERTSDC='NOW', "
                                           "PAB_ULTVERIFSDC='NOW' WHERE PAB_CODIGO=?"
                                         : "UPDATE PABX SET PAB_SDCARDTOTAL=?, PAB_SDCARDFREE=?, "
                                           "PAB_SDCARDUSED=?, PAB_ULTVERIFSDC='NOW' "
                                           "WHERE PAB_CODIGO=?"));
                st.SetBigInt(0, volume.Total).SetBigInt(1, volume.Livre).SetBigInt(2, volume.Usado);
                st.SetInt(3, codigo);
                st.Executa();
                tr.Commit();
                break;
            } catch (const FirebirdError& e) {
                if (!e.ConflitoAtualizacao() || tentativa >= kTentativasAtualizacao) throw;
            }
        }
        con->Conexao().Desconecta();
    } catch (const FirebirdError& e) {
        log.Log(LogErro, false, LinhaErroBD("UPDSDCard", e, con ? con->ComandoAtual() : ""));
        return false;
    }
    // Queued only once the row holds the alert time, so a failed or repeated
    // update never mails twice.
    if (alertou) {
        const std::string texto =
            log.Traduz("Alerta: ultrapassado 80% da capacidade do SDCard da central") + " " +
            CodigoTresDigitos(codigo) + " - " + std::string(descricao);
        contexto.Alertas.EnfileiraAlertaEmail(AlertaCapacidade, nullptr, texto);
    }
    return true;
}

bool BDRegistraVerificacaoSDCard(const ContextoSDCard& contexto, int codigo) {
    std::optional<ConexaoServico> con;
    try {
        con.emplace(contexto.Banco.ConexaoPrincipal());
        for (int tentativa = 1;; ++tentativa) {
            try {
                Transaction tr(con->Conexao());
                Statement st(
                    tr, con->Comando("UPDATE PABX SET PAB_ULTVERIFSDC='NOW' WHERE PAB_CODIGO=?"));
                st.SetInt(0, codigo);
                st.Executa();
                tr.Commit();
                break;
            } catch (const FirebirdError& e) {
                if (!e.ConflitoAtualizacao() || tentativa >= kTentativasAtualizacao) throw;
            }
        }
        con->Conexao().Desconecta();
        return true;
    } catch (const FirebirdError& e) {
        contexto.Banco.Log().Log(LogErro, false,
                                 LinhaErroBD("UPDTentaSDCard", e, con ? con->ComandoAtual() : ""));
        return false;
    }
}

TPABXVerificaSDCard::TPABXVerificaSDCard(const DadosVerificaSDCard& dados,
                                         const ContextoSDCard& contexto)
    : ThreadServico(dados.CodigoPABX), Dados(dados), contexto_(contexto) {}

void TPABXVerificaSDCard::Log(std::string_view texto) {
    if ((Dados.MascaraLog & LogSDCard) == 0) return;
    try {
        const DataHora agora = contexto_.Banco.Log().AgoraLocal();
        const std::filesystem::path pasta(Dados.PastaPABX);
        std::error_code ec;
        std::filesystem::create_directories(pasta, ec);
        AcrescentaAoArquivo(pasta / ("SDCard" + FormataDataHora(agora, "yyyymm") + ".LOG"),
                            LinhaLog(agora, texto));
    } catch (...) {
        // The unit's own log is a diagnostic: losing a line must not stop the check.
    }
}

void TPABXVerificaSDCard::Execute() {
    LogServico& log = contexto_.Banco.Log();
    try {
        if (Terminated()) return;
        EventoPABX evento;
        TPABX pabx;
        PreparaLink(pabx, Dados, &evento);

        Log(log.Traduz("Verificando SDCard"));
        Log(log.Traduz("Conectando") + ": " + Dados.KELVEnderIP + ":" +
            std::to_string(Dados.KELVPorta));
        std::string mensagem;
        if (pabx.VerificaSDCard(mensagem)) {
            // The link's thread has been joined: the volume is ours to read.
            const TVolumeSDCard volume = pabx.FVolumeSDCard;
            Log("Volume SDCard");
            Log("Total: " + std::to_string(volume.Total));
            Log("Livre: " + std::to_string(volume.Livre));
            Log("Usado: " + std::to_string(volume.Usado));
            BDAtualizaSDCard(contexto_, true, CodigoPABX, Dados.DescricaoPABX, volume);
        } else {
            BDRegistraVerificacaoSDCard(contexto_, CodigoPABX);
        }
        Log(mensagem);
    } catch (const std::exception& e) {
        Log(e.what());
    } catch (...) {
    }
}
