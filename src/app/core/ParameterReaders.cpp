#include "app/core/ParameterReaders.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "app/core/CodecMapping.h"
#include "app/core/ProfileCatalogue.h"

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The part before the first blank ("1200 Kbps" gives "1200"); the whole text when it has none.
std::string FirstWord(const std::string& text) {
    return text.substr(0, text.find(' '));
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// A whole decimal number, optionally signed; anything else (an empty text too) is an error.
int ToInt(const std::string& text) {
    int value = 0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    if (begin != end && *begin == '+') ++begin;
    const auto [at, error] = std::from_chars(begin, end, value);
    if (begin == end || error != std::errc() || at != end) {
        throw TParameterError("'" + text + "' is not a valid integer value");
    }
    return value;
}

// "1200 Kbps" gives 1200000; with a unit of plain bits ("12200 bps") the number is taken as is.
int BitrateOf(const std::string& text, bool alwaysPlainBits) {
    if (!alwaysPlainBits && text.find("Kbps") != std::string::npos) {
        return ToInt(FirstWord(text) + "000");
    }
    return ToInt(FirstWord(text));
}

// The NTSC-style rates mean the exact fractions of the television norm, not the rounded text.
struct TNtscRate {
    const char* Text;
    TFrameRate Rate;
};
constexpr std::array<TNtscRate, 5> kNtscRates = {{
    {"14.985", {15000, 1001}},
    {"23.975", {24000, 1001}},
    {"23.976", {24000, 1001}},
    {"29.97", {30000, 1001}},
    {"59.94", {60000, 1001}},
}};

}  // namespace

TParameterChoice ChoiceOf(const TParameterLists& lists) {
    return {lists.VideoCodec.SelectedText(),   lists.VideoSize.SelectedText(),
            lists.VideoBitrate.SelectedText(), lists.VideoFramerate.SelectedText(),
            lists.AudioCodec.SelectedText(),   lists.AudioBitrate.SelectedText(),
            lists.SamplingRate.SelectedText(), lists.AudioChannels.SelectedText(),
            lists.Quality.SelectedText()};
}

std::string ParseSizeText(const std::string& entry) {
    const std::string size = Trimmed(entry.substr(0, entry.find('(')));
    if (size == "Original Video Size" || size == "Original" || size == "Auto") return {};
    std::string packed;
    std::copy_if(size.begin(), size.end(), std::back_inserter(packed),
                 [](char c) { return c != ' '; });
    return packed;
}

std::optional<TFrameRate> ParseFrameRateText(const std::string& entry) {
    const std::string number = FirstWord(Trimmed(entry));
    if (number.empty() || number == "Auto" || number == "Original") return std::nullopt;
    for (const TNtscRate& ntsc : kNtscRates) {
        if (number == ntsc.Text) return ntsc.Rate;
    }
    // A plain decimal such as "15.0" or "24": an exact fraction of a power of ten.
    const auto point = number.find('.');
    const std::string digits =
        point == std::string::npos ? number : number.substr(0, point) + number.substr(point + 1);
    const std::size_t decimals = point == std::string::npos ? 0 : number.size() - point - 1;
    const bool wellFormed =
        !digits.empty() && digits.size() <= 9 &&
        std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); });
    const int num = wellFormed ? std::stoi(digits) : 0;
    if (num <= 0) throw TParameterError("'" + entry + "' is not a valid frame rate");
    int den = 1;
    for (std::size_t i = 0; i < decimals; ++i) den *= 10;
    const int divisor = std::gcd(num, den);
    return TFrameRate{num / divisor, den / divisor};
}

std::optional<int> WidthOfEntry(const std::string& entry) {
    const std::string text = Trimmed(entry);
    const std::string unit = " px wide";
    if (text.size() <= unit.size() || text.compare(text.size() - unit.size(), unit.size(), unit))
        return std::nullopt;
    const std::string digits = text.substr(0, text.size() - unit.size());
    if (digits.size() > 5 ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    const int width = std::stoi(digits);
    if (width <= 0) return std::nullopt;
    return width;
}

std::string SizeForWidth(const std::string& inputSize, int width) {
    int sourceWidth = 0, sourceHeight = 0;
    char rest = 0;
    if (std::sscanf(inputSize.c_str(), "%dx%d%c", &sourceWidth, &sourceHeight, &rest) != 2 ||
        sourceWidth <= 0 || sourceHeight <= 0 || sourceWidth <= width)
        return "";
    const long height =
        std::max(2L, 2 * std::lround(double(width) * sourceHeight / sourceWidth / 2));
    return std::to_string(width / 2 * 2) + "x" + std::to_string(height);
}

std::optional<int> HeightOfEntry(const std::string& entry) {
    const std::string text = Trimmed(entry);
    if (text.size() < 2 || text.back() != 'p') return std::nullopt;
    const std::string digits = text.substr(0, text.size() - 1);
    if (digits.size() > 5 ||
        !std::all_of(digits.begin(), digits.end(), [](unsigned char c) { return std::isdigit(c); }))
        return std::nullopt;
    const int height = std::stoi(digits);
    if (height <= 0) return std::nullopt;
    return height;
}

std::string SizeForHeight(const std::string& inputSize, int height) {
    int width = 16, tall = 9;
    char rest = 0;
    const bool known = std::sscanf(inputSize.c_str(), "%dx%d%c", &width, &tall, &rest) == 2 &&
                       width > 0 && tall > 0;
    if (!known) {
        width = 16;
        tall = 9;
    } else if (std::min(width, tall) <= height) {
        return "";
    }
    const double scale = static_cast<double>(height) / std::min(width, tall);
    const auto even = [](double x) { return std::max(2L, 2 * std::lround(x / 2)); };
    return std::to_string(even(scale * width)) + "x" + std::to_string(even(scale * tall));
}

void ReadParameters(TParameterReader reader, const TParameterChoice& choice,
                    const std::string& formatKey, TJobDescription& job) {
    if (reader == TParameterReader::prToday) {
        // Codecs as the generic reader names them; lists a profile leaves empty are the
        // quality's or the input's to decide.
        job.VideoCodec = MapVideoCodec(Lower(choice.VideoCodec));
        job.AudioCodec = MapAudioCodec(Lower(choice.AudioCodec));
        job.FrameSize = ParseSizeText(choice.VideoSize);
        job.FrameRate = ParseFrameRateText(choice.VideoFramerate);
        job.AudioChannels = choice.AudioChannels == kChannelsMono ? 1 : 2;
        job.DisableVideo = IsAudioFormatKey(formatKey);
        job.VideoBitrate =
            choice.VideoBitrate.empty() ? -1 : ToInt(FirstWord(choice.VideoBitrate) + "000");
        job.AudioBitrate = choice.AudioBitrate.empty() ? -1 : BitrateOf(choice.AudioBitrate, false);
        job.AudioSampleRate =
            choice.SamplingRate.empty() ? -1 : ToInt(FirstWord(choice.SamplingRate));
        return;
    }
    const bool generic = reader == TParameterReader::prGeneric;
    const bool mobile = reader == TParameterReader::prMobileAmr;

    job.VideoCodec = MapVideoCodec(Lower(choice.VideoCodec), !generic);
    switch (reader) {
        case TParameterReader::prGeneric:
        case TParameterReader::prToday:  // read above
            job.AudioCodec = MapAudioCodec(Lower(choice.AudioCodec));
            break;
        case TParameterReader::prMobileAmr:
            job.AudioCodec = kMobileAudioEncoder;
            break;
        case TParameterReader::prMp4Aac:
            job.AudioCodec = kMp4AudioEncoder;
            break;
    }
    job.FrameSize = ParseSizeText(choice.VideoSize);
    job.FrameRate = ParseFrameRateText(choice.VideoFramerate);

    if (generic) {
        const std::string key = Lower(formatKey);
        job.AudioChannels = choice.AudioChannels == kChannelsStereo ? 2 : 1;
        if (key == "3gp" || key == "3g2") job.AudioChannels = 1;
        job.DisableVideo = IsAudioFormatKey(formatKey);
    } else if (mobile) {
        job.AudioChannels = 1;
    }

    // An empty video bit-rate text gives "000", so 0: the engine's default rate.
    job.VideoBitrate = ToInt(FirstWord(choice.VideoBitrate) + "000");
    job.AudioBitrate = BitrateOf(choice.AudioBitrate, mobile);
    job.AudioSampleRate = ToInt(FirstWord(choice.SamplingRate));
}
