// Encodes raw microphone samples into a mono AAC track in an MPEG-4 audio
// file (".m4a"), the clip format every receiver decodes. Plain C++ on top of
// FFmpeg's libraries: it belongs to the thread that uses it and never blocks
// on anything but the file it writes.
#pragma once

#include <QAudioFormat>
#include <QByteArray>
#include <QString>

#include <cstdint>

struct AVAudioFifo;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct AVStream;
struct SwrContext;

namespace velmor::voice {

class ClipEncoder
{
public:
    ClipEncoder() = default;
    ~ClipEncoder();
    ClipEncoder(const ClipEncoder &) = delete;
    ClipEncoder &operator=(const ClipEncoder &) = delete;

    // Creates the file at path (truncating it) for samples of the given
    // format: 8-, 16- or 32-bit integers or 32-bit floats, interleaved, any
    // channel count and rate. False, with nothing left open, on failure.
    bool open(const QString &path, const QAudioFormat &input);

    // Encodes whole frames of input; a trailing partial frame waits for the
    // next call. False once writing failed.
    bool write(const char *data, qint64 size);

    // Encodes what is left, writes the index and closes the file: a file
    // that was opened and finished plays, even with no sample at all.
    bool finish();

    // Closes the file as it is, unfinished: for a clip about to be deleted.
    void discard() { release(); }

    bool isOpen() const { return m_format != nullptr; }

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
    QByteArray m_pending; // a partial input frame kept for the next write
    int m_inputBytesPerFrame = 0;
    std::int64_t m_nextPts = 0;
    bool m_failed = false;
};

} // namespace velmor::voice
