// The clip encoder on top of FFmpeg's libraries, built as a module of its
// own (see clip_codec.h): mono AAC in an MPEG-4 audio file (".m4a"), the
// clip format every receiver decodes.
#include "voice/clip_codec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <array>
#include <mutex>
#include <string>
#include <vector>

namespace velmor::voice {

namespace {

// Speech needs neither stereo nor a high rate; 64 kbit/s mono AAC keeps a
// 30 s clip near 240 KB.
constexpr int kBitRate = 64000;

AVSampleFormat inputSampleFormat(ClipSampleFormat format)
{
    switch (format) {
    case ClipSampleFormat::UInt8:
        return AV_SAMPLE_FMT_U8;
    case ClipSampleFormat::Int16:
        return AV_SAMPLE_FMT_S16;
    case ClipSampleFormat::Int32:
        return AV_SAMPLE_FMT_S32;
    case ClipSampleFormat::Float:
        return AV_SAMPLE_FMT_FLT;
    }
    return AV_SAMPLE_FMT_NONE;
}

// AAC signals only a fixed set of rates; any other is resampled to 48 kHz.
int outputRate(int inputRate)
{
    static constexpr std::array<int, 13> rates = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                                  22050, 16000, 12000, 11025, 8000,  7350};
    return std::find(rates.begin(), rates.end(), inputRate) != rates.end() ? inputRate : 48000;
}

} // namespace

class FfmpegClipCodec final : public ClipCodec
{
public:
    ~FfmpegClipCodec() override { release(); }

    bool open(const char *path, ClipSampleFormat format, int channels, int rate) override;
    bool write(const char *data, std::int64_t size) override;
    bool finish() override;
    void discard() override { release(); }
    bool isOpen() const override { return m_format != nullptr; }

private:
    bool resample(const std::uint8_t **in, int frames);
    bool encodeAvailable(bool final);
    bool sendFrame(AVFrame *frame);
    void release();

    AVFormatContext *m_format = nullptr;
    AVCodecContext *m_codec = nullptr;
    AVStream *m_stream = nullptr;
    SwrContext *m_resampler = nullptr;
    AVAudioFifo *m_fifo = nullptr;
    AVFrame *m_frame = nullptr;
    AVPacket *m_packet = nullptr;
    std::string m_pending; // a partial input frame kept for the next write
    int m_inputBytesPerFrame = 0;
    std::int64_t m_nextPts = 0;
    bool m_failed = false;
};

bool FfmpegClipCodec::open(const char *path, ClipSampleFormat format, int channels, int rate)
{
    // The encoder's closing statistics are no news in the program's log.
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        if (av_log_get_level() > AV_LOG_WARNING)
            av_log_set_level(AV_LOG_WARNING);
    });
    release();
    m_failed = false;
    m_nextPts = 0;
    m_pending.clear();
    const AVSampleFormat inFormat = inputSampleFormat(format);
    if (!path || inFormat == AV_SAMPLE_FMT_NONE || channels < 1 || rate < 1)
        return false;
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec || avformat_alloc_output_context2(&m_format, nullptr, "mp4", path) < 0) {
        release();
        return false;
    }
    m_stream = avformat_new_stream(m_format, nullptr);
    m_codec = avcodec_alloc_context3(codec);
    if (!m_stream || !m_codec) {
        release();
        return false;
    }
    m_codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    m_codec->sample_rate = outputRate(rate);
    av_channel_layout_default(&m_codec->ch_layout, 1);
    // AAC carries at most 6 bits per sample and channel: low rates get less.
    m_codec->bit_rate = std::min(kBitRate, m_codec->sample_rate * 6);
    m_codec->time_base = AVRational{1, m_codec->sample_rate};
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER)
        m_codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(m_codec, codec, nullptr) < 0
        || avcodec_parameters_from_context(m_stream->codecpar, m_codec) < 0) {
        release();
        return false;
    }
    m_stream->time_base = m_codec->time_base;

    AVChannelLayout inLayout;
    av_channel_layout_default(&inLayout, channels);
    const int swrResult = swr_alloc_set_opts2(&m_resampler, &m_codec->ch_layout, AV_SAMPLE_FMT_FLTP,
                                              m_codec->sample_rate, &inLayout, inFormat, rate, 0,
                                              nullptr);
    av_channel_layout_uninit(&inLayout);
    // The channels are averaged into one: the same sound on every channel
    // keeps its level, and no mix of them can clip.
    const std::vector<double> mix(std::size_t(channels), 1.0 / channels);
    if (swrResult >= 0 && swr_set_matrix(m_resampler, mix.data(), channels) < 0) {
        release();
        return false;
    }
    const int frameSize = m_codec->frame_size > 0 ? m_codec->frame_size : 1024;
    m_fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 1, frameSize);
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (swrResult < 0 || swr_init(m_resampler) < 0 || !m_fifo || !m_frame || !m_packet) {
        release();
        return false;
    }
    m_frame->nb_samples = frameSize;
    m_frame->format = AV_SAMPLE_FMT_FLTP;
    m_frame->sample_rate = m_codec->sample_rate;
    if (av_channel_layout_copy(&m_frame->ch_layout, &m_codec->ch_layout) < 0 || av_frame_get_buffer(m_frame, 0) < 0
        || avio_open(&m_format->pb, path, AVIO_FLAG_WRITE) < 0
        || avformat_write_header(m_format, nullptr) < 0) {
        release();
        return false;
    }
    m_inputBytesPerFrame = av_get_bytes_per_sample(inFormat) * channels;
    return true;
}

bool FfmpegClipCodec::write(const char *data, std::int64_t size)
{
    if (!isOpen() || m_failed)
        return false;
    m_pending.append(data, std::size_t(size));
    const int frames = int(m_pending.size() / std::size_t(m_inputBytesPerFrame));
    if (frames == 0)
        return true;
    const auto *in = reinterpret_cast<const uint8_t *>(m_pending.data());
    if (!resample(&in, frames)) {
        m_failed = true;
        return false;
    }
    m_pending.erase(0, std::size_t(frames) * std::size_t(m_inputBytesPerFrame));
    if (!encodeAvailable(false))
        m_failed = true;
    return !m_failed;
}

// Converts frames of input (none: what the resampler still holds) into the
// mono float queue the encoder takes its frames from.
bool FfmpegClipCodec::resample(const uint8_t **in, int frames)
{
    const int capacity = swr_get_out_samples(m_resampler, frames);
    if (capacity < 0)
        return false;
    std::vector<float> out(std::size_t(capacity) + 1);
    uint8_t *planes[1] = {reinterpret_cast<uint8_t *>(out.data())};
    const int converted = swr_convert(m_resampler, planes, capacity, in, frames);
    if (converted < 0)
        return false;
    return converted == 0 || av_audio_fifo_write(m_fifo, reinterpret_cast<void **>(planes), converted) == converted;
}

bool FfmpegClipCodec::encodeAvailable(bool final)
{
    const int frameSize = m_codec->frame_size > 0 ? m_codec->frame_size : 1024;
    while (av_audio_fifo_size(m_fifo) >= frameSize || (final && av_audio_fifo_size(m_fifo) > 0)) {
        const int count = std::min(frameSize, av_audio_fifo_size(m_fifo));
        if (av_frame_make_writable(m_frame) < 0)
            return false;
        // Only the last frame of a clip may be shorter than the codec's.
        m_frame->nb_samples = count;
        if (av_audio_fifo_read(m_fifo, reinterpret_cast<void **>(m_frame->data), count) != count)
            return false;
        m_frame->pts = m_nextPts;
        m_nextPts += count;
        if (!sendFrame(m_frame))
            return false;
    }
    return true;
}

bool FfmpegClipCodec::sendFrame(AVFrame *frame)
{
    if (avcodec_send_frame(m_codec, frame) < 0)
        return false;
    for (;;) {
        const int received = avcodec_receive_packet(m_codec, m_packet);
        if (received == AVERROR(EAGAIN) || received == AVERROR_EOF)
            return true;
        if (received < 0)
            return false;
        av_packet_rescale_ts(m_packet, m_codec->time_base, m_stream->time_base);
        m_packet->stream_index = m_stream->index;
        if (av_interleaved_write_frame(m_format, m_packet) < 0)
            return false;
    }
}

bool FfmpegClipCodec::finish()
{
    if (!isOpen())
        return false;
    bool ok = !m_failed && resample(nullptr, 0);
    // A track without a single frame is a file no player opens: a clip
    // stopped before any sound arrived holds one frame of silence instead.
    if (ok && m_nextPts == 0 && av_audio_fifo_size(m_fifo) == 0) {
        std::vector<float> silence(std::size_t(m_frame->nb_samples), 0.0f);
        void *planes[1] = {silence.data()};
        ok = av_audio_fifo_write(m_fifo, planes, int(silence.size())) == int(silence.size());
    }
    ok = ok && encodeAvailable(true) && sendFrame(nullptr);
    ok = av_write_trailer(m_format) == 0 && ok;
    ok = avio_closep(&m_format->pb) == 0 && ok;
    release();
    return ok;
}

void FfmpegClipCodec::release()
{
    if (m_format && m_format->pb)
        avio_closep(&m_format->pb);
    avformat_free_context(m_format);
    m_format = nullptr;
    m_stream = nullptr;
    avcodec_free_context(&m_codec);
    swr_free(&m_resampler);
    if (m_fifo)
        av_audio_fifo_free(m_fifo);
    m_fifo = nullptr;
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
}

} // namespace velmor::voice

extern "C" {
__attribute__((visibility("default"))) velmor::voice::ClipCodec *velmor_create_clip_codec()
{
    return new velmor::voice::FfmpegClipCodec;
}
__attribute__((visibility("default"))) int velmor_clip_codec_abi()
{
    return velmor::voice::kClipCodecAbi;
}
}
