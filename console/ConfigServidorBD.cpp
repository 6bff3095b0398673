#include "console/ConfigServidorBD.h"

#include <QString>

#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "common/Processos.h"
#include "common/Traducao.h"
#include "console/MDados.h"

std::string ServidorInicialDialogo() {
    return RemoveBarrasServidor(
        IniFile(ArquivoVeruzaduIni()).ReadString("BD", "Server", NomeComputador()));
}

bool AplicaServidorBD(const std::string& digitado, MDados& dados, Mensageiro& mensagens) {
    const std::string nome = QString::fromStdString(digitado).trimmed().toUpper().toStdString();
    if (nome.empty()) {
        mensagens.Mostra(
            TipoMensagem::Erro,
            Traduz(
                "Informe o nome do computador em que o servidor de base de dados está instalado.") +
                "\n");
        return false;
    }
    IniFile ini(ArquivoVeruzaduIni());
    ini.WriteBool("BD", "Adv", false);
    ini.WriteString("BD", "Server", "\\\\" + nome);
    std::string erro;
    if (dados.ConectaBancoDados(erro)) {
        dados.Desconecta();
        return true;
    }
    mensagens.Mostra(TipoMensagem::Erro,
                     Traduz("Não foi possível conectar com o servidor de base de dados.") + "\n" +
                         erro);
    return false;
}
