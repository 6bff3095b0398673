#pragma once
// The recordings window's player: binds ReprodutorGravacoes (the play logic)
// to FormGravacoes' controls and list. The window's handlers call it through
// ReproducaoGravacoes; the logic's state is shown on the window's buttons,
// track bar and labels whenever it changes; the rows come from the window's
// model, and the reload timer is the window's.
//
// The console's private folder is made when the player is (at program
// start) and removed with it. Owned by the window (FormGravacoes::Reproducao);
// it also answers the main
// window's step after a reconnection (ContextoConsole::ReconectaPlayer) while
// it lives. Main thread only.

#include <memory>
#include <string>

#include "console/ReproducaoGravacoes.h"
#include "console/ReprodutorGravacoes.h"

class FormGravacoes;
struct ContextoConsole;

class PlayerGravacoes final : public ReproducaoGravacoes {
  public:
    // `fabrica`: the output device of each playback; empty for the ALSA
    // device of VERUZADU.INI.
    PlayerGravacoes(FormGravacoes& form, ContextoConsole& ctx,
                    SaidaAudio::FabricaDispositivo fabrica = {});
    ~PlayerGravacoes() override;

    void btnPlayClick() override { reprodutor_->Play(); }
    void btnStopClick() override { reprodutor_->Stop(); }
    void btnForwardClick() override { reprodutor_->Forward(); }
    void btnRewindClick() override { reprodutor_->Rewind(); }
    void TrackSoundMouseUp() override;
    void TimerPlayTimer() override { reprodutor_->TimerPlay(); }
    bool Ativa() const override { return reprodutor_->Ativa(); }
    void Interrompe() override { reprodutor_->InterrompeSeAtivo(); }
    void Encerra() override { reprodutor_->Reinicia(); }

    ReprodutorGravacoes& Reprodutor() { return *reprodutor_; }

  private:
    void Mostra();

    FormGravacoes& form_;
    ContextoConsole& ctx_;
    std::unique_ptr<ReprodutorGravacoes> reprodutor_;
    std::string fimMostrado_;
};
