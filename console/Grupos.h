#pragma once
// Groups: the named sets of extensions, per PABX unit, whose recordings an
// operator of the group may see (GRUPO, GRPRAMAL), the list window's reading
// and removal, and EdicaoGrupo, the editor's state.
//
// The editor keeps each unit's chosen extensions in memory from the group's
// own rows: nothing is written while it is open, so consoles editing other
// groups never touch each other's rows. Saving writes the group, all its
// rows, its users' new group name and the history row in one transaction;
// a failure leaves the database as it was.
//
// Main thread only (MDados' connections). Readers throw what MDados throws;
// the save and the removal report failures as their message.

#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

class MDados;

// Who writes the history row.
struct Responsavel {
    int codigo = 0;
    std::string nome;
};

// An extension as the lists show it: the number alone, or number + " [" +
// name + "]" when it has a name that differs from its number.
std::string TextoRamal(std::string_view numero, std::string_view nome);
struct RamalGrupo {
    std::string numero;
    std::string nome;  // empty when the entry has no "["
};
// The entry's text parsed back: before " [" the number, between "[" and the
// final "]" the name; both trimmed.
RamalGrupo SeparaRamal(std::string_view texto);

struct ItemGrupo {
    int codigo = 0;
    std::string descricao;
    std::string ramais;  // ListaRamaisGrupo
};
std::vector<ItemGrupo> CarregaGrupos(MDados& dados);
// Every group name, sorted.
std::vector<std::string> CarregaListaGrupos(MDados& dados);
// The group's extensions (every unit) joined by ",".
std::string ListaRamaisGrupo(MDados& dados, int codigo);

// The message refusing a group name (trimmed), empty when it may be used:
// empty, or taken by the login for a single extension.
std::string VerificaNomeGrupo(const std::string& nome);

// Deletes the group with its rows, takes it from its users and writes history
// row 18 with `nomeListado`, all in one transaction. False with the message to
// show ("Não foi possível apagar o grupo" and the reason) otherwise; a group
// already gone is a failure too.
bool RemoveGrupo(MDados& dados, int codigo, const std::string& nomeListado, const Responsavel& quem,
                 std::string& mensagem);

class EdicaoGrupo {
  public:
    explicit EdicaoGrupo(MDados& dados) : dados_(dados) {}

    struct Unidade {
        int codigo = 0;
        std::string descricao;
        bool acesso = false;
        std::set<std::string> selecionados;  // entries the group may see
    };

    // Empties everything (a new group with no units).
    void Limpa();
    // Reads the group `codigo` (0: a new one) and the units; false when the
    // group is no longer there. Throws.
    bool Carrega(int codigo);

    // The refresh of a unit's extension names (run before its names are
    // read); may be empty.
    std::function<void(int codigoPABX)> VerificaAtualizacaoRamais;

    // Reads the unit's extension names from its database (after the refresh
    // above) and brings the chosen entries up to them: an entry whose number
    // is now a number or a name of the unit takes that extension's number and
    // name. Throws ErroBasePABX or FirebirdError.
    void CarregaRamaisUnidade(int codigoPABX);

    // "Com permissão" and "Sem permissão" of a unit, sorted.
    std::vector<std::string> Selecionados(int codigoPABX) const;
    std::vector<std::string> Disponiveis(int codigoPABX) const;

    // Ticking or unticking a unit's access; unticking drops its choice.
    void DefineAcesso(int codigoPABX, bool acesso);
    // The movers: the given entries (or all) to one side.
    void Adiciona(int codigoPABX, const std::vector<std::string>& entradas);
    void Retira(int codigoPABX, const std::vector<std::string>& entradas);
    void AdicionaTodos(int codigoPABX);
    void RetiraTodos(int codigoPABX);

    // Stores the group under `nome` (trimmed) with history row 17 (new, the
    // name typed) or 19 (the name as loaded). True on success (CodigoGrupo is
    // then the group's code); false with the message to show.
    bool Salva(const std::string& nome, const Responsavel& quem, std::string& mensagem);

    int CodigoGrupo = 0;
    // The group's name as loaded (trimmed), empty for a new group.
    std::string NomeOriginal;
    const std::vector<Unidade>& Unidades() const { return unidades_; }
    Unidade* Procura(int codigoPABX);

  private:
    MDados& dados_;
    std::vector<Unidade> unidades_;
    // Each unit's extension entries as last read from its database.
    std::map<int, std::vector<std::string>> nomes_;
};
