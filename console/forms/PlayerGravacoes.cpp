#include "console/forms/PlayerGravacoes.h"

#include <QLabel>
#include <QSlider>
#include <QToolButton>

#include "console/Gravacoes.h"
#include "console/forms/ContextoConsole.h"
#include "console/forms/FormGravacoes.h"

PlayerGravacoes::PlayerGravacoes(FormGravacoes& form, ContextoConsole& ctx,
                                 SaidaAudio::FabricaDispositivo fabrica)
    : form_(form), ctx_(ctx) {
    GradeReproducao grade;
    grade.MarcaSemArquivo = MarcaSemArquivo();
    grade.MarcaSemAudio = MarcaSemAudio();
    grade.ProximaLinhaSelecionada = [this](int linha) {
        return form_.Modelo().ProximaLinhaSelecionada(linha);
    };
    grade.Linha = [this](int linha) {
        LinhaReproducao r;
        ModeloGravacoes& m = form_.Modelo();
        const LinhaGravacao* l = m.Linha(linha - 1);
        if (!l) return r;
        auto celula = [&](int coluna) {
            return m.data(m.index(linha - 1, coluna), Qt::DisplayRole).toString().toStdString();
        };
        r.codigo = std::to_string(l->codigo);
        r.data = celula(ModeloGravacoes::ColData);
        r.ramal = celula(ModeloGravacoes::ColRamal);
        r.telefone = celula(ModeloGravacoes::ColTelefone);
        r.duracao = l->Duracao();
        return r;
    };
    grade.Recarga = [this](bool ativa) {
        // A recording filed while one played still reloads the list once
        // the player rests: the event that came meanwhile is kept.
        const bool evento = ctx_.dados.EventoGravacao;
        form_.LigaRecarga(ativa);
        if (ativa) ctx_.dados.EventoGravacao = evento;
    };
    reprodutor_ = std::make_unique<ReprodutorGravacoes>(
        ctx.dados, ctx.mensagens,
        [&ctx](int operacao, const std::string& detalhe) {
            return ctx.RegistraHistorico && ctx.RegistraHistorico(operacao, detalhe);
        },
        std::move(grade), std::move(fabrica));
    reprodutor_->AoMudar = [this] { Mostra(); };
    QObject::connect(form_.TrackSound, &QSlider::sliderMoved, form_.TrackSound, [this](int v) {
        form_.TrackSound->setToolTip(QString::fromStdString(reprodutor_->DicaTrilha(v)));
    });
    ctx_.ReconectaPlayer = [this] { reprodutor_->AposReconexao(); };
    // Made now, so a console that ends (or is ended) leaves none behind; a
    // failure here is met again, and said, by the first playback.
    try {
        reprodutor_->Pasta().Caminho();
    } catch (const std::exception&) {
    }
}

PlayerGravacoes::~PlayerGravacoes() {
    ctx_.ReconectaPlayer = nullptr;
    reprodutor_->AoMudar = nullptr;
}

void PlayerGravacoes::TrackSoundMouseUp() { reprodutor_->SoltaTrilha(form_.TrackSound->value()); }

void PlayerGravacoes::Mostra() {
    const ControlesPlayer& c = reprodutor_->Controles();
    form_.btnPlay->setEnabled(c.play);
    form_.btnStop->setEnabled(c.stop);
    form_.btnForward->setEnabled(c.forward);
    form_.btnRewind->setEnabled(c.rewind);
    form_.btnPlay->setText(QString::fromUtf8(c.figura == FiguraPlay::PauseNormal ? "❚❚" : "▶"));
    form_.btnPlay->setDown(c.figura == FiguraPlay::PlayPress);
    if (c.figura == FiguraPlay::PlayPress) form_.btnPlay->repaint();
    form_.TrackSound->setEnabled(c.trilha);
    form_.TrackSound->setRange(0, c.trilhaMaximo);
    if (!form_.TrackSound->isSliderDown()) form_.TrackSound->setValue(c.trilhaPosicao);
    form_.LabelTrackIni->setText(QString::fromStdString(c.tempoInicio));
    // The list also writes the total time when a row is clicked: only a
    // change made by the player is shown over it.
    if (c.tempoFim != fimMostrado_) {
        fimMostrado_ = c.tempoFim;
        form_.LabelTrackFim->setText(QString::fromStdString(c.tempoFim));
    }
    form_.Modelo().DefineLinhaTocando(reprodutor_->LinhaTocando());
}
