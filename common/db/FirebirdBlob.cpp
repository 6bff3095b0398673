// BLOBs: written and read in segments, and the BLOB columns of a row.
#include "common/db/Firebird.h"

#include "common/db/FirebirdInterno.h"

#include <cstring>
#include <functional>
#include <istream>
#include <ostream>

using namespace Firebird;
using fbinterno::Status;
using namespace fbinterno::valores;

// ---------------------------------------------------------------------- BLOBs

BlobWriter::BlobWriter(Transaction& tr) {
    Status st;
    ISC_QUAD id{};
    blob_ = tr.InterfaceConexao()->createBlob(st.Ptr(), tr.Interface(), &id, 0, nullptr);
    st.Verifica();
    id_ = ParaBlobId(id);
}

BlobWriter::~BlobWriter() {
    if (blob_) {
        Status st;
        blob_->cancel(st.Ptr());
        if (st.Falhou()) blob_->release();
    }
}

void BlobWriter::Escreve(const void* dados, std::size_t tamanho) {
    if (!blob_) throw ErroUso("BLOB already closed");
    Status st;
    auto p = static_cast<const unsigned char*>(dados);
    while (tamanho > 0) {
        const unsigned n = unsigned(std::min(tamanho, TamanhoSegmentoBlob));
        blob_->putSegment(st.Ptr(), n, p);
        st.Verifica();
        p += n;
        tamanho -= n;
    }
}

BlobId BlobWriter::Fecha() {
    if (!blob_) throw ErroUso("BLOB already closed");
    Status st;
    blob_->close(st.Ptr());
    st.Verifica();
    blob_ = nullptr;
    return id_;
}

BlobReader::BlobReader(Transaction& tr, BlobId id) {
    Status st;
    ISC_QUAD q = ParaQuad(id);
    blob_ = tr.InterfaceConexao()->openBlob(st.Ptr(), tr.Interface(), &q, 0, nullptr);
    st.Verifica();
}

BlobReader::~BlobReader() {
    if (blob_) {
        Status st;
        blob_->close(st.Ptr());
        if (st.Falhou()) blob_->release();
    }
}

std::uint64_t BlobReader::Tamanho() {
    const unsigned char pedido[] = {isc_info_blob_total_length};
    unsigned char resposta[32] = {};
    Status st;
    blob_->getInfo(st.Ptr(), sizeof pedido, pedido, sizeof resposta, resposta);
    st.Verifica();
    if (resposta[0] != isc_info_blob_total_length) return 0;
    const short tamanho = short(isc_vax_integer(reinterpret_cast<const char*>(resposta + 1), 2));
    return std::uint64_t(isc_portable_integer(resposta + 3, tamanho));
}

std::size_t BlobReader::Le(void* destino, std::size_t capacidade) {
    auto p = static_cast<unsigned char*>(destino);
    std::size_t total = 0;
    Status st;
    while (total < capacidade && blob_) {
        unsigned lidos = 0;
        const unsigned pedir = unsigned(std::min(capacidade - total, TamanhoSegmentoBlob));
        const int r = blob_->getSegment(st.Ptr(), pedir, p + total, &lidos);
        st.Verifica();
        total += lidos;
        if (r == IStatus::RESULT_NO_DATA) break;
        if (r == IStatus::RESULT_OK && lidos == 0) break;
    }
    return total;
}

std::uint64_t Linha::ReadBlob(unsigned i,
                              const std::function<void(const char*, std::size_t)>& destino) const {
    if (IsNull(i)) return 0;
    BlobReader leitor(tr_, GetBlobId(i));
    std::vector<char> pedaco(TamanhoSegmentoBlob);
    std::uint64_t total = 0;
    for (;;) {
        const std::size_t n = leitor.Le(pedaco.data(), pedaco.size());
        if (n == 0) break;
        destino(pedaco.data(), n);
        total += n;
    }
    return total;
}

std::string Linha::ReadBlob(unsigned i) const {
    std::string r;
    if (IsNull(i)) return r;
    BlobReader leitor(tr_, GetBlobId(i));
    r.resize(leitor.Tamanho());
    std::size_t usado = 0;
    for (;;) {
        if (usado == r.size()) r.resize(std::max<std::size_t>(r.size() * 2, TamanhoSegmentoBlob));
        const std::size_t n = leitor.Le(r.data() + usado, r.size() - usado);
        if (n == 0) break;
        usado += n;
    }
    r.resize(usado);
    return r;
}

std::uint64_t Linha::ReadBlob(unsigned i, std::ostream& destino) const {
    return ReadBlob(
        i, [&destino](const char* p, std::size_t n) { destino.write(p, std::streamsize(n)); });
}
