#include "common/db/RegistroUsuario.h"

#include "common/db/FirebirdError.h"
#include "common/db/Servicos.h"

std::string ServidorSemBarras(std::string_view servidor) {
    while (!servidor.empty() && (servidor.front() == '\\' || servidor.front() == '/'))
        servidor.remove_prefix(1);
    return std::string(servidor);
}

RegistroUsuarioBD RegistraUsuarioBD(std::string_view servidor, std::string_view usuario,
                                    std::string_view senha, const CredenciaisAdmin& admin) {
    RegistroUsuarioBD r;
    try {
        AdicionaUsuario(ServidorSemBarras(servidor), admin.usuario, admin.senha,
                        {std::string(usuario), std::string(senha), "Veruzadu", "Quorvanta"});
        r.resultado = ResultadoRegistro::Registrado;
    } catch (const FirebirdError& e) {
        r.resultado =
            e.LoginRecusado() ? ResultadoRegistro::AdminRecusado : ResultadoRegistro::Falhou;
        r.mensagem = e.what();
    }
    return r;
}

Attachment ConectaRegistrando(const ParametrosConexao& p, std::string_view servidor,
                              const CredenciaisAdmin& admin, RegistroUsuarioBD* registro) {
    try {
        return Attachment::Conecta(p);
    } catch (const FirebirdError& e) {
        if (!e.LoginRecusado()) throw;
        RegistroUsuarioBD r = RegistraUsuarioBD(servidor, p.usuario, p.senha, admin);
        if (registro) *registro = r;
        if (r.resultado != ResultadoRegistro::Registrado) throw;
    }
    return Attachment::Conecta(p);
}
