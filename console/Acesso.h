#pragma once
// Login against the USUARIO table, the permission test by profile, the
// password change and the extensions a logged-in operator may see in a unit.
// The login dialog (FormAcesso) only binds its widgets to this class.
//
// Every value reaches the server as a bound parameter. A login or password
// that the table's columns cannot hold (too long, or a character outside
// Windows-1252) is simply not a user: it never becomes a server error.
//
// Main thread only (it works on MDados' main connection). Nothing here throws;
// failures become messages through the Mensageiro, or a false result.

#include <string>
#include <vector>

class MDados;
class Mensageiro;

// The longest new password whose cipher still fits USR_SENHA (30 characters).
inline constexpr int TamanhoMaximoSenha = 21;

// A user may use a function of level `nivel` (1 administrators, 2 everyone)
// when the level is not below the profile. Only profiles 1 and 2 exist: any
// other profile (0, NULL read as 0, 3...) passes no level.
bool PossuiAutorizacao(int nivel, int perfil);

// The permission test with its message: false without a message while nobody
// is logged in (código < 1); "Usuário não possui autorização de acesso à esta
// função" ("Erro") when the profile does not reach the level.
bool VerificaPermissao(int nivel, int usuarioCodigo, int usuarioPerfil, Mensageiro& mensagens);

// The checks of the password-change dialog, in order, on the trimmed fields:
// the message of the first that fails, empty when both may be saved.
std::string VerificaNovaSenha(const std::string& nova, const std::string& confirmacao);

// A user's USR_GRUPO that begins with the translated "Ramal" names one
// extension, not a group: the login reads it so, and no group may be named so.
bool NomeIndicaRamal(const std::string& grupo);

class Acesso {
  public:
    Acesso(MDados& dados, Mensageiro& mensagens) : dados_(dados), mensagens_(mensagens) {}

    enum class Campo { Nenhum, Login, Senha };

    // Checks the typed login and password (trimmed). On failure shows its
    // message ("Erro") and returns false with the field to select in `foco`.
    bool VerificaUsuario(const std::string& login, const std::string& senha, Campo* foco = nullptr);
    // The row whose login is exactly `login` and whose password cipher is
    // `cifra`; an "admin" typed in another case is retried as "ADMIN" only.
    bool ConfirmaLoginSenha(const std::string& login, const std::string& cifra);
    // Stores the cipher of the trimmed new password for the confirmed user.
    // False, with the reason shown under "Erro", when the update fails or
    // changes no row (the user was removed meanwhile).
    bool TrocaSenha(const std::string& novaSenha);

    // The extensions the user `usuarioCodigo` may see in unit `codigoPABX`:
    // "*" for an administrator; the one extension of "Ramal nnnn"; or the
    // extensions (and their names, where they differ) of the user's group in
    // that unit. Every error ends the list where it got.
    std::vector<std::string> CarregaListaRamaisUsuarios(int usuarioCodigo, int codigoPABX);

    // The last confirmed login (code and profile 0 while none).
    std::string NomeConfirmado;
    int CodigoConfirmado = 0;
    int PerfilConfirmado = 0;

  private:
    MDados& dados_;
    Mensageiro& mensagens_;
};
