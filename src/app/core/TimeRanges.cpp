#include "app/core/TimeRanges.h"

#include <cstdio>

namespace {

std::string Trimmed(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Digits with at most one decimal point; none of any other character.
bool ReadDecimal(const std::string& text, double& value) {
    if (text.empty() || text == ".") return false;
    bool point = false;
    for (const char c : text) {
        if (c == '.' && !point) {
            point = true;
        } else if (c < '0' || c > '9') {
            return false;
        }
    }
    value = std::stod(text);
    return true;
}

}  // namespace

std::int64_t ParseRangeTime(const std::string& given) {
    const std::string text = Trimmed(given);
    // Seconds last; before them minutes and hours, each whole and (but the first) below 60.
    std::vector<std::string> parts;
    size_t from = 0;
    for (size_t colon; (colon = text.find(':', from)) != std::string::npos; from = colon + 1)
        parts.push_back(text.substr(from, colon - from));
    parts.push_back(text.substr(from));
    double seconds = 0;
    bool valid = parts.size() <= 3 && ReadDecimal(parts.back(), seconds);
    if (valid && parts.size() > 1 && seconds >= 60) valid = false;
    double scale = 60;
    for (size_t i = parts.size() - 1; valid && i-- > 0; scale *= 60) {
        double whole = 0;
        valid = ReadDecimal(parts[i], whole) && parts[i].find('.') == std::string::npos &&
                (i == 0 || whole < 60);
        seconds += whole * scale;
    }
    if (!valid)
        throw TRangeError("\"" + given +
                          "\" is not a time: seconds (75.5) or [hh:]mm:ss[.fff] (1:15.5)");
    return static_cast<std::int64_t>(seconds * 1e6 + 0.5);
}

TTimeRange ParseTimeRange(const std::string& text) {
    const size_t dash = text.find('-');
    if (dash == std::string::npos)
        throw TRangeError("\"" + text + "\" is not a range: START-END (END empty: to the end)");
    TTimeRange range;
    range.StartUs = ParseRangeTime(text.substr(0, dash));
    const std::string end = Trimmed(text.substr(dash + 1));
    if (!end.empty()) {
        range.EndUs = ParseRangeTime(end);
        if (range.EndUs <= range.StartUs)
            throw TRangeError("\"" + text + "\": the end " + RangeTimeText(range.EndUs) +
                              " s is not after the start " + RangeTimeText(range.StartUs) + " s");
    }
    return range;
}

std::optional<TCutMode> ParseCutMode(const std::string& text) {
    if (text == "exact") return TCutMode::Exact;
    if (text == "keyframe") return TCutMode::Keyframe;
    return std::nullopt;
}

std::string RangeTimeText(std::int64_t microseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", double(microseconds) / 1e6);
    return text;
}

std::string RangeText(const TTimeRange& range) {
    return RangeTimeText(range.StartUs) + "-" +
           (range.EndUs < 0 ? std::string() : RangeTimeText(range.EndUs));
}

std::string RangesProblem(const std::vector<TTimeRange>& ranges, std::int64_t durationUs,
                          const std::string& fileName) {
    for (size_t i = 0; i < ranges.size(); ++i) {
        const TTimeRange& range = ranges[i];
        const std::int64_t end = range.EndUs < 0 ? INT64_MAX : range.EndUs;
        for (size_t k = 0; k < i; ++k) {
            const std::int64_t otherEnd = ranges[k].EndUs < 0 ? INT64_MAX : ranges[k].EndUs;
            if (range.StartUs < otherEnd && ranges[k].StartUs < end)
                return fileName + ": the range " + RangeText(range) + " overlaps the range " +
                       RangeText(ranges[k]);
        }
        if (durationUs >= 0 && range.StartUs >= durationUs)
            return fileName + ": the range " + RangeText(range) +
                   " starts after the end of the file (" + RangeTimeText(durationUs) + " s)";
        if (durationUs >= 0 && range.EndUs > durationUs)
            return fileName + ": the range " + RangeText(range) +
                   " ends after the end of the file (" + RangeTimeText(durationUs) + " s)";
    }
    return "";
}

std::string TrimOptionLine(const std::vector<TTimeRange>& ranges) {
    std::string line = "trim=";
    for (size_t i = 0; i < ranges.size(); ++i) line += (i ? "," : "") + RangeText(ranges[i]);
    return line;
}
