#include "service/download/ArquivamentoGravacao.h"

#include <openssl/crypto.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "common/ArquivoSaida.h"
#include "common/CifraTexto.h"
#include "common/Configuracao.h"
#include "common/Arquivos.h"
#include "common/DataHora.h"
#include "common/Texto.h"
#include "service/BancoServico.h"
#include "service/download/ConversaoAudio.h"
#include "service/download/PontoMorte.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* SqlInsereGravacao =
    "INSERT INTO GRAVACAO (GRV_CODIGO,PAB_CODIGO,GRV_ESTADO,GRV_COMANDA,GRV_RAMGRAVADO,GRV_DESTINO,"
    "GRV_CODCONTA,GRV_DATARG,GRV_DATAGRV,GRV_CONTROLE,GRV_IDFILE,GRV_TPFILE,GRV_TPLIGA,CLI_CODIGO,"
    "GRV_DURACAO,GRV_TEMAUDIO,GRV_BINDADOS) values "
    "(GEN_ID(GEN_GRV_ID,1),?,0,?,?,?,?,'NOW',?,?,?,?,?,?,?,?,?)";
constexpr const char* SqlBuscaCliente = "SELECT CLI_CODIGO FROM TELEFONE WHERE TEL_NUMERO=?";

// The unique key that makes one file of the unit's store one row.
constexpr std::string_view ChaveGravacao = "UNQ_GRAVACAO_ARQUIVO";

// A row already filed for this recording: the same file of the same unit
// with the same description, holding the audio when this filing has it.
// The statement's tail depends on what is compared (see Registra).
constexpr const char* SqlGravacaoArquivada =
    "SELECT FIRST 1 GRV_CODIGO FROM GRAVACAO WHERE PAB_CODIGO=? AND GRV_IDFILE=? "
    "AND GRV_COMANDA=? AND GRV_RAMGRAVADO=? AND GRV_DESTINO=? AND GRV_CODCONTA=?";

// A unique-key refusal by the recording's own key (the server names the
// violated constraint, or the unique index behind it, in double quotes).
bool ViolouChaveGravacao(const FirebirdError& e) {
    return e.ChaveDuplicada() && std::string_view(e.what()).find("\"" + std::string(ChaveGravacao) +
                                                                 "\"") != std::string_view::npos;
}

// A file of the recording that could not be read for the BLOB: the recording
// stays on the PABX with result 5.
struct ErroArquivo : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A name part that stays inside the folder it is joined to.
bool ParteSegura(const std::string& parte) {
    return !parte.empty() && parte != "." && parte != ".." &&
           parte.find('/') == std::string::npos && parte.find('\\') == std::string::npos &&
           parte.find('\0') == std::string::npos;
}

std::string TrocaExtensao(const std::string& nome, std::string_view extensao) {
    const auto ponto = nome.rfind('.');
    return (ponto == std::string::npos ? nome : nome.substr(0, ponto)) + std::string(extensao);
}

// Last write time of a file as local time in whole seconds.
std::optional<DataHora> DataEscrita(const fs::path& arquivo) {
    struct stat st {};
    if (::stat(arquivo.c_str(), &st) != 0) return std::nullopt;
    return DataHoraLocal(st.st_mtime);
}

struct SenhaLimpa {
    std::string bytes;
    ~SenhaLimpa() {
        if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
    }
};

}  // namespace

std::string TextoColuna(std::string_view texto, std::size_t largura) {
    return CortaUtf8(Win1252ParaUtf8(Utf8ParaWin1252(texto)), largura);
}

std::string IdArquivo(const fs::path& arquivo) {
    std::vector<std::string> partes;
    fs::path p = arquivo;
    for (int i = 0; i < 3 && p.has_filename(); ++i) {
        partes.insert(partes.begin(), p.filename().string());
        p = p.parent_path();
    }
    std::string id;
    for (const auto& parte : partes) id += (id.empty() ? "" : "\\") + parte;
    return CortaUtf8(id, 30);
}

ArquivamentoGravacao::ArquivamentoGravacao(ContextoArquivamento contexto)
    : ctx_(std::move(contexto)) {
    // Outputs a killed run left half-written: one run per unit at a time, so
    // nothing else writes there now.
    std::error_code ec;
    for (fs::directory_iterator it(ctx_.PastaPABX, ec), fim; !ec && it != fim; it.increment(ec)) {
        if (it->path().filename().string().starts_with(PrefixoPastaPrivada)) {
            std::error_code e2;
            fs::remove_all(it->path(), e2);
        }
    }
}

ArquivamentoGravacao::~ArquivamentoGravacao() {
    std::error_code ec;
    if (!privada_.empty()) fs::remove_all(privada_, ec);
}

std::string ArquivamentoGravacao::T(std::string_view texto) const {
    return ctx_.Traduz ? ctx_.Traduz(texto) : std::string(texto);
}

void ArquivamentoGravacao::Log(std::uint16_t nivel, bool console, const std::string& texto) const {
    if (ctx_.Log) ctx_.Log(nivel, console, texto);
}

const fs::path& ArquivamentoGravacao::PastaPrivada() {
    std::error_code ec;
    if (!privada_.empty() && fs::is_directory(privada_, ec)) return privada_;
    std::string modelo = (ctx_.PastaPABX / (std::string(PrefixoPastaPrivada) + "XXXXXX")).string();
    if (!::mkdtemp(modelo.data()))
        throw std::runtime_error("Não foi possível criar a pasta de trabalho em " +
                                 ctx_.PastaPABX.string() + ": " + std::strerror(errno));
    privada_ = modelo;
    return privada_;
}

void ArquivamentoGravacao::Produz(const fs::path& destino,
                                  const std::function<void(const fs::path&)>& gera) {
    const fs::path temp = PastaPrivada() / destino.filename();
    try {
        gera(temp);
        if (::rename(temp.c_str(), destino.c_str()) != 0)
            throw std::runtime_error("Não foi possível gravar " + destino.string() + ": " +
                                     std::strerror(errno));
    } catch (...) {
        std::error_code ec;
        fs::remove(temp, ec);
        throw;
    }
}

void ArquivamentoGravacao::CopiaNOK(const fs::path& arquivo, int partes) {
    std::vector<std::string> nomes;
    fs::path p = arquivo;
    for (int i = 0; i < partes && p.has_filename(); ++i) {
        nomes.insert(nomes.begin(), p.filename().string());
        p = p.parent_path();
    }
    fs::path destino = ctx_.PastaPABX / "NOK";
    for (const auto& n : nomes) {
        if (!ParteSegura(n)) return;
        destino /= n;
    }
    std::error_code ec;
    fs::create_directories(destino.parent_path(), ec);
    CopiaArquivo(arquivo, destino, true);
}

Attachment& ArquivamentoGravacao::ConexaoUnidade() {
    if (!unidade_) unidade_.emplace(Attachment::Conecta(ctx_.BaseDadosPABX));
    return *unidade_;
}

bool ArquivamentoGravacao::LeXMLGravacao(const fs::path& wav, DadosGravacao& d,
                                         ResultadoXML* resultado) {
    const fs::path xml = DescricaoDaGravacao(wav);
    const ResultadoXML r = LeDescricaoGravacao(xml, d);
    if (resultado) *resultado = r;
    switch (r.estado) {
        case EstadoXML::Lido: return true;
        case EstadoXML::Inexistente:
            Log(LogInfo, false, T("XML inexistente") + ": " + xml.string());
            return false;
        case EstadoXML::Ilegivel: break;
    }
    CopiaNOK(xml, 3);
    Log(LogErro, false, T("Erro em XML") + ": " + r.erro);
    return ctx_.ErroXML;
}

bool ArquivamentoGravacao::ConverteALawPCM(const fs::path& origem, const fs::path& destino) {
    if (TamanhoArquivo(origem) == 0) {
        Log(LogErro, false, T("WAV inexistente") + ": " + origem.string());
        return false;
    }
    try {
        Produz(destino,
               [&](const fs::path& temp) { ::ConverteALawParaPCM(origem, temp, ctx_.Tabela); });
        return true;
    } catch (const std::exception& e) {
        CopiaNOK(origem, 1);
        Log(LogErro, false, T("Erro em WAV") + ": " + e.what());
        return false;
    }
}

bool ArquivamentoGravacao::ConverteOGG(const fs::path& pasta, const std::string& nome) {
    const fs::path origem = pasta / nome;
    Log(LogInfo, false, T("Converte OGG") + ": " + origem.string());
    std::string resultado;
    try {
        LeCabecalhoWAV(origem, 1);
    } catch (const std::exception&) {
        CopiaNOK(origem, 3);
        resultado = T("Arquivo WAV inválido") + ": " + origem.string();
        Log(LogErro, false, resultado);
    }
    if (resultado.empty()) {
        try {
            ComentariosOgg c{"Quorvanta", "Norvika", T("Gravacao chamada"),
                             FormataDataHora(ctx_.Relogio(), "dd/mm/yyyy hh:nn:ss")};
            Produz(pasta / TrocaExtensao(nome, ".ogg"),
                   [&](const fs::path& temp) { ConverteWAVParaOgg(origem, temp, c); });
            resultado = "Sucesso";
        } catch (const std::exception& e) {
            resultado = "Erro " + std::string(e.what());
        }
    }
    Log(LogInfo, false,
        T("Resultado conversão to OGG") + " (" + resultado + "): " + origem.string());
    return resultado == "Sucesso";
}

bool ArquivamentoGravacao::CriptografaArquivo(const fs::path& pasta, const std::string& nome,
                                              std::string_view chaveCifrada) {
    const fs::path origem = pasta / nome;
    Log(LogInfo, false, T("Criptografando") + ": " + origem.string());
    bool ok = true;
    try {
        SenhaLimpa senha{DescriptografaBytes(chaveCifrada)};
        Produz(pasta / TrocaExtensao(nome, ".dad"), [&](const fs::path& temp) {
            CriptografaArquivoDad(origem, temp, senha.bytes, ctx_.Aleatorio);
        });
    } catch (const std::exception&) {
        Log(LogInfo, false, T("Ocorreu erro ao criptografar") + " " + origem.string());
        ok = false;
    }
    Log(LogInfo, false, T("Fim criptografia") + ": " + origem.string());
    return ok;
}

bool ArquivamentoGravacao::DescriptografaArquivo(int tipo, std::string_view chaveCifrada,
                                                 const fs::path& dad) {
    try {
        SenhaLimpa senha{DescriptografaBytes(CortaUtf8(chaveCifrada, 30))};
        fs::path destino = dad;
        destino.replace_extension(ExtensaoTipoArquivo(tipo & 0x7F));
        DescriptografaArquivoDad(dad, destino, senha.bytes);
        return true;
    } catch (const std::exception&) {
        Log(LogInfo, false, T("Ocorreu erro ao processar arquivo"));
        return false;
    }
}

int ArquivamentoGravacao::BDBuscaCliente(const std::string& numeroOriginal, std::string_view ddd) {
    std::string numero = numeroOriginal;
    if (!ddd.empty() &&
        numero.size() > static_cast<std::size_t>(std::max(ctx_.CifrasNumeroLocal, 0)) &&
        numero.starts_with(ddd))
        numero.erase(0, ddd.size());
    try {
        if (!principal_) principal_.emplace(Attachment::Conecta(ctx_.BaseDadosPrincipal));
        Transaction tr(*principal_, true);
        Statement st(tr, SqlBuscaCliente);
        st.SetText(0, TextoColuna(numero, 20));
        Cursor c = st.Abre();
        const int cliente = c.Proxima() ? c.GetInt(0) : 0;
        c.Fecha();
        tr.Commit();
        return cliente;
    } catch (const std::exception& e) {
        principal_.reset();
        Log(LogErro, false, LinhaErroBD("SELCLI", e, SqlBuscaCliente));
        return 0;
    }
}

int ArquivamentoGravacao::Registra(const fs::path& pasta, const std::string& nome,
                                   ContadoresArquivamento& cont) {
    const std::shared_ptr<const ConfiguracaoGeral> cfgPtr =
        ctx_.Configuracao ? ctx_.Configuracao() : std::make_shared<const ConfiguracaoGeral>();
    const ConfiguracaoGeral& cfg = *cfgPtr;
    if (!ParteSegura(nome) || nome.size() < 2) {
        ++cont.DWN_FALHASIMP;
        Log(LogInfo, false, "Erro grv: " + T("Nome de arquivo inválido") + ": " + nome);
        return 5;
    }
    const fs::path wav = pasta / nome;
    const fs::path xml = DescricaoDaGravacao(wav);

    int tipoArquivo = 1;
    std::string controle;
    const std::string idArquivo = IdArquivo(wav);
    // A description filed without its WAV takes its own date, so a second
    // filing of the same description finds the same row.
    DataHora inicio = DataEscrita(wav).value_or(DataEscrita(xml).value_or(ctx_.Relogio()));
    inicio.milissegundo = 0;

    DadosGravacao d;
    ResultadoXML lido;
    if (!LeXMLGravacao(wav, d, &lido)) ++cont.DWN_FALHASXML;

    const bool wavComAudio = TamanhoArquivo(wav) > 0;
    // A non-empty WAV is always stored: the description may be missing,
    // unreadable, silent on audio or even say there is none, but once filed
    // the recording leaves the unit, and its audio with it. Without audio in
    // the WAV, only a description that says "sim" makes it a missing file (2).
    if (wavComAudio) {
        if (d.TemAudio != 1 && lido.estado == EstadoXML::Lido && lido.temElementoAudio)
            Log(LogInfo, false,
                T("XML indica gravação sem áudio, áudio do WAV registrado") + ": " + wav.string());
        d.TemAudio = 1;
    } else if (lido.estado != EstadoXML::Lido || !lido.temElementoAudio) {
        d.TemAudio = 0;
    }

    std::string armazenado = "C" + nome.substr(1, 11);
    std::vector<fs::path> colocados;  // outputs placed beside the WAV by this filing
    int resultado = 0;

    auto falha = [&](int codigo) {
        for (const auto& p : colocados) {
            std::error_code ec;
            fs::remove(p, ec);
        }
        return codigo;
    };

    bool ok = true;
    if (d.TemAudio == 1) {
        if (wavComAudio) {
            ok = ConverteALawPCM(wav, pasta / armazenado);
            if (ok) colocados.push_back(pasta / armazenado);
        } else {
            d.TemAudio = 2;
        }
    }
    if (!ok) {
        Log(LogErro, false, T("Falhou conversão WAV") + ": " + (pasta / armazenado).string());
        return falha(6);
    }

    std::error_code ec;
    if (d.TemAudio == 1 &&
        (cfg.CFG_CONVERTOGG == 1 || cfg.CFG_FTPBACKUP == 2 || cfg.CFG_NETBACKUP == 2) &&
        fs::exists(pasta / armazenado, ec)) {
        if (ConverteOGG(pasta, armazenado)) {
            ++cont.DWN_ARQCONVOGG;
            colocados.push_back(pasta / TrocaExtensao(armazenado, ".ogg"));
            if (cfg.CFG_CONVERTOGG == 1) {
                tipoArquivo = 2;
                armazenado = TrocaExtensao(armazenado, ".ogg");
            }
        } else {
            ++cont.DWN_FALHASOGG;
        }
    }

    if (d.TemAudio == 1 && !cfg.CFG_CRIPTOKEY.empty() &&
        (cfg.CFG_CRIPTOGRAFIA == 1 || cfg.CFG_FTPBACKUP == 3 || cfg.CFG_NETBACKUP == 3) &&
        fs::exists(pasta / armazenado, ec)) {
        SenhaLimpa senha{DescriptografaBytes(cfg.CFG_CRIPTOKEY)};
        if (!AparaVista(senha.bytes).empty() &&
            CriptografaArquivo(pasta, armazenado, cfg.CFG_CRIPTOKEY)) {
            colocados.push_back(pasta / TrocaExtensao(armazenado, ".dad"));
            if (cfg.CFG_CRIPTOGRAFIA == 1) {
                tipoArquivo |= 0x80;
                armazenado = TrocaExtensao(armazenado, ".dad");
                controle = CortaUtf8(cfg.CFG_CRIPTOKEY, 30);
            }
        }
    }

    if (d.Inicio != 0) inicio = UnixParaData(d.Inicio);
    const fs::path arquivo = pasta / armazenado;
    if (d.TemAudio == 1) {
        Log(LogInfo, false, T("Grava arquivo") + ": " + arquivo.string());
        d.Duracao = ::DuracaoWAV(wav);
    }
    if (d.TipoLigacao < 0)
        d.TipoLigacao =
            ctx_.BuscaRamalPorNome && ctx_.BuscaRamalPorNome(d.NumeroDestino) != 0 ? 0 : 1;
    int cliente = 0;
    if (d.TipoLigacao >= 1 && !AparaVista(d.NumeroDestino).empty())
        cliente = BDBuscaCliente(d.NumeroDestino, cfg.DDD);

    if (ctx_.AntesDeGravar) ctx_.AntesDeGravar(arquivo);
    if (d.TemAudio == 1 && !fs::exists(arquivo, ec)) {
        ++cont.DWN_FALHASIMP;
        Log(LogInfo, false, "Erro grv: " + T("Arquivo inexistente") + ": " + arquivo.string());
        return falha(5);
    }

    const std::string comanda = TextoColuna(d.Comanda, 10);
    const std::string ramal = TextoColuna(d.RamalGravado, 10);
    const std::string destino = TextoColuna(d.NumeroDestino, 20);
    const std::string conta = TextoColuna(d.CodConta, 5);
    const std::string id = TextoColuna(idArquivo, 30);

    // Whether this recording already has its row: the same file of the unit
    // with the same description (and, when this filing has audio, a row with
    // the same audio). `comData`: on the recording's date as well.
    auto jaArquivada = [&](Transaction& tr, bool comData) {
        std::string sql = SqlGravacaoArquivada;
        if (comData) sql += " AND GRV_DATAGRV=?";
        if (d.TemAudio == 1) sql += " AND GRV_TEMAUDIO=1 AND GRV_DURACAO=?";
        Statement st(tr, sql);
        st.SetInt(0, ctx_.CodigoPABX)
            .SetText(1, id)
            .SetText(2, comanda)
            .SetText(3, ramal)
            .SetText(4, destino)
            .SetText(5, conta);
        unsigned i = 6;
        if (comData) st.SetTimestamp(i++, inicio);
        if (d.TemAudio == 1) st.SetInt(i++, d.Duracao);
        Cursor c = st.Abre();
        const bool achou = c.Proxima();
        c.Fecha();
        return achou;
    };

    // A connection kept from an earlier filing may have been lost meanwhile
    // (a server restart): that one is replaced once before the row counts as
    // failed. Answers false when the recording turned out to be filed already.
    auto insere = [&] {
        Attachment& att = ConexaoUnidade();
        Transaction tr(att);
        // Without a start in the description the date is the file's own,
        // which a server that gives no file times makes the moment of the
        // download: a second download of the same file would not meet the
        // unique key, so its row is looked for by the file itself.
        if (d.Inicio == 0 && jaArquivada(tr, false)) return false;
        Statement st(tr, SqlInsereGravacao);
        st.SetInt(0, ctx_.CodigoPABX)
            .SetText(1, comanda)
            .SetText(2, ramal)
            .SetText(3, destino)
            .SetText(4, conta)
            .SetTimestamp(5, inicio)
            .SetText(6, TextoColuna(controle, 30))
            .SetText(7, id)
            .SetInt(8, tipoArquivo)
            .SetSmallInt(9, static_cast<std::int16_t>(d.TipoLigacao))
            .SetInt(10, cliente)
            .SetInt(11, d.Duracao)
            .SetSmallInt(12, static_cast<std::int16_t>(d.TemAudio));
        if (d.TemAudio == 1) {
            BlobWriter blob(tr);
            try {
                ArquivoEntrada entrada(arquivo);
                std::vector<char> pedaco(TamanhoSegmentoBlob);
                for (std::size_t n; (n = entrada.Le(pedaco.data(), pedaco.size())) > 0;)
                    blob.Escreve(pedaco.data(), n);
            } catch (const FirebirdError&) {
                throw;
            } catch (const std::exception& e) {
                throw ErroArquivo(e.what());
            }
            st.SetBlobId(13, blob.Fecha());
        } else {
            st.SetNull(13);
        }
        st.Executa();
        PontoMorte("insere-antes-commit");
        tr.Commit();
        return true;
    };
    auto duplicado = [&] {
        ++cont.DWN_AVDUPIMP;
        Log(LogInfo, false, T("Arquivo duplicado") + ": " + wav.string());
        return 1;
    };
    try {
        const bool reaproveitada = unidade_.has_value();
        bool inserida = false;
        try {
            inserida = insere();
        } catch (const FirebirdError& e) {
            if (!reaproveitada || !e.ConexaoPerdida()) throw;
            unidade_.reset();
            inserida = insere();
        }
        if (inserida) {
            ++cont.DWN_ARQIMPORTADO;
            resultado = 0;
            if (d.TemAudio == 1)
                Log(LogInfo, true, T("Registrou arquivo") + ": " + arquivo.string());
        } else {
            resultado = duplicado();
        }
    } catch (const FirebirdError& e) {
        // Only this recording's own key, with its row there, means "filed
        // already": any other refusal (a code generator behind the table's
        // codes, two files whose cut identifiers meet) leaves it at the unit.
        bool jaTem = false;
        if (ViolouChaveGravacao(e)) {
            try {
                Transaction tr(ConexaoUnidade(), true);
                jaTem = jaArquivada(tr, true);
                tr.Commit();
            } catch (const std::exception&) {
                jaTem = false;
            }
        }
        if (jaTem) {
            resultado = duplicado();
        } else {
            unidade_.reset();
            ++cont.DWN_FALHASIMP;
            Log(LogErro, false, LinhaErroBD("INSGRV", e, SqlInsereGravacao));
            resultado = falha(7);
        }
    } catch (const ErroArquivo& e) {
        ++cont.DWN_FALHASIMP;
        Log(LogInfo, false, std::string("Erro grv: ") + e.what());
        resultado = falha(5);
    } catch (const std::exception& e) {
        unidade_.reset();
        ++cont.DWN_FALHASIMP;
        Log(LogInfo, false, std::string("Erro grv: ") + e.what());
        resultado = falha(7);
    }
    return resultado;
}
