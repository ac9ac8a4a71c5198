// Files as phones and cameras write them (a display matrix, odd and variable frame rates, an
// empty second track, 10-bit HDR, tags and a cover, a second audio track marked default), each
// listed through the probe and converted through one profile of every family; ffprobe judges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ProfileRun.h"
#include "app/core/ParameterReaders.h"
#include "app/core/ProbeFacts.h"
#include "probe/AVProbe.h"
#include "support/DecodeMedia.h"
#include "support/TempDir.h"
#include "support/TestMedia.h"

namespace {

// One profile line of each family.
enum TLine {
    k3GP = 0,
    kAVI = 3,
    kDVD = 7,
    kFLV = 8,
    kMOV = 9,
    kMP4 = 10,
    kMPEG1 = 11,
    kMPEG2 = 12,
    kRM = 13,
    kSWF = 14,
    kWMV = 17,
    kM4A = 21,
    kMP3 = 23,
    kOGG = 24,
    kWAV = 26,
    kWMA = 27,
    kH264 = 65,  // "MP4 - H.264 + AAC"
    kMKV = 67,   // "MKV - H.264 + every audio and subtitle track"
    kVP9 = 68    // "WebM - VP9 + Opus"
};

// Sources, made by the libraries' command-line program: one second of 320x240 with a tone.
const char* const kLavfi =
    "ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=25 "
    "-f lavfi -i sine=frequency=440:sample_rate=48000 -t 1 ";
struct TSource {
    const char* Name;
    const char* Command;  // "{dir}": the folder; "{lavfi}": a picture and a tone
};
const TSource kSources[] = {
    {"rotated.mp4",
     "{lavfi} -c:v libx264 -c:a aac {dir}/upright.mp4 && ffmpeg -v error -y -i "
     "{dir}/upright.mp4 -c copy -metadata:s:v rotate=90 {dir}/rotated.mp4"},
    {"phone.mp4",
     "ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=90000/3001 -f lavfi "
     "-i sine=sample_rate=48000 -t 1 -c:v libx264 -c:a aac {dir}/phone.mp4"},
    // A 90 kHz clock with pictures a little early or late: the nominal rate reads 90000.
    {"jitter.mp4",
     "{lavfi} -vf \"settb=1/90000,setpts='(N/25+0.008*sin(N*7))/TB'\" -fps_mode passthrough "
     "-enc_time_base:v 1/90000 -video_track_timescale 90000 -c:v libx264 -c:a aac "
     "{dir}/jitter.mp4"},
    // A second video track that has no samples (a fragmented file keeps it).
    {"empty.mp4",
     "ffmpeg -v error -y -f lavfi -i testsrc2=size=320x240:rate=25:duration=1 -f "
     "lavfi -i testsrc2=size=640x480:rate=25:duration=0.1 -map 0:v -map 1:v -c:v "
     "mpeg4 -frames:v:1 0 -movflags frag_keyframe+empty_moov {dir}/empty.mp4"},
    {"hlg.mp4",
     "ffmpeg -v error -y -f lavfi -i color=c=0x808080:size=320x240:rate=25:duration=1 "
     "-vf zscale=tin=bt709:min=bt709:pin=bt709:t=arib-std-b67:p=bt2020:m=bt2020nc,"
     "format=yuv420p10le -c:v libx265 -x265-params log-level=error -color_primaries "
     "bt2020 -color_trc arib-std-b67 -colorspace bt2020nc {dir}/hlg.mp4"},
    {"pq.mp4",
     "ffmpeg -v error -y -f lavfi -i color=c=0x808080:size=320x240:rate=25:duration=1 "
     "-vf zscale=tin=bt709:min=bt709:pin=bt709:t=smpte2084:p=bt2020:m=bt2020nc,"
     "format=yuv420p10le -c:v libx265 -x265-params log-level=error -color_primaries "
     "bt2020 -color_trc smpte2084 -colorspace bt2020nc {dir}/pq.mp4"},
    // Four colours, one a quarter (red, green / blue, white): where each corner goes shows a
    // turn or a mirror. SetUpTestSuite gives copies of it mirrored display matrices.
    {"quads.mp4",
     "ffmpeg -v error -y -f lavfi -i \"color=red:s=160x120[a];color=green:s=160x120[b];"
     "color=blue:s=160x120[c];color=white:s=160x120[d];[a][b]hstack[t];[c][d]hstack[u];"
     "[t][u]vstack\" -t 1 -pix_fmt yuv420p -c:v libx264 {dir}/quads.mp4"},
    // 10-bit beyond HEVC: VP9 profile 2 in WebM, AV1 in MP4 (decoded by libdav1d).
    {"vp9.webm",
     "{lavfi} -pix_fmt yuv420p10le -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -crf 40 "
     "-b:v 0 -c:a libopus {dir}/vp9.webm"},
    {"av1.mp4",
     "{lavfi} -pix_fmt yuv420p10le -c:v libaom-av1 -usage realtime -cpu-used 8 -c:a aac "
     "{dir}/av1.mp4"},
    {"tagged.mp3",
     "ffmpeg -v error -y -f lavfi -i sine=sample_rate=44100 -f lavfi -i "
     "color=c=red:size=64x64 -t 1 -frames:v 1 -map 0 -map 1 -c:a libmp3lame -c:v "
     "mjpeg -disposition:v attached_pic -id3v2_version 3 -metadata title=Tide "
     "-metadata artist=Ebb -metadata album=Shore -metadata date=2024 -metadata "
     "track=3 -metadata comment=Calm {dir}/tagged.mp3"},
    {"tagged.flac",
     "ffmpeg -v error -y -i {dir}/tagged.mp3 -map 0 -c:a flac -c:v copy "
     "{dir}/tagged.flac"},
    // Cues (a data stream) from 0.7 s before the pictures and the sound.
    {"cues.ts",
     "yes cue | head -c 4000 > {dir}/cues.bin && ffmpeg -v error -y -itsoffset 0.7 -f "
     "lavfi -i testsrc2=size=320x240:rate=25:duration=1 -itsoffset 0.7 -f lavfi -i "
     "sine=sample_rate=48000:duration=1 -f data -i {dir}/cues.bin -map 0:v -map 1:a "
     "-map 2 -c:v mpeg2video -c:a mp2 -c:d copy {dir}/cues.ts"},
    // As a phone records: when and where, in the QuickTime keys a phone writes.
    {"recorded.mov",
     "{lavfi} -c:v libx264 -c:a aac -movflags use_metadata_tags -metadata "
     "creation_time=2024-05-01T10:20:30Z -metadata "
     "com.apple.quicktime.location.ISO6709=+48.8584+002.2945+035.000/ {dir}/recorded.mov"},
    // Two sound tracks with their titles, and the recording's date and place.
    {"titled.mkv",
     "{lavfi} -f lavfi -i sine=frequency=880:sample_rate=48000 -t 1 -map 0 -map 1 -map 2 -c:v "
     "libx264 -c:a aac -metadata creation_time=2024-05-01T10:20:30Z -metadata "
     "location=+48.8584+002.2945/ -metadata:s:a:0 title=English -metadata:s:a:1 "
     "\"title=Deutsch Kommentar\" {dir}/titled.mkv"},
    // The second track is the default one and lasts twice as long.
    {"two.mkv",
     "ffmpeg -v error -y -f lavfi -i sine=sample_rate=48000:duration=1 -f lavfi -i "
     "sine=frequency=880:sample_rate=48000:duration=2 -map 0 -map 1 -c:a aac "
     "-disposition:a:0 0 -disposition:a:1 default {dir}/two.mkv"},
};

std::string Shell(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (fgets(buffer, sizeof buffer, pipe)) text += buffer;
        pclose(pipe);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

// One ffprobe entry ("stream=color_transfer") of the first stream a selector ("v:0") names.
std::string ProbeEntry(const std::string& path, const std::string& entry,
                       const std::string& streams = "v:0") {
    return Shell("ffprobe -v error -select_streams " + streams + " -show_entries " + entry +
                 " -of default=nw=1:nk=1 '" + path + "' | head -1");
}

// Pictures per second from the pictures' own times: some containers (RealMedia) note only a
// whole rate in their header.
double MeasuredRate(const std::string& path) {
    std::istringstream times(
        Shell("ffprobe -v error -select_streams v:0 -show_entries "
              "packet=pts_time -of csv=p=0 '" +
              path + "' | sort -g"));
    std::vector<double> pts;
    for (double t; times >> t;) pts.push_back(t);
    return pts.size() > 1 ? (pts.size() - 1) / (pts.back() - pts.front()) : 0;
}

// How far the first picture of `output` is from the judge's rendering of `source`: the mean
// difference of grey levels over a 6x8 grid.
int PictureDistance(const std::string& output, const std::string& source) {
    const std::string grid =
        " -frames:v 1 -vf scale=6:8,format=gray -f rawvideo - | od -An -v -tu1 -w1";
    const std::string ours = Shell("ffmpeg -v error -i '" + output + "'" + grid);
    const std::string theirs = Shell("ffmpeg -v error -i '" + source + "'" + grid);
    int total = 0, count = 0, a = 0, b = 0;
    for (std::istringstream x(ours), y(theirs); x >> a && y >> b; ++count) total += std::abs(a - b);
    return count == 48 ? total / count : 255;
}

// The four colours of quads.mp4 as shown: the corners top-left, top-right, bottom-left,
// bottom-right; R(ed), G(reen), B(lue), W(hite).
struct TMirror {
    const char* Name;
    double Angle;  // av_display_rotation_set's angle, before the mirror
    const char* Shown;
};
const TMirror kMirrors[] = {
    {"mirror0.mp4", 0, "GRWB"},
    {"mirror90.mp4", 90, "RBGW"},  // a quarter clockwise and mirrored: the diagonal's reflection
    {"mirror180.mp4", 180, "BWRG"},
    {"mirror270.mp4", 270, "WGBR"},
};

// The colours of a picture's four corners, read from its first picture shrunk to 2x2: as the
// judge shows it, or as coded.
std::string Corners(const std::string& path, bool coded = false) {
    std::istringstream values(
        Shell(std::string("ffmpeg -v error ") + (coded ? "-noautorotate " : "") + "-i '" + path +
              "' -frames:v 1 -vf format=rgb24,scale=2:2:flags=area -f rawvideo - | od -An -v "
              "-tu1"));
    const struct {
        char Name;
        int R, G, B;
    } colours[] = {{'R', 255, 0, 0}, {'G', 0, 128, 0}, {'B', 0, 0, 255}, {'W', 255, 255, 255}};
    std::string corners;
    for (int r, g, b; values >> r >> g >> b;) {
        char nearest = '?';
        int best = 3 * 60 * 60;  // farther from every colour than this: none of them
        for (const auto& colour : colours) {
            const int distance = (r - colour.R) * (r - colour.R) + (g - colour.G) * (g - colour.G) +
                                 (b - colour.B) * (b - colour.B);
            if (distance < best) best = distance, nearest = colour.Name;
        }
        corners += nearest;
    }
    return corners;
}

struct TCase {
    const char* Source;
    int Line;
};

class CameraFileTest : public ::testing::TestWithParam<TCase> {
  protected:
    static void SetUpTestSuite() {
        folder = std::make_unique<TTempDir>();
        RequireMediaLibraries();
        const std::string path = folder->Path().string();
        for (const TSource& source : kSources) {
            std::string command = source.Command;
            for (const auto& [key, value] :
                 {std::pair<std::string, std::string>{"{dir}", path}, {"{lavfi}", kLavfi}})
                for (size_t at; (at = command.find(key)) != std::string::npos;)
                    command.replace(at, key.size(), value);
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
        }
        for (const TMirror& mirror : kMirrors)
            CopyWithDisplayMatrix(path + "/quads.mp4", path + "/" + mirror.Name, mirror.Angle,
                                  true);
        converter = std::make_unique<TProfileConverter>();
    }
    static void TearDownTestSuite() {
        converter.reset();
        folder.reset();
    }

    // The source as the window lists and converts it, with the profile's defaults.
    TConversionOutcome ConvertWithDefaults(const std::string& source, TProbeFacts& facts) {
        const TOutputProfile& profile = *OutputFormatLines()[GetParam().Line].Profile;
        lists_.ApplyProfile(profile);
        TAVProbe probe;
        EXPECT_TRUE(probe.LoadFile(source)) << probe.LastErrorText();
        facts = ReadProbeFacts(probe);
        return converter->Convert(source, facts,
                                  SettingsFor(profile, lists_, out_.Path().string()));
    }

    static inline std::unique_ptr<TTempDir> folder;
    static inline std::unique_ptr<TProfileConverter> converter;
    TParameterLists lists_;
    TTempDir out_;
};

TEST_P(CameraFileTest, ConvertsAsTheRecordingShows) {
    const std::string name = GetParam().Source;
    const std::string source = (folder->Path() / name).string();
    TProbeFacts facts;
    const TConversionOutcome outcome = ConvertWithDefaults(source, facts);
    ASSERT_TRUE(outcome.Done) << outcome.Reason;
    const std::string output = outcome.OutputFile;
    const TProbedFile judge = RunFfprobe(output);
    ASSERT_TRUE(judge.ok) << judge.error;
    const TProbedStream* video = judge.First("video");
    // The profile's own rate (MPEG-1's 25) is the user's choice; only "the input's" is fitted.
    const bool rateLeftAlone = !ParseFrameRateText(lists_.VideoFramerate.SelectedText());

    if (name == "rotated.mp4") {
        // Listed upright; written upright without a rotation left behind.
        EXPECT_EQ(facts.Width, 240);
        EXPECT_EQ(facts.Height, 320);
        ASSERT_NE(video, nullptr);
        EXPECT_EQ(ProbeEntry(output, "stream_side_data=rotation"), "");
        // The picture matches the judge's upright rendering, cell by cell.
        EXPECT_LT(PictureDistance(output, source), 20);
    } else if (name.starts_with("mirror")) {
        // Listed and written as shown: turned, unmirrored, with no matrix left behind.
        const auto mirror = std::find_if(std::begin(kMirrors), std::end(kMirrors),
                                         [&](const TMirror& m) { return m.Name == name; });
        ASSERT_NE(mirror, std::end(kMirrors));
        EXPECT_EQ(Corners(source, true), "RGBW") << "the coded picture";
        const bool turned = int(mirror->Angle) % 180 != 0;
        EXPECT_EQ(facts.Width, turned ? 240 : 320);
        EXPECT_EQ(facts.Height, turned ? 320 : 240);
        ASSERT_NE(video, nullptr);
        if (outcome.Job.FrameSize.empty()) {
            EXPECT_EQ(video->width, facts.Width);
            EXPECT_EQ(video->height, facts.Height);
        }
        EXPECT_EQ(ProbeEntry(output, "stream_side_data=rotation"), "");
        EXPECT_EQ(Corners(output, true), mirror->Shown);
    } else if (name == "phone.mp4" || name == "jitter.mp4") {
        ASSERT_NE(video, nullptr);
        // The list shows the real rate; an unchosen rate stays within half a percent of it.
        const double real = 25.0 + (name == "phone.mp4" ? 4.99 : 0.0);
        if (name == "jitter.mp4") {
            EXPECT_EQ(ProbeEntry(source, "stream=r_frame_rate"), "90000/1") << "not jittered";
        }
        EXPECT_NEAR(double(facts.FrameRateNum) / facts.FrameRateDen, real, real * 0.005);
        if (rateLeftAlone) {
            // Pictures at the real rate, or (a format that keeps each picture's time) at the
            // source's own times.
            const double ours = MeasuredRate(output), theirs = MeasuredRate(source);
            EXPECT_TRUE(std::abs(ours - real) < real * 0.005 ||
                        std::abs(ours - theirs) < theirs * 0.001)
                << ours << " fps from " << theirs;
        }
        if (rateLeftAlone && video->codecName == "mpeg4" && name == "phone.mp4") {
            bool logged = false;
            for (const std::string& line : outcome.Notes)
                logged |= line == "mpeg4 does not take 90000/3001 fps: 30000/1001 instead";
            EXPECT_TRUE(logged);
        }
    } else if (name == "empty.mp4") {
        EXPECT_EQ(facts.Width, 320);
        ASSERT_NE(video, nullptr);
    } else if (name == "hlg.mp4" || name == "pq.mp4") {
        ASSERT_NE(video, nullptr);
        // What the container keeps of the colours is BT.709 SDR; AVI keeps none.
        const std::string expected = GetParam().Line == kAVI ? "unknown" : "bt709";
        EXPECT_EQ(ProbeEntry(output, "stream=color_transfer"), expected);
        EXPECT_EQ(ProbeEntry(output, "stream=color_primaries"), expected);
        EXPECT_EQ(ProbeEntry(output, "stream=color_space"), expected);
        // Mid-grey stays mid-grey: the SDR grey the source was made of is about 126.
        const auto frames = DecodeVideoFrames(output, 1);
        ASSERT_FALSE(frames.empty());
        const TDecodedFrame& frame = frames.front();
        const int centre = frame.y[(frame.height / 2) * frame.width + frame.width / 2];
        EXPECT_NEAR(centre, 126, 10);
    } else if (name == "vp9.webm" || name == "av1.mp4") {
        ASSERT_NE(video, nullptr);
        // 8 bits unless the encoder codes 10 and the profile keeps them (VP9 does; today's
        // H.264 writes the 8 bits every player takes).
        const bool deep = GetParam().Line == kVP9;
        EXPECT_EQ(video->pixelFormat, deep ? "yuv420p10le" : "yuv420p");
        const std::string size = outcome.Job.FrameSize.empty() ? "320x240" : outcome.Job.FrameSize;
        EXPECT_EQ(std::to_string(video->width) + "x" + std::to_string(video->height), size);
        EXPECT_LT(PictureDistance(output, source), 12);
        // As many pictures as the source's second holds; a changed rate may add one.
        const double rate = av_q2d(video->avgFrameRate);
        const TProbedFile countedFile = RunFfprobe(output, true);
        const TProbedStream* counted = countedFile.First("video");
        ASSERT_NE(counted, nullptr);
        EXPECT_NEAR(double(counted->packets), rate, rate == 25 ? 0.0 : 1.0);
    } else if (name == "tagged.mp3" || name == "tagged.flac") {
        EXPECT_FALSE(facts.HasVideo) << "a cover is no video";
        // As long as the sound, within an audio frame: FLAC's decoder threads over frames and
        // hands its first one out late, which must not start the sound late.
        EXPECT_NEAR(judge.duration, 1.0, 0.05);
        const bool holdsTags = GetParam().Line != kWAV;
        const std::string format = "format_tags=title:stream_tags=title";
        std::string title = Shell("ffprobe -v error -show_entries " + format +
                                  " -of default=nw=1:nk=1 '" + output + "' | head -1");
        if (holdsTags) {
            EXPECT_EQ(title, "Tide");
        }
        // Matroska attaches the cover as a file, which the judge lists as a picture. The ASF
        // muxer writes no WM/Picture: a cover there would be a one-picture video track.
        const bool holdsCover =
            GetParam().Line == kMP3 || GetParam().Line == kM4A || GetParam().Line == kMKV;
        const bool commentCover = GetParam().Line == kOGG;
        EXPECT_EQ(ProbeEntry(output, "stream_disposition=attached_pic"),
                  holdsCover || commentCover ? "1" : "");
        if (commentCover) {
            // Ogg holds sound only: the cover is a METADATA_BLOCK_PICTURE comment, which the
            // judge lists as a picture. Its bytes are the source's cover, as a JPEG.
            EXPECT_EQ(Shell("grep -a -c -i 'METADATA_BLOCK_PICTURE=' '" + output + "'"), "1");
            EXPECT_EQ(Shell("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 '" +
                            output + "' | sort | uniq -c | tr -s ' '"),
                      " 1 audio\n 1 video");
            EXPECT_EQ(ProbeEntry(output, "stream=codec_name"), "mjpeg");
            const std::string bytes = " -map 0:v -c copy -f data - | md5sum";
            const std::string ours = Shell("ffmpeg -v error -i '" + output + "'" + bytes);
            EXPECT_EQ(ours, Shell("ffmpeg -v error -i '" + source + "'" + bytes));
            EXPECT_NE(ours, Shell("true | md5sum")) << "an empty picture";
        } else if (!holdsCover) {
            EXPECT_EQ(video, nullptr);
        }
    } else if (name == "recorded.mov" || name == "titled.mkv") {
        // The date and the place in every container that holds them, whatever their key was.
        const auto tag = [&](const std::string& key) {
            return Shell("ffprobe -v error -show_entries format_tags -of default=nw=1 '" + output +
                         "' | grep -i '^TAG:" + key + "=' | head -1 | cut -d= -f2-");
        };
        EXPECT_EQ(tag("creation_time").substr(0, 19), "2024-05-01T10:20:30");
        // The MP4 muxer writes the place again from its numbers ("+35.000000" for "+035.000").
        EXPECT_EQ(tag("location").substr(0, 17), "+48.8584+002.2945");
        // Matroska and WebM name each sound track: all of them where the profile keeps every one.
        if (name == "titled.mkv") {
            const std::string titles = Shell(
                "ffprobe -v error -select_streams a -show_entries stream_tags=title -of "
                "default=nw=1:nk=1 '" +
                output + "'");
            EXPECT_EQ(titles, GetParam().Line == kMKV ? "English\nDeutsch Kommentar" : "English");
        }
    } else if (name == "cues.ts") {
        // No frozen first picture: the output is as long as the pictures, within a frame.
        EXPECT_NEAR(judge.duration, 1.0, 0.04);
    } else if (name == "two.mkv") {
        EXPECT_NEAR(judge.duration, 2.0, 0.1) << "the default track, the longer one";
    }
}

const TCase kCases[] = {
    {"rotated.mp4", kAVI},   {"rotated.mp4", kMP4},   {"rotated.mp4", kMOV},
    {"rotated.mp4", kFLV},   {"rotated.mp4", kWMV},   {"rotated.mp4", kMPEG1},
    {"rotated.mp4", kDVD},   {"rotated.mp4", k3GP},   {"rotated.mp4", kRM},
    {"rotated.mp4", kSWF},   {"phone.mp4", kAVI},     {"phone.mp4", kMP4},
    {"phone.mp4", kMOV},     {"phone.mp4", kFLV},     {"phone.mp4", kWMV},
    {"phone.mp4", kMPEG1},   {"phone.mp4", kDVD},     {"phone.mp4", k3GP},
    {"phone.mp4", kRM},      {"phone.mp4", kSWF},     {"jitter.mp4", kAVI},
    {"jitter.mp4", kMP4},    {"jitter.mp4", kWMV},    {"jitter.mp4", kRM},
    {"jitter.mp4", kH264},   {"empty.mp4", kAVI},     {"empty.mp4", kMP4},
    {"hlg.mp4", kMP4},       {"pq.mp4", kAVI},        {"hlg.mp4", kH264},
    {"tagged.mp3", kMP3},    {"tagged.mp3", kM4A},    {"tagged.mp3", kOGG},
    {"tagged.mp3", kWAV},    {"tagged.flac", kMP3},   {"tagged.flac", kMKV},
    {"tagged.flac", kOGG},   {"tagged.mp3", kWMA},    {"two.mkv", kMP3},
    {"cues.ts", kAVI},       {"vp9.webm", kAVI},      {"vp9.webm", kMP4},
    {"vp9.webm", kMOV},      {"vp9.webm", kFLV},      {"vp9.webm", kWMV},
    {"vp9.webm", kMPEG1},    {"vp9.webm", kMPEG2},    {"vp9.webm", kDVD},
    {"vp9.webm", k3GP},      {"vp9.webm", kRM},       {"vp9.webm", kSWF},
    {"vp9.webm", kH264},     {"vp9.webm", kVP9},      {"av1.mp4", kAVI},
    {"av1.mp4", kMP4},       {"av1.mp4", kMOV},       {"av1.mp4", kFLV},
    {"av1.mp4", kWMV},       {"av1.mp4", kMPEG1},     {"av1.mp4", kMPEG2},
    {"av1.mp4", kDVD},       {"av1.mp4", k3GP},       {"av1.mp4", kRM},
    {"av1.mp4", kSWF},       {"av1.mp4", kH264},      {"av1.mp4", kVP9},
    {"mirror90.mp4", kAVI},  {"mirror90.mp4", k3GP},  {"mirror90.mp4", kDVD},
    {"mirror90.mp4", kH264}, {"mirror0.mp4", kMP4},   {"mirror180.mp4", kMP4},
    {"mirror270.mp4", kMP4}, {"recorded.mov", kH264}, {"recorded.mov", kMKV},
    {"recorded.mov", kMOV},  {"recorded.mov", kMP4},  {"titled.mkv", kMKV},
    {"titled.mkv", kVP9},
};

INSTANTIATE_TEST_SUITE_P(Families, CameraFileTest, ::testing::ValuesIn(kCases),
                         [](const auto& testInfo) {
                             std::string name = testInfo.param.Source;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name + "_" + std::to_string(testInfo.param.Line);
                         });

// The height entries of today's profiles name the picture's short side and never make a picture
// larger: a phone's portrait clip (coded 1920x1080, turned a quarter) stays 1080 wide, a 720p
// clip stays 720p under "1080p".
struct TSizeCase {
    const char* Source;
    int Line;
    const char* Entry;  // the size list's entry
    int Width, Height;  // as the judge shows the output
};
void PrintTo(const TSizeCase& c, std::ostream* out) {
    *out << c.Source << " " << c.Line << " " << c.Entry;
}

class HeightEntryTest : public ::testing::TestWithParam<TSizeCase> {
  protected:
    static void SetUpTestSuite() {
        folder = std::make_unique<TTempDir>();
        RequireMediaLibraries();
        const std::string dir = folder->Path().string();
        const std::string clip = "ffmpeg -v error -y -f lavfi -i testsrc2=size=";
        const std::string rest =
            ":rate=25 -f lavfi -i sine=sample_rate=48000 -t 0.4 -c:v libx264 -preset "
            "ultrafast -c:a aac ";
        for (const std::string& command :
             {clip + "1920x1080" + rest + dir + "/coded.mp4 && ffmpeg -v error -y -i " + dir +
                  "/coded.mp4 -c copy -metadata:s:v rotate=90 " + dir + "/tall.mp4",
              clip + "1280x720" + rest + dir + "/hd.mp4"})
            ASSERT_EQ(std::system(command.c_str()), 0) << command;
        converter = std::make_unique<TProfileConverter>();
    }
    static void TearDownTestSuite() {
        converter.reset();
        folder.reset();
    }
    static inline std::unique_ptr<TTempDir> folder;
    static inline std::unique_ptr<TProfileConverter> converter;
    TTempDir out_;
};

TEST_P(HeightEntryTest, TheEntryIsTheShortSideAndNeverEnlarges) {
    const TSizeCase& c = GetParam();
    const std::string source = (folder->Path() / c.Source).string();
    const TOutputProfile& profile = *OutputFormatLines()[c.Line].Profile;
    TParameterLists lists;
    lists.ApplyProfile(profile);
    const auto entry =
        std::find(lists.VideoSize.Items.begin(), lists.VideoSize.Items.end(), std::string(c.Entry));
    ASSERT_NE(entry, lists.VideoSize.Items.end()) << c.Entry;
    lists.VideoSize.Selected = static_cast<int>(entry - lists.VideoSize.Items.begin());
    TAVProbe probe;
    ASSERT_TRUE(probe.LoadFile(source)) << probe.LastErrorText();
    const TProbeFacts facts = ReadProbeFacts(probe);
    const TConversionOutcome outcome =
        converter->Convert(source, facts, SettingsFor(profile, lists, out_.Path().string()));
    ASSERT_TRUE(outcome.Done) << outcome.Reason;
    const TProbedFile judge = RunFfprobe(outcome.OutputFile);
    ASSERT_TRUE(judge.ok) << judge.error;
    const TProbedStream* video = judge.First("video");
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(std::to_string(video->width) + "x" + std::to_string(video->height),
              std::to_string(c.Width) + "x" + std::to_string(c.Height));
    EXPECT_EQ(ProbeEntry(outcome.OutputFile, "stream_side_data=rotation"), "");
}

constexpr int kPhone = 70;      // "MP4 - Phone (1080p H.264)"
constexpr int kWebUpload = 71;  // "MP4 - Web upload (1080p H.264, fast start)"

INSTANTIATE_TEST_SUITE_P(TodaysSizes, HeightEntryTest,
                         ::testing::Values(TSizeCase{"tall.mp4", kPhone, "1080p", 1080, 1920},
                                           TSizeCase{"tall.mp4", kWebUpload, "1080p", 1080, 1920},
                                           TSizeCase{"tall.mp4", kPhone, "720p", 720, 1280},
                                           TSizeCase{"tall.mp4", kH264, "480p", 480, 854},
                                           TSizeCase{"hd.mp4", kWebUpload, "1080p", 1280, 720},
                                           TSizeCase{"hd.mp4", kPhone, "1080p", 1280, 720},
                                           TSizeCase{"hd.mp4", kH264, "2160p", 1280, 720},
                                           TSizeCase{"hd.mp4", kPhone, "480p", 854, 480}),
                         [](const auto& testInfo) {
                             std::string name = std::string(testInfo.param.Source) + "_" +
                                                std::to_string(testInfo.param.Line) + "_" +
                                                testInfo.param.Entry;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

}  // namespace
