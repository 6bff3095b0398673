#include "common/db/RegistroUsuario.h"

#include "common/db/FirebirdError.h"
#include "common/db/FirebirdInterno.h"

#include <firebird/Interface.h>
#include <ibase.h>

using namespace Firebird;
using fbinterno::Status;

std::string ServidorSemBarras(std::string_view servidor) {
    while (!servidor.empty() && (servidor.front() == '\\' || servidor.front() == '/'))
        servidor.remove_prefix(1);
    return std::string(servidor);
}

namespace {

void AdicionaUsuario(const std::string& servidor, const CredenciaisAdmin& admin, std::string_view usuario,
                     std::string_view senha) {
    Status st;
    IXpbBuilder* spb = fbinterno::Util()->getXpbBuilder(st.Ptr(), IXpbBuilder::SPB_ATTACH, nullptr, 0);
    st.Verifica();
    struct Libera {
        IXpbBuilder* b;
        ~Libera() { b->dispose(); }
    } libera{spb};
    spb->insertString(st.Ptr(), isc_spb_user_name, admin.usuario.c_str());
    spb->insertString(st.Ptr(), isc_spb_password, admin.senha.c_str());
    st.Verifica();
    const std::string nome = (servidor.empty() ? std::string() : servidor + ":") + "service_mgr";
    IService* svc = fbinterno::Provedor()->attachServiceManager(st.Ptr(), nome.c_str(), spb->getBufferLength(st.Ptr()),
                                                                 spb->getBuffer(st.Ptr()));
    st.Verifica();
    struct Desliga {
        IService* s;
        ~Desliga() {
            Status st2;
            s->detach(st2.Ptr());
            if (st2.Falhou())
                s->release();
        }
    } desliga{svc};

    IXpbBuilder* acao = fbinterno::Util()->getXpbBuilder(st.Ptr(), IXpbBuilder::SPB_START, nullptr, 0);
    st.Verifica();
    struct Libera2 {
        IXpbBuilder* b;
        ~Libera2() { b->dispose(); }
    } libera2{acao};
    acao->insertTag(st.Ptr(), isc_action_svc_add_user);
    acao->insertString(st.Ptr(), isc_spb_sec_username, std::string(usuario).c_str());
    acao->insertString(st.Ptr(), isc_spb_sec_password, std::string(senha).c_str());
    acao->insertString(st.Ptr(), isc_spb_sec_firstname, "Veruzadu");
    acao->insertString(st.Ptr(), isc_spb_sec_lastname, "Quorvanta");
    acao->insertInt(st.Ptr(), isc_spb_sec_userid, 0);
    acao->insertInt(st.Ptr(), isc_spb_sec_groupid, 0);
    st.Verifica();
    svc->start(st.Ptr(), acao->getBufferLength(st.Ptr()), acao->getBuffer(st.Ptr()));
    st.Verifica();
    // The action's errors come with the answer to a query that follows it.
    const unsigned char pedido[] = {isc_info_svc_line};
    unsigned char resposta[1024];
    svc->query(st.Ptr(), 0, nullptr, sizeof pedido, pedido, sizeof resposta, resposta);
    st.Verifica();
}

} // namespace

RegistroUsuarioBD RegistraUsuarioBD(std::string_view servidor, std::string_view usuario, std::string_view senha,
                                    const CredenciaisAdmin& admin) {
    RegistroUsuarioBD r;
    try {
        AdicionaUsuario(ServidorSemBarras(servidor), admin, usuario, senha);
        r.resultado = ResultadoRegistro::Registrado;
    } catch (const FirebirdError& e) {
        r.resultado = e.LoginRecusado() ? ResultadoRegistro::AdminRecusado : ResultadoRegistro::Falhou;
        r.mensagem = e.what();
    }
    return r;
}

Attachment ConectaRegistrando(const ParametrosConexao& p, std::string_view servidor, const CredenciaisAdmin& admin,
                              RegistroUsuarioBD* registro) {
    try {
        return Attachment::Conecta(p);
    } catch (const FirebirdError& e) {
        if (!e.LoginRecusado())
            throw;
        RegistroUsuarioBD r = RegistraUsuarioBD(servidor, p.usuario, p.senha, admin);
        if (registro)
            *registro = r;
        if (r.resultado != ResultadoRegistro::Registrado)
            throw;
    }
    return Attachment::Conecta(p);
}
