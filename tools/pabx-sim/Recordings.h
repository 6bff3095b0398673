#pragma once
// Fills a recording store the way a unit does: <store>/NORVIKA/AUDIOREC/
// GR<ddmmyy>/X<extension in 7 digits>/R<7 digits>.WAV with R....XML beside it.
// The WAV files are 8 kHz mono A-law with the canonical 44-byte header; the
// descriptions cover every call type. A fixed share of the items mirrors the
// awkward cases a unit leaves behind: empty WAV files, descriptions without a
// recording, recordings without a description, descriptions without an
// <audio> element or with audio other than "sim".
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/pabx-sim/Frame.h"

namespace pabxsim {

struct RecordingsSummary {
    int pairs = 0;           // WAV with audio and a description saying so
    int emptyWav = 0;        // 0-byte WAV, description says audio
    int xmlOnly = 0;         // description without a WAV
    int wavOnly = 0;         // WAV without a description
    int noAudioElement = 0;  // description without <audio>, WAV present
    int audioNotSim = 0;     // <audio>nao</audio>, WAV present
    std::vector<std::filesystem::path> wavFiles;
    std::vector<std::filesystem::path> xmlFiles;
};

// Creates `count` items below `store` (created when missing). Same seed, same
// store contents. Throws std::filesystem::filesystem_error on write failures.
RecordingsSummary MakeRecordings(const std::filesystem::path& store, int count, uint32_t seed);

// A canonical 44-byte WAV header for 8 kHz mono A-law of `dataBytes` bytes.
Bytes ALawWavHeader(uint32_t dataBytes);
// G.711 A-law encoding of one 16-bit sample.
uint8_t LinearToALaw(int16_t sample);

}  // namespace pabxsim
