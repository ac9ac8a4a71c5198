// The set-up of a transcode: run-state tables, the source of every output stream, codec
// parameters, scalers and FIFOs, two-pass files, open codecs, meta-data and headers.
#include <algorithm>
#include <cstring>

#include "engine/CustomFFmpeg.h"
#include "engine/LibraryErrors.h"
#include "engine/SecondPassBudget.h"
#include "engine/StreamChoice.h"

namespace {

constexpr int kMaxPassLogName = 1023;
constexpr int kSdpSize = 2048;
constexpr double kSecondPassMargin = 1.02;

double Seconds(AVRational rate) {
    return rate.den ? double(rate.num) / rate.den : 0.0;
}

// The time base of a copied stream. A demuxer gives each stream one time base; a frame or
// sample duration is what a codec of 2008 had as its own. Prefer it when the stream's is finer
// than 1 ms.
AVRational CopiedTimeBase(const AVStream* sourceStream) {
    const AVCodecParameters* input = sourceStream->codecpar;
    AVRational codecTimeBase{0, 1};
    if (input->codec_type == AVMEDIA_TYPE_VIDEO && sourceStream->r_frame_rate.num > 0)
        codecTimeBase = av_inv_q(sourceStream->r_frame_rate);
    else if (input->codec_type == AVMEDIA_TYPE_AUDIO && input->sample_rate > 0)
        codecTimeBase = AVRational{1, input->sample_rate};
    const AVRational streamTimeBase = sourceStream->time_base;
    return Seconds(codecTimeBase) > Seconds(streamTimeBase) && Seconds(streamTimeBase) < 0.001
               ? codecTimeBase
               : streamTimeBase;
}

// Meta-data keys that a meta-data map copies from an input file to an output file.
constexpr const char* kMappedMetadata[] = {"title", "author", "artist", "copyright", "comment",
                                           "album", "date",   "year",   "track",     "genre"};

}  // namespace

void TCustomFFmpeg::Transcode() {
    try {
        SetUpTranscode();
        RunTranscodeLoop();
    } catch (...) {
        FreeRunState();
        throw;
    }
}

void TCustomFFmpeg::FreeRunState() {
    CopyPacket.reset();
    RunState.OutputStreams.clear();
    RunState.InputStreams.clear();
    RunState.InputFiles.clear();
}

void TCustomFFmpeg::SetUpTranscode() {
    FreeRunState();
    for (TOutputFile& file : OutputFiles)
        for (TOutputStream& stream : file.Streams) stream.MuxedEndTime = 0;
    LastReportedDurationMs = -1;
    CopyPacket.reset(LibAVCodec.av_packet_alloc());
    CutPacket.reset(LibAVCodec.av_packet_alloc());
    if (!CopyPacket || !CutPacket) throw FFMpegException("av_mallocz fail");

    BuildInputStreamTable();
    const int outputStreamCount = CountOutputStreams();
    CheckStreamMaps(outputStreamCount);
    BuildOutputStreamTable();
    for (int n = 0; n < outputStreamCount; ++n) ChooseSource(*RunState.OutputStreams[n], n);
    for (int n = 0; n < outputStreamCount; ++n)
        SetUpStreamParameters(*RunState.OutputStreams[n], n);
    LogStreamMapping();
    loudnessNotes_.clear();
    for (const auto& ost : RunState.OutputStreams)
        if (ost->EncodingNeeded) {
            OpenEncoder(*ost);
            SetUpSound(*ost);
        }
    if (!Loudness.empty() && loudnessNotes_.empty()) {
        loudnessNotes_.push_back("loudness: no sound to normalise");
        DoLog(1, loudnessNotes_.back());
    }
    // Once the encoders are open their streams' parameters say what is written (channels,
    // rates, bit rates); before, an encoded stream's are still blank.
    for (int i = 0; i < OutputFileCount; ++i)
        LibAVFormat.av_dump_format(OutputFiles[i].Context.get(), i, OutputFiles[i].Context->url, 1);
    for (const auto& ist : RunState.InputStreams)
        if (ist->DecodingNeeded) OpenDecoder(*ist);
    for (const auto& ist : RunState.InputStreams) {
        ist->Pts = 0;
        ist->NextPts = AV_NOPTS_VALUE;
        ist->IsStart = 1;
    }
    SetUpCut();
    ApplyMetaDataMaps();
    WriteHeaders();
}

void TCustomFFmpeg::BuildInputStreamTable() {
    TRunState& run = RunState;
    const int inputFileCount = InputFileCount;
    run.InputFiles.resize(inputFileCount);
    for (int i = 0; i < inputFileCount; ++i) {
        run.InputFiles[i].FirstStream = static_cast<int32_t>(run.InputStreams.size());
        run.InputFiles[i].StreamCount = static_cast<int32_t>(InputFiles[i].Context->nb_streams);
        for (unsigned k = 0; k < InputFiles[i].Context->nb_streams; ++k) {
            auto ist = std::make_unique<TInputStreamState>();
            ist->FileIndex = i;
            ist->StreamIndex = static_cast<int32_t>(k);
            ist->Stream = InputFiles[i].Context->streams[k];
            ist->Decoder =
                k < InputFiles[i].Decoders.size() ? InputFiles[i].Decoders[k].get() : nullptr;
            ist->Discard = 1;
            ist->RateEmulation = InputFiles[i].RateEmulation;
            if (ist->RateEmulation) {
                ist->Start = LibAVUtil.av_gettime();
                ist->Frame = 0;
            }
            run.InputStreams.push_back(std::move(ist));
        }
    }
}

int TCustomFFmpeg::CountOutputStreams() const {
    int outputStreamCount = 0;
    for (int i = 0; i < OutputFileCount; ++i) {
        if (OutputFiles[i].Context->nb_streams == 0)
            throw FFMpegException("Output file does not contain any stream");
        outputStreamCount += static_cast<int>(OutputFiles[i].Context->nb_streams);
    }
    return outputStreamCount;
}

void TCustomFFmpeg::CheckStreamMaps(int outputStreamCount) const {
    const int inputFileCount = InputFileCount;
    if (StreamMapCount > 0 && StreamMapCount != outputStreamCount)
        throw FFMpegException("Number of stream maps must match number of output streams");
    auto streamExists = [&](int file, int stream) {
        return file >= 0 && file < inputFileCount && stream >= 0 &&
               stream < static_cast<int>(InputFiles[file].Context->nb_streams);
    };
    for (int i = 0; i < StreamMapCount; ++i) {
        const TStreamMap& map = StreamMaps[i];
        if (!streamExists(map.FileIndex, map.StreamIndex))
            throw FFMpegException::Format("Could not find input stream #%d.%d", map.FileIndex,
                                          map.StreamIndex);
        if (!streamExists(map.SyncFileIndex, map.SyncStreamIndex))
            throw FFMpegException::Format("Could not find sync stream #%d.%d", map.SyncFileIndex,
                                          map.SyncStreamIndex);
    }
}

void TCustomFFmpeg::BuildOutputStreamTable() {
    TRunState& run = RunState;
    for (int i = 0; i < OutputFileCount; ++i)
        for (unsigned j = 0; j < OutputFiles[i].Context->nb_streams; ++j) {
            auto ost = std::make_unique<TOutputStreamState>();
            ost->FileIndex = i;
            ost->StreamIndex = static_cast<int32_t>(j);
            ost->Stream = OutputFiles[i].Context->streams[j];
            if (i < MAX_FILES && j < unsigned(MAX_STREAMS)) {
                ost->Encoder = OutputFiles[i].Streams[j].Codec.get();
                ost->Filters = &OutputFiles[i].Streams[j].Filters;
                ost->Quality = OutputFiles[i].Streams[j].Quality;
            }
            if (!ost->Encoder)
                throw FFMpegException::Format("Output stream #%d.%d has no codec set-up", i,
                                              int(j));
            run.OutputStreams.push_back(std::move(ost));
        }
}

void TCustomFFmpeg::ChooseSource(TOutputStreamState& ost, int n) {
    TRunState& run = RunState;
    auto& inputs = run.InputStreams;
    const AVMediaType type = ost.Encoder->codec_type;
    int source = -1;
    if (StreamMapCount > 0) {
        const TStreamMap& map = StreamMaps[n];
        source = run.InputFiles[map.FileIndex].FirstStream + map.StreamIndex;
        if (inputs[source]->Stream->codecpar->codec_type != type) {
            LibAVFormat.av_dump_format(OutputFiles[ost.FileIndex].Context.get(), ost.FileIndex,
                                       OutputFiles[ost.FileIndex].Context->url, 1);
            throw FFMpegException::Format("Codec type mismatch for mapping #%d.%d -> #%d.%d",
                                          map.FileIndex, map.StreamIndex, ost.FileIndex,
                                          ost.StreamIndex);
        }
    } else {
        source = FindUnmappedSource(type);
        if (source < 0) {
            LibAVFormat.av_dump_format(OutputFiles[ost.FileIndex].Context.get(), ost.FileIndex,
                                       OutputFiles[ost.FileIndex].Context->url, 1);
            throw FFMpegException::Format(
                "Could not find input stream matching output stream #%d.%d", ost.FileIndex,
                ost.StreamIndex);
        }
    }
    ost.SourceIndex = source;
    inputs[source]->Discard = 0;
    // A stream named by a map is read even from a program the file's opening left out.
    if (inputs[source]->Stream->discard == AVDISCARD_ALL)
        inputs[source]->Stream->discard = AVDISCARD_DEFAULT;
    if (StreamMapCount > 0) {
        const TStreamMap& map = StreamMaps[n];
        ost.SyncStream =
            inputs[run.InputFiles[map.SyncFileIndex].FirstStream + map.SyncStreamIndex].get();
    } else {
        ost.SyncStream = inputs[source].get();
    }
}

int TCustomFFmpeg::FindUnmappedSource(AVMediaType type) const {
    const TRunState& run = RunState;
    const auto& inputs = run.InputStreams;
    int source = -1;
    if (ProgramId != 0) {
        for (int i = 0; i < InputFileCount && source < 0; ++i) {
            AVFormatContext* file = InputFiles[i].Context.get();
            for (unsigned p = 0; p < file->nb_programs && source < 0; ++p) {
                AVProgram* program = file->programs[p];
                if (program->id != ProgramId) continue;
                for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
                    const int index =
                        run.InputFiles[i].FirstStream + static_cast<int>(program->stream_index[k]);
                    if (inputs[index]->Discard &&
                        inputs[index]->Stream->codecpar->codec_type == type) {
                        source = index;
                        break;
                    }
                }
            }
        }
        return source;
    }
    // The stream each file would be converted for (a cover picture or an empty track never),
    // then any stream of the type not taken yet.
    for (int i = 0; i < InputFileCount; ++i) {
        const int chosen = ChooseStream(InputFiles[i].Context.get(), type);
        if (chosen >= 0 && inputs[run.InputFiles[i].FirstStream + chosen]->Discard)
            return run.InputFiles[i].FirstStream + chosen;
    }
    // Another program's streams (left out when the file was opened) run on another clock.
    for (size_t k = 0; k < inputs.size(); ++k)
        if (inputs[k]->Discard && inputs[k]->Stream->codecpar->codec_type == type &&
            UsableStream(inputs[k]->Stream) && inputs[k]->Stream->discard != AVDISCARD_ALL)
            return static_cast<int>(k);
    // Every stream of the type feeds an output already: the last of them feeds this one too.
    for (size_t k = 0; k < inputs.size(); ++k)
        if (inputs[k]->Stream->codecpar->codec_type == type &&
            inputs[k]->Stream->discard != AVDISCARD_ALL)
            source = static_cast<int>(k);
    return source;
}

void TCustomFFmpeg::SetUpStreamParameters(TOutputStreamState& ost, int n) {
    TInputStreamState& ist = *RunState.InputStreams[ost.SourceIndex];
    AVCodecContext* codec = ost.Encoder;
    AVCodecContext* icodec = ist.Decoder;
    AVStream* stream = ost.Stream;
    AVStream* sourceStream = ist.Stream;
    if (!icodec)
        throw FFMpegException::Format("Input stream #%d.%d has no codec set-up", ist.FileIndex,
                                      ist.StreamIndex);

    // A track's language and title ("Deutsch Kommentar") go with it, unless the job set them.
    for (const char* key : {"language", "title"})
        if (!LibAVUtil.av_dict_get(stream->metadata, key, nullptr, 0))
            if (const AVDictionaryEntry* entry =
                    LibAVUtil.av_dict_get(sourceStream->metadata, key, nullptr, 0))
                LibAVUtil.av_dict_set(&stream->metadata, key, entry->value, 0);
    const int32_t marks = OutputFiles[ost.FileIndex].Streams[ost.StreamIndex].Disposition;
    stream->disposition = marks >= 0 ? marks : sourceStream->disposition;

    if (OutputFiles[ost.FileIndex].Streams[ost.StreamIndex].Copy)
        SetUpStreamCopy(ost, ist);
    else
        SetUpEncoding(ost, ist, n);

    if (codec->codec_type == AVMEDIA_TYPE_VIDEO) {
        const int64_t pictureBytes = 4ll * codec->width * codec->height;
        if (pictureBytes > EncoderOutputBufferSize)
            EncoderOutputBufferSize =
                static_cast<int32_t>(std::min<int64_t>(pictureBytes, INT32_MAX));
    }
}

void TCustomFFmpeg::SetUpStreamCopy(TOutputStreamState& ost, const TInputStreamState& ist) {
    AVCodecContext* codec = ost.Encoder;
    AVStream* stream = ost.Stream;
    const AVStream* sourceStream = ist.Stream;
    const AVFormatContext* outputFile = OutputFiles[ost.FileIndex].Context.get();
    const AVCodecParameters* input = sourceStream->codecpar;
    const uint32_t outputTag = codec->codec_tag;
    if (LibAVCodec.avcodec_parameters_copy(stream->codecpar, input) < 0)
        throw FFMpegException("av_mallocz fail");
    // Keep the input's tag unless the container has a table of its own that knows the
    // codec under a tag and this tag not for this codec (a tag can stand for another
    // codec in another container): the muxer then picks its own.
    uint32_t tag = outputTag;
    if (tag == 0) {
        tag = input->codec_tag;
        const AVCodecTag* const* tags = outputFile->oformat->codec_tag;
        if (tags && LibAVFormat.av_codec_get_id(tags, input->codec_tag) != input->codec_id &&
            LibAVFormat.av_codec_get_tag(tags, input->codec_id) > 0)
            tag = 0;
    }
    stream->codecpar->codec_tag = tag;
    // The codec context mirrors the copied parameters for the report and the loop.
    LibAVCodec.avcodec_parameters_to_context(codec, stream->codecpar);

    codec->time_base = CopiedTimeBase(sourceStream);
    stream->time_base = codec->time_base;

    switch (input->codec_type) {
        case AVMEDIA_TYPE_AUDIO:
            if (AudioVolume != 256)
                throw FFMpegException(
                    "-acodec copy and -vol are incompatible (frames are not decoded)");
            if (!Loudness.empty())
                throw FFMpegException(
                    "-acodec copy and loudness are incompatible (frames are not decoded)");
            if ((stream->codecpar->block_align == 1 && input->codec_id == AV_CODEC_ID_MP3) ||
                input->codec_id == AV_CODEC_ID_AC3)
                stream->codecpar->block_align = 0;
            break;
        case AVMEDIA_TYPE_VIDEO:
            if (OnCustomHook)
                throw FFMpegException(
                    "-vcodec copy and CustomHook are incompatible (frames are not "
                    "decoded)");
            if (FrameHooksInUse)
                throw FFMpegException(
                    "-vcodec copy and -vhook are incompatible (frames are not decoded)");
            stream->sample_aspect_ratio = sourceStream->sample_aspect_ratio;
            stream->avg_frame_rate = sourceStream->avg_frame_rate;
            stream->r_frame_rate = sourceStream->r_frame_rate;
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            break;
        default:
            throw FFMpegException("invalid codec_type of output stream");
    }
}

void TCustomFFmpeg::SetUpEncoding(TOutputStreamState& ost, TInputStreamState& ist, int n) {
    AVCodecContext* codec = ost.Encoder;
    switch (codec->codec_type) {
        case AVMEDIA_TYPE_VIDEO: {
            SetUpVideoConversion(ost, ist);
            ost.EncodingNeeded = 1;
            ist.DecodingNeeded = 1;
            break;
        }
        case AVMEDIA_TYPE_AUDIO: {
            ost.EncodingNeeded = 1;
            ist.DecodingNeeded = 1;
            break;
        }
        case AVMEDIA_TYPE_SUBTITLE:
            ost.EncodingNeeded = 1;
            ist.DecodingNeeded = 1;
            break;
        default:
            throw FFMpegException("invalid codec_type of output stream");
    }

    // Two-pass statistics files.
    if (codec->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)) {
        std::string name = PassLogFileName.empty() ? "ffmpeg2pass" : PassLogFileName;
        name += "-" + std::to_string(n) + ".log";
        if (name.size() > size_t(kMaxPassLogName)) name.resize(kMaxPassLogName);
        if (GiveEncoderItsStatisticsFile(codec, name)) {
            // The encoder writes and reads that file itself.
        } else if (codec->flags & AV_CODEC_FLAG_PASS1) {
            ost.LogFile.reset(MyUtil.fopen(name.c_str(), "w"));
            if (!ost.LogFile) throw FFMpegException("creat file fail: " + name);
        } else {
            ReadFirstPassStatistics(codec, name);
        }
    }
}

void TCustomFFmpeg::SetUpVideoConversion(TOutputStreamState& ost, TInputStreamState& ist) {
    AVCodecContext* codec = ost.Encoder;
    const AVCodecContext* icodec = ist.Decoder;
    // The pictures as the outputs get them: upright, tone-mapped, deinterlaced.
    PreparePictureFilter(ist, codec);
    const TPictureFilter* filter = ist.PictureFilter.get();
    TOutputPictureShape& shape = ost.PictureShape;
    shape.SourceWidth = filter ? filter->Width() : icodec->width;
    shape.SourceHeight = filter ? filter->Height() : icodec->height;
    shape.SourceFormat = filter ? filter->Format() : icodec->pix_fmt;
    shape.CropTop = CropTop;
    shape.CropBottom = CropBottom;
    shape.CropLeft = CropLeft;
    shape.CropRight = CropRight;
    shape.Width = codec->width;
    shape.Height = codec->height;
    shape.Format = codec->pix_fmt;
    shape.PadTop = PadTop;
    shape.PadBottom = PadBottom;
    shape.PadLeft = PadLeft;
    shape.PadRight = PadRight;
    for (int i = 0; i < 3; ++i) shape.PadColour[i] = static_cast<uint8_t>(PadColor[i] & 0xFF);
    if (shape.Pads() && PaintingFormat(shape.Format) == AV_PIX_FMT_NONE &&
        !PadFilterColour(shape.PadColour, shape.Format, shape.PadRgb))
        Log(1, "Output stream #%d.%d: the padding colour %d, %d, %d is painted as near as it can",
            ost.FileIndex, ost.StreamIndex, shape.PadColour[0], shape.PadColour[1],
            shape.PadColour[2]);
    if (shape.Scales()) {
        int64_t flags = 0;
        if (ScalerOptionContext &&
            LibAVUtil.av_opt_get_int(ScalerOptionContext.get(), "sws_flags", 0, &flags) >= 0)
            ScalerFlags = static_cast<int32_t>(flags);
        // The demuxer may not have found out the pictures' format.
        if (!ScalerConverts(shape.SourceFormat, ScaledFormatFor(codec->pix_fmt)))
            throw FFMpegException::Format(
                "Cannot get resampling context: input stream #%d.%d has no "
                "picture format that can be converted",
                ist.FileIndex, ist.StreamIndex);
    }
    shape.ScalerFlags = ScalerFlags;
    shape.PaletteFile = PaletteFile;
    BuildOutputPictureGraph(ost, ist);
}

void TCustomFFmpeg::BuildOutputPictureGraph(TOutputStreamState& ost, const TInputStreamState& ist) {
    const TOutputPictureShape shape = ost.PictureShape;
    auto graph = std::make_unique<TPictureFilter>();
    const bool built = graph->Build(
        [shape](int width, int height, AVPixelFormat format) {
            return OutputPictureText(shape, width, height, format);
        },
        shape.SourceWidth, shape.SourceHeight, shape.SourceFormat, ist.Decoder->sample_aspect_ratio,
        ist.Stream->time_base, FormatText("flags=%d", shape.ScalerFlags), true);
    if (!built)
        throw FFMpegException::Format(
            "Cannot get resampling context for output stream #%d.%d (\"%s\"): %s", ost.FileIndex,
            ost.StreamIndex, graph->Text().c_str(), graph->Error().c_str());
    ost.PictureGraph = std::move(graph);
}

void TCustomFFmpeg::LogStreamMapping() {
    if (!OnLog || Verbose < 0) return;
    Log(1, "Stream mapping:");
    for (const auto& ost : RunState.OutputStreams) {
        const TInputStreamState& ist = *RunState.InputStreams[ost->SourceIndex];
        Log(1, "  Stream #%d.%d -> #%d.%d", ist.FileIndex, ist.StreamIndex, ost->FileIndex,
            ost->StreamIndex);
        if (ost->SyncStream != &ist)
            Log(1, " [sync #%d.%d]", ost->SyncStream->FileIndex, ost->SyncStream->StreamIndex);
    }
}

void TCustomFFmpeg::OpenEncoder(TOutputStreamState& ost) {
    AVCodecContext* codec = ost.Encoder;
    const AVCodec* encoder =
        codec->codec ? codec->codec : LibAVCodec.avcodec_find_encoder(codec->codec_id);
    if (!encoder)
        throw FFMpegException::Format("Unsupported codec for output stream #%d.%d", ost.FileIndex,
                                      ost.StreamIndex);
    if (codec->codec_type == AVMEDIA_TYPE_SUBTITLE) {
        // A subtitle encoder starts from its source's style header, which the decoder
        // makes when it opens: that decoder opens first.
        TInputStreamState& source = *RunState.InputStreams[ost.SourceIndex];
        OpenDecoder(source);
        const AVCodecContext* decoder = source.Decoder;
        if (decoder->subtitle_header && decoder->subtitle_header_size > 0 &&
            !codec->subtitle_header) {
            codec->subtitle_header =
                static_cast<uint8_t*>(LibAVUtil.av_mallocz(decoder->subtitle_header_size + 1));
            if (!codec->subtitle_header) throw FFMpegException("av_mallocz fail");
            std::memcpy(codec->subtitle_header, decoder->subtitle_header,
                        decoder->subtitle_header_size);
            codec->subtitle_header_size = decoder->subtitle_header_size;
        }
    }
    if ((codec->flags & AV_CODEC_FLAG_PASS2) && codec->bit_rate > 0) {
        const double least = LeastSecondPassBitRate(codec);
        // A little to spare: the encoder's own sum also counts buffer stuffing.
        if (least * kSecondPassMargin > double(codec->bit_rate))
            throw FFMpegException::Format(
                "Bit rate %lld kbit/s is too low for the second pass of output stream "
                "#%d.%d: its first pass needs at least %lld kbit/s",
                static_cast<long long>(codec->bit_rate / 1000), ost.FileIndex, ost.StreamIndex,
                static_cast<long long>(least * kSecondPassMargin / 1000 + 1));
    }
    QuietEncoderBanner(codec, encoder);
    const AVPixelFormat pictureFormat = codec->pix_fmt;
    if (codec->codec_type == AVMEDIA_TYPE_VIDEO && TakesDeviceFramesOnly(encoder))
        ost.DeviceFrames = AttachDeviceFrames(codec, encoder, HardwareDevice);
    if (OpenCodecLocked(OpenEncoders, codec, encoder, nullptr) < 0)
        throw FFMpegException::Format(
            "Error while opening codec for output stream #%d.%d - maybe incorrect parameters "
            "such as bit_rate, rate, width or height",
            ost.FileIndex, ost.StreamIndex);
    // The picture work goes on in the pool's own format; the device's was needed for the open.
    codec->pix_fmt = pictureFormat;
    // Some drivers cannot give the stream's header apart from the pictures: the container would
    // be written without it, and players refuse such a file.
    if (ost.DeviceFrames && (codec->flags & AV_CODEC_FLAG_GLOBAL_HEADER) &&
        codec->extradata_size <= 0)
        throw FFMpegException(std::string(encoder->name) +
                              ": the driver gave no sequence header, which this container needs");
    GlobalHeaderBytes += codec->extradata_size;
    if (LibAVCodec.avcodec_parameters_from_context(ost.Stream->codecpar, codec) < 0)
        throw FFMpegException("av_mallocz fail");
    ost.Stream->time_base = codec->time_base;
    if (codec->codec_type == AVMEDIA_TYPE_VIDEO) {
        ost.Stream->sample_aspect_ratio = codec->sample_aspect_ratio;
        ost.Stream->avg_frame_rate = codec->framerate;
    }
}

void TCustomFFmpeg::SetUpSound(TOutputStreamState& ost) {
    if (ost.Encoder->codec_type != AVMEDIA_TYPE_AUDIO) return;
    TSoundGraph::TSettings settings = SoundSettings(ost.Encoder);
    const TInputStreamState& ist = *RunState.InputStreams[ost.SourceIndex];
    if (!Loudness.empty()) {
        const TLoudnessPlan plan = PlanStreamLoudness(ost, ist);
        settings.Loudness = plan.Filters;
        settings.LoudnessUpsamples = plan.Upsamples;
    }
    ost.Sound = std::make_unique<TSoundGraph>(ost.Encoder, settings);
    // Made for the source as the decoder describes it; the first block may change that.
    const AVCodecContext* decoder = ist.Decoder;
    if (decoder && decoder->ch_layout.nb_channels > 0 && decoder->sample_rate > 0)
        ost.Sound->SetSource(decoder->ch_layout.nb_channels, decoder->sample_rate);
}

TLoudnessPlan TCustomFFmpeg::PlanStreamLoudness(const TOutputStreamState& ost,
                                                const TInputStreamState& ist) {
    // The first pass reads the input again, its sound alone, mixed to the encoder's channels
    // as the sound graph will mix them.
    const std::string file = InputFiles[ist.FileIndex].Context->url;
    const TLoudnessFigures figures =
        MeasureLoudness(file, ist.StreamIndex, ost.Encoder->ch_layout.nb_channels);
    const AVCodecDescriptor* codec = LibAVCodec.avcodec_descriptor_get(ost.Encoder->codec_id);
    const bool lossy = !codec || !(codec->props & AV_CODEC_PROP_LOSSLESS);
    const TLoudnessPlan plan =
        PlanLoudness(ParseLoudnessRequest(Loudness), figures, lossy ? kLossyPeakHeadroom : 0);
    const std::string note =
        FormatText("Output #%d.%d ", ost.FileIndex, ost.StreamIndex) + plan.Note;
    DoLog(1, note);
    loudnessNotes_.push_back(plan.Note);
    return plan;
}

void TCustomFFmpeg::QuietEncoderBanner(AVCodecContext* codec, const AVCodec* encoder) {
    // libx265 writes its banner and notes with its own printf to standard error, past the
    // libraries' log: only its errors are let through, unless the job asked for its own level.
    if (std::strcmp(encoder->name, "libx265") != 0 || !codec->priv_data) return;
    uint8_t* given = nullptr;
    if (LibAVUtil.av_opt_get(codec->priv_data, "x265-params", 0, &given) < 0) return;
    std::string parameters = given ? reinterpret_cast<const char*>(given) : "";
    LibAVUtil.av_free(given);
    if (parameters.find("log-level") != std::string::npos) return;
    parameters += std::string(parameters.empty() ? "" : ":") + "log-level=error";
    LibAVUtil.av_opt_set(codec->priv_data, "x265-params", parameters.c_str(), 0);
}

void TCustomFFmpeg::ApplyMetaDataMaps() {
    // Without maps of its own, an output keeps what the recording says about itself.
    if (MetaDataMapCount == 0)
        for (int i = 0; i < OutputFileCount; ++i) {
            CarryTags(OutputFiles[i].Context.get());
            CarryChapters(OutputFiles[i].Context.get());
        }
    for (int i = 0; i < MetaDataMapCount; ++i) {
        const TMetaDataMap& map = MetaDataMaps[i];
        if (map.OutFile < 0 || map.OutFile >= OutputFileCount)
            throw FFMpegException::Format("Invalid output file index %d map_meta_data(%d,%d)",
                                          map.OutFile, map.OutFile, map.InFile);
        if (map.InFile < 0 || map.InFile >= InputFileCount)
            throw FFMpegException::Format("Invalid input file index %d map_meta_data(%d,%d)",
                                          map.InFile, map.OutFile, map.InFile);
        AVDictionary* from = InputFiles[map.InFile].Context->metadata;
        for (const char* key : kMappedMetadata)
            if (AVDictionaryEntry* entry = LibAVUtil.av_dict_get(from, key, nullptr, 0))
                LibAVUtil.av_dict_set(&OutputFiles[map.OutFile].Context->metadata, key,
                                      entry->value, 0);
    }
}

void TCustomFFmpeg::WriteHeaders() {
    bool allRtp = OutputFileCount > 0;
    for (int i = 0; i < OutputFileCount; ++i) {
        const AVFormatContext* file = OutputFiles[i].Context.get();
        if (LibAVFormat.avformat_write_header(OutputFiles[i].Context.get(), nullptr) < 0) {
            // A full disk or a failing device is the system's reason, not the parameters'.
            if (const int writeError = OutputWriteError(file); writeError < 0)
                throw FFMpegException(WriteErrorText(file, writeError));
            throw FFMpegException::Format(
                "Could not write header for output file #%d (incorrect codec parameters ?)", i);
        }
        allRtp = allRtp && std::strcmp(OutputFiles[i].Context->oformat->name, "rtp") == 0;
    }
    if (allRtp && OnLog) {
        char sdp[kSdpSize] = {};
        AVFormatContext* files[MAX_FILES] = {};
        for (int i = 0; i < OutputFileCount; ++i) files[i] = OutputFiles[i].Context.get();
        LibAVFormat.av_sdp_create(files, OutputFileCount, sdp, sizeof sdp);
        Log(1, "SDP: %s", TrimText(sdp).c_str());
    }
}

void TCustomFFmpeg::OpenDecoder(TInputStreamState& ist) {
    AVCodecContext* codec = ist.Decoder;
    if (LibAVCodec.avcodec_is_open(codec)) return;
    const AVCodec* decoder =
        codec->codec ? codec->codec : LibAVCodec.avcodec_find_decoder(codec->codec_id);
    if (!decoder)
        throw FFMpegException::Format("Unsupported codec (id=%d) for input stream #%d.%d",
                                      int(codec->codec_id), ist.FileIndex, ist.StreamIndex);
    if (OpenCodecLocked(OpenDecoders, codec, decoder, nullptr) < 0)
        throw FFMpegException::Format("Error while opening codec for input stream #%d.%d",
                                      ist.FileIndex, ist.StreamIndex);
}

void TCustomFFmpeg::ReadFirstPassStatistics(AVCodecContext* codec, const std::string& name) {
    TStdioFilePtr file(MyUtil.fopen(name.c_str(), "r"));
    if (!file) throw FFMpegException("creat open fail: " + name);
    MyUtil.fseek(file.get(), 0, SEEK_END);
    const long size = MyUtil.ftell(file.get());
    MyUtil.fseek(file.get(), 0, SEEK_SET);
    TLibMemoryPtr<char> text(size >= 0 ? static_cast<char*>(LibAVUtil.av_malloc(size + 1))
                                       : nullptr);
    if (!text) throw FFMpegException("Could not allocate log buffer");
    const size_t read = MyUtil.fread(text.get(), 1, size, file.get());
    file.reset();
    text.get()[read] = '\0';
    // The context frees stats_in with itself (LibFree::CodecContext).
    TLibMemoryPtr<char> previous(codec->stats_in);
    codec->stats_in = text.release();
}
