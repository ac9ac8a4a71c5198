// Option value texts: how a value text becomes a number, and how a task's option text becomes
// keyword and value pairs.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// A value text that does not convert to the number its keyword takes.
class EConvertError : public std::runtime_error {
  public:
    explicit EConvertError(const std::string& message) : std::runtime_error(message) {}
};

// A broken precondition of an option value (a codec tag that is not four characters): not an
// engine error, but reported the same way by whoever applies the options.
class EAssertionFailed : public std::logic_error {
  public:
    explicit EAssertionFailed(const std::string& message) : std::logic_error(message) {}
};

// Integer texts: an optional sign, then decimal digits or "$" and hexadecimal digits; blanks
// may lead, nothing may follow. A decimal value must lie in the signed range of its width; a
// hexadecimal one may use every bit of it ("$FFFFFFFF" is -1 as a 32-bit number).
std::optional<int32_t> TryParseIntValue(const std::string& text);
std::optional<int64_t> TryParseInt64Value(const std::string& text);
// As above; a text that does not convert raises EConvertError
// "'<text>' is not a valid integer value".
int32_t ParseIntValue(const std::string& text);
int64_t ParseInt64Value(const std::string& text);

// Decimal numbers written with the decimal separator of the process locale (LC_NUMERIC), with
// an optional exponent; blanks may surround them. Infinities, NaN, hexadecimal notation and
// values beyond the range of a 32-bit float do not convert.
std::optional<float> TryParseFloatValue(const std::string& text);
// As above; a text that does not convert raises EConvertError
// "'<text>' is not a valid floating point value".
float ParseFloatValue(const std::string& text);

// The text without the blanks and control characters (every character up to the space) at
// either end.
std::string TrimText(const std::string& text);

// A task's option text as keyword and value pairs, in order: the text is trimmed, line breaks
// of every style become line feeds, and each line is split at its first "=" (a line without
// one is a keyword with an empty value). Nothing else is trimmed; empty lines are skipped,
// since they would set nothing.
std::vector<std::pair<std::string, std::string>> SplitOptionText(const std::string& text);
