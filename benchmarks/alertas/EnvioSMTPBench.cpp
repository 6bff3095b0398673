// Alert e-mails per second through the SMTP client to a local sink
// (scripts/smtp-sink), in clear and over STARTTLS, and the cost of building a
// message's text. The sink runs for the whole program and is stopped by pid.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "service/ClienteSMTP.h"
#include "service/MensagemEmail.h"

namespace {

const std::string kScript = std::string(VERUZADU_SOURCE_DIR) + "/scripts/smtp-sink";

struct Sink {
    std::string dir;
    int porta = 0;
    std::string ca;
    explicit Sink(const std::string& modo) {
        char modelo[] = "/tmp/bench-smtp-XXXXXX";
        dir = ::mkdtemp(modelo);
        if (std::system(
                ("'" + kScript + "' start " + dir + " --mode " + modo + " >/dev/null").c_str()) ==
            0)
            std::ifstream(dir + "/smtp-sink.port") >> porta;
        ca = dir + "/tls/ca.pem";
    }
    ~Sink() {
        [[maybe_unused]] int r = std::system(("'" + kScript + "' stop " + dir).c_str());
        r = std::system(("rm -rf " + dir).c_str());
    }
};

MensagemSMTP Mensagem() {
    MensagemSMTP m;
    m.Remetente = "gravacao@x.test";
    m.Para = {"a@x.test", "b@x.test"};
    m.Cabecalhos = {"From: " + EnderecoCabecalho("Gravação", "gravacao@x.test"),
                    "To: a@x.test, b@x.test",
                    "Subject: " + TextoCabecalho("Alerta Serviço de Gravação")};
    m.Corpo = CorpoEmail({"", "Esta é uma mensagem automática do Serviço de Gravação", "",
                          "10/03/2026 08:05:09", "PABX 007: falha no download"});
    return m;
}

void Envia(benchmark::State& state, const char* modo, SegurancaSMTP seguranca) {
    Sink sink(modo);
    if (sink.porta == 0) {
        state.SkipWithError("sink did not start");
        return;
    }
    ContaSMTP conta;
    conta.Servidor = "127.0.0.1";
    conta.Porta = static_cast<std::uint16_t>(sink.porta);
    conta.Seguranca = seguranca;
    OpcoesSMTP opcoes;
    opcoes.ArquivoCA = sink.ca;
    const MensagemSMTP m = Mensagem();
    for (auto _ : state) {
        const auto r = EnviaSMTP(conta, opcoes, m, {}, {});
        if (r.etapa != ResultadoSMTP::Etapa::Enviado) {
            state.SkipWithError(r.mensagem.c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_EnviaSemTLS(benchmark::State& state) { Envia(state, "plain", SegurancaSMTP::Nenhuma); }
void BM_EnviaSTARTTLS(benchmark::State& state) { Envia(state, "starttls", SegurancaSMTP::Exigida); }

void BM_MontaMensagem(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(Mensagem());
}

}  // namespace

BENCHMARK(BM_EnviaSemTLS)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EnviaSTARTTLS)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MontaMensagem)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
