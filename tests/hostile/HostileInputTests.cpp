// Damaged and hostile inputs of every container family the converter reads, each converted
// through the component: nothing crashes or hangs, the task ends with a message a user can act
// on, no empty output is left behind and nothing outside the output folder changes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <vector>

#include "RobustnessSupport.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

namespace fs = std::filesystem;

constexpr std::chrono::seconds kJobBound(60);

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values) bytes.push_back(static_cast<char>(value));
    return bytes;
}

struct TFamily {
    const char* name;
    const char* file;
    const char* videoCodec;
    const char* audioCodec;
    // Markers of header fields: the bytes after each (sizes, counts, rates, dimensions) are the
    // ones made absurd.
    std::vector<std::string> markers;
};

const std::vector<std::string> kIsoMarkers = {"mvhd", "tkhd", "mdhd", "stsd",
                                              "stts", "stsz", "stco", "hdlr"};
const std::vector<std::string> kMatroskaMarkers = {
    Bytes({0x18, 0x53, 0x80, 0x67}), Bytes({0x15, 0x49, 0xA9, 0x66}),
    Bytes({0x16, 0x54, 0xAE, 0x6B}), Bytes({0x1F, 0x43, 0xB6, 0x75}),
    Bytes({0x2A, 0xD7, 0xB1}),       Bytes({0xAE})};
const std::vector<std::string> kMpegMarkers = {Bytes({0, 0, 1, 0xBA}), Bytes({0, 0, 1, 0xBB}),
                                               Bytes({0, 0, 1, 0xB3}), Bytes({0, 0, 1, 0xE0}),
                                               Bytes({0, 0, 1, 0xC0})};
const std::vector<std::string> kAsfMarkers = {
    // Header, file properties, stream properties and data objects.
    Bytes({0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE,
           0x6C}),
    Bytes({0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53,
           0x65}),
    Bytes({0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11, 0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53,
           0x65}),
    Bytes({0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE,
           0x6C})};

const TFamily kFamilies[] = {
    {"Mp4", "clip.mp4", "mpeg4", "aac", kIsoMarkers},
    {"Mov", "clip.mov", "mpeg4", "aac", kIsoMarkers},
    {"Avi", "clip.avi", "mpeg4", "mp2", {"RIFF", "avih", "strh", "strf", "LIST", "idx1"}},
    {"Mkv", "clip.mkv", "mpeg4", "aac", kMatroskaMarkers},
    {"WebM", "clip.webm", "libvpx", "libopus", kMatroskaMarkers},
    {"MpegPs", "clip.mpg", "mpeg1video", "mp2", kMpegMarkers},
    {"MpegTs",
     "clip.ts",
     "mpeg2video",
     "mp2",
     {Bytes({0x47, 0x40, 0x00}), Bytes({0x47, 0x50, 0x00}), Bytes({0, 0, 1, 0xE0})}},
    {"Flv", "clip.flv", "flv", "aac", {"FLV", "onMetaData", "duration", "width", "height"}},
    {"Asf", "clip.wmv", "wmv2", "wmav2", kAsfMarkers},
    {"Ogg", "clip.ogg", "libtheora", "libvorbis", {"OggS", "\x01vorbis", "\x80theora"}},
    {"Wav", "clip.wav", "", "pcm_s16le", {"RIFF", "fmt ", "data"}},
    {"Mp3", "clip.mp3", "", "libmp3lame", {"ID3", "Info", "Xing", "LAME"}},
};

// Overwrites the `length` bytes after each of the first occurrences of every marker with
// `value`; returns how many places changed.
int MakeHeadersAbsurd(const std::string& path, const std::vector<std::string>& markers, char value,
                      size_t length = 8) {
    std::string bytes;
    {
        std::ifstream file(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(file), {});
    }
    int changed = 0;
    for (const std::string& marker : markers) {
        size_t at = 0;
        for (int found = 0; found < 4; ++found) {
            at = bytes.find(marker, at);
            if (at == std::string::npos) break;
            at += marker.size();
            const size_t end = std::min(bytes.size(), at + length);
            std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      bytes.begin() + static_cast<std::ptrdiff_t>(end), value);
            ++changed;
        }
    }
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    return changed;
}

struct TVariant {
    const char* name;
    TDamage damage;
    double fraction;  // Truncated: bytes kept; Overwritten: where the runs start
    unsigned seed;
    int absurd;  // -1: a damage of DamageFile; else the byte written after the markers
};

const TVariant kVariants[] = {
    {"cut-at-10%", TDamage::Truncated, 0.1, 0, -1},
    {"cut-at-50%", TDamage::Truncated, 0.5, 0, -1},
    {"cut-at-90%", TDamage::Truncated, 0.9, 0, -1},
    {"overwritten-from-start", TDamage::Overwritten, 0.0, 1, -1},
    {"overwritten-from-middle", TDamage::Overwritten, 0.5, 2, -1},
    {"empty", TDamage::Empty, 0, 0, -1},
    {"not-media", TDamage::NotMedia, 0, 0, -1},
    {"huge-header-values", TDamage::Truncated, 1.0, 0, 0xFF},
    {"zero-header-values", TDamage::Truncated, 1.0, 0, 0x00},
};

void PrintTo(const TFamily& family, std::ostream* out) {
    *out << family.name;
}

class HostileInput : public ::testing::TestWithParam<TFamily> {};

TEST_P(HostileInput, EveryDamageEndsCleanly) {
    RequireMediaLibraries();
    const TFamily& family = GetParam();
    TTempDir dir;
    const fs::path sources = dir.Path() / "sources", outputs = dir.Path() / "out";
    fs::create_directories(sources);
    fs::create_directories(outputs);
    const std::string pristine = (dir.Path() / family.file).string();
    TClipSpec clipSpec;
    clipSpec.videoCodec = family.videoCodec;
    clipSpec.audioCodec = family.audioCodec;
    clipSpec.width = 160;
    clipSpec.height = 120;
    clipSpec.durationSeconds = 1.0;
    clipSpec.sampleRate = 48000;
    WriteClip(pristine, clipSpec);

    TFFmpegVCL component;
    component.SetLogLevel(llQuiet);
    ASSERT_TRUE(component.LoadLibraries("", true)) << component.LastErrorText();
    // Files a job names without a folder (statistics, logs) would land in the working folder.
    const fs::path work = dir.Path() / "work", previousWork = fs::current_path();
    fs::create_directories(work);
    fs::current_path(work);
    struct TRestore {
        fs::path folder;
        ~TRestore() { fs::current_path(folder); }
    } restore{previousWork};

    for (const TVariant& variant : kVariants) {
        SCOPED_TRACE(variant.name);
        const std::string input =
            (sources / (std::string(variant.name) + fs::path(family.file).extension().string()))
                .string();
        fs::copy_file(pristine, input);
        if (variant.absurd >= 0) {
            ASSERT_GT(MakeHeadersAbsurd(input, family.markers, static_cast<char>(variant.absurd)),
                      0)
                << "no marker found: the variant would be the pristine file";
        } else {
            DamageFile(input, variant.damage, variant.fraction, variant.seed);
        }
        const auto sourcesBefore = SnapshotFolder(sources);

        TOutputOptions options;
        InitOutputOptions(options);
        options.VideoCodec = "mpeg4";
        options.AudioCodec = "aac";
        const std::string output = (outputs / (std::string(variant.name) + ".mp4")).string();
        const TTaskOutcome outcome = ConvertOnce(component, input, output, options, kJobBound);

        ASSERT_NE(outcome.stage, "hang") << outcome.message;
        if (outcome.stage != "run" || outcome.exception) {
            EXPECT_TRUE(IsClearMessage(outcome.message))
                << outcome.stage << ": \"" << outcome.message << "\"";
        } else {
            EXPECT_TRUE(outcome.finished) << "the task ended unfinished without a reason";
            EXPECT_TRUE(fs::exists(output)) << "reported done without an output";
        }
        EXPECT_EQ(EmptyFilesIn(outputs), "");
        for (const auto& entry : fs::directory_iterator(outputs))
            EXPECT_EQ(entry.path().string(), output) << "a file the task was not asked for";
        EXPECT_EQ(SnapshotFolder(sources), sourcesBefore) << "an input changed";
        fs::remove_all(outputs);
        fs::create_directories(outputs);
    }
    EXPECT_TRUE(fs::is_empty(work)) << "a file in the working folder";
}

INSTANTIATE_TEST_SUITE_P(Families, HostileInput, ::testing::ValuesIn(kFamilies),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
