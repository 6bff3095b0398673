#pragma once
// Frames as a unit of the Norvika line sends them, for feeding the receiver.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

inline void Palavra(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline Bytes Quadro(std::uint16_t tipo, std::uint16_t comando, const Bytes& resto) {
    Bytes b{0x55};
    Palavra(b, static_cast<std::uint16_t>(resto.size() + 4));
    Palavra(b, tipo);
    Palavra(b, comando);
    b.insert(b.end(), resto.begin(), resto.end());
    return b;
}

// PROG data reply: word 1, block, index, word count, data.
inline Bytes RespostaPROG(std::uint16_t bloco, std::uint16_t indice, const Bytes& dados) {
    Bytes r;
    Palavra(r, 1);
    Palavra(r, bloco);
    Palavra(r, indice);
    Palavra(r, static_cast<std::uint16_t>((dados.size() + 1) / 2));
    r.insert(r.end(), dados.begin(), dados.end());
    return Quadro(3, 0x8004, r);
}

inline Bytes Confirmacao(std::uint16_t bloco, std::uint16_t indice) {
    Bytes r;
    Palavra(r, 1);
    Palavra(r, bloco);
    Palavra(r, indice);
    Palavra(r, 0);
    return Quadro(3, 0x8005, r);
}

// CTRL reply: command (reply form), result, sub-code, word count, data.
inline Bytes RespostaCTRL(std::uint16_t comando, std::uint16_t resultado, std::uint16_t subcodigo,
                          const Bytes& dados = {}) {
    Bytes r;
    Palavra(r, resultado);
    Palavra(r, subcodigo);
    Palavra(r, static_cast<std::uint16_t>((dados.size() + 1) / 2));
    r.insert(r.end(), dados.begin(), dados.end());
    return Quadro(6, comando, r);
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes Texto(std::string_view t) { return Bytes(t.begin(), t.end()); }

inline Bytes Hex(std::string_view texto) {
    Bytes b;
    for (std::size_t i = 0; i + 1 < texto.size();) {
        if (texto[i] == ' ') {
            ++i;
            continue;
        }
        b.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(texto.substr(i, 2)), nullptr, 16)));
        i += 2;
    }
    return b;
}
