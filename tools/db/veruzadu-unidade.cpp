// veruzadu-unidade: registers a PABX unit in the main database (its PABX row
// and a download window), as the console's unit form would, so that the
// recording service downloads from it. Used by the run command to put the
// simulated units in place, and by hand to point a unit at a real PABX.
// Run it again and the row is brought to the values given.
//
// The link password and the FTP password are read from the environment
// (VERUZADU_PABX_PASSWORD, VERUZADU_FTP_PASSWORD), never from the command
// line, which every user of the machine can read; they are stored ciphered
// as the service reads them. It connects as the program's database user.
//
// `--list` prints every registered unit, one a line: code, description and
// address separated by tabs. `--forget N` removes unit N's row and its
// download windows (its database stays). The run command uses both to keep
// to the units it registered itself.

#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

#include "common/CifraTexto.h"
#include "common/db/Firebird.h"
#include "common/db/FirebirdError.h"
#include "common/db/Instalacao.h"

namespace {

void Uso() {
    std::cerr
        << "uso: veruzadu-unidade --unit N --address IP --link-port N [--ftp-port N] [--ftp-user "
           "USER]\n"
           "         [--description TEXTO] [--window HH:MM-HH:MM] [--server HOST] [--port N]\n"
           "         [--alias NOME]\n"
           "       veruzadu-unidade --list | --forget N [--server HOST] [--port N] [--alias NOME]\n"
           "       senhas em VERUZADU_PABX_PASSWORD e VERUZADU_FTP_PASSWORD\n";
}

std::string Ambiente(const char* nome) {
    const char* v = std::getenv(nome);
    return v ? v : "";
}

}  // namespace

int main(int argc, char** argv) {
    OpcoesInstalacao o;  // the program's user and the default alias
    int unidade = 0, portaLink = 0, portaFTP = 21;
    std::string endereco, usuarioFTP, descricao, janela = "00:00-";
    bool lista = false;
    int esquece = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--list") {
            lista = true;
            continue;
        }
        if (i + 1 >= argc) {
            Uso();
            return 2;
        }
        const std::string v = argv[++i];
        try {
            if (a == "--unit")
                unidade = std::stoi(v);
            else if (a == "--forget")
                esquece = std::stoi(v);
            else if (a == "--address")
                endereco = v;
            else if (a == "--link-port")
                portaLink = std::stoi(v);
            else if (a == "--ftp-port")
                portaFTP = std::stoi(v);
            else if (a == "--ftp-user")
                usuarioFTP = v;
            else if (a == "--description")
                descricao = v;
            else if (a == "--window")
                janela = v;
            else if (a == "--server")
                o.servidor = v;
            else if (a == "--port")
                o.porta = std::stoi(v);
            else if (a == "--alias")
                o.alias = v;
            else {
                Uso();
                return 2;
            }
        } catch (const std::logic_error&) {
            Uso();
            return 2;
        }
    }
    if (lista || esquece != 0) {
        if (esquece != 0 && (esquece < 1 || esquece > 999)) {
            Uso();
            return 2;
        }
        try {
            Attachment att = Attachment::Conecta(
                {MontaStringConexao(o.servidor, o.porta, o.alias), o.usuario, o.senha});
            Transaction tr(att);
            if (lista) {
                Statement st(
                    tr,
                    "SELECT PAB_CODIGO, COALESCE(PAB_DESCRICAO, ''), COALESCE(PAB_KELVENDERIP, '') "
                    "FROM PABX ORDER BY PAB_CODIGO");
                auto c = st.Abre();
                while (c.Proxima())
                    std::cout << c.GetInt(0) << '\t' << c.GetText(1) << '\t' << c.GetText(2)
                              << '\n';
            } else {
                Statement janelas(tr, "DELETE FROM DOWNPABX WHERE PAB_CODIGO = ?");
                janelas.SetInt(0, esquece).Executa();
                Statement st(tr, "DELETE FROM PABX WHERE PAB_CODIGO = ?");
                st.SetInt(0, esquece).Executa();
                std::cout << "unidade " << esquece << " removida\n";
            }
            tr.Commit();
            return 0;
        } catch (const std::exception& e) {
            std::cerr << "veruzadu-unidade: " << e.what() << "\n";
            return 1;
        }
    }
    const auto traco = janela.find('-');
    if (unidade < 1 || unidade > 999 || endereco.empty() || portaLink < 1 || portaLink > 65535 ||
        portaFTP < 1 || portaFTP > 65535 || traco == std::string::npos) {
        Uso();
        return 2;
    }
    if (descricao.empty()) descricao = "PABX " + std::to_string(unidade);
    const std::string senha = Ambiente("VERUZADU_PABX_PASSWORD"),
                      senhaFTP = Ambiente("VERUZADU_FTP_PASSWORD");
    auto cifra = [](const std::string& s) {
        return s.empty() ? std::string() : CriptografaTexto(s);
    };
    try {
        Attachment att = Attachment::Conecta(
            {MontaStringConexao(o.servidor, o.porta, o.alias), o.usuario, o.senha});
        Transaction tr(att);
        Statement st(tr,
                     "UPDATE OR INSERT INTO PABX (PAB_CODIGO, PAB_DESCRICAO, PAB_KELVENDERIP, "
                     "PAB_KELVPORTA, "
                     "PAB_KELVSENHA, PAB_USB_ZIMB, PAB_USBWAIT, PAB_KELVFTPPORT, PAB_KELVFTPUSER, "
                     "PAB_KELVFTPPASS, PAB_KELVFTPSECURITY, PAB_DTULTDOWN) VALUES (?, ?, ?, ?, ?, "
                     "0, 0, ?, ?, ?, 0, NULL) "
                     "MATCHING (PAB_CODIGO)");
        st.SetInt(0, unidade)
            .SetText(1, descricao)
            .SetText(2, endereco)
            .SetInt(3, portaLink)
            .SetText(4, cifra(senha))
            .SetInt(5, portaFTP)
            .SetText(6, usuarioFTP)
            .SetText(7, cifra(senhaFTP))
            .Executa();
        Statement apaga(tr, "DELETE FROM DOWNPABX WHERE PAB_CODIGO = ?");
        apaga.SetInt(0, unidade).Executa();
        Statement insere(
            tr, "INSERT INTO DOWNPABX (PAB_CODIGO, DOW_HORAINI, DOW_HORAFIM) VALUES (?, ?, ?)");
        insere.SetInt(0, unidade)
            .SetText(1, janela.substr(0, traco))
            .SetText(2, janela.substr(traco + 1))
            .Executa();
        tr.Commit();
        std::cout << "unidade " << unidade << " registrada: " << endereco << ":" << portaLink
                  << ", FTP " << portaFTP << "\n";
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "veruzadu-unidade: " << e.what() << "\n";
        return 1;
    }
}
