#include "common/db/Firebird.h"

#include <atomic>

#include "common/db/FirebirdInterno.h"
#include "common/Texto.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <istream>
#include <ostream>
#include <variant>
#include <vector>

using namespace Firebird;
using fbinterno::Status;
using namespace fbinterno::valores;

namespace fbinterno {

IMaster* Master() {
    static IMaster* master = fb_get_master_interface();
    return master;
}

IUtil* Util() {
    static IUtil* util = Master()->getUtilInterface();
    return util;
}

IProvider* Provedor() {
    static IProvider* provedor = Master()->getDispatcher();
    return provedor;
}

}  // namespace fbinterno

std::string MontaStringConexao(std::string_view servidor, int porta,
                               std::string_view caminhoOuAlias) {
    std::string s(servidor);
    if (porta != 0 && porta != 3050) s += "/" + std::to_string(porta);
    s += ":";
    s += caminhoOuAlias;
    return s;
}

// ---------------------------------------------------------------- Attachment

namespace {
std::atomic<int> tempoLimiteConexaoPadrao{30};
}  // namespace

int TempoLimiteConexaoPadrao() { return tempoLimiteConexaoPadrao; }
void DefineTempoLimiteConexaoPadrao(int segundos) {
    tempoLimiteConexaoPadrao = segundos > 0 ? segundos : 30;
}

namespace {

// The builder is owned from its creation on, so a failed insert leaks nothing.
fbinterno::Xpb NovoDpb(Status& st, const ParametrosConexao& p) {
    fbinterno::Xpb dpb(st, IXpbBuilder::DPB);
    if (!p.usuario.empty()) dpb->insertString(st.Ptr(), isc_dpb_user_name, p.usuario.c_str());
    if (!p.senha.empty()) dpb->insertString(st.Ptr(), isc_dpb_password, p.senha.c_str());
    dpb->insertString(st.Ptr(), isc_dpb_lc_ctype, "UTF8");
    dpb->insertInt(st.Ptr(), isc_dpb_sql_dialect, 3);
    dpb->insertInt(st.Ptr(), isc_dpb_connect_timeout,
                   p.tempoLimiteConexao > 0 ? p.tempoLimiteConexao : TempoLimiteConexaoPadrao());
    st.Verifica();
    return dpb;
}

}  // namespace

Attachment Attachment::Conecta(const ParametrosConexao& p) {
    Status st;
    fbinterno::Xpb dpb = NovoDpb(st, p);
    IAttachment* att = fbinterno::Provedor()->attachDatabase(
        st.Ptr(), p.banco.c_str(), dpb->getBufferLength(st.Ptr()), dpb->getBuffer(st.Ptr()));
    st.Verifica();
    return Attachment(att);
}

Attachment Attachment::Cria(const ParametrosConexao& p, std::string_view charsetPadrao,
                            int tamanhoPagina) {
    Status st;
    fbinterno::Xpb dpb = NovoDpb(st, p);
    dpb->insertInt(st.Ptr(), isc_dpb_page_size, tamanhoPagina);
    dpb->insertString(st.Ptr(), isc_dpb_set_db_charset, std::string(charsetPadrao).c_str());
    st.Verifica();
    IAttachment* att = fbinterno::Provedor()->createDatabase(
        st.Ptr(), p.banco.c_str(), dpb->getBufferLength(st.Ptr()), dpb->getBuffer(st.Ptr()));
    st.Verifica();
    return Attachment(att);
}

Attachment::Attachment(Attachment&& o) noexcept : att_(o.att_) { o.att_ = nullptr; }

Attachment& Attachment::operator=(Attachment&& o) noexcept {
    if (this != &o) {
        try {
            Desconecta();
        } catch (const FirebirdError&) {
        }
        att_ = o.att_;
        o.att_ = nullptr;
    }
    return *this;
}

Attachment::~Attachment() {
    try {
        Desconecta();
    } catch (const FirebirdError&) {
    }
}

void Attachment::Desconecta() {
    if (!att_) return;
    IAttachment* att = att_;
    att_ = nullptr;
    Status st;
    att->detach(st.Ptr());
    if (st.Falhou()) {
        // A lost connection cannot detach; the handle is released all the same.
        att->release();
        st.Verifica();
    }
}

void Attachment::ApagaBanco() {
    if (!att_) throw ErroUso("ApagaBanco: not attached");
    Status st;
    att_->dropDatabase(st.Ptr());
    st.Verifica();
    att_ = nullptr;
}

std::uint64_t Attachment::Executa(std::string_view sql, const TextoSecreto& segredo) {
    Transaction tr(*this);
    std::uint64_t n = tr.Executa(sql, segredo);
    tr.Commit();
    return n;
}

std::string Attachment::NomeArquivoServidor() {
    Transaction tr(*this, true);
    Statement st(tr, "SELECT MON$DATABASE_NAME FROM MON$DATABASE");
    Cursor c = st.Abre();
    if (!c.Proxima()) throw ErroUso("MON$DATABASE returned no row");
    std::string nome = c.GetText(0);
    while (!nome.empty() && nome.back() == ' ') nome.pop_back();
    return nome;
}

int Attachment::ContaConexoesUsuarios() {
    // A new transaction takes a new snapshot of the monitoring tables.
    Transaction tr(*this, true);
    Statement st(tr, "SELECT COUNT(*) FROM MON$ATTACHMENTS WHERE MON$SYSTEM_FLAG = 0");
    Cursor c = st.Abre();
    c.Proxima();
    return int(c.GetBigInt(0));
}

// --------------------------------------------------------------- Transaction

Transaction::Transaction(Attachment& att, bool somenteLeitura, Isolamento isolamento,
                         int esperaTrava)
    : att_(att.Interface()) {
    if (!att_) throw ErroUso("Transaction: not attached");
    const unsigned char modo =
        static_cast<unsigned char>(somenteLeitura ? isc_tpb_read : isc_tpb_write);
    std::vector<unsigned char> tpb{isc_tpb_version3, modo};
    if (isolamento == Isolamento::Instantaneo) {
        tpb.push_back(isc_tpb_concurrency);
    } else {
        tpb.push_back(isc_tpb_read_committed);
        tpb.push_back(isc_tpb_rec_version);
    }
    tpb.push_back(isc_tpb_wait);
    if (esperaTrava > 0) {
        // The value's length, then the value, least significant byte first.
        const auto v = static_cast<std::uint32_t>(esperaTrava);
        tpb.insert(tpb.end(),
                   {static_cast<unsigned char>(isc_tpb_lock_timeout), 4,
                    static_cast<unsigned char>(v), static_cast<unsigned char>(v >> 8),
                    static_cast<unsigned char>(v >> 16), static_cast<unsigned char>(v >> 24)});
    }
    Status st;
    tr_ = att_->startTransaction(st.Ptr(), static_cast<unsigned>(tpb.size()), tpb.data());
    st.Verifica();
}

Transaction::~Transaction() {
    if (tr_) {
        try {
            Rollback();
        } catch (const FirebirdError&) {
        }
    }
}

Firebird::ITransaction* Transaction::Interface() const {
    if (!tr_) throw ErroUso("transaction already ended");
    return tr_;
}

void Transaction::Commit() {
    Status st;
    Interface()->commit(st.Ptr());
    st.Verifica();
    tr_ = nullptr;
}

void Transaction::CommitRetaining() {
    Status st;
    Interface()->commitRetaining(st.Ptr());
    st.Verifica();
}

void Transaction::Rollback() {
    if (!tr_) return;
    ITransaction* tr = tr_;
    tr_ = nullptr;
    Status st;
    tr->rollback(st.Ptr());
    if (st.Falhou()) {
        tr->release();
        st.Verifica();
    }
}

std::uint64_t Transaction::Executa(std::string_view sql, const TextoSecreto& segredo) {
    Statement st(*this, sql, segredo);
    return st.Executa();
}

// ---------------------------------------------------------------------- Linha

void Linha::Descreve(IMessageMetadata* meta) {
    meta_ = meta;
    buffer_.clear();
    if (meta_) {
        Status st;
        const unsigned tamanho = meta_->getMessageLength(st.Ptr());
        st.Verifica();
        buffer_.assign(tamanho, 0);
    }
}

unsigned Linha::NumeroColunas() const {
    if (!meta_) return 0;
    Status st;
    const unsigned n = meta_->getCount(st.Ptr());
    st.Verifica();
    return n;
}

std::string Linha::NomeColuna(unsigned i) const {
    Status st;
    const char* nome = meta_ ? meta_->getAlias(st.Ptr(), i) : nullptr;
    st.Verifica();
    return nome ? nome : "";
}

int Linha::IndiceColuna(std::string_view nome) const {
    const std::string procurado = Maiusculas(nome);
    const unsigned n = NumeroColunas();
    for (unsigned i = 0; i < n; ++i)
        if (Maiusculas(NomeColuna(i)) == procurado) return int(i);
    return -1;
}

const unsigned char* Linha::Campo(unsigned i, unsigned& tipo) const {
    if (!meta_ || i >= NumeroColunas())
        throw ErroUso("column " + std::to_string(i) + " does not exist");
    Status st;
    const unsigned nulo = meta_->getNullOffset(st.Ptr(), i);
    const unsigned deslocamento = meta_->getOffset(st.Ptr(), i);
    tipo = meta_->getType(st.Ptr(), i) & ~1u;
    st.Verifica();
    if (Le<short>(&buffer_[nulo]) != 0) return nullptr;
    return &buffer_[deslocamento];
}

bool Linha::IsNull(unsigned i) const {
    unsigned tipo;
    return Campo(i, tipo) == nullptr;
}

std::int64_t Linha::GetBigInt(unsigned i) const {
    unsigned tipo;
    const unsigned char* p = Campo(i, tipo);
    if (!p) return 0;
    Status st;
    const int escala = meta_->getScale(st.Ptr(), i);
    std::int64_t v;
    switch (tipo) {
        case SQL_SHORT: v = Le<std::int16_t>(p); break;
        case SQL_LONG: v = Le<std::int32_t>(p); break;
        case SQL_INT64: v = Le<std::int64_t>(p); break;
        case SQL_BOOLEAN: v = *p ? 1 : 0; break;
        case SQL_FLOAT: return std::llround(Le<float>(p));
        case SQL_DOUBLE:
        case SQL_D_FLOAT: return std::llround(Le<double>(p));
        case SQL_TEXT:
        case SQL_VARYING: {
            const std::string s = GetText(i);
            try {
                return std::stoll(s);
            } catch (const std::exception&) {
                throw ErroUso("column " + std::to_string(i) + " is not a number: \"" + s + "\"");
            }
        }
        default: throw ErroUso("column " + std::to_string(i) + " is not an integer");
    }
    if (escala < 0) v /= Potencia10(-escala);
    return v;
}

std::int32_t Linha::GetInt(unsigned i) const { return std::int32_t(GetBigInt(i)); }

std::int16_t Linha::GetSmallInt(unsigned i) const { return std::int16_t(GetBigInt(i)); }

double Linha::GetDouble(unsigned i) const {
    unsigned tipo;
    const unsigned char* p = Campo(i, tipo);
    if (!p) return 0;
    switch (tipo) {
        case SQL_FLOAT: return Le<float>(p);
        case SQL_DOUBLE:
        case SQL_D_FLOAT: return Le<double>(p);
        default: break;
    }
    Status st;
    const int escala = meta_->getScale(st.Ptr(), i);
    std::int64_t bruto;
    switch (tipo) {
        case SQL_SHORT: bruto = Le<std::int16_t>(p); break;
        case SQL_LONG: bruto = Le<std::int32_t>(p); break;
        case SQL_INT64: bruto = Le<std::int64_t>(p); break;
        default: return std::stod(GetText(i));
    }
    return double(bruto) * std::pow(10.0, escala);
}

DataHora Linha::GetTimestamp(unsigned i) const {
    unsigned tipo;
    const unsigned char* p = Campo(i, tipo);
    if (!p) return {};
    switch (tipo) {
        case SQL_TIMESTAMP: {
            const auto ts = Le<ISC_TIMESTAMP>(p);
            DataHora d = DeData(ts.timestamp_date);
            DeHora(ts.timestamp_time, d);
            return d;
        }
        case SQL_TYPE_DATE: return DeData(Le<ISC_DATE>(p));
        case SQL_TYPE_TIME: {
            DataHora d;
            DeHora(Le<ISC_TIME>(p), d);
            return d;
        }
        default: throw ErroUso("column " + std::to_string(i) + " is not a date or time");
    }
}

BlobId Linha::GetBlobId(unsigned i) const {
    unsigned tipo;
    const unsigned char* p = Campo(i, tipo);
    if (!p) return {};
    if (tipo != SQL_BLOB && tipo != SQL_QUAD)
        throw ErroUso("column " + std::to_string(i) + " is not a BLOB");
    return ParaBlobId(Le<ISC_QUAD>(p));
}

std::string Linha::GetText(unsigned i) const {
    unsigned tipo;
    const unsigned char* p = Campo(i, tipo);
    if (!p) return {};
    Status st;
    switch (tipo) {
        case SQL_VARYING: {
            const auto n = Le<std::uint16_t>(p);
            return std::string(reinterpret_cast<const char*>(p + 2), n);
        }
        case SQL_TEXT: {
            const unsigned n = meta_->getLength(st.Ptr(), i);
            std::string s(reinterpret_cast<const char*>(p), n);
            // CHAR columns come padded to their byte width.
            while (!s.empty() && s.back() == ' ') s.pop_back();
            return s;
        }
        case SQL_SHORT:
        case SQL_LONG:
        case SQL_INT64: {
            const int escala = meta_->getScale(st.Ptr(), i);
            std::int64_t v = tipo == SQL_SHORT  ? Le<std::int16_t>(p)
                             : tipo == SQL_LONG ? Le<std::int32_t>(p)
                                                : Le<std::int64_t>(p);
            if (escala >= 0) return std::to_string(v);
            const std::int64_t divisor = Potencia10(-escala);
            std::string inteiro = std::to_string(v / divisor);
            if (v < 0 && v / divisor == 0) inteiro = "-0";
            std::string frac = std::to_string(std::llabs(v % divisor));
            frac.insert(0, std::size_t(-escala) - frac.size(), '0');
            return inteiro + "." + frac;
        }
        case SQL_FLOAT:
        case SQL_DOUBLE:
        case SQL_D_FLOAT: {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.15g", GetDouble(i));
            return buf;
        }
        case SQL_BOOLEAN: return *p ? "true" : "false";
        case SQL_TIMESTAMP: return FormataDataHora(GetTimestamp(i), "yyyy-mm-dd hh:nn:ss");
        case SQL_TYPE_DATE: return FormataDataHora(GetTimestamp(i), "yyyy-mm-dd");
        case SQL_TYPE_TIME: return FormataDataHora(GetTimestamp(i), "hh:nn:ss");
        case SQL_BLOB: return ReadBlob(i);
        default: throw ErroUso("column " + std::to_string(i) + " has a type without a text form");
    }
}

// ------------------------------------------------------------------ Statement

Statement::Statement(Transaction& tr, std::string_view sql, const TextoSecreto& segredo)
    : Linha(tr), sql_(sql), segredo_(segredo.valor) {
    Status st;
    st_ = tr.InterfaceConexao()->prepare(st.Ptr(), tr.Interface(), unsigned(sql_.size()),
                                         sql_.c_str(), 3, IStatement::PREPARE_PREFETCH_METADATA);
    if (st.Falhou()) {
        try {
            st.Verifica();
        } catch (const FirebirdError& e) {
            throw ComSql(e);
        }
    }
    try {
        metaEntradaOriginal_ = st_->getInputMetadata(st.Ptr());
        st.Verifica();
        metaSaida_ = st_->getOutputMetadata(st.Ptr());
        st.Verifica();
        temCursor_ = (st_->getFlags(st.Ptr()) & IStatement::FLAG_HAS_CURSOR) != 0;
        parametros_.resize(metaEntradaOriginal_->getCount(st.Ptr()));
        const unsigned colunas = metaSaida_->getCount(st.Ptr());
        st.Verifica();
        if (colunas > 0) Descreve(metaSaida_);
    } catch (...) {
        // The destructor does not run for a half-built object.
        Libera();
        throw;
    }
}

Statement::~Statement() { Libera(); }

void Statement::Libera() noexcept {
    for (IMessageMetadata** m : {&metaEntrada_, &metaEntradaOriginal_, &metaSaida_}) {
        if (*m) (*m)->release();
        *m = nullptr;
    }
    if (st_) {
        Status st;
        st_->free(st.Ptr());
        if (st.Falhou()) st_->release();
        st_ = nullptr;
    }
}

FirebirdError Statement::ComSql(const FirebirdError& e) const {
    if (segredo_.empty())
        return FirebirdError(e.Codigos(), std::string(e.what()) + " (" + sql_ + ")");
    // The server may quote a piece of the text back: mask the secret there too.
    std::string msg = e.what();
    for (std::size_t pos = 0; (pos = msg.find(segredo_, pos)) != std::string::npos; pos += 6)
        msg.replace(pos, segredo_.size(), "******");
    return FirebirdError(e.Codigos(), msg + " (statement text withheld: it carries a secret)");
}

std::uint64_t Statement::Executa() {
    if (temCursor_)
        throw ErroUso("Executa on a statement with a result set; use Abre (" + sql_ + ")");
    try {
        MontaEntrada();
        Status st;
        const bool temSaida = meta_ != nullptr;
        st_->execute(st.Ptr(), tr_.Interface(), metaEntrada_,
                     entrada_.empty() ? nullptr : entrada_.data(), temSaida ? metaSaida_ : nullptr,
                     temSaida ? buffer_.data() : nullptr);
        st.Verifica();
        const std::uint64_t n = st_->getAffectedRecords(st.Ptr());
        st.Verifica();
        return n;
    } catch (const FirebirdError& e) {
        throw ComSql(e);
    }
}

Cursor Statement::Abre() {
    if (!temCursor_)
        throw ErroUso(segredo_.empty() ? "Abre on a statement without a result set (" + sql_ + ")"
                                       : "Abre on a statement without a result set");
    try {
        MontaEntrada();
        Status st;
        IResultSet* rs =
            st_->openCursor(st.Ptr(), tr_.Interface(), metaEntrada_,
                            entrada_.empty() ? nullptr : entrada_.data(), metaSaida_, 0);
        st.Verifica();
        return Cursor(*this, rs);
    } catch (const FirebirdError& e) {
        throw ComSql(e);
    }
}

// --------------------------------------------------------------------- Cursor

Cursor::Cursor(Statement& st, IResultSet* rs) : Linha(st.tr_), st_(&st), rs_(rs) {
    Descreve(st.metaSaida_);
}

Cursor::Cursor(Cursor&& o) noexcept : Linha(o.tr_), st_(o.st_), rs_(o.rs_) {
    meta_ = o.meta_;
    buffer_ = std::move(o.buffer_);
    o.rs_ = nullptr;
}

Cursor::~Cursor() {
    try {
        Fecha();
    } catch (const FirebirdError&) {
    }
}

bool Cursor::Proxima() {
    if (!rs_) return false;
    Status st;
    const int r = rs_->fetchNext(st.Ptr(), buffer_.data());
    if (st.Falhou()) {
        try {
            st.Verifica();
        } catch (const FirebirdError& e) {
            throw st_->ComSql(e);
        }
    }
    return r == IStatus::RESULT_OK;
}

void Cursor::Fecha() {
    if (!rs_) return;
    IResultSet* rs = rs_;
    rs_ = nullptr;
    Status st;
    rs->close(st.Ptr());
    if (st.Falhou()) {
        rs->release();
        st.Verifica();
    }
}
