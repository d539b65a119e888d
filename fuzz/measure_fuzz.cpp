// SPDX-License-Identifier: MIT
// Arbitrary bytes into the measurement decoder, at any offset and from either source, and
// every text made from what it decodes. Checked against the byte layout read independently
// here: a group decodes exactly when it lies inside the buffer and no angle's high byte has its
// top bit set, each field is the bytes it comes from, and every text is one of the known ones
// or digits that read back as the value.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "measure/measurement.h"

namespace {

using namespace ck::measure;

void check(bool ok) {
    if (!ok) std::abort();
}

bool allDigits(std::string_view s) {
    if (s.empty()) return false;
    for (const char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// `prefix`, then decimal digits without a leading zero that read `value`, then `suffix`.
bool isNumber(std::string_view text, std::string_view prefix, long value, std::string_view suffix) {
    if (text.size() <= prefix.size() + suffix.size()) return false;
    if (!text.starts_with(prefix) || !text.ends_with(suffix)) return false;
    const std::string digits(
        text.substr(prefix.size(), text.size() - prefix.size() - suffix.size()));
    return allDigits(digits) && (digits.size() == 1 || digits[0] != '0') &&
           std::strtol(digits.c_str(), nullptr, 10) == value;
}

// Whole degrees, read from the bands as the verdict tables give them.
std::string_view expectedPhase(int a) {
    if ((a >= 0 && a < 20) || (a >= 340 && a < 360)) return "同相";
    if ((a >= 100 && a < 140) || (a >= 220 && a < 260)) return "异相";
    return "------";
}
std::string_view expectedSequence(int a) {
    if (a >= 100 && a < 140) return "顺相序";
    if (a >= 220 && a < 260) return "逆相序";
    return "------";
}

void checkTexts(const MeasurementGroup& g) {
    for (std::size_t k = 0; k < 6; ++k) {
        const uint8_t kv = g.voltages[k];
        const std::string live = FormatLiveVoltage(kv);
        const std::string stored = FormatStoredVoltage(kv);
        check(kv == 0 ? live == "-- kV" : isNumber(live, "", kv, " kV"));
        check(kv == 0 ? stored == "--kV" : isNumber(stored, "", kv, " kV"));

        const int angle = g.pairAngles[k];
        const std::string text = FormatAngle(angle);
        if (angle == NoAngle) {
            check(text == "------");
        } else {
            check(allDigits(text) && text.size() >= 3 &&
                  std::strtol(text.c_str(), nullptr, 10) == angle);
            check(text.size() == 3 || text[0] != '0');  // padded to three digits, no further
        }
        const auto a = static_cast<float>(angle);
        check(ClassifyPhase(a) == expectedPhase(angle));
        check(ClassifySequence(a) == expectedSequence(angle));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // Byte 0: where the group starts, possibly past the end; the rest is the buffer, in a
    // block of its own size so that a read past it is caught.
    const std::size_t first = data[0];
    const std::vector<uint8_t> buf(data + 1, data + size);

    for (const Source source : {Source::Live, Source::Stored}) {
        const auto g = DecodeGroup(buf, first, source);
        const bool inside = first <= buf.size() && buf.size() - first >= kGroupSize;
        bool anglesFit = true;
        for (std::size_t k = 0; inside && k < 6; ++k) anglesFit &= buf[first + 2 * k] < 0x80;
        check(g.has_value() == (inside && anglesFit));
        if (!g) continue;

        const uint8_t* b = buf.data() + first;
        for (std::size_t k = 0; k < 6; ++k) {
            check(g->pairAngles[k] == b[2 * k] * 256 + b[2 * k + 1]);
            check(g->pairAngles[k] >= 0);
        }
        // Indicators always list the first probe group first; voltages as the source says.
        const Input live[6] = {Input::A1, Input::B1, Input::C1, Input::A2, Input::B2, Input::C2};
        const Input stored[6] = {Input::A1, Input::A2, Input::B1, Input::B2, Input::C1, Input::C2};
        for (std::size_t k = 0; k < 6; ++k) {
            check(g->indicators[idx(live[k])] == (b[12 + k] != 0));
            const Input in = source == Source::Live ? live[k] : stored[k];
            check(g->voltages[idx(in)] == b[18 + k]);
        }
        // Encoding gives back the bytes, indicators as 0 or 1.
        const auto bytes = EncodeGroup(*g, source);
        for (std::size_t i = 0; i < kGroupSize; ++i) {
            const uint8_t want = i >= 12 && i < 18 ? (b[i] != 0 ? 1 : 0) : b[i];
            check(bytes[i] == want);
        }
        checkTexts(*g);
    }

    // Group numbers as the table shows them: one blank, then the digits.
    const int n = 1 + (data[size - 1] | (size >= 3 ? data[size - 2] << 8 : 0));
    check(isNumber(FormatGroupNumber(n), " ", n, ""));
    return 0;
}
