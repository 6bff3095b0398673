#include "tools/pabx-sim/Recordings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <random>

namespace fs = std::filesystem;

namespace pabxsim {
namespace {

void WriteFileAtomically(const fs::path& path, const std::string& bytes) {
    fs::path tmp = path;
    tmp += ".part";
    {
        std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
        f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        f.close();
        if (!f)
            throw fs::filesystem_error("cannot write", tmp,
                                       std::make_error_code(std::errc::io_error));
    }
    fs::rename(tmp, path);
}

std::string Digits(unsigned v, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*u", width, v);
    return buf;
}

std::string Audio(std::mt19937& rng, uint32_t bytes) {
    Bytes h = ALawWavHeader(bytes);
    std::string out(h.begin(), h.end());
    out.reserve(44 + bytes);
    std::uniform_real_distribution<double> tone(300.0, 1200.0);
    std::normal_distribution<double> noise(0.0, 400.0);
    double f1 = tone(rng), f2 = tone(rng);
    for (uint32_t i = 0; i < bytes; ++i) {
        double t = i / 8000.0;
        // A voice-like signal: two tones swelling and fading every second or so, and some noise.
        double env = 0.5 + 0.5 * std::sin(2 * M_PI * 0.7 * t);
        double v = env * (6000 * std::sin(2 * M_PI * f1 * t) + 3000 * std::sin(2 * M_PI * f2 * t)) +
                   noise(rng);
        v = std::clamp(v, -32768.0, 32767.0);
        out.push_back(static_cast<char>(LinearToALaw(static_cast<int16_t>(v))));
    }
    return out;
}

std::string OtherParty(std::mt19937& rng, int type, unsigned ownExtension) {
    std::uniform_int_distribution<unsigned> d8(20000000, 99999999);
    std::uniform_int_distribution<int> form(0, 4);
    if (type == 0) {
        unsigned other = ownExtension == 1001 ? 1002 : 1001;
        return std::to_string(other);
    }
    unsigned n = d8(rng);
    std::string s = std::to_string(n);
    switch (form(rng)) {
        case 0: return s;
        case 1: return "48" + s;
        case 2: return "(48) " + s.substr(0, 4) + "-" + s.substr(4);
        case 3: return "+55 48 " + s.substr(0, 4) + "-" + s.substr(4);
        default: return "0" + std::to_string(n % 1000000);  // short, as some trunks report it
    }
}

}  // namespace

uint8_t LinearToALaw(int16_t sample) {
    int pcm = sample >> 3;  // 13-bit magnitude range
    uint8_t mask;
    if (pcm >= 0) {
        mask = 0xD5;
    } else {
        mask = 0x55;
        pcm = -pcm - 1;
    }
    static const int kSegEnd[8] = {0x1F, 0x3F, 0x7F, 0xFF, 0x1FF, 0x3FF, 0x7FF, 0xFFF};
    int seg = 0;
    while (seg < 8 && pcm > kSegEnd[seg]) ++seg;
    if (seg >= 8) return static_cast<uint8_t>(0x7F ^ mask);
    uint8_t aval = static_cast<uint8_t>(seg << 4);
    aval |= (seg < 2) ? ((pcm >> 1) & 0x0F) : ((pcm >> seg) & 0x0F);
    return static_cast<uint8_t>(aval ^ mask);
}

Bytes ALawWavHeader(uint32_t dataBytes) {
    Bytes h;
    h.reserve(44);
    auto tag = [&](const char* t) {
        for (int i = 0; i < 4; ++i) h.push_back(static_cast<uint8_t>(t[i]));
    };
    tag("RIFF");
    AppendU32(h, 36 + dataBytes);
    tag("WAVE");
    tag("fmt ");
    AppendU32(h, 16);
    AppendU16(h, 6);  // A-law
    AppendU16(h, 1);  // mono
    AppendU32(h, 8000);
    AppendU32(h, 8000);  // byte rate
    AppendU16(h, 1);     // block align
    AppendU16(h, 8);     // bits per sample
    tag("data");
    AppendU32(h, dataBytes);
    return h;
}

RecordingsSummary MakeRecordings(const fs::path& store, int count, uint32_t seed) {
    RecordingsSummary sum;
    std::mt19937 rng(seed);
    const unsigned extensions[] = {1001, 1002, 1003, 1005, 1010, 1020, 3001, 3002};
    std::uniform_int_distribution<size_t> pickExt(0, std::size(extensions) - 1);
    std::uniform_int_distribution<int> pickType(0, 2);
    std::uniform_int_distribution<int> pickDay(0, std::max(0, std::min(6, count / 20)));
    std::uniform_int_distribution<int> pickSecond(8 * 3600, 19 * 3600);
    std::uniform_int_distribution<uint32_t> pickLength(4000, 160000);  // 0.5 s to 20 s
    std::uniform_int_distribution<int> pickAccount(0, 3);
    const char* typeText[] = {"INTERNA", "SAIDA", "ENTRADA"};
    const time_t firstDay = 1728518400;  // 10/10/2024 00:00 UTC

    fs::path root = store / "NORVIKA" / "AUDIOREC";
    fs::create_directories(root);
    for (int i = 0; i < count; ++i) {
        unsigned ext = extensions[pickExt(rng)];
        time_t day = firstDay + static_cast<time_t>(pickDay(rng)) * 86400;
        time_t start = day + pickSecond(rng);
        std::tm tm{};
        gmtime_r(&day, &tm);
        std::string l1 =
            "GR" + Digits(tm.tm_mday, 2) + Digits(tm.tm_mon + 1, 2) + Digits(tm.tm_year % 100, 2);
        std::string l2 = "X" + Digits(ext, 7);
        fs::path dir = root / l1 / l2;
        fs::create_directories(dir);
        std::string base = "R" + Digits(static_cast<unsigned>(i + 1), 7);
        fs::path wav = dir / (base + ".WAV");
        fs::path xml = dir / (base + ".XML");

        int type = pickType(rng);
        std::string account = pickAccount(rng) == 0 ? Digits(rng() % 100000, 5) : "";
        std::string other = OtherParty(rng, type, ext);
        uint32_t length = pickLength(rng);

        enum { Pair, EmptyWav, XmlOnly, WavOnly, NoAudioElement, AudioNotSim } kind = Pair;
        switch (i % 20) {
            case 3: kind = EmptyWav; break;
            case 7: kind = XmlOnly; break;
            case 11: kind = WavOnly; break;
            case 15: kind = NoAudioElement; break;
            case 18: kind = AudioNotSim; break;
            default: break;
        }
        if (kind != XmlOnly) {
            WriteFileAtomically(wav, kind == EmptyWav ? std::string() : Audio(rng, length));
            sum.wavFiles.push_back(wav);
        }
        if (kind != WavOnly) {
            std::string x = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<gravacao>\r\n";
            x += "  <ramalcomanda>" + std::to_string(ext) + "</ramalcomanda>\r\n";
            x += "  <ramalgravado>" + std::to_string(ext) + "</ramalgravado>\r\n";
            x += "  <nomedestino>" + other + "</nomedestino>\r\n";
            x += "  <codconta>" + account + "</codconta>\r\n";
            x += "  <tipoligacao>" + std::string(typeText[type]) + "</tipoligacao>\r\n";
            x += "  <iniciogravacao>" + std::to_string(static_cast<long long>(start)) +
                 "</iniciogravacao>\r\n";
            if (kind != NoAudioElement)
                x += std::string("  <audio>") + (kind == AudioNotSim ? "nao" : "sim") +
                     "</audio>\r\n";
            x += "</gravacao>\r\n";
            WriteFileAtomically(xml, x);
            sum.xmlFiles.push_back(xml);
        }
        switch (kind) {
            case Pair: ++sum.pairs; break;
            case EmptyWav: ++sum.emptyWav; break;
            case XmlOnly: ++sum.xmlOnly; break;
            case WavOnly: ++sum.wavOnly; break;
            case NoAudioElement: ++sum.noAudioElement; break;
            case AudioNotSim: ++sum.audioNotSim; break;
        }
    }
    return sum;
}

}  // namespace pabxsim
