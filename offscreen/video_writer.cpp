#include "offscreen/video_writer.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace fyrel {

namespace {

struct Container {
    const char* ending;
    const char* format;
    const char* encoders[2];  // the first that this FFmpeg offers
    AVPixelFormat pixels;
};

const Container kContainers[] = {
    {".mp4", "mp4", {"libx264", "mpeg4"}, AV_PIX_FMT_YUV420P},
    {".webm", "webm", {"libvpx-vp9", "libvpx"}, AV_PIX_FMT_YUV420P},
    {".gif", "gif", {"gif", nullptr}, AV_PIX_FMT_PAL8},
};

const Container* containerOf(const std::string& path)
{
    std::string lower = path;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const Container& c : kContainers) {
        const std::size_t n = std::char_traits<char>::length(c.ending);
        if (lower.size() > n && lower.compare(lower.size() - n, n, c.ending) == 0) {
            return &c;
        }
    }
    return nullptr;
}

std::string errorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// A GIF has 256 colours. A fixed palette (3-3-2 bits) bands a Studio
// gradient into stripes; the colours the first frame uses most (its pixels
// counted in bins of 5 bits a channel, each bin's mean colour) serve every
// frame of a turntable or a clip, which show the same scene.
class GifPalette {
public:
    void build(const Image& frame)
    {
        std::vector<std::uint32_t> count(kBins, 0);
        std::vector<std::array<std::uint64_t, 3>> sum(kBins, {0, 0, 0});
        for (std::size_t i = 0; i + 3 < frame.data.size(); i += 4) {
            const std::uint8_t* p = &frame.data[i];
            const std::size_t bin = binOf(p);
            ++count[bin];
            for (int c = 0; c < 3; ++c) {
                sum[bin][c] += p[c];
            }
        }
        std::vector<std::size_t> order(kBins);
        for (std::size_t i = 0; i < kBins; ++i) {
            order[i] = i;
        }
        std::partial_sort(order.begin(), order.begin() + 256, order.end(),
                          [&](std::size_t a, std::size_t b) { return count[a] > count[b]; });
        colours_.clear();
        for (int i = 0; i < 256 && count[order[i]] > 0; ++i) {
            const std::size_t bin = order[i];
            std::array<int, 3> rgb{};
            for (int c = 0; c < 3; ++c) {
                rgb[c] = static_cast<int>(sum[bin][c] / count[bin]);
            }
            colours_.push_back(rgb);
        }
        // Every bin maps to its nearest palette colour.
        nearest_.assign(kBins, 0);
        for (std::size_t bin = 0; bin < kBins; ++bin) {
            const int r = static_cast<int>((bin >> 10) << 3) + 4;
            const int g = static_cast<int>(((bin >> 5) & 31) << 3) + 4;
            const int b = static_cast<int>((bin & 31) << 3) + 4;
            int best = 0;
            int bestDistance = INT32_MAX;
            for (std::size_t k = 0; k < colours_.size(); ++k) {
                const int dr = r - colours_[k][0], dg = g - colours_[k][1], db = b - colours_[k][2];
                const int d = dr * dr + dg * dg + db * db;
                if (d < bestDistance) {
                    bestDistance = d;
                    best = static_cast<int>(k);
                }
            }
            nearest_[bin] = static_cast<std::uint8_t>(best);
        }
    }

    bool built() const { return !colours_.empty(); }

    void apply(const Image& frame, AVFrame& out) const
    {
        for (int y = 0; y < frame.height; ++y) {
            const std::uint8_t* p = frame.data.data() + static_cast<std::size_t>(y) * frame.width * 4;
            std::uint8_t* q = out.data[0] + static_cast<std::ptrdiff_t>(y) * out.linesize[0];
            for (int x = 0; x < frame.width; ++x, p += 4) {
                q[x] = nearest_[binOf(p)];
            }
        }
        auto* palette = reinterpret_cast<std::uint32_t*>(out.data[1]);
        for (std::size_t k = 0; k < 256; ++k) {
            const std::array<int, 3> c = k < colours_.size() ? colours_[k] : std::array<int, 3>{0, 0, 0};
            palette[k] = 0xFF000000u | static_cast<std::uint32_t>(c[0] << 16 | c[1] << 8 | c[2]);
        }
    }

private:
    static constexpr std::size_t kBins = 32768;
    static std::size_t binOf(const std::uint8_t* p) { return (p[0] >> 3) << 10 | (p[1] >> 3) << 5 | (p[2] >> 3); }
    std::vector<std::array<int, 3>> colours_;
    std::vector<std::uint8_t> nearest_;
};

}  // namespace

struct VideoWriter::Impl {
    std::string path;
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scale = nullptr;  // null for a GIF, which its palette converts
    GifPalette palette;
    std::int64_t next = 0;
    bool headerWritten = false;
    bool finished = false;

    ~Impl()
    {
        if (headerWritten && !finished) {
            av_write_trailer(format);
        }
        sws_freeContext(scale);
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
        if (format) {
            if (format->pb) {
                avio_closep(&format->pb);
            }
            avformat_free_context(format);
        }
    }

    // Sends frame (null: the end) and writes every packet the encoder gives.
    bool drain(const AVFrame* input, std::string& reason)
    {
        int status = avcodec_send_frame(codec, input);
        if (status < 0) {
            reason = "cannot encode a frame of \"" + path + "\": " + errorText(status);
            return false;
        }
        while ((status = avcodec_receive_packet(codec, packet)) >= 0) {
            av_packet_rescale_ts(packet, codec->time_base, stream->time_base);
            packet->stream_index = stream->index;
            status = av_interleaved_write_frame(format, packet);
            if (status < 0) {
                reason = "cannot write \"" + path + "\": " + errorText(status);
                return false;
            }
        }
        return status == AVERROR(EAGAIN) || status == AVERROR_EOF;
    }
};

VideoWriter::VideoWriter(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

VideoWriter::~VideoWriter() = default;

std::unique_ptr<VideoWriter> VideoWriter::open(const std::string& path, int width, int height, int fps,
                                               std::string& reason)
{
    // The encoders' reports of their settings and statistics are not ours to
    // print; their errors come back as status codes.
    av_log_set_level(AV_LOG_ERROR);
    const Container* container = containerOf(path);
    if (!container) {
        reason = "\"" + path + "\" names no video format (.mp4, .webm or .gif)";
        return nullptr;
    }
    const AVCodec* encoder = nullptr;
    for (const char* name : container->encoders) {
        if (name && !encoder) {
            encoder = avcodec_find_encoder_by_name(name);
        }
    }
    if (!encoder) {
        reason = std::string("this FFmpeg has no encoder for ") + container->ending + " videos";
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    impl->path = path;
    if (avformat_alloc_output_context2(&impl->format, nullptr, container->format, path.c_str()) < 0) {
        reason = "cannot make a video container for \"" + path + "\"";
        return nullptr;
    }
    impl->stream = avformat_new_stream(impl->format, nullptr);
    impl->codec = avcodec_alloc_context3(encoder);
    impl->frame = av_frame_alloc();
    impl->packet = av_packet_alloc();
    if (!impl->stream || !impl->codec || !impl->frame || !impl->packet) {
        reason = "not enough memory for a video";
        return nullptr;
    }
    AVCodecContext* c = impl->codec;
    c->width = width;
    c->height = height;
    c->time_base = AVRational{1, fps};
    c->framerate = AVRational{fps, 1};
    c->pix_fmt = container->pixels;
    c->gop_size = fps;
    if (impl->format->oformat->flags & AVFMT_GLOBALHEADER) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    // Pictures of models are mostly flat background: a constant quality
    // keeps them small without blocks, and a fast preset keeps encoding
    // well behind drawing.
    const std::string name = encoder->name;
    if (name == "libx264") {
        av_opt_set(c->priv_data, "crf", "23", 0);
        av_opt_set(c->priv_data, "preset", "veryfast", 0);
    } else if (name == "libvpx-vp9" || name == "libvpx") {
        c->bit_rate = 0;
        av_opt_set_int(c->priv_data, "crf", 32, 0);
        av_opt_set(c->priv_data, "deadline", "realtime", 0);
        av_opt_set_int(c->priv_data, "cpu-used", 8, 0);
    } else if (name == "mpeg4") {
        c->bit_rate = 4000000;
    }
    int status = avcodec_open2(c, encoder, nullptr);
    if (status < 0) {
        reason = "cannot start the video encoder for \"" + path + "\": " + errorText(status);
        return nullptr;
    }
    avcodec_parameters_from_context(impl->stream->codecpar, c);
    impl->stream->time_base = c->time_base;
    impl->stream->avg_frame_rate = c->framerate;
    status = avio_open(&impl->format->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (status < 0) {
        reason = "cannot write \"" + path + "\": " + errorText(status);
        return nullptr;
    }
    status = avformat_write_header(impl->format, nullptr);
    if (status < 0) {
        reason = "cannot write \"" + path + "\": " + errorText(status);
        return nullptr;
    }
    impl->headerWritten = true;
    impl->frame->format = c->pix_fmt;
    impl->frame->width = width;
    impl->frame->height = height;
    if (av_frame_get_buffer(impl->frame, 0) < 0) {
        reason = "not enough memory for a video frame";
        return nullptr;
    }
    if (c->pix_fmt != AV_PIX_FMT_PAL8) {
        impl->scale = sws_getContext(width, height, AV_PIX_FMT_RGBA, width, height, c->pix_fmt, SWS_BICUBIC, nullptr,
                                     nullptr, nullptr);
    }
    if (c->pix_fmt != AV_PIX_FMT_PAL8 && !impl->scale) {
        reason = "cannot convert pictures to the video's colours";
        return nullptr;
    }
    return std::unique_ptr<VideoWriter>(new VideoWriter(std::move(impl)));
}

bool VideoWriter::write(const Image& picture, std::string& reason)
{
    Impl& v = *impl_;
    if (picture.width != v.codec->width || picture.height != v.codec->height ||
        picture.data.size() < static_cast<std::size_t>(picture.width) * picture.height * 4) {
        reason = "a frame of the wrong size for \"" + v.path + "\"";
        return false;
    }
    if (av_frame_make_writable(v.frame) < 0) {
        reason = "not enough memory for a video frame";
        return false;
    }
    const std::uint8_t* source[1] = {picture.data.data()};
    const int stride[1] = {picture.width * 4};
    if (v.scale) {
        sws_scale(v.scale, source, stride, 0, picture.height, v.frame->data, v.frame->linesize);
    } else {
        if (!v.palette.built()) {
            v.palette.build(picture);
        }
        v.palette.apply(picture, *v.frame);
    }
    v.frame->pts = v.next++;
    return v.drain(v.frame, reason);
}

bool VideoWriter::finish(std::string& reason)
{
    Impl& v = *impl_;
    if (!v.drain(nullptr, reason)) {
        return false;
    }
    v.finished = true;
    const int status = av_write_trailer(v.format);
    if (status < 0) {
        reason = "cannot complete \"" + v.path + "\": " + errorText(status);
        return false;
    }
    return true;
}

}  // namespace fyrel
