#include "console/MDados.h"

#include <QSocketNotifier>
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iostream>
#include <vector>

#include "common/Configuracao.h"
#include "common/IniFile.h"
#include "common/Processos.h"
#include "common/Texto.h"
#include "common/Traducao.h"
#include "common/db/Esquema.h"
#include "common/db/Eventos.h"
#include "common/db/Script.h"
#include "console/UtilConsole.h"

namespace {

const std::vector<std::string> NomesEventos{"GRVGRAVACAO", "GRVHISTORY", "GRVCONFIG",
                                            "GRVCADASTRO"};

}  // namespace

std::string RemoveBarrasServidor(std::string_view servidor) {
    return RemoveBarrasIniciais(servidor);
}

std::string PrincipalVistaDoServidor(const std::string& conexao) {
    const auto doisPontos = conexao.find(':');
    if (doisPontos == std::string::npos) return "localhost:" + conexao;
    const std::string host = conexao.substr(0, doisPontos);
    const auto barra = host.find('/');
    return "localhost" + (barra == std::string::npos ? std::string() : host.substr(barra)) +
           conexao.substr(doisPontos);
}

CaminhoBD MontaCaminhoBD(const IniFile& ini, std::string_view nome, std::string_view pastaDadosBD,
                         std::string_view computador) {
    CaminhoBD r;
    const bool usaAlias = ini.ReadBool("BD", "AliasGRVPABX", false);
    r.servidor =
        RemoveBarrasServidor(ini.ReadString("BD", "Server", "\\\\" + std::string(computador)));
    // A blank server (a per-PABX one included) means this computer's server.
    const std::string_view aparado = AparaEspacos(r.servidor);
    const std::string servidor = aparado.empty() ? std::string("127.0.0.1") : std::string(aparado);
    if (nome == "VERUZADU" || usaAlias)
        r.conexao = servidor + ":" + ini.ReadString("BD", "Alias", nome);
    else
        r.conexao =
            servidor + ":" +
            ini.ReadString("BD", "AdvPath", std::string(pastaDadosBD) + std::string(nome) + ".FDB");
    return r;
}

MDados::MDados(Mensageiro& mensagens, Relogio relogio, QObject* pai)
    : QObject(pai), UsuarioBD(UsuarioBDPadrao), SenhaBD(SenhaBDPadrao), mensagens_(mensagens),
      relogio_(std::move(relogio)),
      vigia_(std::make_unique<VigiaComandos>(std::chrono::seconds(120))) {
    horaPerdida_ = relogio_();
}

void MDados::DefineTempoLimiteComando(int segundos) {
    vigia_->DefineLimite(std::chrono::seconds(std::max(segundos, 1)));
}

MDados::~MDados() { Desconecta(); }

void MDados::Registra(const std::string& linha) {
    std::cerr << "veruzadu: " << linha << '\n';
    GravaLogConsole(linha);
}

void MDados::FechaPrincipal() noexcept {
    notificador_.reset();
    eventos_.reset();
    if (principal_) {
        try {
            principal_->Desconecta();
        } catch (...) {
        }
        principal_.reset();
    }
}

void MDados::Desconecta() {
    querEventos_ = false;
    FechaPrincipal();
    FechaBasePABX();
    estado_ = NaoConectado;
}

void MDados::FechaConexaoPrincipal() { FechaPrincipal(); }

void MDados::MarcaPerda() {
    if (!conexaoPerdida_) {
        avisoPendente_ = true;
        horaPerdida_ = relogio_();
    }
    conexaoPerdida_ = true;
    estado_ = ConexaoPerdidaBD;
    FechaPrincipal();
}

void MDados::NaPrincipal(const std::function<void(Transaction&)>& trabalho) {
    disparou_ = false;
    const auto guarda = vigia_->Vigia(principal_->Interface());
    try {
        Transaction tr(*principal_, false, Isolamento::LeituraConfirmada, TempoEsperaTrava);
        trabalho(tr);
        tr.Commit();
    } catch (const FirebirdError&) {
        disparou_ = guarda.Disparou();
        throw;
    }
}

void MDados::ReabrePrincipal() {
    principal_.emplace(Attachment::Conecta(parametrosPrincipal_));
    if (querEventos_) HabilitaEventosBD(true);
}

void MDados::Executa(const std::function<void(Transaction&)>& trabalho) {
    if (estado_ != Conectado) throw SemConexaoBD();
    disparou_ = false;
    try {
        if (!principal_) ReabrePrincipal();
        NaPrincipal(trabalho);
    } catch (const FirebirdError& e) {
        if (disparou_) {
            // The server kept the window waiting past the limit.
            Registra("Sem resposta do servidor: " + std::string(e.what()));
            MarcaPerda();
            throw SemConexaoBD();
        }
        if (e.ConexaoPerdida()) MarcaPerda();
        throw;
    }
}

void MDados::ExecutaInstantaneo(const std::function<void(Transaction&)>& trabalho) {
    if (estado_ != Conectado) throw SemConexaoBD();
    disparou_ = false;
    try {
        if (!principal_) ReabrePrincipal();
        const auto guarda = vigia_->Vigia(principal_->Interface());
        try {
            Transaction tr(*principal_, true, Isolamento::Instantaneo);
            trabalho(tr);
            tr.Commit();
        } catch (const FirebirdError&) {
            disparou_ = guarda.Disparou();
            throw;
        }
    } catch (const FirebirdError& e) {
        if (disparou_) {
            Registra("Sem resposta do servidor: " + std::string(e.what()));
            MarcaPerda();
            throw SemConexaoBD();
        }
        if (e.ConexaoPerdida()) MarcaPerda();
        throw;
    }
}

void MDados::ExecutaPABX(const std::function<void(Transaction&)>& trabalho) {
    if (!pabx_)
        throw ErroBasePABX(Traduz("Não foi possível conectar base de dados GRVPAB" +
                                  CodigoTresDigitos(codigoPABX_)),
                           "");
    bool disparou = false;
    try {
        const auto guarda = vigia_->Vigia(pabx_->Interface());
        try {
            Transaction tr(*pabx_, false, Isolamento::LeituraConfirmada, TempoEsperaTrava);
            trabalho(tr);
            tr.Commit();
        } catch (const FirebirdError&) {
            disparou = guarda.Disparou();
            throw;
        }
    } catch (const FirebirdError& e) {
        if (disparou) {
            // Cancelled, or closed on a silent server: the next use connects again.
            Registra("Sem resposta do servidor: " + std::string(e.what()));
            FechaBasePABX();
        }
        throw;
    }
}

bool MDados::BaseConectada() {
    if (estado_ == Conectado) return true;
    if (!avisoPendente_)
        mensagens_.Mostra(TipoMensagem::Aviso, Traduz("Base de dados não está conectada"));
    return false;
}

void MDados::HabilitaEventosBD(bool habilita) {
    querEventos_ = habilita;
    notificador_.reset();
    eventos_.reset();
    if (!habilita || !principal_) return;
    try {
        eventos_ = std::make_unique<EventListener>(*principal_, NomesEventos);
    } catch (const FirebirdError& e) {
        Registra("Eventos: " + std::string(e.what()));
        if (e.ConexaoPerdida() && estado_ == Conectado) MarcaPerda();
        return;
    }
    notificador_ = std::make_unique<QSocketNotifier>(eventos_->Descritor(), QSocketNotifier::Read);
    connect(notificador_.get(), &QSocketNotifier::activated, this, &MDados::TomaEventos);
}

void MDados::TomaEventos() {
    if (!eventos_) return;
    bool algum = false;
    for (const auto& [nome, contagem] : eventos_->Toma()) {
        if (contagem == 0) continue;
        if (nome == "GRVGRAVACAO")
            EventoGravacao = true;
        else if (nome == "GRVHISTORY")
            EventoHistorico = true;
        else if (nome == "GRVCONFIG")
            EventoConfiguracao = true;
        else if (nome == "GRVCADASTRO")
            EventoCadastro = true;
        else
            continue;
        algum = true;
    }
    if (algum && AoEvento) AoEvento();
}

bool MDados::ExecutaEstrutura(const std::string& sql) {
    try {
        NaPrincipal([&](Transaction& tr) { tr.Executa(sql); });
        return true;
    } catch (const FirebirdError& e) {
        Registra(sql + ": " + e.what());
        if (e.ConexaoPerdida()) throw;
        return false;
    }
}

bool MDados::ExisteTabela(const std::string& tabela) {
    bool r = false;
    auto f = [&](Transaction& tr) { r = TabelaExiste(tr, tabela); };
    estado_ == Conectando ? NaPrincipal(f) : Executa(f);
    return r;
}

bool MDados::ExisteCampo(const std::string& campo, const std::string& tabela) {
    bool r = false;
    auto f = [&](Transaction& tr) { r = CampoExiste(tr, tabela, campo); };
    estado_ == Conectando ? NaPrincipal(f) : Executa(f);
    return r;
}

int MDados::TamanhoCampo(const std::string& campo, const std::string& tabela) {
    int r = 0;
    auto f = [&](Transaction& tr) { r = ::TamanhoCampo(tr, tabela, campo); };
    estado_ == Conectando ? NaPrincipal(f) : Executa(f);
    return r;
}

bool MDados::ExisteCampoPABX(const std::string& campo, const std::string& tabela) {
    bool r = false;
    ExecutaPABX([&](Transaction& tr) { r = CampoExiste(tr, tabela, campo); });
    return r;
}

int MDados::TamanhoCampoPABX(const std::string& campo, const std::string& tabela) {
    int r = 0;
    ExecutaPABX([&](Transaction& tr) { r = ::TamanhoCampo(tr, tabela, campo); });
    return r;
}

bool MDados::AlteraTamanhoCampo(const std::string& tabela, const std::string& campo, int n) {
    return ExecutaEstrutura(SqlAlteraTamanhoCampo(tabela, campo, n));
}

bool MDados::AlteraTamanhoCampoPABX(const std::string& tabela, const std::string& campo, int n) {
    const std::string sql = SqlAlteraTamanhoCampo(tabela, campo, n);
    try {
        ExecutaPABX([&](Transaction& tr) { tr.Executa(sql); });
        return true;
    } catch (const FirebirdError& e) {
        Registra(sql + ": " + e.what());
        return false;
    }
}

bool MDados::CriaGeradorSeFalta(
    const std::string& gerador,
    const std::vector<std::pair<std::string_view, std::string_view>>& colunas) {
    bool existe = false;
    NaPrincipal([&](Transaction& tr) { existe = GeradorExiste(tr, gerador); });
    if (existe) return true;
    for (const std::string& sql : CriacaoGerador(gerador, colunas))
        if (!ExecutaEstrutura(sql)) return false;
    return true;
}

bool MDados::CriaIndiceSeFalta(const std::string& indice, const std::string& sqlCriacao) {
    bool existe = false;
    NaPrincipal([&](Transaction& tr) { existe = IndiceExiste(tr, indice); });
    return existe || ExecutaEstrutura(sqlCriacao);
}

void MDados::CriaCamposSDCard() {
    for (const std::string& sql : AlteracoesPABX()) ExecutaEstrutura(sql);
}

void MDados::CriaCampoNomeRamal() {
    ExecutaEstrutura("ALTER TABLE GRPRAMAL ADD RML_NOME VARCHAR (20)");
}

void MDados::CriaCampoDNSUpdate() {
    if (ExecutaEstrutura("ALTER TABLE PABX ADD PAB_DNSUPDATE SMALLINT"))
        ExecutaEstrutura("UPDATE PABX SET PAB_DNSUPDATE=1");
}

bool MDados::RegistraUsuarioBD(const std::string& servidor) {
    for (;;) {
        const RegistroUsuarioBD r = ::RegistraUsuarioBD(servidor, UsuarioBD, SenhaBD, Admin);
        if (r.resultado == ResultadoRegistro::Registrado) return true;
        if (r.resultado != ResultadoRegistro::AdminRecusado || !PedeCredenciaisAdmin) {
            Registra("Registro do usuario: " + r.mensagem);
            return false;
        }
        mensagens_.Mostra(
            TipoMensagem::Informacao,
            Traduz("O Veruzadu necessita registrar-se como usuário no gerenciador de banco de "
                   "dados.") +
                "\n" +
                Traduz("Para isto será necessário que o administrador do banco de dados forneça as "
                       "informações a seguir."));
        CredenciaisAdmin novas;
        if (!PedeCredenciaisAdmin(novas)) return false;
        Admin = std::move(novas);
    }
}

bool MDados::ConectaBancoDados(std::string& erro) {
    if (AntesDeConectar) AntesDeConectar();
    const IniFile ini(ArquivoVeruzaduIni());
    for (;;) {
        conexaoPerdida_ = false;
        avisoPendente_ = false;
        horaPerdida_ = relogio_();
        estado_ = Conectando;
        EventoGravacao = EventoHistorico = EventoConfiguracao = EventoCadastro = false;
        querEventos_ = false;
        FechaPrincipal();

        const CaminhoBD caminho = MontaCaminhoBD(ini, "VERUZADU", pastaDadosBD_, NomeComputador());
        usaAliasGRVPABX_ = ini.ReadBool("BD", "AliasGRVPABX", false);
        servidorBD_ = caminho.servidor;
        parametrosPrincipal_ =
            ParametrosConexao{caminho.conexao, UsuarioBD, SenhaBD, TempoLimiteConexao};
        try {
            principal_.emplace(Attachment::Conecta(parametrosPrincipal_));
        } catch (const FirebirdError& e) {
            if (e.LoginRecusado() && !UsuarioBD.empty() && RegistraUsuarioBD(servidorBD_)) continue;
            estado_ = NaoConectado;
            erro = e.what();
            return false;
        }
        try {
            NaPrincipal([&](Transaction& tr) {
                Statement st(
                    tr, "SELECT RDB$GET_CONTEXT('SYSTEM', 'ENGINE_VERSION') FROM RDB$DATABASE");
                auto c = st.Abre();
                if (c.Proxima()) versaoServidorBD_ = c.GetText(0);
            });
            pastaDadosBD_ =
                std::filesystem::path(principal_->NomeArquivoServidor()).parent_path().string() +
                "/";
            IniFile(ArquivoVeruzaduIni()).WriteString("BD", "Path", pastaDadosBD_);

            ChecaEstruturaPrincipal();
        } catch (const FirebirdError& e) {
            if (e.ConexaoPerdida()) {
                FechaPrincipal();
                estado_ = NaoConectado;
                erro = e.what();
                return false;
            }
            // A refused catalogue read: logged; the connection stays usable.
            Registra(e.what());
        }
        estado_ = Conectado;
        HabilitaEventosBD(true);
        break;
    }
    if (VerificaAtualizacaoBD) VerificaAtualizacaoBD();
    return true;
}

void MDados::ChecaEstruturaPrincipal() {
    if (!ExisteCampo("CRL_COMPBD", "CONTROLE"))
        ExecutaEstrutura("ALTER TABLE CONTROLE ADD CRL_COMPBD SMALLINT");
    if (!ExisteCampo("PAB_SDCARDUSED", "PABX")) CriaCamposSDCard();
    if (!ExisteCampo("RML_NOME", "GRPRAMAL")) CriaCampoNomeRamal();
    if (!ExisteCampo("PAB_DNSUPDATE", "PABX")) CriaCampoDNSUpdate();
    CriaGeradorSeFalta("GEN_USR_ID", {{"USUARIO", "USR_CODIGO"}});
    CriaIndiceSeFalta("UNQ_GRUPO_DESCRICAO",
                      "CREATE UNIQUE INDEX UNQ_GRUPO_DESCRICAO ON GRUPO (GRP_DESCRICAO)");
    if (TamanhoCampo("RML_RAMAL", "GRPRAMAL") < 30) {
        AlteraTamanhoCampo("GRPRAMAL", "RML_RAMAL", 30);
        AlteraTamanhoCampo("GRPRAMAL", "RML_NOME", 30);
    }
    // --- Contacts' codes: never given twice; an older database gets the
    // generator, started at the highest code its contacts and its recordings
    // hold.
    CriaGeradorSeFalta("GEN_CLI_ID", {{"CLIENTE", "CLI_CODIGO"}, {"GRAVACAO", "CLI_CODIGO"}});
    // --- end of contacts' codes.
}

void MDados::VerificaEstruturaPrincipal() {
    if (!principal_) throw SemConexaoBD();
    const int antes = estado_;
    estado_ = Conectando;
    try {
        ChecaEstruturaPrincipal();
    } catch (...) {
        estado_ = antes;
        throw;
    }
    estado_ = antes;
}

bool MDados::ConectaBaseVeruzadu() {
    const IniFile ini(ArquivoVeruzaduIni());
    const CaminhoBD caminho = MontaCaminhoBD(ini, "VERUZADU", pastaDadosBD_, NomeComputador());
    servidorBD_ = caminho.servidor;
    return ConectaBaseVeruzadu(caminho.conexao);
}

bool MDados::ConectaBaseVeruzadu(const std::string& conexao) {
    FechaPrincipal();
    parametrosPrincipal_ = ParametrosConexao{conexao, UsuarioBD, SenhaBD, TempoLimiteConexao};
    try {
        principal_.emplace(Attachment::Conecta(parametrosPrincipal_));
        return true;
    } catch (const FirebirdError& e) {
        Registra(e.what());
        mensagens_.Mostra(TipoMensagem::Aviso,
                          Traduz("Não foi possível conectar base de dados VERUZADU"));
        return false;
    }
}

void MDados::ExecutaScriptPrincipal(const std::string& script) {
    if (estado_ != Conectado) throw SemConexaoBD();
    try {
        if (!principal_) ReabrePrincipal();
        ExecutaScript(*principal_, script);
    } catch (const FirebirdError& e) {
        if (e.ConexaoPerdida()) MarcaPerda();
        throw;
    }
}

void MDados::ExecutaScriptPABX(const std::string& script) {
    if (!pabx_) throw FirebirdError({}, "per-PABX database not connected");
    ExecutaScript(*pabx_, script);
}

void MDados::RecriaProceduresPABX(const std::vector<ScriptProcedures>& scripts) {
    if (!pabx_) throw FirebirdError({}, "per-PABX database not connected");
    // The same main database the unit's database was made to read, on the
    // port [BD] Server names.
    const IniFile ini(ArquivoVeruzaduIni());
    const std::string principal = PrincipalVistaDoServidor(
        MontaCaminhoBD(ini, "VERUZADU", pastaDadosBD_, NomeComputador()).conexao);
    // The procedures carry the program's password in their cross-database
    // statements: kept out of every error text (as it stands in the quoted literal).
    std::string segredo = SenhaBD;
    for (std::size_t p = 0; (p = segredo.find('\'', p)) != std::string::npos; p += 2)
        segredo.insert(p, 1, '\'');
    for (const ScriptProcedures script : scripts)
        ExecutaScript(*pabx_,
                      "SET TERM ^ ;\n" + script(principal, UsuarioBD, SenhaBD) + "\nSET TERM ; ^\n",
                      TextoSecreto{segredo});
}

bool MDados::PABX_AlteraTabelaProcedures_UPDSCRIPT() {
    bool ok = true;
    for (const ScriptProcedures script : {&ScriptLISTARAMGRUPO, &ScriptLISTAGRV}) {
        try {
            RecriaProceduresPABX({script});
        } catch (const FirebirdError& e) {
            Registra("GRVPAB" + CodigoTresDigitos(codigoPABX_) + ": " + e.what());
            ok = false;
        }
    }
    if (!ok) return false;
    try {
        ExecutaPABX(
            [](Transaction& tr) { tr.Executa("ALTER TABLE PABX ADD PAB_UPDSCRIPT SMALLINT"); });
    } catch (const FirebirdError& e) {
        Registra("GRVPAB" + CodigoTresDigitos(codigoPABX_) + ": " + e.what());
        return false;
    }
    return true;
}

void MDados::AtualizaListaGrv() {
    bool desatualizada = false;
    ExecutaPABX([&](Transaction& tr) { desatualizada = ListaGrvDesatualizada(tr); });
    if (!desatualizada) return;
    try {
        RecriaProceduresPABX({&ScriptLISTAGRV});
    } catch (const FirebirdError& e) {
        Registra("GRVPAB" + CodigoTresDigitos(codigoPABX_) + ": " + e.what());
    }
}

void MDados::FechaBasePABX() noexcept {
    if (pabx_) {
        try {
            pabx_->Desconecta();
        } catch (...) {
        }
        pabx_.reset();
    }
}

void MDados::ConectaBasePABX(int codigo) {
    const std::string nome = "GRVPAB" + CodigoTresDigitos(codigo);
    const IniFile ini(ArquivoVeruzaduIni());
    ConectaBasePABX(codigo, MontaCaminhoBD(ini, nome, pastaDadosBD_, NomeComputador()).conexao);
}

void MDados::ConectaBasePABX(int codigo, const std::string& conexao) {
    const std::string nome = "GRVPAB" + CodigoTresDigitos(codigo);
    const std::string texto = Traduz("Não foi possível conectar base de dados " + nome);
    FechaBasePABX();
    codigoPABX_ = codigo;
    try {
        pabx_.emplace(Attachment::Conecta({conexao, UsuarioBD, SenhaBD, TempoLimiteConexao}));
        if (!ExisteCampoPABX("PAB_UPDSCRIPT", "PABX"))
            PABX_AlteraTabelaProcedures_UPDSCRIPT();
        else
            AtualizaListaGrv();
        if (TamanhoCampoPABX("DNS_NUMERO", "DNSPABX") < 30) {
            AlteraTamanhoCampoPABX("DNSPABX", "DNS_NOME", 30);
            AlteraTamanhoCampoPABX("DNSPABX", "DNS_NUMERO", 30);
        }
        if (TamanhoCampoPABX("RML_RAMAL", "RAMALGRAVA") < 30) {
            AlteraTamanhoCampoPABX("RAMALGRAVA", "RML_RAMAL", 30);
            AlteraTamanhoCampoPABX("RAMALGRAVA", "RML_RMLGRAVA", 30);
            AlteraTamanhoCampoPABX("RMLPERMISS", "RML_RAMAL", 30);
        }
    } catch (const FirebirdError& e) {
        Registra(nome + ": " + e.what());
        throw ErroBasePABX(texto, e.what());
    }
}

bool MDados::AtualizaRamaisGrupos(int codigo) {
    try {
        std::vector<std::string> ramais;
        Executa([&](Transaction& tr) {
            Statement st(tr,
                         "SELECT RML_RAMAL FROM GRPRAMAL WHERE PAB_CODIGO = ? ORDER BY RML_RAMAL");
            st.SetInt(0, codigo);
            auto c = st.Abre();
            while (c.Proxima()) ramais.push_back(c.GetText(0));
        });
        for (const std::string& ramal : ramais) {
            std::optional<std::pair<std::string, std::string>> achado;
            ExecutaPABX([&](Transaction& tr) {
                Statement st(tr,
                             "SELECT DNS_NUMERO, DNS_NOME FROM DNSPABX WHERE PAB_CODIGO = ? AND "
                             "(DNS_NUMERO = ? OR DNS_NOME = ?)");
                st.SetInt(0, codigo).SetText(1, ramal).SetText(2, ramal);
                auto c = st.Abre();
                if (c.Proxima()) achado.emplace(c.GetText(0), c.GetText(1));
            });
            if (!achado) continue;
            Executa([&](Transaction& tr) {
                Statement st(tr,
                             "UPDATE GRPRAMAL SET RML_RAMAL = ?, RML_NOME = ? WHERE PAB_CODIGO = ? "
                             "AND RML_RAMAL = ?");
                st.SetText(0, achado->first)
                    .SetText(1, achado->second)
                    .SetInt(2, codigo)
                    .SetText(3, ramal);
                st.Executa();
            });
        }
    } catch (const std::exception& e) {
        Registra("AtualizaRamaisGrupos: " + std::string(e.what()));
        return false;
    }
    return true;
}

bool MDados::LimpaDNSUpdate(int codigo) {
    try {
        Executa([&](Transaction& tr) {
            Statement st(tr, "UPDATE PABX SET PAB_DNSUPDATE = 0 WHERE PAB_CODIGO = ?");
            st.SetInt(0, codigo);
            st.Executa();
        });
    } catch (const std::exception& e) {
        Registra("LimpaDNSUpdate: " + std::string(e.what()));
        return false;
    }
    return true;
}
