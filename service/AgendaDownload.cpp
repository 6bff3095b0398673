#include "service/AgendaDownload.h"

#include <cstdlib>
#include <filesystem>

#include "common/CifraTexto.h"
#include "common/Texto.h"
#include "service/download/RegrasDownload.h"

namespace {

// The unit's columns every created run copies, in the order both selects give them.
constexpr const char* kColunasPABX =
    "p.PAB_CODIGO, p.PAB_DESCRICAO, p.PAB_KELVENDERIP, p.PAB_KELVPORTA, p.PAB_KELVSENHA, "
    "p.PAB_USB_ZIMB, p.PAB_USBPATH, p.PAB_USBWAIT, p.PAB_KELVFTPPORT, p.PAB_KELVFTPUSER, "
    "p.PAB_KELVFTPPASS, p.PAB_KELVFTPSECURITY, p.PAB_ULTBACKUPBD, p.PAB_DTULTDOWN";

std::string Coluna(const Linha& l, std::string_view nome) {
    const int i = l.IndiceColuna(nome);
    return i < 0 ? std::string() : l.GetText(static_cast<unsigned>(i));
}
int ColunaInt(const Linha& l, std::string_view nome) {
    const int i = l.IndiceColuna(nome);
    return i < 0 || l.IsNull(static_cast<unsigned>(i)) ? 0 : l.GetInt(static_cast<unsigned>(i));
}
DataHora ColunaData(const Linha& l, std::string_view nome) {
    const int i = l.IndiceColuna(nome);
    return i < 0 ? DataHora{} : l.GetTimestamp(static_cast<unsigned>(i));
}
std::uint16_t Porta(int valor) {
    return valor < 0 || valor > 65535 ? 0 : static_cast<std::uint16_t>(valor);
}
// A stored secret: empty stays empty, anything else is deciphered.
std::string Segredo(const std::string& cifrado, std::size_t largura) {
    const std::string t = Apara(cifrado);
    return t.empty() ? std::string() : CortaUtf8(DescriptografaTexto(t), largura);
}
std::string FormataJanela(const DataHora& d) { return FormataDataHora(d, "dd/mm/yyyy hh:nn:ss"); }

// The unit's settings from its row (kColunasPABX), as every worker made for
// the unit gets them; its working folder is below the program's folder.
UnidadePABX LeUnidade(const Linha& l, const std::string& pastaPrograma, std::uint16_t mascara) {
    UnidadePABX u;
    u.MascaraLog = mascara;
    u.PastaPABX = pastaPrograma + "PABX" + CodigoTresDigitos(ColunaInt(l, "PAB_CODIGO")) + "/";
    u.DescricaoPABX = CortaUtf8(Coluna(l, "PAB_DESCRICAO"), 40);
    u.KELVEnderIP = CortaUtf8(Apara(Coluna(l, "PAB_KELVENDERIP")), 80);
    u.KELVPorta = Porta(ColunaInt(l, "PAB_KELVPORTA"));
    u.KELVSenha = Segredo(Coluna(l, "PAB_KELVSENHA"), 10);
    u.ModoUSB = ColunaInt(l, "PAB_USB_ZIMB");
    // The unit's store shows as a mounted folder holding norvika/audiorec.
    const std::string usb = ComBarra(Apara(Coluna(l, "PAB_USBPATH")));
    if (!usb.empty()) {
        u.CaminhoUSB = CortaUtf8(usb + "norvika/audiorec", 80);
        u.RaizUSB = CortaUtf8(usb, 80);
    }
    u.EsperaUSB = ColunaInt(l, "PAB_USBWAIT");
    u.FTPHost = u.KELVEnderIP;
    u.FTPPorta = Porta(ColunaInt(l, "PAB_KELVFTPPORT"));
    u.FTPUsuario = CortaUtf8(Apara(Coluna(l, "PAB_KELVFTPUSER")), 30);
    u.FTPSeguranca = ColunaInt(l, "PAB_KELVFTPSECURITY");
    // As wide as the unit editor admits: a longer cut would fail the login.
    u.FTPSenha = Segredo(Coluna(l, "PAB_KELVFTPPASS"), 40);
    u.UsaSocks = false;
    u.UltimoBackupBD = ColunaData(l, "PAB_ULTBACKUPBD");
    return u;
}

DataHora ComMinutos(const DataHora& dia, int minutos) {
    DataHora d = SoData(dia);
    d.hora = minutos / 60;
    d.minuto = minutos % 60;
    return d;
}

DataHora HoraServidorPadrao(Attachment& att) {
    Transaction tr(att, true);
    Statement st(tr, "SELECT CURRENT_TIMESTAMP FROM RDB$DATABASE");
    Cursor c = st.Abre();
    if (!c.Proxima()) throw std::runtime_error("no server time");
    DataHora t = c.GetTimestamp(0);
    c.Fecha();
    tr.Commit();
    return t;
}

}  // namespace

DecisaoJanela DecideJanela(std::string_view horaIni, std::string_view horaFim,
                           const DataHora& ultimoDownload, const DataHora& agoraServidor) {
    DecisaoJanela d;
    const auto ini = LeHoraMinuto(horaIni);
    if (!ini) {
        d.erro = "'" + Apara(horaIni) + "' não é uma hora válida";
        return d;
    }
    const std::string textoFim = Apara(horaFim);
    const bool fimVazio = textoFim.empty();
    std::optional<int> fim;
    if (!fimVazio) {
        fim = LeHoraMinuto(textoFim);
        if (!fim) {
            d.erro = "'" + textoFim + "' não é uma hora válida";
            return d;
        }
    }
    d.valida = true;
    const int agora = agoraServidor.hora * 60 + agoraServidor.minuto;
    d.aberta = agora >= *ini && (fimVazio || agora < *fim);
    d.inicio = ComMinutos(agoraServidor, *ini);
    d.fim = fimVazio ? SomaMeses(SoData(agoraServidor), 1) : ComMinutos(agoraServidor, *fim);

    d.devida = d.aberta;
    // One run per window occurrence: a run that ended inside today's
    // occurrence, successful or not, blocks another one until it closes.
    if (d.devida && !ultimoDownload.Vazia() && SoData(ultimoDownload) == SoData(d.inicio)) {
        const int fimUltimo = ultimoDownload.hora * 60 + ultimoDownload.minuto;
        if (fimUltimo >= *ini && (fimVazio || fimUltimo < *fim)) d.devida = false;
    }
    return d;
}

bool SDCardDevido(const DataHora& ultimaVerificacao, const DataHora& agoraServidor,
                  int tempoMinutos) {
    if (ultimaVerificacao.Vazia()) return true;
    const long long segundos =
        std::llabs(SegundosDesdeEpoca(agoraServidor) - SegundosDesdeEpoca(ultimaVerificacao));
    return segundos / 60 >= tempoMinutos;
}

AgendaDownload::AgendaDownload(LogServico& log, BancoServico& banco, AlertasEmail& alertas,
                               const Relogio& relogio, ListaThreads& downloads,
                               ListaThreads& sdcards,
                               std::function<std::shared_ptr<const ConfiguracaoServico>()> config)
    : log_(log), banco_(banco), alertas_(alertas), relogio_(relogio), downloads_(downloads),
      sdcards_(sdcards), config_(std::move(config)), horaServidor_(HoraServidorPadrao) {}

void AgendaDownload::DefineHoraServidor(std::function<DataHora(Attachment&)> fonte) {
    horaServidor_ = fonte ? std::move(fonte) : HoraServidorPadrao;
}

bool AgendaDownload::EstaNaListaPABXDownFTP(int codigo) const {
    return downloads_.EstaNaLista(codigo);
}

std::unique_ptr<TPABXDownloadFTP>
AgendaDownload::CriaDownload(const Linha& l,
                             const std::shared_ptr<const ConfiguracaoServico>& cfg) {
    const int codigo = ColunaInt(l, "PAB_CODIGO");
    const int tempoAlerta = cfg->TempoAlertaSDCard;
    BancoServico& banco = banco_;
    AlertasEmail& alertas = alertas_;
    AmbienteDownload ambiente{
        log_,
        banco_,
        alertas_,
        relogio_,
        [&banco, &alertas, tempoAlerta](bool alerta, int cod, const std::string& descricao,
                                        const TVolumeSDCard& volume) {
            return BDAtualizaSDCard(ContextoSDCard{banco, alertas, tempoAlerta}, alerta, cod,
                                    descricao, volume);
        },
        &pendentes_};
    auto t = std::make_unique<TPABXDownloadFTP>(codigo, std::move(ambiente), cfg);
    static_cast<UnidadePABX&>(*t) = LeUnidade(l, cfg->PastaPrograma, log_.Mascara());
    std::error_code ec;
    std::filesystem::create_directories(t->PastaPABX, ec);
    const ParametrosBDServico bd = banco_.Parametros();
    t->BaseDadosPABX = bd.ServidorBD + ":" + banco_.PastaBaseDadosServidor() + "GRVPAB" +
                       CodigoTresDigitos(codigo) + ".FDB";
    t->Historico = {};
    return t;
}

std::unique_ptr<ThreadServico> AgendaDownload::CriaVerificaSDCard(const Linha& l,
                                                                  const ConfiguracaoServico& cfg) {
    DadosVerificaSDCard d;
    static_cast<UnidadePABX&>(d) = LeUnidade(l, cfg.PastaPrograma, log_.Mascara());
    d.CodigoPABX = ColunaInt(l, "PAB_CODIGO");
    d.UltimaVerificacaoSDCard = ColunaData(l, "PAB_ULTVERIFSDC");
    d.UltimoAlertaSDCard = ColunaData(l, "PAB_ULTALERTSDC");
    return std::make_unique<TPABXVerificaSDCard>(
        d, ContextoSDCard{banco_, alertas_, cfg.TempoAlertaSDCard});
}

std::size_t AgendaDownload::GravaHistoricosPendentes() {
    if (pendentes_.Quantidade() == 0) return 0;
    return pendentes_.Grava([this](int codigo, const THistoricoDownload& h) {
        std::string erro;
        if (!GravaHistoricoCompleto(banco_.ConexaoPrincipal(), codigo, h, erro)) return false;
        Log(LogInfo, "Histórico de download gravado. PABX: " + std::to_string(codigo) + "  " +
                         FormataJanela(h.DWN_DTINIDOWN));
        return true;
    });
}

void AgendaDownload::BDVerificaDownloadPeriodo() {
    GravaHistoricosPendentes();
    const std::shared_ptr<const ConfiguracaoServico> cfg = config_();
    std::string sql = "SELECT CURRENT_TIMESTAMP FROM RDB$DATABASE";
    try {
        Attachment att = Attachment::Conecta(banco_.ConexaoPrincipal());
        // Windows and the last-run stamps are server time; T must be too.
        const DataHora T = horaServidor_(att);
        // Where the local clock differs from the server's, the run's window
        // limits move with it so that the run still stops when the window ends.
        const long long desvio = SegundosDesdeEpoca(relogio_.Agora()) - SegundosDesdeEpoca(T);

        Transaction tr(att, true);
        sql = std::string("SELECT d.DOW_HORAINI, d.DOW_HORAFIM, ") + kColunasPABX +
              " FROM DOWNPABX d JOIN PABX p ON d.PAB_CODIGO = p.PAB_CODIGO ORDER BY d.PAB_CODIGO";
        {
            Statement st(tr, sql);
            Cursor c = st.Abre();
            std::size_t contagem = downloads_.Contagem();
            while (static_cast<int>(contagem) < cfg->MaxPABX && c.Proxima()) {
                const int codigo = ColunaInt(c, "PAB_CODIGO");
                DecisaoJanela d;
                try {
                    d = DecideJanela(Coluna(c, "DOW_HORAINI"), Coluna(c, "DOW_HORAFIM"),
                                     ColunaData(c, "PAB_DTULTDOWN"), T);
                    if (!d.valida) throw std::runtime_error(d.erro);
                } catch (const std::exception& e) {
                    // A row that cannot be read is skipped, never decided on
                    // what the previous row left.
                    Log(LogInfo, std::string("Erro: ") + e.what());
                    continue;
                }
                if (!d.devida || downloads_.EstaNaLista(codigo)) continue;

                auto t = CriaDownload(c, cfg);
                t->InicioPeriodo = SomaSegundos(d.inicio, desvio);
                t->FimPeriodo = SomaSegundos(d.fim, desvio);
                if (AoCriarDownload) AoCriarDownload(*t);
                const std::string linha = "Disparar download PABX: " + std::to_string(codigo) +
                                          "  " + FormataJanela(d.inicio) + " - " +
                                          FormataJanela(d.fim);
                if (!downloads_.AdicionaSeAusente(std::move(t))) continue;
                Log(LogInfo, linha);
                ++contagem;
                if (static_cast<int>(contagem) >= cfg->MaxPABX)
                    Log(LogInfo,
                        log_.Traduz("Alcançado limite de centrais para download simunltâneo: ") +
                            std::to_string(contagem));
            }
            c.Fecha();
        }

        sql = "SELECT PAB_CODIGO, PAB_DESCRICAO, PAB_KELVENDERIP, PAB_KELVPORTA, PAB_KELVSENHA, "
              "PAB_USB_ZIMB, PAB_ULTVERIFSDC, PAB_ULTALERTSDC FROM PABX ORDER BY PAB_CODIGO";
        {
            Statement st(tr, sql);
            Cursor c = st.Abre();
            while (c.Proxima()) {
                const int codigo = ColunaInt(c, "PAB_CODIGO");
                if (!SDCardDevido(ColunaData(c, "PAB_ULTVERIFSDC"), T, cfg->TempoVerSDCard))
                    continue;
                if (downloads_.EstaNaLista(codigo) || sdcards_.EstaNaLista(codigo)) continue;
                if (sdcards_.AdicionaSeAusente(CriaVerificaSDCard(c, *cfg)))
                    Log(LogInfo, "Verificar SDCard do PABX: " + std::to_string(codigo));
            }
            c.Fecha();
        }
        tr.Commit();
        att.Desconecta();
    } catch (const FirebirdError& e) {
        Log(LogErro, LinhaErroBD("GERDOWNPABX", e, sql));
    }
}

ResultadoPedido AgendaDownload::VerificaDownloadPedidoUsuario(int codigo) {
    for (int livre : downloads_.LiberaConcluidas())
        Log(LogInfo, "Importação concluída. PABX: " + std::to_string(livre));
    const std::shared_ptr<const ConfiguracaoServico> cfg = config_();
    const std::string c = std::to_string(codigo);
    Log(LogInfo, "Download solicitado. PABX: " + c);
    const std::string sql =
        std::string("SELECT ") + kColunasPABX + " FROM PABX p WHERE p.PAB_CODIGO = ?";
    try {
        std::unique_ptr<TPABXDownloadFTP> t;
        {
            Attachment att = Attachment::Conecta(banco_.ConexaoPrincipal());
            Transaction tr(att, true);
            Statement st(tr, sql);
            st.SetInt(0, codigo);
            Cursor cur = st.Abre();
            if (cur.Proxima()) t = CriaDownload(cur, cfg);
            cur.Fecha();
            tr.Commit();
            att.Desconecta();
        }
        if (!t) {
            Log(LogInfo, "Solicitado download de PABX inexistente: " + c);
            return ResultadoPedido::Inexistente;
        }
        t->InicioPeriodo = relogio_.Agora();
        t->FimPeriodo = SomaMeses(t->InicioPeriodo, 1);
        t->Historico = {};
        t->Historico.DWN_OPERATUAL = OpPreparando;
        if (AoCriarDownload) AoCriarDownload(*t);
        const std::string linha = "Disparar download solicitado PABX: " + c + "  " +
                                  FormataJanela(t->InicioPeriodo) + " - " +
                                  FormataJanela(t->FimPeriodo);
        if (!downloads_.AdicionaSeAusente(std::move(t))) return ResultadoPedido::JaListado;
        Log(LogInfo, linha);
        return ResultadoPedido::Listado;
    } catch (const FirebirdError& e) {
        Log(LogErro, LinhaErroBD("DOWNPABXPed", e, sql));
        return ResultadoPedido::Falha;
    }
}

int AgendaDownload::FechaHistoricosInterrompidos() {
    const std::string sql = "UPDATE DWNHISTORY SET DWN_RESULTADO = ? WHERE DWN_RESULTADO = ?";
    try {
        Attachment att = Attachment::Conecta(banco_.ConexaoPrincipal());
        Transaction tr(att);
        Statement st(tr, sql);
        st.SetInt(0, ResultadoFalha).SetInt(1, ResultadoEmAndamento);
        const auto n = static_cast<int>(st.Executa());
        tr.Commit();
        att.Desconecta();
        if (n > 0) Log(LogInfo, "Downloads interrompidos encerrados: " + std::to_string(n));
        return n;
    } catch (const FirebirdError& e) {
        Log(LogErro, LinhaErroBD("DWNFECHA", e, sql));
        return -1;
    }
}
