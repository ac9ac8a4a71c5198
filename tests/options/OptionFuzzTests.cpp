// Random keywords and values, and random option texts: nothing crashes, only the option
// layer's own refusals come out, and the state keeps its invariants after every call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "OptionTestSupport.h"

namespace {

constexpr unsigned kSeed = 20080301;
constexpr int kOptionRounds = 4000;
constexpr int kTextRounds = 3000;

void SilentLog(void*, int, const char*, va_list) {}

class TRandomText {
  public:
    explicit TRandomText(unsigned seed) : random_(seed) {}

    int Below(int limit) { return std::uniform_int_distribution<int>(0, limit - 1)(random_); }
    bool OneIn(int n) { return Below(n) == 0; }

    std::string Bytes(int maxLength) {
        std::string text(Below(maxLength + 1), '\0');
        for (char& c : text) c = static_cast<char>(Below(256));
        return text;
    }
    std::string From(const std::string& alphabet, int maxLength) {
        std::string text(Below(maxLength + 1), ' ');
        for (char& c : text) c = alphabet[Below(static_cast<int>(alphabet.size()))];
        return text;
    }
    template <typename T>
    const T& Pick(const std::vector<T>& choices) {
        return choices[Below(static_cast<int>(choices.size()))];
    }

  private:
    std::mt19937 random_;
};

const std::vector<std::string> kLibraryNames = {
    "b",         "g",      "gop",     "maxrate", "minrate", "bufsize", "bt",         "abt",
    "flags",     "debug",  "fdebug",  "ab",      "vb",      "sb",      "packetsize", "muxrate",
    "sws_flags", "preset", "threads", "qmin",    "flags2",  "ar ",     " vn",        "VN"};

const std::vector<std::string> kValues = {"640x481",     "16:9",
                                          "4:0",         "0.1:1.0",
                                          "3:2.0",       "25:1.0",
                                          "list",        "copy",
                                          "00:01:30",    "now",
                                          "pgmyuv",      "+global_header",
                                          "-qscale",     "$FFFFFFFF",
                                          "$",           "2147483648",
                                          "-2147483649", "1e39",
                                          "1,5",         "inf",
                                          "nan",         "0x7fffffffffffffff",
                                          "|||",         "XVID",
                                          "XVIDX",       "image2",
                                          "mp4",         "null",
                                          "yuv420p",     "255.5",
                                          "0",           "-1",
                                          "1:inf",       "99999999999999999999:1",
                                          "1.5e308",     "pal-dvd"};

std::string RandomKeyword(TRandomText& random, const std::vector<std::string>& own) {
    switch (random.Below(5)) {
        case 0:
        case 1:
            return random.Pick(own);
        case 2:
            return random.Pick(kLibraryNames);
        case 3: {
            std::string keyword = random.Pick(own);
            if (!keyword.empty()) keyword[random.Below(keyword.size())] ^= 0x20;
            return keyword;
        }
        default:
            return random.Bytes(12);
    }
}

std::string RandomValue(TRandomText& random) {
    switch (random.Below(6)) {
        case 0:
            return random.Pick(kValues);
        case 1:
            return random.From("0123456789$-+.,:xX eE", 24);
        case 2:
            return random.From("0123456789,", 300);
        case 3:
            return random.Bytes(40);
        case 4:
            return random.From("ab|/ .", 200);  // hook values: tokens, folders
        default:
            return std::string(random.Below(5000), static_cast<char>('0' + random.Below(10)));
    }
}

void ExpectInvariants(const TFFmpegOptions& o, const std::filesystem::path& folder,
                      const std::string& what) {
    SCOPED_TRACE(what);
    EXPECT_GE(o.StreamMapCount, 0);
    EXPECT_LE(o.StreamMapCount, MAX_STREAM_MAPS);
    EXPECT_GE(o.MetaDataMapCount, 0);
    EXPECT_LE(o.MetaDataMapCount, MAX_META_DATA_MAPS);
    EXPECT_TRUE(o.IntraMatrix.empty() || o.IntraMatrix.size() == 64);
    EXPECT_TRUE(o.InterMatrix.empty() || o.InterMatrix.size() == 64);
    EXPECT_TRUE(o.FramePixelFormat == AV_PIX_FMT_NONE ||
                LibAVUtil.av_pix_fmt_desc_get(AVPixelFormat(o.FramePixelFormat)));
    for (int32_t band : {o.CropTop, o.CropBottom, o.CropLeft, o.CropRight, o.PadTop, o.PadBottom,
                         o.PadLeft, o.PadRight}) {
        EXPECT_GE(band, 0);
        EXPECT_EQ(band % 2, 0);
    }
    EXPECT_TRUE(o.Pass == 0 || o.Pass == 1 || o.Pass == 2);
    EXPECT_TRUE(o.VideoQuantiserScale == 0.0f ||
                (o.VideoQuantiserScale > 0.0f && o.VideoQuantiserScale <= 255.0f));
    EXPECT_TRUE(o.AudioSampleRate > 0 && o.AudioChannels > 0);
    EXPECT_TRUE(o.FrameAspectRatio == o.FrameAspectRatio) << "aspect is a number";
    for (const auto& file : o.InputTimeScales)
        for (double scale : file) EXPECT_TRUE(std::isfinite(scale));
    EXPECT_EQ(std::filesystem::current_path(), folder);
}

class OptionFuzz : public OptionTest {
  protected:
    void SetUp() override {
        OptionTest::SetUp();
        if (HasFatalFailure()) return;
        LibAVUtil.av_log_set_callback(&SilentLog);
        const char* path = getenv("PATH");
        previousPath_ = path ? path : "";
    }
    void TearDown() override {
        if (FFmpegLibsLoaded()) LibAVUtil.av_log_set_callback(LibAVUtil.av_log_default_callback);
        setenv("PATH", previousPath_.c_str(), 1);
        OptionTest::TearDown();
    }
    std::string previousPath_;
};

TEST_F(OptionFuzz, RandomKeywordsAndValuesNeverBreakTheState) {
    TRandomText random(kSeed);
    const std::vector<std::string> own = TFFmpegOptions::OwnKeywords();
    const std::filesystem::path folder = std::filesystem::current_path();
    int refusals = 0;
    for (int round = 0; round < kOptionRounds; ++round) {
        const std::string keyword = RandomKeyword(random, own);
        const std::string value = RandomValue(random);
        try {
            if (random.OneIn(8))
                Options().ApplyOptionText(keyword + "=" + value + "\r\n" +
                                          RandomKeyword(random, own));
            else
                Options().ParseOption(keyword, value);
        } catch (const FFMpegException&) {
            ++refusals;
        } catch (const EConvertError&) {
            ++refusals;
        } catch (const EAssertionFailed&) {
            ++refusals;
        } catch (const std::exception& error) {
            ADD_FAILURE() << "'" << keyword << "'='" << value << "' raised " << error.what();
        }
        ExpectInvariants(Options(), folder, "after '" + keyword + "'");
        if (HasFailure()) return;
        Options().Log.clear();
        if (random.OneIn(300)) {
            Options().ApplyOptionDefaults();
        } else if (random.OneIn(300)) {
            Options().FreeOptionState();
            Options().AllocateOptionContexts();
        }
    }
    EXPECT_GT(refusals, 0);
}

TEST(OptionTextFuzz, SplittingNeverYieldsLineBreaksOrLosesOrder) {
    TRandomText random(kSeed + 1);
    for (int round = 0; round < kTextRounds; ++round) {
        const std::string text = random.OneIn(4)
                                     ? random.Bytes(200)
                                     : random.From(std::string("ab=\r\n \t=c\0", 11), 200);
        const auto pairs = SplitOptionText(text);
        size_t breaks =
            std::count(text.begin(), text.end(), '\n') + std::count(text.begin(), text.end(), '\r');
        EXPECT_LE(pairs.size(), breaks + 1);
        std::string rest = text;
        for (const auto& [name, value] : pairs) {
            EXPECT_EQ(name.find_first_of("\r\n="), std::string::npos);
            EXPECT_EQ(value.find_first_of("\r\n"), std::string::npos);
            // In order: each name appears in the text after the previous pair.
            size_t at = rest.find(name);
            ASSERT_NE(at, std::string::npos);
            rest.erase(0, at + name.size());
        }
        if (HasFailure()) return;
    }
}

}  // namespace
