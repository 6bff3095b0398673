#include "common/db/Servicos.h"

#include "common/db/FirebirdInterno.h"

using namespace Firebird;
using fbinterno::Status;

namespace {

struct Xpb {
    IXpbBuilder* x;
    ~Xpb() { x->dispose(); }
};

struct Servico {
    IService* s = nullptr;
    ~Servico()
    {
        if (s) {
            Status st;
            s->detach(st.Ptr());
            if (st.Falhou())
                s->release();
        }
    }
};

// Waits for the end of the action started on the service: asking for its
// output until there is none brings its error, if any.
void AguardaAcao(IService* servico)
{
    Status st;
    const unsigned char pedido[] = {isc_info_svc_line};
    unsigned char resposta[1024];
    for (int volta = 0; volta < 1000; ++volta) {
        servico->query(st.Ptr(), 0, nullptr, sizeof pedido, pedido, sizeof resposta, resposta);
        st.Verifica();
        if (resposta[0] != isc_info_svc_line)
            break;
        const int n = isc_vax_integer(reinterpret_cast<const char*>(resposta + 1), 2);
        if (n == 0)
            break;
    }
}

IService* ConectaServicos(const std::string& servidor, const std::string& usuario, const std::string& senha)
{
    Status st;
    Xpb anexo{fbinterno::Util()->getXpbBuilder(st.Ptr(), IXpbBuilder::SPB_ATTACH, nullptr, 0)};
    st.Verifica();
    anexo.x->insertString(st.Ptr(), isc_spb_user_name, usuario.c_str());
    anexo.x->insertString(st.Ptr(), isc_spb_password, senha.c_str());
    st.Verifica();
    const std::string nomeServico = servidor + ":service_mgr";
    IService* s = fbinterno::Provedor()->attachServiceManager(st.Ptr(), nomeServico.c_str(),
                                                              anexo.x->getBufferLength(st.Ptr()),
                                                              anexo.x->getBuffer(st.Ptr()));
    st.Verifica();
    return s;
}

// One database-properties action: the mode tag with its byte, and the
// shutdown's wait for other attachments when asked for.
void AlteraModo(const std::string& servidor, const std::string& usuario, const std::string& senha,
                const std::string& caminho, unsigned char tagModo, unsigned char modo, bool esperaAnexos)
{
    Servico servico;
    servico.s = ConectaServicos(servidor, usuario, senha);
    Status st;
    Xpb acao{fbinterno::Util()->getXpbBuilder(st.Ptr(), IXpbBuilder::SPB_START, nullptr, 0)};
    st.Verifica();
    acao.x->insertTag(st.Ptr(), isc_action_svc_properties);
    acao.x->insertString(st.Ptr(), isc_spb_dbname, caminho.c_str());
    acao.x->insertBytes(st.Ptr(), tagModo, &modo, 1);
    // Zero seconds: the shutdown fails at once unless no one else is attached.
    if (esperaAnexos)
        acao.x->insertInt(st.Ptr(), isc_spb_prp_attachments_shutdown, 0);
    st.Verifica();
    servico.s->start(st.Ptr(), acao.x->getBufferLength(st.Ptr()), acao.x->getBuffer(st.Ptr()));
    st.Verifica();
    AguardaAcao(servico.s);
}

} // namespace

void DesligaBancoExclusivo(const std::string& servidor, const std::string& usuario,
                           const std::string& senha, const std::string& caminho)
{
    AlteraModo(servidor, usuario, senha, caminho, isc_spb_prp_shutdown_mode, isc_spb_prp_sm_single, true);
}

void ReligaBanco(const std::string& servidor, const std::string& usuario, const std::string& senha,
                 const std::string& caminho)
{
    try {
        AlteraModo(servidor, usuario, senha, caminho, isc_spb_prp_online_mode, isc_spb_prp_sm_normal, false);
    } catch (const FirebirdError& e) {
        // "Target shutdown mode is invalid": it was online already.
        if (!e.Tem(isc_bad_shutdown_mode))
            throw;
    }
}

void AdicionaUsuario(const std::string& servidor, const std::string& usuarioAdmin, const std::string& senhaAdmin,
                     const NovoUsuario& novo)
{
    Status st;
    Xpb anexo{fbinterno::Util()->getXpbBuilder(st.Ptr(), IXpbBuilder::SPB_ATTACH, nullptr, 0)};
    st.Verifica();
    anexo.x->insertString(st.Ptr(), isc_spb_user_name, usuarioAdmin.c_str());
    anexo.x->insertString(st.Ptr(), isc_spb_password, senhaAdmin.c_str());
    // An administrator other than SYSDBA holds its rights over users only
    // under this role (measured: without it, "no permission for INSERT access
    // to TABLE PLG$SRP_VIEW"); for SYSDBA it changes nothing.
    anexo.x->insertString(st.Ptr(), isc_spb_sql_role_name, "RDB$ADMIN");
    st.Verifica();

    Servico servico;
    const std::string nomeServico = servidor + ":service_mgr";
    servico.s = fbinterno::Provedor()->attachServiceManager(st.Ptr(), nomeServico.c_str(),
                                                            anexo.x->getBufferLength(st.Ptr()),
                                                            anexo.x->getBuffer(st.Ptr()));
    st.Verifica();

    Xpb acao{fbinterno::Util()->getXpbBuilder(st.Ptr(), IXpbBuilder::SPB_START, nullptr, 0)};
    st.Verifica();
    acao.x->insertTag(st.Ptr(), isc_action_svc_add_user);
    acao.x->insertString(st.Ptr(), isc_spb_sec_username, novo.nome.c_str());
    acao.x->insertString(st.Ptr(), isc_spb_sec_password, novo.senha.c_str());
    if (!novo.primeiroNome.empty())
        acao.x->insertString(st.Ptr(), isc_spb_sec_firstname, novo.primeiroNome.c_str());
    if (!novo.ultimoNome.empty())
        acao.x->insertString(st.Ptr(), isc_spb_sec_lastname, novo.ultimoNome.c_str());
    st.Verifica();
    servico.s->start(st.Ptr(), acao.x->getBufferLength(st.Ptr()), acao.x->getBuffer(st.Ptr()));
    st.Verifica();

    // The action runs on the server; asking for its output until there is none
    // waits for its end and brings its error, if any.
    const unsigned char pedido[] = {isc_info_svc_line};
    unsigned char resposta[1024];
    for (int volta = 0; volta < 1000; ++volta) {
        servico.s->query(st.Ptr(), 0, nullptr, sizeof pedido, pedido, sizeof resposta, resposta);
        st.Verifica();
        if (resposta[0] != isc_info_svc_line)
            break;
        const int n = isc_vax_integer(reinterpret_cast<const char*>(resposta + 1), 2);
        if (n == 0)
            break;
    }
}
