#include "report/rpLimitsFile.h"

#include "common/SystemErrorText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

namespace qz {
namespace {

// A limit the meter can hold: hundredths in a signed 16-bit number.
constexpr double kLargestLimit = 327.67;
// Longer lines are not a limits file.
constexpr size_t kLongestLine = 4096;

std::string Trim(const std::string& s) {
    const char* ws = " \t\r\v\f";
    const size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

// Shows a piece of the file in a message without letting control bytes or an endless line
// into the operator's text.
std::string Shown(const std::string& s) {
    std::string out;
    for (char c : s.substr(0, 40))
        out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    if (s.size() > 40) out += "…";
    return out;
}

bool ParseNumber(const std::string& token, float& out) {
    std::string t = token;
    std::replace(t.begin(), t.end(), ',', '.');
    double v = 0;
    const char* b = t.data();
    const char* e = t.data() + t.size();
    if (b != e && *b == '+') ++b;
    const auto r = std::from_chars(b, e, v);
    if (r.ec != std::errc() || r.ptr != e || !std::isfinite(v) || std::fabs(v) > kLargestLimit)
        return false;
    out = float(v);
    return true;
}

} // namespace

bool ParseLimitsText(const std::string& text, TmonSettings& limits, std::string& error) {
    TmonSettings result;
    std::set<std::string> seen;
    std::istringstream in(text);
    std::string raw;
    int lineNo = 0;
    auto fail = [&](const std::string& what) {
        error = "строка " + std::to_string(lineNo) + ": " + what;
        return false;
    };
    while (std::getline(in, raw)) {
        ++lineNo;
        if (raw.size() > kLongestLine) return fail("слишком длинная строка");
        if (raw.find('\0') != std::string::npos) return fail("недопустимый символ");
        const std::string line = Trim(raw.substr(0, raw.find('#')));
        if (line.empty()) continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos)
            return fail("ожидается «поле = значения», а не «" + Shown(line) + "»");
        const std::string key = Trim(line.substr(0, eq));
        std::vector<std::string> tokens;
        std::istringstream values(line.substr(eq + 1));
        for (std::string t; values >> t;)
            tokens.push_back(t);

        float* target = nullptr;
        size_t count = 0;
        std::vector<float*> pair; // KULimits and its harmonics: normal, maximum
        if (key == "PhaseVoltageLimits") {
            target = result.PhaseVoltageLimits;
            count = 4;
        } else if (key == "LineVoltageLimits") {
            target = result.LineVoltageLimits;
            count = 4;
        } else if (key == "FrequencyLimits") {
            target = result.FrequencyLimits;
            count = 4;
        } else if (key == "K0Limits") {
            target = result.K0Limits;
            count = 2;
        } else if (key == "K2Limits") {
            target = result.K2Limits;
            count = 2;
        } else if (key == "KULimits") {
            pair = {&result.KULimits[0], &result.KULimits[1]};
        } else if (key.rfind("KULimits[", 0) == 0 && key.size() >= 11 && key.back() == ']') {
            const std::string digits = key.substr(9, key.size() - 10);
            int n = 0;
            const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), n);
            if (r.ec != std::errc() || r.ptr != digits.data() + digits.size() || n < 2 || n > 40)
                return fail("номер гармоники в «" + Shown(key) + "» должен быть от 2 до 40");
            pair = {&result.KULimits[n], &result.KULimits[n + 39]};
        } else {
            return fail("неизвестное поле «" + Shown(key) + "»");
        }
        if (!seen.insert(key).second) return fail("поле " + key + " задано второй раз");
        const size_t expected = pair.empty() ? count : 2;
        if (tokens.size() != expected)
            return fail("у поля " + key + " должно быть значений: " + std::to_string(expected) +
                        ", а задано: " + std::to_string(tokens.size()));
        for (size_t i = 0; i < expected; ++i) {
            float v = 0;
            if (!ParseNumber(tokens[i], v))
                return fail("«" + Shown(tokens[i]) + "» — не число от -327,67 до 327,67");
            *(pair.empty() ? &target[i] : pair[i]) = v;
        }
    }
    limits = result;
    return true;
}

bool LoadLimitsFile(const std::string& fileName, TmonSettings& limits, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(fileName, ec)) {
        error = "Файл норм " + fileName + " — это папка";
        return false;
    }
    std::ifstream f(fileName, std::ios::binary);
    if (!f) {
        error = "Не удалось открыть файл норм " + fileName + ": " + SystemErrorText(errno);
        return false;
    }
    std::ostringstream text;
    text << f.rdbuf();
    if (f.bad()) {
        error = "Не удалось прочитать файл норм " + fileName;
        return false;
    }
    if (!ParseLimitsText(text.str(), limits, error)) {
        error = "Файл норм " + fileName + ", " + error;
        return false;
    }
    return true;
}

void ApplyLimits(const TmonSettings& l, TmonSettings& s) {
    std::copy(std::begin(l.PhaseVoltageLimits), std::end(l.PhaseVoltageLimits),
              s.PhaseVoltageLimits);
    std::copy(std::begin(l.LineVoltageLimits), std::end(l.LineVoltageLimits), s.LineVoltageLimits);
    std::copy(std::begin(l.FrequencyLimits), std::end(l.FrequencyLimits), s.FrequencyLimits);
    std::copy(std::begin(l.K0Limits), std::end(l.K0Limits), s.K0Limits);
    std::copy(std::begin(l.K2Limits), std::end(l.K2Limits), s.K2Limits);
    std::copy(std::begin(l.KULimits), std::end(l.KULimits), s.KULimits);
}

} // namespace qz
