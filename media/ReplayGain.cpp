#include "media/ReplayGain.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace pelloran {

namespace {

// Fixed-point text of a value, without a sign when it rounds to zero.
std::string Fixed(double value, int decimals) {
    if (!std::isfinite(value)) value = 0.0;
    char buffer[400];  // the longest double in fixed notation with a few decimals
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (error != std::errc()) return "0";
    std::string text(buffer, end);
    if (text.front() == '-' && text.find_first_not_of("-0.") == std::string::npos) text.erase(0, 1);
    return text;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return (x >= 'A' && x <= 'Z' ? x + 32 : x) == (y >= 'A' && y <= 'Z' ? y + 32 : y);
           });
}

// Longest text taken; longer ones are junk.
constexpr size_t kMaxText = 64;
constexpr size_t kMaxDigits = 18;

// A decimal number ("-7.23", "+3.5", ".5", "3") followed by blanks and one of units (or none); absent
// otherwise.
std::optional<double> ParseNumber(std::string_view text, std::initializer_list<std::string_view> units) {
    if (text.size() > kMaxText) return std::nullopt;
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    size_t digits = 0, length = 0;
    bool point = false;
    for (; length < text.size(); ++length) {
        const char c = text[length];
        if (c >= '0' && c <= '9') {
            ++digits;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits == 0 || digits > kMaxDigits) return std::nullopt;
    const std::string_view number = text.substr(0, length);
    const std::string_view unit = Trim(text.substr(length));
    if (!unit.empty() && std::none_of(units.begin(), units.end(), [&](auto u) { return EqualsNoCase(unit, u); }))
        return std::nullopt;
    double value = 0.0;
    auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value, std::chars_format::fixed);
    if (error != std::errc() || end != number.data() + number.size() || !std::isfinite(value)) return std::nullopt;
    return negative ? -value : value;
}

std::optional<double> Within(std::optional<double> value, double low, double high) {
    if (!value || *value < low || *value > high) return std::nullopt;
    return value;
}

}  // namespace

std::string ReplayGainText(double gainDb) { return Fixed(gainDb, 2) + " dB"; }
std::string ReplayPeakText(double linear) { return Fixed(std::max(linear, 0.0), 6); }
std::string ReferenceLoudnessText() { return Fixed(kReplayGainReferenceLufs, 2) + " LUFS"; }

int16_t R128Gain(double lufs) {
    const double q = std::round((kR128ReferenceLufs - lufs) * 256.0);
    if (std::isnan(q)) return 0;
    if (q < -32768.0) return -32768;
    if (q > 32767.0) return 32767;
    return static_cast<int16_t>(q);
}

std::string R128GainText(double lufs) { return std::to_string(R128Gain(lufs)); }

std::optional<double> ParseReplayGain(std::string_view text) { return Within(ParseNumber(text, {"dB"}), -100, 100); }
std::optional<double> ParseReplayPeak(std::string_view text) { return Within(ParseNumber(text, {}), 0, 100); }
std::optional<double> ParseReferenceLoudness(std::string_view text) {
    return Within(ParseNumber(text, {"LUFS", "LU"}), -100, 100);
}

std::optional<int16_t> ParseR128Gain(std::string_view text) {
    if (text.size() > kMaxText) return std::nullopt;
    text = Trim(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 5 || text.front() < '0' || text.front() > '9') return std::nullopt;
    int value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (negative) value = -value;
    if (error != std::errc() || end != text.data() + text.size() || value < -32768 || value > 32767)
        return std::nullopt;
    return static_cast<int16_t>(value);
}

Normalisation NormaliseTo(double lufs, double truePeak, double targetLufs, double ceilingDbtp) {
    Normalisation result;
    result.gainDb = targetLufs - lufs;
    if (truePeak > 0.0 && std::isfinite(truePeak)) {
        const double peakDb = 20.0 * std::log10(truePeak);
        result.peakAfterDb = peakDb + result.gainDb;
        result.needsLimiter = *result.peakAfterDb > ceilingDbtp;
        result.cleanGainDb = ceilingDbtp - peakDb;
    }
    return result;
}

}  // namespace pelloran
