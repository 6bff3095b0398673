#include "service/InstalacaoServico.h"

#include <fstream>
#include <istream>
#include <ostream>
#include <sstream>

#include "common/Processos.h"
#include "common/ServiceControl.h"

namespace {

bool SystemdAtivo() {
    std::error_code ec;
    return std::filesystem::is_directory("/run/systemd/system", ec);
}

int Systemctl(const std::string& acao, const std::string& unidade = "") {
    std::vector<std::string> args{"systemctl", acao};
    if (!unidade.empty()) args.push_back(unidade);
    return ExecutaEAguarda(args);
}

std::filesystem::path ArquivoUnidade(const OpcoesUnidadeServico& o) {
    return o.pastaUnidades / (std::string(kNomeServico) + ".service");
}

// systemd unquotes Environment= values; quote and escape so any folder name survives.
std::string EntreAspas(const std::string& s) {
    std::string r = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') r += '\\';
        if (c == '%') r += '%';
        r += c;
    }
    return r + "\"";
}

// An ExecStart= word: quoted, so blanks stay inside it; "%" would start a
// specifier and is doubled.
std::string PalavraComando(const std::string& s) {
    std::string r = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') r += '\\';
        if (c == '%') r += '%';
        r += c;
    }
    return r + "\"";
}

}  // namespace

bool FirebirdInstalado() {
    std::error_code ec;
    for (const char* p : {"/usr/sbin/firebird", "/lib/systemd/system/firebird3.0.service",
                          "/etc/systemd/system/firebird3.0.service", "/etc/init.d/firebird3.0"})
        if (std::filesystem::exists(p, ec)) return true;
    return false;
}

std::string TextoUnidade(const OpcoesUnidadeServico& o) {
    std::ostringstream u;
    u << "[Unit]\n"
      << "Description=" << kNomeExibicaoServico << "\n";
    // After= alone orders but does not pull the network-online target in.
    if (o.dependeFirebird)
        u << "Wants=network-online.target firebird3.0.service\n"
          << "After=network-online.target firebird3.0.service\n";
    else
        u << "Wants=network-online.target\n"
          << "After=network-online.target\n";
    u << "\n[Service]\n"
      << "Type=simple\n"
      << "ExecStart=" << PalavraComando(o.executavel.string()) << "\n";
    if (!o.pastaPrograma.empty())
        u << "Environment=" << EntreAspas("VERUZADU_HOME=" + o.pastaPrograma) << "\n";
    u << "Restart=on-failure\n"
      << "RestartSec=30\n"
      // Exit code 3: the loop ended on a restore that cannot run; a restart
      // would only repeat it.
      << "RestartPreventExitStatus=3\n"
      // A database restore runs inside a stop request's pass: give it room.
      << "TimeoutStopSec=2h\n"
      << "KillSignal=SIGTERM\n"
      << "\n[Install]\n"
      << "WantedBy=multi-user.target\n";
    return u.str();
}

int InstalaServico(OpcoesUnidadeServico o, std::istream& entrada, std::ostream& saida) {
    if (o.dependeFirebird && !FirebirdInstalado()) {
        saida << "O Serviço de Gravação depende do Firebird, o qual não foi detectado.\n\n"
              << "Deseja remover esta verificação de dependência ? [s/N] " << std::flush;
        std::string resposta;
        std::getline(entrada, resposta);
        if (!resposta.empty() &&
            (resposta[0] == 's' || resposta[0] == 'S' || resposta[0] == 'y' || resposta[0] == 'Y'))
            o.dependeFirebird = false;
        saida << "\n";
    }
    const auto destino = ArquivoUnidade(o);
    std::error_code ec;
    std::filesystem::create_directories(o.pastaUnidades, ec);
    const auto temp = destino.string() + ".tmp";
    {
        std::ofstream f(temp, std::ios::trunc);
        f << TextoUnidade(o);
        if (!f) {
            saida << "Não foi possível gravar " << destino.string() << "\n";
            return 1;
        }
    }
    std::filesystem::rename(temp, destino, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        saida << "Não foi possível gravar " << destino.string() << ": " << ec.message() << "\n";
        return 1;
    }
    saida << "Unidade gravada: " << destino.string() << "\n";
    if (SystemdAtivo() && o.pastaUnidades == "/etc/systemd/system") {
        Systemctl("daemon-reload");
        if (Systemctl("enable", std::string(kNomeServico) + ".service") != 0) {
            saida << "systemctl enable falhou\n";
            return 1;
        }
        saida << "Serviço habilitado para iniciar com o sistema.\n";
    } else {
        saida << "systemd não está em execução: a unidade foi apenas gravada.\n";
    }
    return 0;
}

int DesinstalaServico(const OpcoesUnidadeServico& o, std::ostream& saida) {
    const auto destino = ArquivoUnidade(o);
    const bool comSystemd = SystemdAtivo() && o.pastaUnidades == "/etc/systemd/system";
    if (comSystemd) Systemctl("disable", std::string(kNomeServico) + ".service");
    std::error_code ec;
    if (!std::filesystem::remove(destino, ec)) {
        saida << (ec ? "Não foi possível remover " : "Unidade não instalada: ") << destino.string()
              << "\n";
        return ec ? 1 : 0;
    }
    saida << "Unidade removida: " << destino.string() << "\n";
    if (comSystemd)
        Systemctl("daemon-reload");
    else
        saida << "systemd não está em execução: a unidade foi apenas removida.\n";
    return 0;
}
