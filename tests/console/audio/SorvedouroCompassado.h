#pragma once
// A sound device for the tests of pause, seek, forward and rewind: it takes
// frames at the pace a sound card would (a write of n frames takes n / rate
// seconds) and keeps every frame it was given, so a test can see where the
// playback went. Nothing is held back (no delay), so what it took is what
// was heard.

#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "console/audio/DispositivoAudio.h"

struct RegistroSorvedouro {
    std::mutex mutex;
    std::vector<std::uint8_t> bytes;  // guarded by mutex
    int descartes = 0;                // guarded by mutex
    FormatoAudio formato;

    std::size_t Quadros() {
        std::lock_guard lk(mutex);
        return formato.BytesPorQuadro() ? bytes.size() / formato.BytesPorQuadro() : 0;
    }
    // The 16-bit mono samples received, in order.
    std::vector<std::int16_t> Amostras() {
        std::lock_guard lk(mutex);
        std::vector<std::int16_t> r(bytes.size() / 2);
        std::memcpy(r.data(), bytes.data(), r.size() * 2);
        return r;
    }
};

class SorvedouroCompassado final : public DispositivoAudio {
  public:
    explicit SorvedouroCompassado(std::shared_ptr<RegistroSorvedouro> r) : r_(std::move(r)) {}
    void Abre(const FormatoAudio& f) override {
        std::lock_guard lk(r_->mutex);
        r_->formato = f;
    }
    std::size_t QuadrosPorPeriodo() const override {
        return static_cast<std::size_t>(r_->formato.taxa / 20);  // 50 ms
    }
    void Escreve(const std::uint8_t* dados, std::size_t quadros) override {
        const auto fim = std::chrono::steady_clock::now() +
                         std::chrono::microseconds(quadros * 1000000 / r_->formato.taxa);
        {
            std::lock_guard lk(r_->mutex);
            r_->bytes.insert(r_->bytes.end(), dados,
                             dados + quadros * r_->formato.BytesPorQuadro());
        }
        std::this_thread::sleep_until(fim);
    }
    std::size_t Atraso() override { return 0; }
    void Drena() override {}
    void Descarta() override {
        std::lock_guard lk(r_->mutex);
        ++r_->descartes;
    }
    int Underruns() const override { return 0; }

  private:
    std::shared_ptr<RegistroSorvedouro> r_;
};
