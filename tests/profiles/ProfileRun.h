// Conversions with the output profiles as the window makes them: the profile's lists with chosen
// entries, the job builder, and the converter component running the task; ffprobe judges.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/core/JobBuilder.h"
#include "app/core/ProfileCatalogue.h"
#include "support/Ffprobe.h"
#include "support/TempDir.h"

// The source every profile converts: 640x480 at 25 fps, stereo 48 kHz.
struct TSourceClip {
    std::string Path;
    int Width = 640;
    int Height = 480;
    double Seconds = 2.0;
};
// Writes the clip into the folder (mpeg4 and AAC in AVI).
TSourceClip MakeSourceClip(const std::string& folder, double seconds, int width = 640,
                           int height = 480);

// The lines of the format list that hold a profile (the others are headings), in order.
std::vector<int> ProfileLines();

// The window's settings for a profile whose lists show `lists`: the default volume, aspect
// "Original" unless the lists say otherwise, no letter box, overwriting in `outputFolder`.
TJobSettings SettingsFor(const TOutputProfile& profile, const TParameterLists& lists,
                         const std::string& outputFolder);

struct TConversionOutcome {
    bool Done = false;
    std::string Reason;              // why it failed
    std::vector<std::string> Notes;  // the builder's log lines for the row
    std::string OutputFile;
    TJobDescription Job;  // as the builder described it
};

// A converter component with the libraries loaded, converting one file at a time through the
// file list, the queue and the job builder.
class TProfileConverter {
  public:
    TProfileConverter();
    ~TProfileConverter();
    // The clip as a row of the file list, converted by the job builder with these settings.
    TConversionOutcome Convert(const TSourceClip& clip, const TJobSettings& settings);
    // A file as the window lists it (what the probe found), converted likewise.
    TConversionOutcome Convert(const std::string& path, const TProbeFacts& facts,
                               const TJobSettings& settings);
    // A job described by the test, handed to the component as the builder hands its jobs.
    TConversionOutcome Run(const TJobDescription& job);
    // The percentages the last conversion's progress events gave, in their order.
    std::vector<int> ProgressPercents() const;

  private:
    void WaitForEnd(TConversionOutcome& outcome);
    struct TState;
    std::unique_ptr<TState> state_;
};

// Tests over the output profiles (the parameter: a line of the format list) that share one
// source clip, `Milliseconds` long at `Width`x`Height`, and one converter for the whole suite.
template <int Milliseconds, int Width, int Height>
class TProfileSuite : public ::testing::TestWithParam<int> {
  protected:
    static void SetUpTestSuite() {
        folder = std::make_unique<TTempDir>();
        RequireMediaLibraries();
        clip = MakeSourceClip(folder->Path().string(), Milliseconds / 1000.0, Width, Height);
        converter = std::make_unique<TProfileConverter>();
    }
    static void TearDownTestSuite() {
        converter.reset();
        folder.reset();
    }

    static inline std::unique_ptr<TTempDir> folder;
    static inline TSourceClip clip;
    static inline std::unique_ptr<TProfileConverter> converter;
};

// When each stream's packets start and end, in seconds, read packet by packet, and its longest
// packet (a frame, for the audio encoders' fixed frames). A packet without a time follows the
// one before it.
struct TStreamSpan {
    double Start = 0;
    double End = 0;
    double LongestPacket = 0;
};
// Spans by codec type ("video", "audio"); empty when ffprobe cannot read the file.
std::map<std::string, TStreamSpan> StreamSpans(const std::string& path);

// The top-level boxes of an ISO-family file in their order ("ftyp", "moov", "mdat", ...);
// empty for a file that is not one.
std::vector<std::string> TopLevelBoxes(const std::string& path);

// Whether an ISO-family file has its index before its media: a player can start at once.
bool IndexBeforeMedia(const std::string& path);

// The container's major brand ("isom", "qt  ", "3gp4", ...), empty for formats without one.
std::string MajorBrand(const std::string& path);
