// TPABX: link, frame senders, requests and the one-shot SD-card check.
// The reply handlers and the table queries are in RespostasPABX.cpp.
#include "common/pabx/PABX.h"

#include <algorithm>
#include <stdexcept>
#include <cstring>
#include <thread>

#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "common/pabx/RespostaLogin.h"
#include "common/Texto.h"
#include "common/Traducao.h"
#include "common/pabx/ConexaoTCP.h"
#include "common/pabx/TracePABX.h"

std::atomic<int> PABXTimeOut{90};
std::atomic<bool> IgnoraCTRLDesconhecido{true};

namespace {
// The login's payload: this text, then the password, each character as two bytes.
constexpr std::string_view kPrefixoLogin = "KelvMonitor,";
// Where a CTRL frame's payload starts.
constexpr std::size_t kInicioPayloadCTRL = 11;
// A part of a path on the unit's store: a plain name, never a way out of it.
bool NomeSimples(std::string_view nome) {
    if (nome.empty() || nome == "." || nome == "..") return false;
    return nome.find_first_of(std::string_view("/\\:\0", 4)) == std::string_view::npos;
}
}  // namespace

// --------------------------------------------------------------- TextoStatus

std::string TextoStatus::Le() const {
    std::lock_guard trava(trava_);
    return texto_;
}

void TextoStatus::Grava(std::string_view texto) {
    std::lock_guard trava(trava_);
    texto_.assign(texto);
}

bool TextoStatus::Vazio() const {
    std::lock_guard trava(trava_);
    return texto_.empty();
}

bool TextoStatus::operator==(std::string_view texto) const {
    std::lock_guard trava(trava_);
    return texto_ == texto;
}

// --------------------------------------------------------------------- Link

TPABX::TPABX()
    : FTempoLimite(PABXTimeOut.load()), FIgnoraCTRLDesconhecido(IgnoraCTRLDesconhecido.load()) {}

TPABX::TPABX(ModoPABX modo) : TPABX() {
    FModoConsole = modo == ModoPABX::Console;
    if (!FModoConsole) return;
    // Read again for every link, so a changed VERUZADU.INI applies to the
    // next read-out without restarting the console.
    const IniFile ini(ArquivoVeruzaduIni());
    FTempoLimite = std::max(1, ini.ReadInteger("Veruzadu", "PABXTimeOut", 30));
    FTrace = ini.ReadBool("Log", "PABX", false);
    FPastaPABX = PastaPrograma();
    FIgnoraCTRLDesconhecido = false;
}

TPABX::~TPABX() { Desconecta(); }

void TPABX::SinalizaEvento() {
    if (FEvento != nullptr) FEvento->Sinaliza();
}

void TPABX::Conecta() {
    Desconecta();
    {
        std::lock_guard trava(FTravaRX);
        FVersaoMaior = FVersaoMenor = FRelease = 0;
        FVersao = "0.0.0";
        FErroConexao.clear();
        FDadosPendentes = FXMLPendente = false;
        // A reused object must not answer the new link's waits with the
        // previous link's texts.
        FStatusPROG.Esvazia();
        FStatusCTRL.Esvazia();
    }
    if (FUsaSocks) {
        // Neither program routes the link through a proxy; one that asks for
        // it fails like an unreachable unit instead of going out directly.
        {
            std::lock_guard trava(FTravaRX);
            FErroConexao = "SOCKS não suportado";
        }
        FEstadoLink = elFalhaConexao;
        FStatusPROG.Grava("NOK");
        SinalizaEvento();
        return;
    }
    FEstadoLink = elInativo;
    {
        std::lock_guard trava(FTravaRX);
        FReceptor.Reinicia();
    }
    ConexaoTCP::Eventos eventos;
    eventos.conectou = [this] { TCPConectou(); };
    eventos.falhou = [this](const std::string& erro) {
        {
            std::lock_guard trava(FTravaRX);
            FErroConexao = FEnderecoIP + ":" + std::to_string(FPorta) + ": " + erro;
        }
        TCPFalhouConexao();
    };
    eventos.recebeu = [this](std::span<const std::uint8_t> bytes) { TCPRecebeu(bytes); };
    eventos.fechou = [this] { TCPDesconectou(); };
    const auto limite = std::chrono::seconds(std::max(1, FTempoLimite));
    FClienteTCP = std::make_unique<ConexaoTCP>(FEnderecoIP, FPorta, limite, std::move(eventos));
    FEstadoLink = elConectando;
    FClienteTCP->Ativa();
}

void TPABX::Desconecta() {
    if (!FClienteTCP) return;
    FClienteTCP->Encerra();
    FClienteTCP.reset();
}

void TPABX::TCPConectou() {
    FEstadoLink = elConectado;
    FStatusPROG.Grava("OK");
    SinalizaEvento();
}

void TPABX::TCPFalhouConexao() {
    FEstadoLink = elFalhaConexao;
    FStatusPROG.Grava("NOK");
    SinalizaEvento();
}

void TPABX::TCPDesconectou() {
    GravaTrace(nullptr, 0, "Desconectou");
    FEstadoLink = elDesconectado;
    FStatusPROG.Grava("NOK");
    SinalizaEvento();
}

bool TPABX::AguardaResposta() { return AguardaStatus(FStatusPROG); }

bool TPABX::AguardaStatus(const TextoStatus& status) {
    using namespace std::chrono;
    return AguardaAlgum(status, status);
}

bool TPABX::AguardaAlgum(const TextoStatus& a, const TextoStatus& b) {
    using namespace std::chrono;
    const auto prazo = steady_clock::now() + seconds(FTempoLimite);
    for (;;) {
        if (!a.Vazio() || !b.Vazio()) return true;
        const auto resta = duration_cast<milliseconds>(prazo - steady_clock::now());
        if (resta.count() <= 0) {
            Desiste();
            return false;
        }
        // Short slices: a status may still change without the event (the
        // link dropping).
        if (FEvento != nullptr)
            FEvento->Aguarda(std::min<milliseconds>(resta, milliseconds(50)));
        else
            std::this_thread::sleep_for(std::min<milliseconds>(resta, milliseconds(20)));
    }
}

bool TPABX::Envia(const std::uint8_t* bytes, std::size_t n, std::string& erro) {
    if (FEnvio) return FEnvio(bytes, n, erro);
    if (!FClienteTCP) {
        erro = "Não conectado";
        return false;
    }
    return FClienteTCP->Envia(bytes, n, erro);
}

void TPABX::GravaTrace(const std::uint8_t* quadro, std::size_t contagem, std::string_view rotulo) {
    if (!FTrace) return;
    // The console's trace holds the frames only.
    if (FModoConsole && rotulo != "TX CTRL" && rotulo != "TX PROG" && rotulo != "RX PROG" &&
        rotulo != "RX CTRL")
        return;
    // The login frame ends with the unit's password: only its fixed prefix
    // is shown, in both programs' traces.
    std::size_t ocultoDe = SemOculto;
    if (quadro != nullptr && rotulo == "TX CTRL" && contagem >= 7 &&
        (quadro[3] | quadro[4] << 8) == 6 && (quadro[5] | quadro[6] << 8) == cmdLogin)
        ocultoDe = kInicioPayloadCTRL + 2 * kPrefixoLogin.size();
    GravaRegistroTrace(FPastaPABX, quadro != nullptr ? contagem : 0, rotulo, quadro, ocultoDe);
}

// ------------------------------------------------------------ Frame senders

bool TPABX::EnviaCTRL(std::uint16_t comando, std::uint16_t subcodigo, std::size_t n) {
    return EnviaCTRL(comando, subcodigo, n, false);
}

bool TPABX::EnviaCTRL(std::uint16_t comando, std::uint16_t subcodigo, std::size_t n,
                      bool esvaziaPROG) {
    const std::size_t tamanho = MontaQuadroCTRL(FQuadroTX.data(), comando, subcodigo, n);
    if (tamanho == 0) {
        GravaTrace(nullptr, 0, "Erro quadro maior que o buffer de transmissão");
        return false;
    }
    GravaTrace(FQuadroTX.data(), tamanho, "TX CTRL");
    // The awaited values must be in place before the frame leaves: a unit
    // answers faster than this thread returns from the send. The status is
    // emptied under the same lock, so a late reply to the previous request
    // cannot slip in between and answer this one.
    std::uint16_t blocoAnterior, indiceAnterior, subAnterior;
    {
        std::lock_guard trava(FTravaRX);
        FStatusCTRL.Esvazia();
        if (esvaziaPROG) FStatusPROG.Esvazia();
        blocoAnterior = FBlocoEsperado;
        indiceAnterior = FIndiceEsperado;
        subAnterior = FSubCodigoCTRL;
        FReceptor.Reinicia();
        FBlocoEsperado = subcodigo;
        FIndiceEsperado = 0;
        FSubCodigoCTRL = subcodigo;
        FDadosPendentes = false;
        FXMLPendente = esvaziaPROG && comando == cmdPedeXML;
    }
    std::string erro;
    if (Envia(FQuadroTX.data(), tamanho, erro)) return true;
    {
        std::lock_guard trava(FTravaRX);
        FBlocoEsperado = blocoAnterior;
        FIndiceEsperado = indiceAnterior;
        FSubCodigoCTRL = subAnterior;
    }
    GravaTrace(nullptr, 0, "Erro " + erro);
    return false;
}

bool TPABX::EnviaPROG(FormaPROG forma, std::uint16_t comando, std::uint16_t bloco,
                      std::uint16_t indice, std::size_t n) {
    const std::size_t tamanho = MontaQuadroPROG(FQuadroTX.data(), forma, comando, bloco, indice, n);
    if (tamanho == 0) return false;
    GravaTrace(FQuadroTX.data(), tamanho, "TX PROG");
    std::uint16_t blocoAnterior, indiceAnterior;
    {
        std::lock_guard trava(FTravaRX);
        FStatusPROG.Esvazia();
        blocoAnterior = FBlocoEsperado;
        indiceAnterior = FIndiceEsperado;
        FReceptor.Reinicia();
        FBlocoEsperado = bloco;
        FIndiceEsperado = indice;
        FDadosPendentes = true;
        FXMLPendente = false;
    }
    std::string erro;
    if (Envia(FQuadroTX.data(), tamanho, erro)) return true;
    std::lock_guard trava(FTravaRX);
    FBlocoEsperado = blocoAnterior;
    FIndiceEsperado = indiceAnterior;
    return false;
}

// ----------------------------------------------------------------- Requests

bool TPABX::EnviaLogin() { return EnviaLogin(false); }

bool TPABX::EnviaLogin(bool esvaziaPROG) {
    if (!FModoConsole) {
        std::lock_guard trava(FTravaRX);
        FModelo = "NORVIKA";
    }
    const std::string texto = std::string(kPrefixoLogin) + Utf8ParaLatin1(CortaUtf8(FSenha, 10));
    FQuadroTX.fill(0);
    std::size_t n = 0;
    for (const char c : texto) {
        FQuadroTX[n++] = static_cast<std::uint8_t>(c);
        FQuadroTX[n++] = 0;
    }
    return EnviaCTRL(cmdLogin, SubCodigoLogin, n, esvaziaPROG);
}

void TPABX::Desiste() {
    std::lock_guard trava(FTravaRX);
    FDadosPendentes = FXMLPendente = false;
}

bool TPABX::FazLogin() {
    // Both texts start empty; the unit accepts with the acknowledgement of
    // the login block (then a CTRL result 1) and refuses with a CTRL result.
    if (!EnviaLogin(true)) return false;
    AguardaAlgum(FStatusPROG, FStatusCTRL);
    return FEstadoLink == elConectado &&
           AvaliaRespostaLogin(FStatusPROG.Le(), FStatusCTRL.Le()) == RespostaLogin::Aceito;
}

std::string TPABX::Versao() const {
    std::lock_guard trava(FTravaRX);
    return FVersao;
}

std::string TPABX::Modelo() const {
    std::lock_guard trava(FTravaRX);
    return FModelo;
}

std::vector<std::string> TPABX::NomesDNS() const {
    std::lock_guard trava(FTravaRX);
    return FNomesDNS;
}

std::vector<std::string> TPABX::AgendaRamais() const {
    std::lock_guard trava(FTravaRX);
    return FAgendaRamais;
}

std::array<TRamalPABX, 1900> TPABX::Ramais() const {
    std::lock_guard trava(FTravaRX);
    return FRamais;
}

TVolumeSDCard TPABX::VolumeSDCard() const {
    std::lock_guard trava(FTravaRX);
    return FVolumeSDCard;
}

std::string TPABX::ErroConexao() const {
    std::lock_guard trava(FTravaRX);
    return FErroConexao;
}

bool TPABX::PedeLeituraPROG(std::uint16_t bloco, std::uint16_t indice) {
    return EnviaPROG(FormaPROG::Leitura, ComandoLeituraPROG, bloco, indice, 0);
}

bool TPABX::PedeCTRL(std::uint16_t codigo) {
    FQuadroTX[0] = FQuadroTX[1] = 0;
    return EnviaCTRL(cmdPedeXML, codigo, 0, true);
}

bool TPABX::PedeAgenda() {
    if (FAgendaViaCTRL) return PedeCTRL(CodigoXMLAgenda);
    if (FAgendaLonga) return PedeLeituraPROG(BlocoAgendaLonga, IndiceAgendaLonga);
    return PedeLeituraPROG(BlocoAgenda, IndiceAgenda);
}

bool TPABX::AgendaHabilitada() const {
    return LeAgendaPABX(IniFile(std::filesystem::path(FPastaPABX) / "PABX.INI"));
}

bool TPABX::PedeAcessoGravacoes(bool abre) {
    FQuadroTX.fill(0);
    GravaPalavra(&FQuadroTX[0], ctlAcessoGravacoes);
    GravaPalavra(&FQuadroTX[2], 0xFFFF);
    FQuadroTX[4] = abre ? 1 : 0;
    FQuadroTX[5] = 0;
    return EnviaCTRL(cmdControleGravacoes, SubCodigoGravacoes, 6);
}

bool TPABX::PedeReconexaoUSB() {
    FQuadroTX.fill(0);
    GravaPalavra(&FQuadroTX[0], ctlReconectaUSB);
    GravaPalavra(&FQuadroTX[2], 0xFFFF);
    return EnviaCTRL(cmdControleGravacoes, SubCodigoGravacoes, 4);
}

bool TPABX::PedeRemocaoArquivo(std::string_view pasta1, std::string_view pasta2,
                               std::string_view nome) {
    if (!NomeSimples(pasta1) || !NomeSimples(pasta2) || !NomeSimples(nome)) {
        GravaTrace(nullptr, 0, "Erro nome de arquivo recusado");
        return false;
    }
    return PedeRemocao("0:/NORVIKA/AUDIOREC/" + Maiusculas(pasta1) + "/" + Maiusculas(pasta2) +
                       "/" + Maiusculas(nome));
}

bool TPABX::PedeRemocaoPasta(std::string_view pasta1, std::string_view pasta2) {
    if (!NomeSimples(pasta1) || (!pasta2.empty() && !NomeSimples(pasta2))) {
        GravaTrace(nullptr, 0, "Erro nome de pasta recusado");
        return false;
    }
    std::string caminho = "0:/NORVIKA/AUDIOREC/" + Maiusculas(pasta1);
    if (!pasta2.empty()) caminho += "/" + Maiusculas(pasta2);
    return PedeRemocao(caminho);
}

bool TPABX::PedeRemocao(const std::string& caminhoUtf8) {
    const std::string caminho = Utf8ParaLatin1(caminhoUtf8);
    const std::size_t n = caminho.size() + 5;
    if (caminho.size() > TamanhoQuadroTX - 16) {
        GravaTrace(nullptr, 0, "Erro quadro maior que o buffer de transmissão");
        return false;
    }
    FQuadroTX.fill(0);
    GravaPalavra(&FQuadroTX[0], ctlRemoveArquivo);
    GravaPalavra(&FQuadroTX[2], 0xFFFF);
    std::memcpy(&FQuadroTX[4], caminho.data(), caminho.size());
    FQuadroTX[4 + caminho.size()] = 0;
    return EnviaCTRL(cmdControleGravacoes, SubCodigoGravacoes, n);
}

bool TPABX::PedeRemocaoArquivo(const std::filesystem::path& arquivoLocal) {
    const auto nome = arquivoLocal.filename();
    const auto pasta2 = arquivoLocal.parent_path().filename();
    const auto pasta1 = arquivoLocal.parent_path().parent_path().filename();
    return PedeRemocaoArquivo(pasta1.string(), pasta2.string(), nome.string());
}

bool TPABX::PedeVolumeSDCard() {
    FQuadroTX.fill(0);
    return EnviaCTRL(cmdVolumeSDCard, SubCodigoGravacoes, 0);
}

// ------------------------------------------- Console: extension blocks

namespace {
// A list entry as an extension number: not a number throws, like the
// conversion the form relies on; out of range gives 0 (never wrapped).
int NumeroRamalLista(const std::string& entrada) {
    const std::string t = Apara(entrada);
    long valor = 0;
    std::size_t usados = 0;
    try {
        valor = std::stol(t, &usados);
    } catch (const std::exception&) {
        throw std::invalid_argument("'" + entrada + "' não é um número de ramal");
    }
    if (usados != t.size())
        throw std::invalid_argument("'" + entrada + "' não é um número de ramal");
    return TPABX::RamalValido(static_cast<int>(std::clamp(valor, -1L, 100000L)))
               ? static_cast<int>(valor)
               : 0;
}
}  // namespace

bool TPABX::GravaParametroRamal(int ramal, std::uint16_t valor) {
    if (!RamalValido(ramal)) return false;
    FQuadroTX.fill(0);
    GravaPalavra(&FQuadroTX[0], valor);
    return EnviaPROG(FormaPROG::Escrita, ComandoEscritaPROG, static_cast<std::uint16_t>(ramal),
                     IndiceParametroRamal, 4);
}

bool TPABX::EnviaEscritaRamal(std::uint16_t bloco, std::uint16_t indice,
                              const std::vector<std::string>& lista) {
    // Every entry is checked before the buffer is touched: nothing half-built
    // goes out.
    std::vector<std::uint16_t> numeros;
    numeros.reserve(lista.size());
    for (const std::string& entrada : lista) {
        const int numero = NumeroRamalLista(entrada);
        if (numero == 0) return false;
        numeros.push_back(static_cast<std::uint16_t>(numero));
    }
    if (numeros.size() * 2 > TamanhoQuadroTX - 13) return false;
    FQuadroTX.fill(0);
    for (std::size_t i = 0; i < numeros.size(); ++i) GravaPalavra(&FQuadroTX[2 * i], numeros[i]);
    return EnviaPROG(FormaPROG::Escrita, ComandoEscritaPROG, bloco, indice, numeros.size() * 2);
}

bool TPABX::GravaListaRamal(int ramal, const std::vector<std::string>& lista) {
    if (!RamalValido(ramal)) return false;
    return EnviaEscritaRamal(static_cast<std::uint16_t>(ramal), IndiceListaRamal, lista);
}

bool TPABX::GravaListaRamais() {
    const std::vector<std::string> lista = FListaRamais;
    return EnviaEscritaRamal(BlocoListaRamais, IndiceListaRamais, lista);
}

bool TPABX::PedeBlocoRamal(std::uint16_t bloco, std::uint16_t indice) {
    // The unit takes its reads of these blocks in the write form with no
    // payload (13 bytes, L = 10).
    FQuadroTX.fill(0);
    return EnviaPROG(FormaPROG::Escrita, ComandoLeituraPROG, bloco, indice, 0);
}

bool TPABX::PedeListaRamais() { return PedeBlocoRamal(BlocoListaRamais, IndiceListaRamais); }

bool TPABX::PedeParametroRamal(int ramal) {
    if (!RamalValido(ramal)) return false;
    return PedeBlocoRamal(static_cast<std::uint16_t>(ramal), IndiceParametroRamal);
}

bool TPABX::PedeListaRamal(int ramal) {
    if (!RamalValido(ramal)) return false;
    return PedeBlocoRamal(static_cast<std::uint16_t>(ramal), IndiceListaRamal);
}

std::vector<std::string> TPABX::ListaRamais() const {
    std::lock_guard trava(FTravaRX);
    return FListaRamais;
}

TRespostaRamal TPABX::RespostaRamal() const {
    std::lock_guard trava(FTravaRX);
    return FRespostaRamal;
}

// ------------------------------------------------------ One-shot SD check

bool TPABX::VerificaSDCard(std::string& mensagem) {
    mensagem.clear();
    {
        std::lock_guard trava(FTravaRX);
        FVolumeSDCard = {};
    }
    Conecta();
    AguardaResposta();
    bool resultado = false;
    if (FEstadoLink != elConectado) {
        mensagem = Traduz("Falha ao conectar PABX");
    } else if (!EnviaLogin(true)) {
        mensagem = Traduz("Falha ao enviar login");
    } else if (AguardaAlgum(FStatusPROG, FStatusCTRL),
               FEstadoLink != elConectado ||
                   AvaliaRespostaLogin(FStatusPROG.Le(), FStatusCTRL.Le()) !=
                       RespostaLogin::Aceito) {
        // The login's own answer decides: a refusal fails the check at once.
        mensagem = Traduz("Resposta ao login falhou");
    } else if (!PedeVolumeSDCard()) {
        mensagem = Traduz("Resposta solicitação SDCard falhou");
    } else if (AguardaStatus(FStatusCTRL) && FStatusCTRL == "OK") {
        mensagem = Traduz("Tratando volume SDCard");
        resultado = true;
    } else {
        mensagem = Traduz("Volume SDCard não suportado");
    }
    Desconecta();
    return resultado;
}
