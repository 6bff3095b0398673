#pragma once
// The recordings window's player: the logic behind its play, stop, forward
// and rewind buttons, its track bar and time labels. It plays the grid's
// rows one at a time and then, without further clicks, every ticked row
// below the one played: the recording's BLOB is written to the console's
// private folder, deciphered when it is stored encrypted, and played through
// SaidaAudio on the device of [AudioOutput] Device / Latency.
//
// What a playback could not do is said once, in one box: a row without a
// file or audio, an empty BLOB, a file that cannot be read or deciphered, a
// format without a reader (MP3), a device that cannot be opened. In all of
// those nothing plays, no history row is written, the player is back at rest
// and the list's reload runs again. A history row (20) is written only for a
// playback that really started.
//
// The window keeps no logic: it shows Controles() whenever AoMudar is called,
// forwards its buttons and track bar to the methods below, and hands in what
// the player needs of the list (the functions of GradeReproducao).
//
// Main thread only; the output's events arrive there. Owned by the
// recordings window; must outlive nothing it was given (MDados, the message
// boxes and the history writer outlive it). Nothing here throws.

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "console/PastaPrivada.h"
#include "console/audio/SaidaAudio.h"

class MDados;
class Mensageiro;

// The cells of one grid row that the player reads.
struct LinhaReproducao {
    std::string codigo;  // column 0, GRV_CODIGO
    std::string data;    // "dd/mm/yy hh:nn:ss"
    std::string ramal;
    std::string telefone;
    std::string duracao;  // "hh:mm:ss", or one of the list's markers
};

// What the player asks of the list. Rows are numbered from 1; 0 is none.
struct GradeReproducao {
    // The first ticked row after `linha` (0: from the top); 0 when none.
    std::function<int(int linha)> ProximaLinhaSelecionada;
    std::function<LinhaReproducao(int linha)> Linha;
    // The list's 5-second reload after database events: off while a
    // recording plays, on again at rest.
    std::function<void(bool ativa)> Recarga;
    // The duration cell's markers of rows without a file and without audio.
    std::string MarcaSemArquivo;
    std::string MarcaSemAudio;
};

enum class FiguraPlay { PlayNormal, PauseNormal, PlayPress };

// The player's controls as the window shows them.
struct ControlesPlayer {
    bool play = false;
    bool stop = false;
    bool forward = false;
    bool rewind = false;
    bool trilha = false;
    int trilhaMaximo = 100;
    int trilhaPosicao = 0;
    std::string tempoInicio = "00:00:00";  // LabelTrackIni
    std::string tempoFim = "00:00:00";     // LabelTrackFim
    FiguraPlay figura = FiguraPlay::PlayNormal;
};

class ReprodutorGravacoes final : public QObject {
  public:
    using Historico = std::function<bool(int operacao, const std::string& detalhe)>;

    // `fabrica` makes the output device for each playback; empty: ALSA on
    // [AudioOutput] Device of VERUZADU.INI (read at each playback).
    ReprodutorGravacoes(MDados& dados, Mensageiro& mensagens, Historico historico,
                        GradeReproducao grade, SaidaAudio::FabricaDispositivo fabrica = {},
                        QObject* pai = nullptr);
    ~ReprodutorGravacoes() override;

    const ControlesPlayer& Controles() const { return controles_; }
    std::function<void()> AoMudar;

    // --- The window's events ---------------------------------------------
    void Play();     // play button: pause, resume, or start the run
    void Stop();     // ends the run; the playback stops and the player rests
    void Forward();  // a hundredth of the recording forward
    void Rewind();   // a hundredth back
    // The track bar released at `posicao` (seconds): the playback moves there.
    void SoltaTrilha(int posicao);
    std::string DicaTrilha(int posicao) const;
    // Ticking a row or clicking a cell while a recording plays or is paused:
    // stops it; the run (if any) goes on with the next ticked row.
    void InterrompeSeAtivo();
    // Show, search, clear, close: stops and waits, back to rest, the run
    // cleared and the private folder emptied.
    void Reinicia();
    // The play button's enabling by the list (a row is ticked or not).
    void HabilitaPlay(bool habilita);
    // Shows a row's duration (or "00:00:00" for a marker) as the total time.
    void MostraDuracao(const std::string& duracao);
    // After the main connection came back: play enabled, not paused.
    void AposReconexao();

    // TimerPlay: the elapsed time label, 10 ms after a start or resume and
    // then every second.
    void TimerPlay();

    bool Pausado() const { return pausado_; }
    // Playing, or paused by the user.
    bool Ativa() const;
    int LinhaTocando() const { return linhaTocando_; }
    SaidaAudio& Saida() { return *saida_; }
    PastaPrivada& Pasta() { return pasta_; }

  private:
    // Steps 3-10 of a play for grid row `linha`.
    void TocaLinha(int linha);
    // The playback could not start: one box, rest, reload on.
    void Falha(const std::string& motivo);
    // Back to rest: controls, timer, folder; the reload on.
    void Descanso();
    void Terminou();
    void ErroNaReproducao(const std::string& erro);
    void Muda();

    MDados& dados_;
    Mensageiro& mensagens_;
    Historico historico_;
    GradeReproducao grade_;
    PastaPrivada pasta_;
    std::unique_ptr<SaidaAudio> saida_;
    QTimer timerPlay_;
    ControlesPlayer controles_;
    bool pausado_ = false;
    int linhaTocando_ = 0;
    std::uint64_t totalAmostras_ = 0;
};
