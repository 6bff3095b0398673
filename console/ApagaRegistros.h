#pragma once
// "Apagar registros": the per-type statistics of a unit's recordings and the
// deletion of its recordings by call type and period, optionally narrowed to
// one contact, contact identifier, group, extension or number prefix.
//
// The deletion is one transaction on the unit's database: one DELETE per
// ticked type (per contact code or group extension where the filter gives
// several), each counted by the rows it removed, so recordings filed
// meanwhile change nothing in the figures. Contacts and groups live in the
// main database: they are resolved there first and reach the DELETE as bound
// values; a group is taken only with its rows of this unit, and an unknown
// group deletes nothing and says so. Any error rolls the whole deletion back.
//
// Main thread only (MDados). Nothing throws.

#include <array>
#include <string>

#include "common/DataHora.h"

class MDados;

// Data rows of the statistics, in this order: originated, received, internal.
inline constexpr std::array<int, 3> TiposResumo{1, 2, 0};

// "MIN"/"MAX" of GRV_DATAGRV as "dd/mm/yyyy" ("-" when the type has none) or
// "COUNT" as decimal text, for GRV_TPLIGA `tipo`; empty on any error.
std::string ConsultaResumoRegistros(MDados& dados, int tipo, const std::string& palavra);

struct ResumoTipo {
    std::string primeiro = "-", ultimo = "-", quantidade = "0";
    DataHora primeiraData;  // empty when none
    int Quantidade() const;
};

// The three rows, TiposResumo order.
std::array<ResumoTipo, 3> CarregaResumoRegistros(MDados& dados);

// The period the window proposes: the earliest of `hoje` and the first
// recording of each type, 00:00:00 to 23:59:59 of that day.
DataHora DataInicialApagamento(const std::array<ResumoTipo, 3>& resumo, const DataHora& hoje);

enum class FiltroApagamento { Nenhum, Cliente, CNPJ, Grupo, Ramal, Telefone };

struct PedidoApagamento {
    bool originadas = false, recebidas = false, internas = false;
    DataHora inicio, fim;
    FiltroApagamento filtro = FiltroApagamento::Nenhum;
    std::string item;  // as typed
    // The filter's word as the window shows it ("Cliente", ...), translated.
    std::string palavraFiltro;
    bool UsaFiltro() const;
};

// The message of the first check that fails, empty when the request may go on.
std::string VerificaPedido(const PedidoApagamento& p);
// The question asked before deleting.
std::string TextoConfirmacao(const PedidoApagamento& p);

struct ResultadoApagamento {
    bool ok = false;
    std::string erro;
    std::array<long long, 3> removidas{};  // TiposResumo order
    long long Total() const { return removidas[0] + removidas[1] + removidas[2]; }
    // History detail for a type's row.
    static std::string Detalhe(long long n, const PedidoApagamento& p);
};

ResultadoApagamento ApagaRegistros(MDados& dados, int codigoPABX, const PedidoApagamento& p);
