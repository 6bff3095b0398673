// A statement's parameters: their values and the input message laid out for them.
#include "common/db/Firebird.h"

#include "common/db/FirebirdInterno.h"

#include <cstring>
#include <functional>
#include <istream>
#include <ostream>

using namespace Firebird;
using fbinterno::Status;
using namespace fbinterno::valores;

unsigned Statement::NumeroParametros() const { return unsigned(parametros_.size()); }

namespace {
void VerificaIndice(std::size_t n, unsigned i) {
    if (i >= n) throw ErroUso("parameter " + std::to_string(i) + " does not exist");
}
}  // namespace

Statement& Statement::SetNull(unsigned i) {
    VerificaIndice(parametros_.size(), i);
    parametros_[i] = Parametro{};
    return *this;
}

Statement& Statement::SetText(unsigned i, std::string_view valor) {
    VerificaIndice(parametros_.size(), i);
    if (valor.size() > 32765) throw ErroUso("text parameter longer than 32765 bytes");
    parametros_[i].tipo = Parametro::Texto;
    parametros_[i].texto.assign(valor);
    return *this;
}

Statement& Statement::SetInt(unsigned i, std::int32_t valor) {
    VerificaIndice(parametros_.size(), i);
    parametros_[i].tipo = Parametro::Int;
    parametros_[i].numero = valor;
    return *this;
}

Statement& Statement::SetBigInt(unsigned i, std::int64_t valor) {
    VerificaIndice(parametros_.size(), i);
    parametros_[i].tipo = Parametro::BigInt;
    parametros_[i].numero = valor;
    return *this;
}

Statement& Statement::SetSmallInt(unsigned i, std::int16_t valor) {
    VerificaIndice(parametros_.size(), i);
    parametros_[i].tipo = Parametro::SmallInt;
    parametros_[i].numero = valor;
    return *this;
}

Statement& Statement::SetTimestamp(unsigned i, const DataHora& valor) {
    VerificaIndice(parametros_.size(), i);
    if (!DataValida(valor)) throw ErroUso("invalid date for parameter " + std::to_string(i));
    parametros_[i].tipo = Parametro::Timestamp;
    parametros_[i].ts = ParaTimestamp(valor);
    return *this;
}

Statement& Statement::SetBlobId(unsigned i, BlobId valor) {
    VerificaIndice(parametros_.size(), i);
    parametros_[i].tipo = Parametro::Blob;
    parametros_[i].blob = ParaQuad(valor);
    return *this;
}

Statement& Statement::SetBlob(unsigned i, std::string_view dados) {
    VerificaIndice(parametros_.size(), i);
    BlobWriter w(tr_);
    w.Escreve(dados);
    return SetBlobId(i, w.Fecha());
}

Statement& Statement::SetBlob(unsigned i, std::istream& origem) {
    VerificaIndice(parametros_.size(), i);
    BlobWriter w(tr_);
    std::vector<char> pedaco(TamanhoSegmentoBlob);
    while (origem) {
        origem.read(pedaco.data(), std::streamsize(pedaco.size()));
        const auto n = origem.gcount();
        if (n > 0) w.Escreve(pedaco.data(), std::size_t(n));
    }
    if (origem.bad()) throw ErroUso("reading the BLOB's source failed");
    return SetBlobId(i, w.Fecha());
}

// The input message is laid out for the values actually bound, so that the
// server converts (an integer into a BIGINT column, a text into a timestamp).
// The layout is rebuilt only when a parameter's kind changes or a text grows
// past the width reserved so far.
void Statement::MontaEntrada() {
    Status st;
    std::vector<std::pair<int, unsigned>> assinatura(parametros_.size());
    for (std::size_t i = 0; i < parametros_.size(); ++i) {
        const Parametro& p = parametros_[i];
        unsigned largura = 0;
        if (p.tipo == Parametro::Texto) {
            largura = unsigned(p.texto.size());
            if (i < assinatura_.size() && assinatura_[i].first == Parametro::Texto)
                largura = std::max(largura, assinatura_[i].second);
        }
        assinatura[i] = {p.tipo, largura};
    }
    if (!metaEntrada_ || assinatura != assinatura_) {
        IMetadataBuilder* b = metaEntradaOriginal_->getBuilder(st.Ptr());
        st.Verifica();
        for (unsigned i = 0; i < parametros_.size(); ++i) {
            switch (parametros_[i].tipo) {
                case Parametro::Nulo: {
                    unsigned tipo = metaEntradaOriginal_->getType(st.Ptr(), i) & ~1u;
                    b->setType(st.Ptr(), i, tipo | 1);
                    break;
                }
                case Parametro::Texto:
                    b->setType(st.Ptr(), i, SQL_VARYING | 1);
                    b->setLength(st.Ptr(), i, std::max(assinatura[i].second, 1u));
                    b->setCharSet(st.Ptr(), i, CharsetUtf8);
                    break;
                case Parametro::Int:
                    b->setType(st.Ptr(), i, SQL_LONG | 1);
                    b->setLength(st.Ptr(), i, 4);
                    b->setScale(st.Ptr(), i, 0);
                    break;
                case Parametro::BigInt:
                    b->setType(st.Ptr(), i, SQL_INT64 | 1);
                    b->setLength(st.Ptr(), i, 8);
                    b->setScale(st.Ptr(), i, 0);
                    break;
                case Parametro::SmallInt:
                    b->setType(st.Ptr(), i, SQL_SHORT | 1);
                    b->setLength(st.Ptr(), i, 2);
                    b->setScale(st.Ptr(), i, 0);
                    break;
                case Parametro::Timestamp:
                    b->setType(st.Ptr(), i, SQL_TIMESTAMP | 1);
                    b->setLength(st.Ptr(), i, sizeof(ISC_TIMESTAMP));
                    break;
                case Parametro::Blob: {
                    const unsigned original = metaEntradaOriginal_->getType(st.Ptr(), i) & ~1u;
                    b->setType(st.Ptr(), i, SQL_BLOB | 1);
                    b->setLength(st.Ptr(), i, sizeof(ISC_QUAD));
                    if (original != SQL_BLOB) b->setSubType(st.Ptr(), i, 0);
                    break;
                }
            }
            if (st.Falhou()) {
                b->release();
                st.Verifica();
            }
        }
        IMessageMetadata* novo = b->getMetadata(st.Ptr());
        b->release();
        st.Verifica();
        if (metaEntrada_) metaEntrada_->release();
        metaEntrada_ = novo;
        assinatura_ = std::move(assinatura);
        entrada_.assign(metaEntrada_->getMessageLength(st.Ptr()), 0);
        st.Verifica();
    }
    for (unsigned i = 0; i < parametros_.size(); ++i) {
        const Parametro& p = parametros_[i];
        unsigned char* nulo = &entrada_[metaEntrada_->getNullOffset(st.Ptr(), i)];
        unsigned char* v = &entrada_[metaEntrada_->getOffset(st.Ptr(), i)];
        Grava<short>(nulo, p.tipo == Parametro::Nulo ? -1 : 0);
        switch (p.tipo) {
            case Parametro::Nulo: break;
            case Parametro::Texto:
                Grava<std::uint16_t>(v, std::uint16_t(p.texto.size()));
                std::memcpy(v + 2, p.texto.data(), p.texto.size());
                break;
            case Parametro::Int: Grava<std::int32_t>(v, std::int32_t(p.numero)); break;
            case Parametro::BigInt: Grava<std::int64_t>(v, p.numero); break;
            case Parametro::SmallInt: Grava<std::int16_t>(v, std::int16_t(p.numero)); break;
            case Parametro::Timestamp: Grava(v, p.ts); break;
            case Parametro::Blob: Grava(v, p.blob); break;
        }
    }
    st.Verifica();
}
