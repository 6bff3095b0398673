#pragma once
// TPABX: the client of a PABX's control interface. One object serves one
// session (connect, log in, requests, disconnect) and is created, used and
// freed by one owner thread (a download run, an SD-card check, a tool).
//
// Threads. Conecta starts the link's own thread, which opens the connection
// and then runs the receiver: it cuts the byte stream into frames, runs the
// reply handlers (which fill the tables below) and writes the status texts.
// The owner sends requests from its thread and polls FStatusPROG/FStatusCTRL
// (or waits on FEvento); a non-empty text ends a wait. The owner reads a table
// only after the status of the request that fills it has become non-empty:
// the status texts are the hand-over between the two threads. Desconecta (and
// the destructor) stop and join the link's thread before anything is freed.
//
// Lock order: FTravaRX (receiver state, awaited block and index, tables while
// a handler runs) before the status texts' own locks; the trace has a lock of
// its own below both.
//
// Errors are never thrown to the caller: a request that cannot be sent returns
// false, a reply that does not come ends the caller's wait after PABXTimeOut.
// (The one exception: an extension list entry that is not a number, below.)
//
// Two modes. The service's link (the default constructor) is driven by a
// download run or an SD-card check. The console's link (TPABX(ModoPABX::Console))
// reads its own time limit and trace switch from VERUZADU.INI when it is made,
// traces into the program folder (four labels only, no dumps), keeps no model
// text, shows the version without leading zeros, gives "Desconhecido" for an
// unknown CTRL result and has no SD-card branch; it adds the extension-block
// requests (Grava*/Pede*Ramal*, list 10/35) and reports a unit's refusal of a
// PROG request (CTRL 0x84/0x85, the block as sub-code) in FStatusPROG.

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/Evento.h"
#include "common/pabx/QuadroPABX.h"

class ConexaoTCP;

// Defaults for new links (each TPABX copies them when it is created): seconds
// without progress after which a wait of the link gives up, and whether an
// unknown CTRL result word counts as "OK". The service sets them at start from
// [Veruzadu] PABXTimeOut and IgnoraCTRLDesconhecido; a link's own copies
// (FTempoLimite, FIgnoraCTRLDesconhecido) may be set before Conecta.
extern std::atomic<int> PABXTimeOut;
extern std::atomic<bool> IgnoraCTRLDesconhecido;

enum class ModoPABX { Servico, Console };

enum TEstadoLink : int { elInativo, elConectando, elConectado, elFalhaConexao, elDesconectado };

struct TRamalPABX {
    std::string NomeDNS;  // up to 20 characters
    std::string Nome;     // up to 30 characters
};

struct TVolumeSDCard {
    std::int64_t Total = 0;
    std::int64_t Livre = 0;
    std::int64_t Usado = 0;
    std::uint8_t Reservado[8] = {};
};

// Blocks (block, index) of the PROG requests.
inline constexpr std::uint16_t BlocoVersao = 102, IndiceVersao = 0;
inline constexpr std::uint16_t BlocoRelease = 102, IndiceRelease = 2;
inline constexpr std::uint16_t BlocoParametros = 19, IndiceParametros = 1;
inline constexpr std::uint16_t BlocoNomesDNS = 2, IndiceNomesDNS = 0;
inline constexpr std::uint16_t BlocoIndicesDNS = 2, IndiceIndicesDNS = 3;
inline constexpr std::uint16_t BlocoAgenda = 9, IndiceAgenda = 5;
inline constexpr std::uint16_t BlocoAgendaLonga = 9, IndiceAgendaLonga = 15;
// The console's extension blocks: an extension's recording word (block = the
// extension number), its list of extensions, and the list of extensions that
// have a recording configuration.
inline constexpr std::uint16_t IndiceParametroRamal = 9;
inline constexpr std::uint16_t IndiceListaRamal = 10;
inline constexpr std::uint16_t BlocoListaRamais = 10, IndiceListaRamais = 35;
// CTRL commands and sub-codes.
inline constexpr std::uint16_t cmdLogin = 3, SubCodigoLogin = 10005;
inline constexpr std::uint16_t cmdPedeXML = 9, CodigoXMLAgenda = 26;
inline constexpr std::uint16_t cmdControleGravacoes = 2, SubCodigoGravacoes = 0x8C;
inline constexpr std::uint16_t cmdVolumeSDCard = 0x190;
enum : std::uint16_t { ctlAcessoGravacoes = 0, ctlReconectaUSB = 1, ctlRemoveArquivo = 2 };

// The caller's event: set by the link on link changes and handled data
// replies; a successful wait consumes it (auto-reset).
using EventoPABX = Evento;

// A status text handed between the link's thread and the owner: every read
// and write is whole, under a short lock.
class TextoStatus final {
  public:
    std::string Le() const;
    void Grava(std::string_view texto);
    void Esvazia() { Grava({}); }
    bool Vazio() const;
    bool operator==(std::string_view texto) const;

  private:
    mutable std::mutex trava_;  // guards texto_
    std::string texto_;
};

// The data of the last reply to an extension block (n/9 or n/10), copied
// under the receiver's lock by the link's thread before the status says "OK".
struct TRespostaRamal {
    std::uint16_t Bloco = 0, Indice = 0;
    std::vector<std::uint8_t> Dados;  // from frame offset 15, the bytes kept
};

class TPABX final {
  public:
    // Sends a frame on the link; false with the error text on failure.
    using FuncaoEnvio = std::function<bool(const std::uint8_t*, std::size_t, std::string& erro)>;

    TPABX();
    // The console's link: FTempoLimite := [Veruzadu] PABXTimeOut (default 30),
    // FTrace := [Log] PABX (default false), FPastaPABX := PastaPrograma.
    explicit TPABX(ModoPABX modo);
    ~TPABX();
    TPABX(const TPABX&) = delete;
    TPABX& operator=(const TPABX&) = delete;

    // --- Set by the owner before Conecta. --------------------------------
    std::string FPastaPABX;  // working folder with trailing "/": trace, dumps, XML, PABX.INI
    bool FTrace = false;     // write the trace, the PROG dumps and the received XML
    std::string FEnderecoIP;
    std::uint16_t FPorta = 0;
    std::string FSenha;      // plain, up to 10 characters
    bool FUsaSocks = false;  // never switched on: a link that asks for it is refused
    std::string FSocksServidor;
    std::uint16_t FSocksPorta = 0;
    std::string FSocksUsuario, FSocksSenha;
    int FModoUSB = 0;  // the download run's USB settings; the link does not use them
    std::string FPastaUSB;
    int FEsperaUSB = 0;
    std::string FRaizUSB;
    EventoPABX* FEvento = nullptr;  // not owned; may stay null (callers then poll)
    int FTempoLimite;               // seconds; PABXTimeOut when the object was made
    bool FIgnoraCTRLDesconhecido;   // IgnoraCTRLDesconhecido when the object was made

    // --- Filled by the reply handlers. -----------------------------------
    // A data reply is taken only for the request awaited (its block and index,
    // or the XML code), once: a late or unasked reply never rewrites these
    // while the owner reads them. The owner reads a table once its request's
    // status is not empty and before its next request, or takes a copy at any
    // time through the accessors below (taken under the receiver's lock).
    std::uint16_t FVersaoMaior = 0, FVersaoMenor = 0, FRelease = 0;
    std::string FVersao;                     // "3.16.50"
    std::string FModelo;                     // upper case
    std::vector<std::string> FNomesDNS;      // flag digit + name, by DNS-name index
    std::vector<std::string> FAgendaRamais;  // "3001;name" for the short agenda's 3000-3999
    std::array<TRamalPABX, 1900> FRamais;    // 1000-1899 -> 0-899, 3000-3999 -> 900-1899
    TVolumeSDCard FVolumeSDCard;
    bool FAgendaViaCTRL = false, FAgendaLonga = false;

    // Console: the decimal extension numbers of the list 10/35. Filled by
    // its reply (read it through ListaRamais() or after the status is "OK"),
    // set by the owner before GravaListaRamais.
    std::vector<std::string> FListaRamais;

    std::atomic<TEstadoLink> FEstadoLink{elInativo};
    TextoStatus FStatusPROG;  // result of the pending PROG (or XML) request
    TextoStatus FStatusCTRL;  // result of the pending CTRL request

    // Transmit frame (owner's thread only): request builders put the payload
    // at its start.
    std::array<std::uint8_t, TamanhoQuadroTX> FQuadroTX{};

    // --- Link. -----------------------------------------------------------
    // Returns at once; the link opens on its own thread (bounded by
    // PABXTimeOut) and reports through FEstadoLink, FStatusPROG and FEvento.
    void Conecta();
    // Stops a pending connect or the receiver, joins the link's thread and
    // closes the connection. Safe in any state and more than once.
    void Desconecta();
    // Waits until FStatusPROG is not empty or FTempoLimite seconds have
    // passed (then the pending request is given up, see Desiste).
    bool AguardaResposta();
    // The same wait on either status text.
    bool AguardaStatus(const TextoStatus& status);

    // Frame senders; false when the frame would not fit the transmit buffer
    // or the send fails.
    bool EnviaCTRL(std::uint16_t comando, std::uint16_t subcodigo, std::size_t n);
    bool EnviaPROG(FormaPROG forma, std::uint16_t comando, std::uint16_t bloco,
                   std::uint16_t indice, std::size_t n);

    // The receiver: bytes as they came from the connection.
    void TCPRecebeu(std::span<const std::uint8_t> bytes);
    // One trace record (only with FTrace).
    void GravaTrace(const std::uint8_t* quadro, std::size_t contagem, std::string_view rotulo);

    // --- Requests (each returns whether it was sent). --------------------
    bool EnviaLogin();
    bool PedeLeituraPROG(std::uint16_t bloco, std::uint16_t indice);
    bool PedeVersao() { return PedeLeituraPROG(BlocoVersao, IndiceVersao); }
    bool PedeRelease() { return PedeLeituraPROG(BlocoRelease, IndiceRelease); }
    bool PedeParametros() { return PedeLeituraPROG(BlocoParametros, IndiceParametros); }
    bool PedeNomesDNS() { return PedeLeituraPROG(BlocoNomesDNS, IndiceNomesDNS); }
    bool PedeIndicesDNS() { return PedeLeituraPROG(BlocoIndicesDNS, IndiceIndicesDNS); }
    bool PedeCTRL(std::uint16_t codigo);
    bool PedeAgenda();
    // Whether the session reads the agenda: PABX.INI [Dados] Agenda.
    bool AgendaHabilitada() const;
    bool PedeAcessoGravacoes(bool abre);
    bool PedeReconexaoUSB();
    // Removal of NORVIKA/AUDIOREC/<pasta1>/<pasta2>/<nome> on the unit's
    // store. Each part must be a plain name (no separators, "." or "..").
    bool PedeRemocaoArquivo(std::string_view pasta1, std::string_view pasta2,
                            std::string_view nome);
    // The same for a local copy of the store: its last three path components.
    bool PedeRemocaoArquivo(const std::filesystem::path& arquivoLocal);
    // Removal of the folder NORVIKA/AUDIOREC/<pasta1>/<pasta2> (or of
    // NORVIKA/AUDIOREC/<pasta1> when pasta2 is empty); the unit removes only
    // an empty folder.
    bool PedeRemocaoPasta(std::string_view pasta1, std::string_view pasta2 = {});
    bool PedeVolumeSDCard();

    // --- Console: extension blocks. ---------------------------------------
    // An extension outside 1000-1899 and 3000-3999 (and a list entry
    // outside them) leaves the request unsent: false. A list entry that is
    // not a number throws std::invalid_argument before anything is sent.
    bool GravaParametroRamal(int ramal, std::uint16_t valor);
    bool GravaListaRamal(int ramal, const std::vector<std::string>& lista);
    bool GravaListaRamais();
    bool PedeListaRamais();
    bool PedeParametroRamal(int ramal);
    bool PedeListaRamal(int ramal);
    // Copies taken under the receiver's lock.
    std::vector<std::string> ListaRamais() const;
    TRespostaRamal RespostaRamal() const;
    // Whether a number is an extension the console programs.
    static bool RamalValido(int numero) { return IndiceRamal(numero) >= 0; }

    // The owner gives up on the pending request (the waits above do so when
    // their time runs out): a reply to it that comes later changes nothing.
    void Desiste();

    // Copies taken under the receiver's lock.
    std::string Versao() const;
    std::string Modelo() const;
    std::vector<std::string> NomesDNS() const;
    std::vector<std::string> AgendaRamais() const;
    std::array<TRamalPABX, 1900> Ramais() const;
    TVolumeSDCard VolumeSDCard() const;
    // Why the last connect failed (host, port and the system's text); empty
    // after a successful one.
    std::string ErroConexao() const;

    // Sends the login and waits for the unit's answer to it: true once the
    // unit accepted it; a refusal (or a drop) answers false at once.
    bool FazLogin();

    // --- Queries on the tables. ------------------------------------------
    bool NomeDNSHabilitado(int indice) const;
    std::string NomeDNS(int indice) const;
    // First extension (1000-1899, then 3000-3999) whose NomeDNS equals the
    // text exactly; 0 when none, and for an empty or blank text.
    int BuscaRamalPorNome(std::string_view nome) const;
    // Entry of an extension number, or -1 when the number has none.
    static int IndiceRamal(int numero);

    // The one-shot SD-card check on a fresh object (connects, logs in, asks
    // the volume, disconnects). FVolumeSDCard holds the result when true.
    bool VerificaSDCard(std::string& mensagem);

    // Replaces the socket as the frame's way out (tests).
    void DefineEnvio(FuncaoEnvio envio) { FEnvio = std::move(envio); }

  private:
    bool EnviaLogin(bool esvaziaPROG);
    // Waits until either text is not empty or the link's time limit passes.
    bool AguardaAlgum(const TextoStatus& a, const TextoStatus& b);
    // The request also empties FStatusPROG (the XML request) when asked.
    bool EnviaCTRL(std::uint16_t comando, std::uint16_t subcodigo, std::size_t n, bool esvaziaPROG);
    void Despacha(const std::uint8_t* q, std::uint32_t comprimento, std::uint32_t n);
    void TrataVersao(const std::uint8_t* q, std::uint32_t n);
    void TrataRelease(const std::uint8_t* q, std::uint32_t n);
    void TrataParametros(const std::uint8_t* q, std::uint32_t n);
    void TrataNomesDNS(const std::uint8_t* q, std::uint32_t n);
    void TrataIndicesDNS(const std::uint8_t* q, std::uint32_t n);
    void TrataAgenda(const std::uint8_t* q, std::uint32_t n, bool longa);
    void TrataXML(const std::uint8_t* q, std::uint32_t n, std::uint16_t codigo);
    void AnalisaCTRL(const std::uint8_t* q, std::uint32_t n);
    // The status text of a CTRL result word; empty when the frame is too
    // short for the detail it needs.
    std::string TextoResultadoCTRL(std::uint16_t resultado, std::uint16_t comando,
                                   const std::uint8_t* q, std::uint32_t n) const;
    void TrataVolumeSDCard(const std::uint8_t* q, std::uint32_t n);
    void TrataListaRamais(const std::uint8_t* q, std::uint32_t n);
    void TrataRespostaRamal(const std::uint8_t* q, std::uint32_t n);
    bool EnviaEscritaRamal(std::uint16_t bloco, std::uint16_t indice,
                           const std::vector<std::string>& lista);
    bool PedeBlocoRamal(std::uint16_t bloco, std::uint16_t indice);
    void TCPConectou();
    void TCPFalhouConexao();
    void TCPDesconectou();
    void SinalizaEvento();
    bool Envia(const std::uint8_t* bytes, std::size_t n, std::string& erro);
    bool NomeDNSHabilitadoSemTrava(int indice) const;
    bool PedeRemocao(const std::string& caminhoUtf8);
    std::string NomeDNSSemTrava(int indice) const;

    mutable std::mutex FTravaRX;  // guards FReceptor, the awaited values, the tables in handlers
    ReceptorQuadros FReceptor;
    std::uint16_t FBlocoEsperado = 0, FIndiceEsperado = 0;
    bool FDadosPendentes = false;      // a PROG read awaits its data reply
    bool FXMLPendente = false;         // an XML request awaits its document
    std::string FErroConexao;          // guarded by FTravaRX
    std::uint16_t FSubCodigoCTRL = 0;  // sub-code of the pending CTRL request
    std::unique_ptr<ConexaoTCP> FClienteTCP;
    FuncaoEnvio FEnvio;
    bool FModoConsole = false;      // set by the constructor only
    TRespostaRamal FRespostaRamal;  // guarded by FTravaRX
};
