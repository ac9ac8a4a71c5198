#include <exception>
#include <iostream>
#include <nlohmann/json.hpp>

#include "app/core/BlackBars.h"
#include "app/core/FileListTexts.h"
#include "binding/FFmpegLibs.h"
#include "cli/CliCommands.h"
#include "cli/CliLibraries.h"
#include "cli/MediaFacts.h"
#include "probe/AVProbe.h"

namespace {

using TJson = nlohmann::ordered_json;

// A number the probe may not know: null when it does not.
TJson Known(std::int64_t value, bool known) {
    return known ? TJson(value) : TJson(nullptr);
}

TJson JsonOf(const TMediaFacts& media) {
    const TProbeFacts& facts = media.Facts;
    const bool video = media.Ok && facts.HasVideo;
    const bool rate = video && facts.FrameRateDen != 0;
    TJson object;
    object["path"] = media.Path;
    object["ok"] = media.Ok;
    object["error"] = media.Ok ? TJson(nullptr) : TJson(media.Error);
    object["width"] = Known(facts.Width, video);
    object["height"] = Known(facts.Height, video);
    object["frame_rate_num"] = Known(facts.FrameRateNum, rate);
    object["frame_rate_den"] = Known(facts.FrameRateDen, rate);
    object["duration_us"] = Known(facts.DurationUs, media.Ok && facts.DurationUs >= 0);
    object["stream_count"] = Known(media.StreamCount, media.Ok);
    object["video_stream_count"] = Known(media.VideoStreamCount, media.Ok);
    object["audio_stream_count"] = Known(media.AudioStreamCount, media.Ok);
    object["subtitle_stream_count"] = Known(media.SubtitleStreamCount, media.Ok);
    object["size_text"] = media.Ok ? media.SizeText : RowStateText(TRowState::Unreadable);
    object["frame_rate_text"] =
        media.Ok ? media.FrameRateText : RowStateText(TRowState::Unreadable);
    object["duration_text"] = media.Ok ? media.DurationText : RowStateText(TRowState::Unreadable);
    return object;
}

// The black bars' crop, or empty with the reason on standard error.
std::string CropText(const std::string& path) {
    const TBlackBarSearch search = FindBlackBars(path);
    if (!search.Crop) std::cerr << path << ": no crop: " << search.Reason << "\n";
    return search.Crop ? search.Crop->Text() : std::string();
}

}  // namespace

int ProbeCommand(const std::vector<std::string>& files, bool json, bool crop) {
    if (!LoadMediaLibraries()) return kExitFailed;
    // The probe's reasons are printed here; the libraries' own chatter would only repeat them.
    SetLibraryLogLevel(-1);

    TAVProbe probe;
    TJson array = TJson::array();
    bool allRead = true;
    for (const std::string& path : files) {
        TMediaFacts media;
        try {
            media = ReadMediaFacts(probe, path);
        } catch (const std::exception& error) {
            std::cerr << path << ": " << error.what() << "\n";
            return kExitFailed;
        }
        allRead = allRead && media.Ok;
        // The probe's reasons mostly name the file themselves.
        if (!media.Ok)
            std::cerr << (media.Error.rfind(path, 0) == 0 ? "" : path + ": ") << media.Error
                      << "\n";
        const std::string cropText = crop && media.Ok ? CropText(path) : std::string();
        if (json) {
            array.push_back(JsonOf(media));
            if (crop) array.back()["crop"] = cropText.empty() ? TJson(nullptr) : TJson(cropText);
        } else if (media.Ok) {
            std::cout << path << '\t' << media.SizeText << '\t' << media.FrameRateText << '\t'
                      << media.DurationText << (cropText.empty() ? "" : "\t") << cropText << '\n';
        } else {
            std::cout << path << '\t' << RowStateText(TRowState::Unreadable) << '\n';
        }
    }
    // File names need not be UTF-8: such bytes are shown replaced rather than failing.
    if (json) std::cout << array.dump(2, ' ', false, TJson::error_handler_t::replace) << '\n';
    std::cout.flush();
    if (!std::cout) return kExitFailed;
    return allRead ? kExitOk : kExitFailed;
}
