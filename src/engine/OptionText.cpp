#include "engine/OptionText.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads an integer of `bits` width (32 or 64) from the whole text.
std::optional<int64_t> TryParseInteger(const std::string& text, int bits) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    bool hex = i < text.size() && text[i] == '$';
    if (hex) ++i;
    if (i == text.size()) return std::nullopt;

    // Decimal: the magnitude may reach 2^(bits-1) for a negative value. Hexadecimal: every bit.
    const uint64_t limit =
        hex ? (bits == 64 ? std::numeric_limits<uint64_t>::max() : uint64_t{0xFFFFFFFFu})
            : (uint64_t{1} << (bits - 1)) - (negative ? 0 : 1);
    const uint64_t base = hex ? 16 : 10;
    uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        int digit = hex                                  ? HexDigitValue(text[i])
                    : (text[i] >= '0' && text[i] <= '9') ? text[i] - '0'
                                                         : -1;
        if (digit < 0) return std::nullopt;
        if (magnitude > (limit - digit) / base) return std::nullopt;
        magnitude = magnitude * base + digit;
    }
    // Two's complement wrap-around, so that a hexadecimal text may set the sign bit.
    uint64_t value = negative ? ~magnitude + 1 : magnitude;
    if (bits == 32) return static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(value)));
    return static_cast<int64_t>(value);
}

}  // namespace

std::optional<int32_t> TryParseIntValue(const std::string& text) {
    auto value = TryParseInteger(text, 32);
    if (!value) return std::nullopt;
    return static_cast<int32_t>(*value);
}

std::optional<int64_t> TryParseInt64Value(const std::string& text) {
    return TryParseInteger(text, 64);
}

int32_t ParseIntValue(const std::string& text) {
    auto value = TryParseIntValue(text);
    if (!value) throw EConvertError("'" + text + "' is not a valid integer value");
    return *value;
}

int64_t ParseInt64Value(const std::string& text) {
    auto value = TryParseInt64Value(text);
    if (!value) throw EConvertError("'" + text + "' is not a valid integer value");
    return *value;
}

std::optional<float> TryParseFloatValue(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && text[first] == ' ') ++first;
    while (last > first && text[last - 1] == ' ') --last;
    const std::string number = text.substr(first, last - first);
    if (number.empty()) return std::nullopt;

    // Only what a decimal number may hold, so that strtod's other notations (hexadecimal,
    // "inf", "nan") and an embedded NUL are refused before it sees the text.
    const char* decimalPoint = std::localeconv()->decimal_point;
    const size_t pointLength = std::strlen(decimalPoint);
    bool digitSeen = false;
    for (size_t i = 0; i < number.size();) {
        char c = number[i];
        if (c >= '0' && c <= '9') {
            digitSeen = true;
            ++i;
        } else if (c == '+' || c == '-' || c == 'e' || c == 'E') {
            ++i;
        } else if (pointLength > 0 && number.compare(i, pointLength, decimalPoint) == 0) {
            i += pointLength;
        } else {
            return std::nullopt;
        }
    }
    if (!digitSeen) return std::nullopt;

    errno = 0;
    char* end = nullptr;
    double value = std::strtod(number.c_str(), &end);
    if (end != number.c_str() + number.size()) return std::nullopt;
    if (errno == ERANGE && std::fabs(value) > 1.0) return std::nullopt;
    if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max())
        return std::nullopt;
    return static_cast<float>(value);
}

float ParseFloatValue(const std::string& text) {
    auto value = TryParseFloatValue(text);
    if (!value) throw EConvertError("'" + text + "' is not a valid floating point value");
    return *value;
}

std::string TrimText(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && IsBlank(text[first])) ++first;
    while (last > first && IsBlank(text[last - 1])) --last;
    return text.substr(first, last - first);
}

std::vector<std::pair<std::string, std::string>> SplitOptionText(const std::string& text) {
    const std::string trimmed = TrimText(text);
    std::vector<std::pair<std::string, std::string>> options;
    std::string line;
    auto takeLine = [&] {
        if (!line.empty()) {
            size_t equals = line.find('=');
            if (equals == std::string::npos)
                options.emplace_back(line, std::string());
            else
                options.emplace_back(line.substr(0, equals), line.substr(equals + 1));
        }
        line.clear();
    };
    for (size_t i = 0; i < trimmed.size(); ++i) {
        char c = trimmed[i];
        if (c == '\r' || c == '\n') {
            // "\r\n" is one break; a lone "\r" or "\n" is one too.
            if (c == '\r' && i + 1 < trimmed.size() && trimmed[i + 1] == '\n') ++i;
            takeLine();
        } else {
            line += c;
        }
    }
    takeLine();
    return options;
}
