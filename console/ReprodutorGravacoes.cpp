#include "console/ReprodutorGravacoes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/ArquivoSaida.h"
#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "common/Texto.h"
#include "common/Traducao.h"
#include "common/db/FirebirdError.h"
#include "common/db/OperacaoHistorico.h"
#include "console/ArquivoAudio.h"
#include "console/Gravacoes.h"
#include "console/MDados.h"
#include "console/Mensageiro.h"
#include "console/UtilConsole.h"
#include "console/audio/DispositivoAlsa.h"
#include "console/audio/LeitorVorbis.h"
#include "console/audio/LeitorWav.h"

namespace fs = std::filesystem;

namespace {

const std::string TempoZero = "00:00:00";

// A failure the user is told about as it stands (already translated or a
// system's reason).
struct FalhaReproducao : std::runtime_error {
    using std::runtime_error::runtime_error;
};

SaidaAudio::FabricaDispositivo FabricaPadrao() {
    return [] {
        const ConfiguracaoConsole c = LeConfiguracaoConsole(IniFile(ArquivoVeruzaduIni()));
        return std::make_unique<DispositivoAlsa>(c.DispositivoAudio, c.LatenciaAudio);
    };
}

}  // namespace

ReprodutorGravacoes::ReprodutorGravacoes(MDados& dados, Mensageiro& mensagens, Historico historico,
                                         GradeReproducao grade,
                                         SaidaAudio::FabricaDispositivo fabrica, QObject* pai)
    : QObject(pai), dados_(dados), mensagens_(mensagens), historico_(std::move(historico)),
      grade_(std::move(grade)),
      saida_(std::make_unique<SaidaAudio>(fabrica ? std::move(fabrica) : FabricaPadrao())) {
    saida_->AoTerminar = [this] { Terminou(); };
    saida_->AoErro = [this](const std::string& e) { ErroNaReproducao(e); };
    saida_->AoProgredir = [this](int) {
        controles_.trilhaPosicao = saida_->TempoDecorrido();
        Muda();
    };
    QObject::connect(&timerPlay_, &QTimer::timeout, this, [this] { TimerPlay(); });
}

ReprodutorGravacoes::~ReprodutorGravacoes() {
    timerPlay_.stop();
    saida_->Para(true);
}

void ReprodutorGravacoes::Muda() {
    if (AoMudar) AoMudar();
}

void ReprodutorGravacoes::Play() {
    if (saida_->Status() == SaidaAudio::Estado::Tocando) {
        timerPlay_.stop();
        saida_->Pausa();
        controles_.figura = FiguraPlay::PlayNormal;
        pausado_ = true;
        Muda();
        return;
    }
    if (pausado_) {
        saida_->Continua();
        timerPlay_.start(10);
        controles_.figura = FiguraPlay::PauseNormal;
        pausado_ = false;
        Muda();
        return;
    }
    if (!dados_.BaseConectada()) return;
    if (linhaTocando_ == 0 && grade_.ProximaLinhaSelecionada)
        linhaTocando_ = grade_.ProximaLinhaSelecionada(0);
    if (linhaTocando_ == 0) return;
    TocaLinha(linhaTocando_);
}

void ReprodutorGravacoes::TocaLinha(int linha) {
    const LinhaReproducao l = grade_.Linha(linha);
    std::string aviso;
    if (l.duracao == grade_.MarcaSemArquivo)
        aviso = Traduz("Arquivo de áudio desta ligação não disponível");
    else if (l.duracao == grade_.MarcaSemAudio)
        aviso = Traduz("Não foi capturado áudio nesta ligação");
    else if (l.duracao == TempoZero)
        aviso = Traduz("Não é possível reproduzir arquivo com duração 00:00:00");
    if (!aviso.empty()) {
        linhaTocando_ = 0;
        Descanso();
        mensagens_.Mostra(TipoMensagem::Informacao, aviso);
        return;
    }

    if (grade_.Recarga) grade_.Recarga(false);
    pausado_ = false;
    controles_.figura = FiguraPlay::PlayPress;
    Muda();
    try {
        const std::string codigoTexto = Apara(CortaUtf8(l.codigo, 20));
        int codigo = 0;
        try {
            std::size_t fim = 0;
            codigo = std::stoi(codigoTexto, &fim);
            if (fim != codigoTexto.size() || codigo <= 0) throw std::invalid_argument("");
        } catch (const std::logic_error&) {
            throw FalhaReproducao("Código de gravação inválido: " + codigoTexto);
        }
        const fs::path pasta = pasta_.Caminho();

        // Step 6: the BLOB straight to the private folder, never whole in memory.
        std::string controle;
        int tipo = 0;
        std::uint64_t bytes = 0;
        bool achou = false;
        fs::path arquivo;
        std::unique_ptr<ArquivoSaida> saida;
        dados_.ExecutaPABX([&](Transaction& tr) {
            Statement st(tr, "SELECT GRV_BINDADOS, GRV_CONTROLE, GRV_TPFILE FROM GRAVACAO "
                             "WHERE GRV_CODIGO = ?");
            st.SetInt(0, codigo);
            Cursor c = st.Abre();
            if (!c.Proxima()) return;
            achou = true;
            controle = c.IsNull(1) ? std::string() : CortaUtf8(c.GetText(1), 30);
            tipo = c.IsNull(2) ? 0 : c.GetInt(2);
            if (c.IsNull(0)) return;
            arquivo = pasta / ("G" + std::to_string(codigo) + ExtensaoArquivoAudio(tipo));
            saida = std::make_unique<ArquivoSaida>(arquivo);
            bytes = c.ReadBlob(0, [&](const char* p, std::size_t n) { saida->Escreve(p, n); });
            c.Fecha();
        });
        controles_.tempoFim = l.duracao;
        if (!achou || bytes == 0) {
            // Nothing to play: said once, as for a row without a file.
            saida.reset();
            linhaTocando_ = 0;
            Descanso();
            mensagens_.Mostra(TipoMensagem::Informacao,
                              Traduz("Arquivo de áudio desta ligação não disponível"));
            return;
        }
        saida->Conclui();
        saida.reset();

        // Step 8: decipher beside it, then the reader of the plain type.
        if (tipo & 0x80) {
            fs::path plano = arquivo;
            plano.replace_extension(ExtensaoArquivoAudio(tipo & 0x7F));
            std::string erro;
            if (!DescriptografaArquivo(tipo, controle, arquivo, &erro)) {
                GravaLogConsole("Erro ao descriptografar " + arquivo.filename().string() + ": " +
                                erro);
                throw FalhaReproducao(Traduz("Ocorreu um erro ao processar o arquivo"));
            }
            arquivo = plano;
        }
        std::unique_ptr<LeitorAudio> leitor;
        const std::string extensao = ExtensaoArquivoAudio(tipo & 0x7F);
        if (extensao == ".WAV")
            leitor = std::make_unique<LeitorWav>(arquivo);
        else if (extensao == ".OGG")
            leitor = std::make_unique<LeitorVorbis>(arquivo);
        else
            throw FalhaReproducao(Traduz("Formato de áudio não suportado") + " (" +
                                  extensao.substr(1) + ")");
        controles_.trilhaMaximo = leitor->TempoTotal();
        controles_.trilhaPosicao = 0;
        totalAmostras_ = leitor->TotalAmostras();

        // Step 9: the device opens inside the run, so its failure lands below.
        saida_->Executa(std::move(leitor));
        controles_.trilha = true;
        timerPlay_.start(10);
        controles_.figura = FiguraPlay::PauseNormal;
        controles_.play = controles_.stop = controles_.forward = controles_.rewind = true;
        Muda();
        historico_(Operacao::AcessadoGravacao, l.data + " " + l.ramal + " " + l.telefone);
    } catch (const SemConexaoBD&) {
        Falha(Traduz("Base de dados desconectada"));
    } catch (const FirebirdError& e) {
        Falha(e.ConexaoPerdida() ? Traduz("Base de dados desconectada") : std::string(e.what()));
    } catch (const std::exception& e) {
        Falha(e.what());
    }
}

void ReprodutorGravacoes::Falha(const std::string& motivo) {
    GravaLogConsole("Erro ao executar arquivo de áudio: " + motivo);
    timerPlay_.stop();
    // The run ends here: one box, not one per ticked row.
    linhaTocando_ = 0;
    Descanso();
    mensagens_.Mostra(TipoMensagem::Erro,
                      Traduz("Erro ao executar arquivo de áudio") + "\n" + Traduz(motivo));
}

void ReprodutorGravacoes::Descanso() {
    timerPlay_.stop();
    pausado_ = false;
    controles_.play = true;
    controles_.stop = controles_.forward = controles_.rewind = false;
    controles_.trilha = false;
    controles_.trilhaPosicao = 0;
    controles_.tempoInicio = TempoZero;
    controles_.figura = FiguraPlay::PlayNormal;
    pasta_.Esvazia();
    if (grade_.Recarga) grade_.Recarga(true);
    Muda();
}

void ReprodutorGravacoes::Terminou() {
    saida_->Para(true);
    if (const int n = saida_->Underruns(); n > 0)
        GravaLogConsole("Reprodução de áudio com " + std::to_string(n) +
                        " falta(s) de dados no dispositivo");
    Descanso();
    if (linhaTocando_ > 0) {
        linhaTocando_ =
            grade_.ProximaLinhaSelecionada ? grade_.ProximaLinhaSelecionada(linhaTocando_) : 0;
        if (linhaTocando_ > 0) {
            if (dados_.BaseConectada())
                TocaLinha(linhaTocando_);
            else
                linhaTocando_ = 0;
        }
    }
}

void ReprodutorGravacoes::ErroNaReproducao(const std::string& erro) {
    GravaLogConsole("Erro durante a reprodução de áudio: " + erro);
    linhaTocando_ = 0;  // the run ends; AoTerminar follows and rests the player
    mensagens_.Mostra(TipoMensagem::Erro,
                      Traduz("Erro ao executar arquivo de áudio") + "\n" + Traduz(erro));
}

void ReprodutorGravacoes::Stop() {
    linhaTocando_ = 0;
    saida_->Para(false);
}

void ReprodutorGravacoes::Forward() { saida_->Salta(10); }
void ReprodutorGravacoes::Rewind() { saida_->Salta(-10); }

void ReprodutorGravacoes::SoltaTrilha(int posicao) {
    // Under a second the bar has no range: there is nowhere to move to.
    if (controles_.trilhaMaximo <= 0 || saida_->Status() == SaidaAudio::Estado::Ocioso) return;
    posicao = std::clamp(posicao, 0, controles_.trilhaMaximo);
    controles_.trilhaPosicao = posicao;
    saida_->Posiciona(static_cast<std::uint64_t>(
        std::llround(static_cast<double>(totalAmostras_) * posicao / controles_.trilhaMaximo)));
}

void ReprodutorGravacoes::InterrompeSeAtivo() {
    if (Ativa()) saida_->Para(false);
}

void ReprodutorGravacoes::Reinicia() {
    timerPlay_.stop();
    saida_->Para(true);
    linhaTocando_ = 0;
    pausado_ = false;
    controles_.play = controles_.stop = controles_.forward = controles_.rewind = false;
    controles_.trilha = false;
    controles_.trilhaPosicao = 0;
    controles_.tempoInicio = TempoZero;
    controles_.tempoFim = TempoZero;
    controles_.figura = FiguraPlay::PlayNormal;
    pasta_.Esvazia();
    Muda();
}

void ReprodutorGravacoes::HabilitaPlay(bool habilita) {
    controles_.play = habilita;
    Muda();
}

void ReprodutorGravacoes::MostraDuracao(const std::string& duracao) {
    controles_.tempoFim = duracao;
    Muda();
}

void ReprodutorGravacoes::AposReconexao() {
    pausado_ = false;
    controles_.play = true;
    controles_.figura = FiguraPlay::PlayNormal;
    Muda();
}

void ReprodutorGravacoes::TimerPlay() {
    timerPlay_.setInterval(1000);
    if (saida_->Status() == SaidaAudio::Estado::Tocando) {
        controles_.tempoInicio = SegundosParaHora(saida_->TempoDecorrido());
        Muda();
    }
}

bool ReprodutorGravacoes::Ativa() const {
    return pausado_ || saida_->Status() != SaidaAudio::Estado::Ocioso;
}

std::string ReprodutorGravacoes::DicaTrilha(int posicao) const { return SegundosParaHora(posicao); }
