#pragma once
// The filing of one downloaded recording: reads its description, converts the
// A-law WAV to 16-bit PCM, optionally to Ogg Vorbis and to the encrypted
// ".dad" form, looks the other party up among the contacts' phones and
// inserts one GRAVACAO row into the unit's database with the audio as a BLOB.
// The result tells the import whether the recording may now be removed from
// the PABX (below 5) or must stay there (5 and above):
//   0 row inserted, 1 already filed (its row found), 5 file to store missing or
//   unreadable, 6 A-law conversion failed, 7 database or other failure.
//
// One object per download run, owned by the run's thread and used only by it.
// It keeps one connection to the unit's database and one to the main
// database for the whole run (opened on first use, dropped after a failure so
// the next filing reconnects). Working outputs (PCM copy, Ogg, ".dad") are
// written in a private folder (0700) inside the unit's working folder and
// renamed beside the WAV file only when complete; a failed filing removes the
// outputs it placed, and leftovers of a killed run are removed by the next
// run's object. Each filing reads the configuration once, so the key that
// enciphers a file is the one its row keeps.
//
// Nothing here throws to the caller: every failure becomes a result code and
// a log line.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "common/ALaw.h"
#include "common/ArquivoCriptografado.h"
#include "common/DataHora.h"
#include "common/db/Firebird.h"
#include "service/ConfiguracaoGeral.h"
#include "service/download/LeituraXML.h"

// The run's counters this filing moves (the thread adds them to Historico).
struct ContadoresArquivamento {
    int DWN_FALHASXML = 0;
    int DWN_ARQCONVOGG = 0;
    int DWN_FALHASOGG = 0;
    int DWN_ARQIMPORTADO = 0;
    int DWN_AVDUPIMP = 0;
    int DWN_FALHASIMP = 0;
};

struct ContextoArquivamento {
    int CodigoPABX = 0;
    std::filesystem::path PastaPABX;       // the unit's working folder (NOK/ lives there)
    ParametrosConexao BaseDadosPABX;       // the unit's database, as the program's user
    ParametrosConexao BaseDadosPrincipal;  // the main database, for the contact lookup
    TabelaALaw Tabela;                     // the run's gain
    bool ErroXML = false;                  // [Veruzadu] ErroXML
    int CifrasNumeroLocal = 8;
    // The current configuration snapshot; read once per filing.
    std::function<std::shared_ptr<const ConfiguracaoGeral>()> Configuracao;
    // The thread log: level, also to the consoles, text.
    std::function<void(std::uint16_t, bool, const std::string&)> Log;
    // The translator of fixed texts; the identity when empty.
    std::function<std::string(std::string_view)> Traduz;
    // The link's extension lookup by name (0 when none); may be empty.
    std::function<int(std::string_view)> BuscaRamalPorNome;
    std::function<DataHora()> Relogio = Agora;
    FonteAleatoria Aleatorio = BytesAleatorios;
    // Test seam: called with the file to store just before its row is
    // written, so a test can make it vanish or unreadable at that moment.
    std::function<void(const std::filesystem::path&)> AntesDeGravar;
};

class ArquivamentoGravacao final {
  public:
    explicit ArquivamentoGravacao(ContextoArquivamento contexto);
    ~ArquivamentoGravacao();
    ArquivamentoGravacao(const ArquivamentoGravacao&) = delete;
    ArquivamentoGravacao& operator=(const ArquivamentoGravacao&) = delete;

    // Files pasta/nome (the WAV file; it need not exist when only its
    // description came). Adds what it did to `contadores`.
    int Registra(const std::filesystem::path& pasta, const std::string& nome,
                 ContadoresArquivamento& contadores);

    // The steps, also reachable on their own. Each logs as the filing does.
    // Reads wav's description (".XML" beside it) into d; answers false when it
    // should count as a failed description. `resultado` receives the detail.
    bool LeXMLGravacao(const std::filesystem::path& wav, DadosGravacao& d,
                       ResultadoXML* resultado = nullptr);
    bool ConverteALawPCM(const std::filesystem::path& origem, const std::filesystem::path& destino);
    // pasta/nome (PCM WAV) to pasta/<nome with ".ogg">.
    bool ConverteOGG(const std::filesystem::path& pasta, const std::string& nome);
    // pasta/nome to pasta/<nome with ".dad">, keyed by the ciphered key text.
    bool CriptografaArquivo(const std::filesystem::path& pasta, const std::string& nome,
                            std::string_view chaveCifrada);
    // A ".dad" file to the same path with the plain type's extension; the key
    // text is the row's GRV_CONTROLE (first 30 characters used).
    bool DescriptografaArquivo(int tipo, std::string_view chaveCifrada,
                               const std::filesystem::path& dad);
    // Contact code of a phone number in the main database; 0 when none.
    int BDBuscaCliente(const std::string& numero, std::string_view ddd);

    // The link's extension lookup for the filings that follow (may be empty).
    void DefineBuscaRamal(std::function<int(std::string_view)> busca) {
        ctx_.BuscaRamalPorNome = std::move(busca);
    }
    int Ganho() const { return ctx_.Tabela.Ganho(); }

    // Where working outputs are written before they are renamed into place.
    static constexpr std::string_view PrefixoPastaPrivada = ".arquivando-";

  private:
    std::string T(std::string_view texto) const;
    void Log(std::uint16_t nivel, bool console, const std::string& texto) const;
    const std::filesystem::path& PastaPrivada();
    // Writes `destino` through `gera` (which writes the path it is given) in the
    // private folder, then renames it into place. Throws on failure.
    void Produz(const std::filesystem::path& destino,
                const std::function<void(const std::filesystem::path&)>& gera);
    // A copy under PastaPABX/NOK keeping the file's last `partes` path parts.
    void CopiaNOK(const std::filesystem::path& arquivo, int partes);
    Attachment& ConexaoUnidade();

    ContextoArquivamento ctx_;
    std::filesystem::path privada_;
    std::optional<Attachment> unidade_;
    std::optional<Attachment> principal_;
};

// Text as a WIN1252 column stores it: characters outside the set become '?',
// then cut to `largura` characters.
std::string TextoColuna(std::string_view texto, std::size_t largura);
// "GR101024\X0001001\R0000001.WAV": the file's last three path parts joined by
// backslashes, at most 30 characters.
std::string IdArquivo(const std::filesystem::path& arquivo);
