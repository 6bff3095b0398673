#pragma once
// The console's users (USUARIO): the list window's reading and removal, the
// editor's group choice, its checks and its save.
//
// Every rule that two consoles could break between reading and writing is
// checked again inside the writing transaction: the login's uniqueness
// (UPPER, as the table's unique index has it), the last administrator (the
// other administrators' rows locked, so two consoles cannot demote or delete
// the last two at once) and the row's existence (a user deleted elsewhere is
// not written back). The history row is written in the same transaction.
// New codes come from GEN_USR_ID, never below the highest code plus one, so
// a deleted user's code (by which the history finds his rows) is never given
// again.
//
// Main thread only (MDados' main connection).

#include <string>
#include <vector>

#include "console/Grupos.h"

class MDados;
class Transaction;

struct ItemUsuario {
    int codigo = 0;
    std::string nome;
    std::string login;
    int perfil = 0;
    std::string grupo;
};
// Every user by name. Throws what MDados throws.
std::vector<ItemUsuario> CarregaUsuarios(MDados& dados);

// The group choice: the empty item, the group names in order, then
// "Ramal" + " " + each extension name.
std::vector<std::string> OpcoesGrupo(const std::vector<std::string>& grupos,
                                     const std::vector<std::string>& nomesRamais);
// The position of `grupo` in the choice; a non-empty text not offered (a
// group or an extension of another unit) is added at the end and chosen, so
// saving keeps it. -1 only for an empty text missing from the choice.
int EscolheOpcao(std::vector<std::string>& opcoes, const std::string& grupo);

struct DadosUsuario {
    std::string nome;
    std::string login;
    std::string senha;  // plain; stored ciphered
    int perfil = 2;     // 1 Administrador, 2 Operador
    std::string grupo;  // the choice's text, stored as shown
};

// The field checks in order (name, login, password) on trimmed text: the
// first failing one's message, empty when all pass.
std::string VerificaCamposUsuario(const DadosUsuario& d);

// Another user (code other than `codigo`) has this login, whatever its
// case. Run inside the saving transaction. Throws FirebirdError.
bool LoginExistente(Transaction& tr, const std::string& login, int codigo);

// Administrators other than user `codigo` (a quick look before asking; the
// removal checks again with their rows locked). Throws what MDados throws.
int ContaOutrosAdministradores(MDados& dados, int codigo);

// Reads the user; false when missing. Throws what MDados throws.
bool CarregaUsuario(MDados& dados, int codigo, DadosUsuario& d);

// Saves user `codigo` (0: a new one, whose code is set on success) with
// history row 11 (name typed) or 13 (`nomeListado`). `perfilOriginal` is the
// profile as loaded; an administrator (as loaded or as the row now holds)
// becomes an operator only while another administrator exists. False with the message to show
// (empty when the main connection is lost: the main window reports that).
bool SalvaUsuario(MDados& dados, int& codigo, int perfilOriginal, const DadosUsuario& d,
                  const std::string& nomeListado, const Responsavel& quem, std::string& mensagem);

enum class ResultadoRemocao { Removido, UltimoAdministrador, Falhou };
// Deletes the user with history row 12 (`nomeListado`). An administrator is
// deleted only while another one exists (UltimoAdministrador otherwise,
// nothing changed). Falhou with the message to show.
ResultadoRemocao RemoveUsuario(MDados& dados, int codigo, const std::string& nomeListado,
                               const Responsavel& quem, std::string& mensagem);

// The box text of the refused removal of the last administrator.
std::string TextoUltimoAdministrador();
