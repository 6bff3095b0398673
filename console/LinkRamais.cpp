#include "console/LinkRamais.h"

#include <QEventLoop>
#include <algorithm>

#include "console/ConfigRamais.h"
#include "console/EdicaoConfigRamal.h"
#include "console/MDados.h"
#include "console/TrabalhadorPassos.h"
#include "console/UtilConsole.h"

namespace {

// The worker's question to a state machine.
template <class Estado> TrabalhadorPassos::Acao Pergunta(Estado& e) {
    if (e.Verifica()) return TrabalhadorPassos::Acao::EnviaNaPrincipal;
    return e.Terminou() ? TrabalhadorPassos::Acao::Termina : TrabalhadorPassos::Acao::Aguarda;
}

}  // namespace

LinkRamais::LinkRamais(MDados& dados, std::string nomeLog)
    : dados_(dados), nomeLog_(std::move(nomeLog)) {}

LinkRamais::~LinkRamais() {
    // The worker first: it may be waiting for a main-thread step.
    trabalhador_.reset();
    leitura_.reset();
    pabx_.reset();
}

void LinkRamais::PreparaLink(int codigo, bool comListaRamais) {
    pabx_ = std::make_unique<TPABX>(ModoPABX::Console);
    try {
        if (comListaRamais) pabx_->FListaRamais = LeListaRamaisConfigurados(dados_, codigo);
        const DadosLinkPABX d = LeDadosLinkPABX(dados_, codigo);
        pabx_->FEnderecoIP = d.endereco;
        pabx_->FPorta = d.porta;
        pabx_->FSenha = d.senha;
    } catch (const std::exception& e) {
        // The connection step then fails and says so.
        GravaLogConsole(nomeLog_ + ": " + e.what());
    }
}

void LinkRamais::IniciaLeitura(int codigo, bool soNomes, int limiteConexao,
                               std::function<void(int feitos, int total)> aoPasso,
                               std::function<void(const FimLeitura&)> aoTerminar) {
    if (executando_) return;
    executando_ = true;
    // The last run's worker (already joined) goes only now.
    trabalhador_.reset();
    PreparaLink(codigo, false);
    leitura_ = std::make_unique<EstadoLeitura>(*pabx_, soNomes, relogio);
    if (limiteConexao > 0)
        leitura_->TempoLimiteConexao = std::min(limiteConexao, leitura_->TempoLimite);
    leitura_->Registra = [](const std::string& linha) { GravaLogConsole(linha); };
    EstadoLeitura* estado = leitura_.get();
    trabalhador_ = std::make_unique<TrabalhadorPassos>(
        [estado] { return Pergunta(*estado); },
        [this, aoPasso = std::move(aoPasso)] {
            leitura_->Envia();
            if (aoPasso) aoPasso(leitura_->Progresso(), leitura_->ProgressoMaximo());
            if (leitura_->Terminou()) pabx_->Desconecta();
        },
        [this, codigo, soNomes, aoTerminar = std::move(aoTerminar)] {
            TerminaLeitura(codigo, soNomes, aoTerminar);
        });
    trabalhador_->Inicia();
}

void LinkRamais::TerminaLeitura(int codigo, bool soNomes,
                                const std::function<void(const FimLeitura&)>& aoTerminar) {
    FimLeitura fim;
    fim.marca = leitura_->Estado();
    pabx_->Desconecta();
    fim.mensagem = EstadoLeitura::MensagemFim(fim.marca);
    if (fim.marca == MarcaConcluido) {
        try {
            GravaLeituraPABX(dados_, codigo, leitura_->Resultado(), soNomes);
            // The flag says the copy is current: only when the groups follow it.
            if (dados_.AtualizaRamaisGrupos(codigo)) dados_.LimpaDNSUpdate(codigo);
        } catch (const std::exception& e) {
            GravaLogConsole(nomeLog_ + ": " + e.what());
            fim.mensagem = "Não foi possível gravar os ramais lidos do PABX";
            fim.erroGravacao = e.what();
        }
    }
    // The objects go; the worker (already joined) stays until the next run.
    leitura_.reset();
    pabx_.reset();
    executando_ = false;
    if (aoTerminar) aoTerminar(fim);
}

std::uint8_t
LinkRamais::Programa(int codigo, std::vector<EntradaProgramacao> fila,
                     std::vector<std::string> autorizados,
                     const std::function<void(const std::string& ramal)>& aoEnviarRamal) {
    if (executando_) return 0;
    executando_ = true;
    trabalhador_.reset();
    PreparaLink(codigo, true);
    EstadoProgramacao estado(*pabx_, std::move(fila), std::move(autorizados), relogio);
    QEventLoop espera;
    bool terminou = false;
    {
        TrabalhadorPassos trabalhador([&estado] { return Pergunta(estado); },
                                      [this, &estado, &aoEnviarRamal] {
                                          estado.Envia();
                                          if (estado.Estado() == ppAguardaPalavra && aoEnviarRamal)
                                              aoEnviarRamal(estado.NomeRamalAtual());
                                          if (estado.Terminou()) pabx_->Desconecta();
                                      },
                                      [&] {
                                          terminou = true;
                                          espera.quit();
                                      });
        trabalhador.Inicia();
        if (!terminou) espera.exec(QEventLoop::ExcludeUserInputEvents);
    }
    pabx_->Desconecta();
    pabx_.reset();
    executando_ = false;
    return estado.Estado();
}
