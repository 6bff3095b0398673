// The receiver cuts any chunking of the byte stream into the same frames.
#include <gtest/gtest.h>

#include "common/pabx/QuadroPABX.h"
#include "tests/common/pabx/QuadrosTeste.h"

namespace {
struct Entregue {
    Bytes quadro;  // the bytes kept
    std::uint32_t comprimento;
};

std::vector<Entregue> Recebe(const std::vector<Bytes>& leituras) {
    ReceptorQuadros receptor;
    std::vector<Entregue> entregues;
    for (const Bytes& leitura : leituras)
        receptor.Alimenta(leitura,
                          [&](const std::uint8_t* q, std::uint32_t comprimento, std::uint32_t n) {
                              entregues.push_back({Bytes(q, q + n), comprimento});
                          });
    return entregues;
}

std::vector<Bytes> Bytes1a1(const Bytes& b) {
    std::vector<Bytes> r;
    for (auto x : b) r.push_back({x});
    return r;
}

const Bytes A = RespostaPROG(102, 0, {3, 0, 16, 0});
// Data holding the start byte: the receiver must count by L, not look for 0x55.
const Bytes B = RespostaCTRL(0x82, 1, 0x8C, {0x55, 0x55, 0x00, 0x55});

struct Caso {
    const char* nome;
    std::vector<Bytes> leituras;
    std::vector<Bytes> esperados;
};
}  // namespace

TEST(Receptor, CortaQualquerFatiamentoNosMesmosQuadros) {
    const Bytes lixo{0x00, 0xFF, 0x13, 0xAA};
    const std::vector<Caso> casos = {
        {"um quadro", {A}, {A}},
        {"lixo antes do 0x55", {lixo + A}, {A}},
        {"quadro partido em duas leituras",
         {Bytes(A.begin(), A.begin() + 2), Bytes(A.begin() + 2, A.end())},
         {A}},
        {"byte a byte", Bytes1a1(A + B), {A, B}},
        {"dois quadros numa leitura", {A + B}, {A, B}},
        {"lixo depois do quadro", {A + lixo, B}, {A, B}},
        {"lixo depois e quadro na mesma leitura", {A + lixo + B}, {A, B}},
        {"0x55 nos dados, partido no meio",
         {Bytes(B.begin(), B.begin() + 14), Bytes(B.begin() + 14, B.end()) + A},
         {B, A}},
        {"quadro incompleto nunca entregue", {Bytes(A.begin(), A.end() - 1)}, {}},
    };
    for (const Caso& caso : casos) {
        SCOPED_TRACE(caso.nome);
        const auto entregues = Recebe(caso.leituras);
        ASSERT_EQ(entregues.size(), caso.esperados.size());
        for (std::size_t i = 0; i < entregues.size(); ++i) {
            EXPECT_EQ(entregues[i].quadro, caso.esperados[i]);
            EXPECT_EQ(entregues[i].comprimento, caso.esperados[i].size());
        }
    }
}

TEST(Receptor, QuadroMaiorQueOBufferGuardaSo57999BytesEContaOResto) {
    // L = 65,535 and 65,533: a 16-bit L + 3 would wrap to 2 and 0 and hand out
    // the first three bytes as a "frame".
    for (const std::uint16_t L : {std::uint16_t{65535}, std::uint16_t{65533}}) {
        SCOPED_TRACE(L);
        Bytes grande{0x55};
        Palavra(grande, L);
        grande.resize(std::size_t{L} + 3, 0x55);
        const auto entregues = Recebe({grande, A});
        ASSERT_EQ(entregues.size(), 2u);
        EXPECT_EQ(entregues[0].comprimento, std::uint32_t{L} + 3);
        EXPECT_EQ(entregues[0].quadro.size(), MaximoGuardadoRX);
        EXPECT_EQ(entregues[1].quadro, A);
    }
}

TEST(Receptor, ReiniciaDescartaQuadroInacabado) {
    ReceptorQuadros receptor;
    std::vector<Bytes> entregues;
    auto entrega = [&](const std::uint8_t* q, std::uint32_t, std::uint32_t n) {
        entregues.emplace_back(q, q + n);
    };
    receptor.Alimenta(Bytes(A.begin(), A.begin() + 6), entrega);
    receptor.Reinicia();
    receptor.Alimenta(Bytes(A.begin() + 6, A.end()) + B, entrega);
    ASSERT_EQ(entregues.size(), 1u);
    EXPECT_EQ(entregues[0], B);
}
