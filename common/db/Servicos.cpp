#include "common/db/Servicos.h"

#include "common/db/FirebirdInterno.h"

#include <chrono>

using namespace Firebird;
using fbinterno::Status;
using fbinterno::Xpb;

namespace {

// The attachment to the services manager, detached once. Not copyable.
class Servico final {
  public:
    Servico() = default;
    Servico(const Servico&) = delete;
    Servico& operator=(const Servico&) = delete;
    ~Servico() {
        if (s) {
            Status st;
            s->detach(st.Ptr());
            if (st.Falhou()) s->release();
        }
    }

    IService* s = nullptr;
};

// How long the server may take to answer one query about a running action,
// and the action as a whole.
constexpr int EsperaConsultaSegundos = 10;
constexpr auto LimiteAcao = std::chrono::seconds(60);

// Waits for the end of the action started on the service: asking for its
// output until there is none brings its error, if any. Each query waits at
// most EsperaConsultaSegundos on the server, and the whole wait is bounded.
void AguardaAcao(IService* servico) {
    Status st;
    const unsigned char envio[] = {isc_info_svc_timeout, EsperaConsultaSegundos, 0, 0, 0};
    const unsigned char pedido[] = {isc_info_svc_line};
    unsigned char resposta[1024];
    const auto fim = std::chrono::steady_clock::now() + LimiteAcao;
    for (;;) {
        if (std::chrono::steady_clock::now() >= fim)
            throw FirebirdError({}, "services manager: no end of the action after " +
                                        std::to_string(LimiteAcao.count()) + " s");
        servico->query(st.Ptr(), sizeof envio, envio, sizeof pedido, pedido, sizeof resposta,
                       resposta);
        st.Verifica();
        if (resposta[0] != isc_info_svc_line) break;
        const int n = isc_vax_integer(reinterpret_cast<const char*>(resposta + 1), 2);
        // An empty line marks the end, unless the server only ran out of the
        // query's time (it then says so after the line).
        const bool esgotou =
            3 + n < int(sizeof resposta) && resposta[3 + n] == isc_info_svc_timeout;
        if (n == 0 && !esgotou) break;
    }
}

IService* ConectaServicos(const std::string& servidor, const std::string& usuario,
                          const std::string& senha) {
    Status st;
    Xpb anexo(st, IXpbBuilder::SPB_ATTACH);
    anexo->insertString(st.Ptr(), isc_spb_user_name, usuario.c_str());
    anexo->insertString(st.Ptr(), isc_spb_password, senha.c_str());
    st.Verifica();
    const std::string nomeServico = servidor + ":service_mgr";
    IService* s = fbinterno::Provedor()->attachServiceManager(st.Ptr(), nomeServico.c_str(),
                                                              anexo->getBufferLength(st.Ptr()),
                                                              anexo->getBuffer(st.Ptr()));
    st.Verifica();
    return s;
}

// One database-properties action: the mode tag with its byte, and the
// shutdown's wait for other attachments when asked for.
void AlteraModo(const std::string& servidor, const std::string& usuario, const std::string& senha,
                const std::string& caminho, unsigned char tagModo, unsigned char modo,
                bool esperaAnexos) {
    Servico servico;
    servico.s = ConectaServicos(servidor, usuario, senha);
    Status st;
    Xpb acao(st, IXpbBuilder::SPB_START);
    acao->insertTag(st.Ptr(), isc_action_svc_properties);
    acao->insertString(st.Ptr(), isc_spb_dbname, caminho.c_str());
    acao->insertBytes(st.Ptr(), tagModo, &modo, 1);
    // Zero seconds: the shutdown fails at once unless no one else is attached.
    if (esperaAnexos) acao->insertInt(st.Ptr(), isc_spb_prp_attachments_shutdown, 0);
    st.Verifica();
    servico.s->start(st.Ptr(), acao->getBufferLength(st.Ptr()), acao->getBuffer(st.Ptr()));
    st.Verifica();
    AguardaAcao(servico.s);
}

}  // namespace

void DesligaBancoExclusivo(const std::string& servidor, const std::string& usuario,
                           const std::string& senha, const std::string& caminho) {
    AlteraModo(servidor, usuario, senha, caminho, isc_spb_prp_shutdown_mode, isc_spb_prp_sm_single,
               true);
}

void ReligaBanco(const std::string& servidor, const std::string& usuario, const std::string& senha,
                 const std::string& caminho) {
    try {
        AlteraModo(servidor, usuario, senha, caminho, isc_spb_prp_online_mode,
                   isc_spb_prp_sm_normal, false);
    } catch (const FirebirdError& e) {
        // "Target shutdown mode is invalid": it was online already.
        if (!e.Tem(isc_bad_shutdown_mode)) throw;
    }
}

void AdicionaUsuario(const std::string& servidor, const std::string& usuarioAdmin,
                     const std::string& senhaAdmin, const NovoUsuario& novo) {
    Status st;
    Xpb anexo(st, IXpbBuilder::SPB_ATTACH);
    anexo->insertString(st.Ptr(), isc_spb_user_name, usuarioAdmin.c_str());
    anexo->insertString(st.Ptr(), isc_spb_password, senhaAdmin.c_str());
    // An administrator other than SYSDBA holds its rights over users only
    // under this role (measured: without it, "no permission for INSERT access
    // to TABLE PLG$SRP_VIEW"); for SYSDBA it changes nothing.
    anexo->insertString(st.Ptr(), isc_spb_sql_role_name, "RDB$ADMIN");
    st.Verifica();

    Servico servico;
    const std::string nomeServico = servidor + ":service_mgr";
    servico.s = fbinterno::Provedor()->attachServiceManager(st.Ptr(), nomeServico.c_str(),
                                                            anexo->getBufferLength(st.Ptr()),
                                                            anexo->getBuffer(st.Ptr()));
    st.Verifica();

    Xpb acao(st, IXpbBuilder::SPB_START);
    acao->insertTag(st.Ptr(), isc_action_svc_add_user);
    acao->insertString(st.Ptr(), isc_spb_sec_username, novo.nome.c_str());
    acao->insertString(st.Ptr(), isc_spb_sec_password, novo.senha.c_str());
    if (!novo.primeiroNome.empty())
        acao->insertString(st.Ptr(), isc_spb_sec_firstname, novo.primeiroNome.c_str());
    if (!novo.ultimoNome.empty())
        acao->insertString(st.Ptr(), isc_spb_sec_lastname, novo.ultimoNome.c_str());
    st.Verifica();
    servico.s->start(st.Ptr(), acao->getBufferLength(st.Ptr()), acao->getBuffer(st.Ptr()));
    st.Verifica();

    AguardaAcao(servico.s);
}
