// Decodes a recorded clip the way a receiver's player does (FFmpeg's
// demuxer and decoder), so tests check what the other side will hear rather
// than the bytes of the file.
#pragma once

#include <QFile>
#include <QString>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cmath>

struct DecodedClip
{
    bool ok = false;
    QString codec;
    int channels = 0;
    int sampleRate = 0;
    qint64 samples = 0;
    double rms = 0.0; // of the first channel
};

inline DecodedClip decodeClip(const QString &path)
{
    DecodedClip clip;
    AVFormatContext *format = nullptr;
    const QByteArray name = QFile::encodeName(path);
    if (avformat_open_input(&format, name.constData(), nullptr, nullptr) < 0)
        return clip;
    AVCodecContext *codec = nullptr;
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    const AVCodec *decoder = nullptr;
    const int stream = avformat_find_stream_info(format, nullptr) >= 0
        ? av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0)
        : -1;
    bool ok = stream >= 0 && decoder && (codec = avcodec_alloc_context3(decoder))
        && avcodec_parameters_to_context(codec, format->streams[stream]->codecpar) >= 0
        && avcodec_open2(codec, decoder, nullptr) >= 0;
    double squares = 0.0;
    auto drain = [&] {
        while (avcodec_receive_frame(codec, frame) >= 0) {
            clip.samples += frame->nb_samples;
            if (frame->format == AV_SAMPLE_FMT_FLTP)
                for (int i = 0; i < frame->nb_samples; ++i)
                    squares += std::pow(double(reinterpret_cast<const float *>(frame->data[0])[i]), 2);
        }
    };
    while (ok && av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == stream)
            ok = avcodec_send_packet(codec, packet) >= 0;
        av_packet_unref(packet);
        if (ok)
            drain();
    }
    if (ok) {
        avcodec_send_packet(codec, nullptr);
        drain();
        clip.codec = QString::fromLatin1(decoder->name);
        clip.channels = codec->ch_layout.nb_channels;
        clip.sampleRate = codec->sample_rate;
        clip.rms = clip.samples > 0 ? std::sqrt(squares / double(clip.samples)) : 0.0;
        clip.ok = true;
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    return clip;
}
