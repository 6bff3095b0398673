#pragma once
// How the recordings window's player plugs in. The window (FormGravacoes)
// owns the player's controls and the list; the player is an object behind
// this interface, installed once after the window is made:
//
//   formGravacoes->Reproducao = std::make_unique<Player>(*formGravacoes, ctx);
//
// The window calls it from its handlers (main thread only) and never plays
// anything itself; without a player the play controls do nothing. What the
// player needs from the window is public on FormGravacoes: the controls
// (btnPlay, btnStop, btnForward, btnRewind, TrackSound, LabelTrackIni,
// LabelTrackFim, TimerPlay), the list model (Modelo(): ProximaLinhaSelecionada,
// LinhasMarcadas, DefineLinhaTocando, the row cells), CodigoSelecionado,
// LigaRecarga(bool) for the reload timer, and UnidadeConectada(), which each
// action must check first (the connected unit is the one shown).

class ReproducaoGravacoes {
  public:
    virtual ~ReproducaoGravacoes() = default;

    // btnPlay: plays, pauses or resumes (the run over the ticked rows).
    virtual void btnPlayClick() = 0;
    // btnStop: ends the run; the player returns to rest.
    virtual void btnStopClick() = 0;
    // btnForward / btnRewind: Jump(+10) / Jump(-10) thousandths.
    virtual void btnForwardClick() = 0;
    virtual void btnRewindClick() = 0;
    // The track bar was released at TrackSound->value().
    virtual void TrackSoundMouseUp() = 0;
    // TimerPlay fired.
    virtual void TimerPlayTimer() = 0;
    // Playing or paused by the user.
    virtual bool Ativa() const = 0;
    // A grid cell or check box was clicked while active: stop without
    // waiting; the end of playback goes on with the run as usual.
    virtual void Interrompe() = 0;
    // Show, search, clear and close: stop and wait, not paused, the private
    // temporary folder emptied, the controls at rest.
    virtual void Encerra() = 0;
};
