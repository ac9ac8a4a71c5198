#include "engine/StreamChoice.h"

#include <algorithm>
#include <cmath>

namespace {

// Above this a "frame rate" is a clock: no camera or phone records faster.
constexpr double kMostPicturesPerSecond = 240.0;

double RateValue(AVRational rate) {
    return rate.num > 0 && rate.den > 0 ? double(rate.num) / rate.den : 0.0;
}

bool PlausibleRate(AVRational rate) {
    const double value = RateValue(rate);
    return value > 0.0 && value <= kMostPicturesPerSecond;
}

// How much a stream is worth converting, within its kind.
int64_t Weight(const AVStream* stream) {
    const AVCodecParameters* parameters = stream->codecpar;
    if (parameters->codec_type == AVMEDIA_TYPE_VIDEO)
        return int64_t(parameters->width) * parameters->height;
    if (parameters->codec_type == AVMEDIA_TYPE_AUDIO) return parameters->ch_layout.nb_channels;
    return 0;
}

bool ProgramHolds(const AVProgram* program, unsigned streamIndex) {
    for (unsigned k = 0; k < program->nb_stream_indexes; ++k)
        if (program->stream_index[k] == streamIndex) return true;
    return false;
}

// The stream of `type` a conversion takes among the program's streams, or among all of them.
int ChooseStreamAmong(const AVFormatContext* file, AVMediaType type, const AVProgram* program) {
    int chosen = -1;
    bool chosenDefault = false;
    int64_t chosenWeight = -1;
    for (unsigned i = 0; i < file->nb_streams; ++i) {
        const AVStream* stream = file->streams[i];
        if (stream->codecpar->codec_type != type || !UsableStream(stream)) continue;
        if (program && !ProgramHolds(program, i)) continue;
        const bool isDefault = (stream->disposition & AV_DISPOSITION_DEFAULT) != 0;
        const int64_t weight = Weight(stream);
        if (chosen < 0 || (isDefault && !chosenDefault) ||
            (isDefault == chosenDefault && weight > chosenWeight)) {
            chosen = static_cast<int>(i);
            chosenDefault = isDefault;
            chosenWeight = weight;
        }
    }
    return chosen;
}

}  // namespace

bool UsableStream(const AVStream* stream) {
    const AVCodecParameters* parameters = stream->codecpar;
    if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) return false;
    switch (parameters->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            return parameters->width > 0 && parameters->height > 0;
        case AVMEDIA_TYPE_AUDIO:
            return parameters->sample_rate > 0 && parameters->ch_layout.nb_channels > 0;
        default:
            return true;
    }
}

const AVProgram* ChosenProgram(const AVFormatContext* file) {
    if (file->nb_programs < 2) return nullptr;
    // A program left out (the "programid" option) is never chosen.
    const auto kept = [](const AVProgram* program) { return program->discard != AVDISCARD_ALL; };
    const int video = ChooseStreamAmong(file, AVMEDIA_TYPE_VIDEO, nullptr);
    if (video >= 0)
        for (unsigned p = 0; p < file->nb_programs; ++p)
            if (kept(file->programs[p]) &&
                ProgramHolds(file->programs[p], static_cast<unsigned>(video)))
                return file->programs[p];
    // No picture (a radio multiplex), or only in programs left out: the first program kept that
    // carries a usable stream.
    for (unsigned p = 0; p < file->nb_programs; ++p)
        for (unsigned k = 0; kept(file->programs[p]) && k < file->programs[p]->nb_stream_indexes;
             ++k) {
            const unsigned index = file->programs[p]->stream_index[k];
            if (index < file->nb_streams && UsableStream(file->streams[index]))
                return file->programs[p];
        }
    return nullptr;
}

bool InChosenProgram(const AVFormatContext* file, unsigned streamIndex) {
    const AVProgram* program = ChosenProgram(file);
    return !program || ProgramHolds(program, streamIndex);
}

int ChooseStream(const AVFormatContext* file, AVMediaType type) {
    return ChooseStreamAmong(file, type, ChosenProgram(file));
}

int FindCoverStream(const AVFormatContext* file) {
    for (unsigned i = 0; i < file->nb_streams; ++i)
        if (file->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC) return static_cast<int>(i);
    return -1;
}

int64_t MediaStartTime(const AVFormatContext* file) {
    int64_t start = AV_NOPTS_VALUE;
    for (AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO, AVMEDIA_TYPE_SUBTITLE}) {
        const int index = ChooseStream(file, type);
        if (index < 0) continue;
        const AVStream* stream = file->streams[index];
        if (stream->start_time == AV_NOPTS_VALUE) continue;
        const int64_t us =
            LibAVUtil.av_rescale_q(stream->start_time, stream->time_base, AV_TIME_BASE_Q);
        if (start == AV_NOPTS_VALUE || us < start) start = us;
    }
    return start;
}

int64_t MediaDuration(const AVFormatContext* file) {
    constexpr int64_t kLargestSpread = 10 * int64_t{AV_TIME_BASE};
    int64_t longest = AV_NOPTS_VALUE;
    for (AVMediaType type : {AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}) {
        const int index = ChooseStream(file, type);
        if (index < 0) continue;
        const AVStream* stream = file->streams[index];
        if (stream->duration == AV_NOPTS_VALUE || stream->duration <= 0) continue;
        longest = std::max(
            longest, LibAVUtil.av_rescale_q(stream->duration, stream->time_base, AV_TIME_BASE_Q));
    }
    const int64_t whole = file->duration < 0 ? AV_NOPTS_VALUE : file->duration;
    if (longest == AV_NOPTS_VALUE) return whole;
    if (whole == AV_NOPTS_VALUE || whole - longest > kLargestSpread) return longest;
    return whole;
}

AVRational RealFrameRate(const AVStream* stream) {
    if (PlausibleRate(stream->r_frame_rate)) return stream->r_frame_rate;
    if (PlausibleRate(stream->avg_frame_rate)) return stream->avg_frame_rate;
    return AVRational{0, 1};
}

std::string TDisplayTransform::FilterText() const {
    std::string text;
    switch (ClockwiseDegrees) {
        case 90:
            text = "transpose=clock";
            break;
        case 180:
            text = "hflip,vflip";
            break;
        case 270:
            text = "transpose=cclock";
            break;
        default:
            break;
    }
    if (Mirrored) text += text.empty() ? "hflip" : ",hflip";
    return text;
}

TDisplayTransform DisplayTransformOf(const int32_t matrix[9]) {
    // The 2x2 part is 16.16 fixed point: a b / c d, applied to row vectors (x y).
    const double a = matrix[0] / 65536.0, b = matrix[1] / 65536.0;
    const double c = matrix[3] / 65536.0, d = matrix[4] / 65536.0;
    TDisplayTransform transform;
    if (a * d - b * c < 0) {
        // A mirror after the rotation negates the first column; take it out to read the turn.
        transform.Mirrored = true;
        int32_t unmirrored[9];
        for (int i = 0; i < 9; ++i) unmirrored[i] = i % 3 == 0 ? -matrix[i] : matrix[i];
        transform.ClockwiseDegrees = DisplayTransformOf(unmirrored).ClockwiseDegrees;
        return transform;
    }
    // The library's angle is counter-clockwise.
    const double angle = -LibAVUtil.av_display_rotation_get(matrix);
    if (!std::isfinite(angle)) return transform;
    const double quarters = angle / 90.0;
    const double nearest = std::round(quarters);
    if (std::fabs(quarters - nearest) > 0.05) return transform;
    transform.ClockwiseDegrees = ((static_cast<int>(nearest) % 4 + 4) % 4) * 90;
    return transform;
}

TDisplayTransform DisplayTransformOf(const AVStream* stream) {
    for (int i = 0; i < stream->nb_side_data; ++i) {
        const AVPacketSideData& data = stream->side_data[i];
        if (data.type == AV_PKT_DATA_DISPLAYMATRIX && data.size >= int(9 * sizeof(int32_t)))
            return DisplayTransformOf(reinterpret_cast<const int32_t*>(data.data));
    }
    return {};
}
