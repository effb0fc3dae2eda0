#include "audio_muxer.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace {

struct InputCloser {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;

struct OutputCloser {
    void operator()(AVFormatContext* context) const {
        if (context->pb != nullptr) avio_closep(&context->pb);
        avformat_free_context(context);
    }
};
using Output = std::unique_ptr<AVFormatContext, OutputCloser>;

struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
using Packet = std::unique_ptr<AVPacket, PacketFree>;

Input openInput(const std::string& path) {
    AVFormatContext* context = nullptr;
    if (avformat_open_input(&context, path.c_str(), nullptr, nullptr) < 0) return nullptr;
    Input input(context);
    if (avformat_find_stream_info(context, nullptr) < 0) return nullptr;
    return input;
}

// One input's streams as they go out: output stream index per input stream, -1 if left out.
struct Source {
    AVFormatContext* context;
    std::vector<int> map;
    Packet next{av_packet_alloc()};
    bool done = false;

    // Reads the next packet of a stream that goes out; false at the end.
    bool advance() {
        while (!done) {
            av_packet_unref(next.get());
            if (av_read_frame(context, next.get()) < 0) {
                done = true;
            } else if (map[next->stream_index] >= 0) {
                return true;
            }
        }
        return false;
    }
    // The packet's decoding time in microseconds from the stream's start.
    int64_t time() const {
        return microseconds(next->dts != AV_NOPTS_VALUE ? next->dts : next->pts);
    }
    // Where the packet's frame ends on screen, in microseconds from the stream's start.
    int64_t end() const {
        const int64_t shown = next->pts != AV_NOPTS_VALUE ? next->pts : next->dts;
        return microseconds(shown == AV_NOPTS_VALUE ? AV_NOPTS_VALUE : shown + next->duration);
    }
    int64_t microseconds(int64_t stamp) const {
        const AVStream* stream = context->streams[next->stream_index];
        if (stamp == AV_NOPTS_VALUE) stamp = 0;
        if (stream->start_time != AV_NOPTS_VALUE) stamp -= stream->start_time;
        return av_rescale_q(stamp, stream->time_base, AV_TIME_BASE_Q);
    }
};

std::string addStreams(Source& source, AVFormatContext* out, AVMediaType type) {
    source.map.assign(source.context->nb_streams, -1);
    for (unsigned i = 0; i < source.context->nb_streams; ++i) {
        const AVCodecParameters* codec = source.context->streams[i]->codecpar;
        if (codec->codec_type != type) continue;
        if (avformat_query_codec(out->oformat, codec->codec_id, FF_COMPLIANCE_NORMAL) != 1) {
            return std::string("its ") + avcodec_get_name(codec->codec_id) +
                   " sound does not fit in a ." + out->oformat->name +
                   " file; write a .mkv, which takes any sound";
        }
        AVStream* stream = avformat_new_stream(out, nullptr);
        if (stream == nullptr || avcodec_parameters_copy(stream->codecpar, codec) < 0) {
            return "out of memory";
        }
        stream->codecpar->codec_tag = 0;
        stream->time_base = source.context->streams[i]->time_base;
        source.map[i] = stream->index;
    }
    return {};
}

bool hasAudio(const AVFormatContext* context) {
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        if (context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) return true;
    }
    return false;
}

// Moves the source's current packet into out and reads its next one.
bool copyPacket(Source& from, AVFormatContext* out) {
    AVPacket* packet = from.next.get();
    const AVStream* in = from.context->streams[packet->stream_index];
    const int target = from.map[packet->stream_index];
    packet->stream_index = target;
    av_packet_rescale_ts(packet, in->time_base, out->streams[target]->time_base);
    packet->pos = -1;
    if (av_interleaved_write_frame(out, packet) < 0) return false;
    from.advance();
    return true;
}

// Copies the packets of both sources into out in time order; sound stops where the last video
// frame ends.
bool interleave(Source& video, Source& audio, AVFormatContext* out) {
    video.advance();
    audio.advance();
    int64_t end = 0;
    while (!video.done) {
        const bool sound = !audio.done && audio.time() < video.time();
        if (!sound) end = std::max(end, video.end());
        if (!copyPacket(sound ? audio : video, out)) return false;
    }
    while (!audio.done && audio.time() < end) {
        if (!copyPacket(audio, out)) return false;
    }
    return av_write_trailer(out) == 0;
}

}  // namespace

std::string AudioMuxer::check(const std::string& source, const std::string& output) {
    Input sound = openInput(source);
    if (!sound || !hasAudio(sound.get())) return {};
    AVFormatContext* context = nullptr;
    if (avformat_alloc_output_context2(&context, nullptr, nullptr, output.c_str()) < 0) {
        return "cannot keep the sound of " + source + ": no container for " + output;
    }
    Output out(context);
    Source audioSource{sound.get(), {}};
    const std::string problem = addStreams(audioSource, context, AVMEDIA_TYPE_AUDIO);
    return problem.empty() ? problem : "cannot keep the sound of " + source + ": " + problem;
}

std::string AudioMuxer::addAudio(const std::string& source, const std::string& video) {
    Input sound = openInput(source);
    if (!sound || !hasAudio(sound.get())) return {};
    Input picture = openInput(video);
    if (!picture) return "cannot read back the video written to " + video;

    const std::string muxed = video + ".sound." + (video.substr(video.rfind('.') + 1));
    AVFormatContext* context = nullptr;
    if (avformat_alloc_output_context2(&context, nullptr, nullptr, video.c_str()) < 0) {
        return "cannot write the sound into " + video;
    }
    Output out(context);
    Source videoSource{picture.get(), {}};
    Source audioSource{sound.get(), {}};
    std::string problem = addStreams(videoSource, context, AVMEDIA_TYPE_VIDEO);
    if (problem.empty()) problem = addStreams(audioSource, context, AVMEDIA_TYPE_AUDIO);
    if (!problem.empty()) return "cannot keep the sound of " + source + ": " + problem;
    if (avio_open(&context->pb, muxed.c_str(), AVIO_FLAG_WRITE) < 0 ||
        avformat_write_header(context, nullptr) < 0 ||
        !interleave(videoSource, audioSource, context)) {
        std::remove(muxed.c_str());
        return "cannot write the sound into " + video;
    }
    out.reset();
    if (std::rename(muxed.c_str(), video.c_str()) != 0) {
        std::remove(muxed.c_str());
        return "cannot write the sound into " + video;
    }
    return {};
}
