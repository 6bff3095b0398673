#include "console/ServicoConsole.h"

#include <grp.h>
#include <unistd.h>

#include <QMetaObject>
#include <algorithm>

#include "console/PostaEm.h"
#include "common/Traducao.h"

ExibicaoServico ExibeEstadoServico(EstadoServico e) {
    switch (e) {
        case EstadoServico::Executando:
            return {Traduz("Em execução"), "status_emexecucao", false, true};
        case EstadoServico::NaoInstalado:
            return {Traduz("Não instalado"), "status_naoinstalado", false, false};
        default: return {Traduz("Parado"), "status_parado", true, false};
    }
}

bool PodeControlarServico(unsigned uidEfetivo, const std::vector<std::string>& grupos,
                          const std::string& grupoServico) {
    if (uidEfetivo == 0) return true;
    if (grupoServico.empty()) return false;
    return std::find(grupos.begin(), grupos.end(), grupoServico) != grupos.end();
}

std::vector<std::string> GruposDoProcesso() {
    std::vector<gid_t> ids{getegid()};
    const int n = getgroups(0, nullptr);
    if (n > 0) {
        std::vector<gid_t> sup(static_cast<std::size_t>(n));
        const int m = getgroups(n, sup.data());
        if (m > 0) ids.insert(ids.end(), sup.begin(), sup.begin() + m);
    }
    std::vector<std::string> nomes;
    for (gid_t id : ids) {
        group g{};
        group* r = nullptr;
        std::vector<char> buf(16384);
        if (getgrgid_r(id, &g, buf.data(), buf.size(), &r) == 0 && r)
            nomes.emplace_back(r->gr_name);
    }
    return nomes;
}

ControleServicoConsole::ControleServicoConsole(std::unique_ptr<ServiceControl> backend,
                                               QObject* contexto)
    : backend_(std::move(backend)), contexto_(contexto), temContexto_(contexto != nullptr) {
    leitor_ = std::thread([this] { Leitura(); });
}

ControleServicoConsole::~ControleServicoConsole() {
    {
        std::lock_guard<std::mutex> l(trava_);
        fim_ = true;
    }
    cv_.notify_all();
    if (leitor_.joinable()) leitor_.join();
    if (trabalho_.joinable()) trabalho_.join();
}

void ControleServicoConsole::Leitura() {
    std::unique_lock<std::mutex> l(trava_);
    while (!fim_) {
        l.unlock();
        {
            std::lock_guard<std::mutex> b(travaBackend_);
            estado_ = backend_->Consulta();
        }
        l.lock();
        cv_.wait_for(l, std::chrono::seconds(1), [this] { return fim_; });
    }
}

bool ControleServicoConsole::Executa(bool iniciar,
                                     std::function<void(bool, const std::string&)> fim) {
    if (ocupado_->exchange(true)) return false;
    if (trabalho_.joinable()) trabalho_.join();
    // The end stays here, on the main thread: whatever it holds (the
    // window's state, this object's owner) is never let go by the worker.
    aoTerminar_ = std::move(fim);
    trabalho_ = std::thread([this, iniciar] {
        std::string erro;
        bool ok = false;
        {
            std::lock_guard<std::mutex> b(travaBackend_);
            ok = iniciar ? backend_->Inicia(erro) : backend_->Para(erro);
            estado_ = backend_->Consulta();
        }
        // receptor_ outlives this thread (the destructor joins it first).
        PostaEm(receptor_.get(), [this, ok, erro] {
            *ocupado_ = false;
            auto aviso = std::move(aoTerminar_);
            aoTerminar_ = nullptr;
            if (temContexto_ && !contexto_) return;
            if (aviso) aviso(ok, erro);
        });
    });
    return true;
}
