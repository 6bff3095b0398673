#pragma once
// An installed system for one test: a scratch installation of the databases
// (InstalacaoTeste) and a program folder of its own, made the program's
// (VERUZADU_HOME) while the object lives, with a VERUZADU.INI pointing at them.

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "common/IniFile.h"
#include "common/db/Firebird.h"
#include "tests/support/InstalacaoTeste.h"
#include "tests/support/PastaTemporaria.h"

class ProgramaTeste {
  public:
    explicit ProgramaTeste(const std::string& nome, std::vector<int> unidades = {})
        : inst(nome, std::move(unidades)) {
        ::setenv("VERUZADU_HOME", pasta.Caminho().c_str(), 1);
        if (!inst.Pronta()) return;
        Ini().WriteString("BD", "Server", "\\\\" + inst.srv.Servidor());
        Ini().WriteString("BD", "Alias", inst.opcoes.alias);
    }
    ~ProgramaTeste() { ::unsetenv("VERUZADU_HOME"); }
    bool Pronta() const { return inst.Pronta(); }
    IniFile Ini() const { return IniFile(pasta / "VERUZADU.INI"); }
    Attachment Admin() const { return Attachment::Conecta(inst.Principal(true)); }
    Attachment Principal() const { return Attachment::Conecta(inst.Principal()); }
    Attachment Unidade(int codigo, bool admin = false) const {
        ParametrosConexao p = inst.Unidade(codigo);
        if (admin) {
            p.usuario = inst.srv.usuario;
            p.senha = inst.srv.senha;
        }
        return Attachment::Conecta(p);
    }

    PastaTemporaria pasta;
    InstalacaoTeste inst;
};
