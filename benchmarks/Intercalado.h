#pragma once
// Side-by-side measurement for the benchmarks: the two sides of a figure run
// alternately, one pair after the other (A B, then B A, ...), so a change of
// the machine's speed (disk, other work) falls on both sides of a pair alike.
// Each pair gives one ratio A/B; a figure is the median of those ratios with
// their minimum and maximum, printed beside the absolute times of each side
// and the goal.
//
// Pairs: VERUZADU_BENCH_PARES (default 7, at least 5 for a figure).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace intercalado {

struct Lado {
    std::string nome;
    // Runs before each timed run, outside the time (puts the starting state back).
    std::function<void()> prepara;
    // The timed work.
    std::function<void()> mede;
};

// How the median ratio A/B (or A's time in ms, for an absolute goal) is judged.
struct Meta {
    enum Tipo { RazaoNoMaximo, RazaoNoMinimo, MsNoMaximo, Nenhuma } tipo = RazaoNoMaximo;
    double valor = 0;
    std::string Texto() const {
        char b[64];
        if (tipo == RazaoNoMaximo)
            std::snprintf(b, sizeof b, "ratio <= %.2f", valor);
        else if (tipo == RazaoNoMinimo)
            std::snprintf(b, sizeof b, "ratio >= %.2f", valor);
        else if (tipo == Nenhuma)
            std::snprintf(b, sizeof b, "none (for reading)");
        else
            std::snprintf(b, sizeof b, "A < %.0f ms", valor);
        return b;
    }
};

struct Serie {
    std::vector<double> v;
    double Mediana() const {
        if (v.empty()) return 0;
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        const std::size_t n = s.size();
        return n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
    }
    double Min() const { return v.empty() ? 0 : *std::min_element(v.begin(), v.end()); }
    double Max() const { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }
};

struct Resultado {
    Serie msA, msB, razao;
    bool atinge = false;
};

inline int Pares() {
    const char* p = std::getenv("VERUZADU_BENCH_PARES");
    const int n = p ? std::atoi(p) : 0;
    return n > 0 ? n : 7;
}

inline double Cronometra(const Lado& l) {
    if (l.prepara) l.prepara();
    const auto t0 = std::chrono::steady_clock::now();
    l.mede();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// Prints one figure from series measured elsewhere (pairs already
// interleaved by the caller).
inline Resultado Relata(const std::string& figura, const std::string& nomeA,
                        const std::string& nomeB, const std::vector<double>& msA,
                        const std::vector<double>& msB, const Meta& meta) {
    Resultado r;
    r.msA.v = msA;
    r.msB.v = msB;
    for (std::size_t i = 0; i < msA.size() && i < msB.size(); ++i)
        r.razao.v.push_back(msB[i] > 0 ? msA[i] / msB[i] : 0);
    const double medida = meta.tipo == Meta::MsNoMaximo ? r.msA.Mediana() : r.razao.Mediana();
    r.atinge = meta.tipo == Meta::RazaoNoMaximo   ? medida <= meta.valor
               : meta.tipo == Meta::RazaoNoMinimo ? medida >= meta.valor
               : meta.tipo == Meta::Nenhuma       ? true
                                                  : medida < meta.valor;
    std::printf("%s\n", figura.c_str());
    std::printf("  A = %s: %.1f / %.1f / %.1f ms (min / median / max)\n", nomeA.c_str(),
                r.msA.Min(), r.msA.Mediana(), r.msA.Max());
    std::printf("  B = %s: %.1f / %.1f / %.1f ms\n", nomeB.c_str(), r.msB.Min(), r.msB.Mediana(),
                r.msB.Max());
    std::printf("  A/B per pair: %.2f / %.2f / %.2f over %zu interleaved pairs\n", r.razao.Min(),
                r.razao.Mediana(), r.razao.Max(), r.razao.v.size());
    if (meta.tipo == Meta::Nenhuma)
        std::printf("  goal: none (for reading)\n");
    else
        std::printf("  goal %s: %s\n", meta.Texto().c_str(), r.atinge ? "met" : "MISSED");
    std::fflush(stdout);
    return r;
}

// One warm-up run of each side (not counted), then `pares` pairs. Prints one
// block for the figure and returns the series.
inline Resultado Compara(const std::string& figura, const Lado& a, const Lado& b, const Meta& meta,
                         int pares = Pares()) {
    Cronometra(a);
    Cronometra(b);
    std::vector<double> ta, tb;
    for (int i = 0; i < pares; ++i) {
        if (i % 2 == 0) {
            ta.push_back(Cronometra(a));
            tb.push_back(Cronometra(b));
        } else {
            tb.push_back(Cronometra(b));
            ta.push_back(Cronometra(a));
        }
    }
    return Relata(figura, a.nome, b.nome, ta, tb, meta);
}

}  // namespace intercalado
