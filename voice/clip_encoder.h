// Encodes raw microphone samples into a mono AAC track in an MPEG-4 audio
// file (".m4a"), the clip format every receiver decodes. It belongs to the
// thread that uses it and never blocks on anything but the file it writes,
// and, once per process, on loading the encoder module (FFmpeg's libraries)
// with the first clip.
#pragma once

#include <QAudioFormat>
#include <QString>

#include <memory>

namespace velmor::voice {

class ClipCodec;

class ClipEncoder
{
public:
    ClipEncoder();
    ~ClipEncoder();
    ClipEncoder(const ClipEncoder &) = delete;
    ClipEncoder &operator=(const ClipEncoder &) = delete;

    // Creates the file at path (truncating it) for samples of the given
    // format: 8-, 16- or 32-bit integers or 32-bit floats, interleaved, any
    // channel count and rate. False, with nothing left open, on failure,
    // also when the encoder module cannot be loaded.
    bool open(const QString &path, const QAudioFormat &input);

    // Encodes whole frames of input; a trailing partial frame waits for the
    // next call. False once writing failed.
    bool write(const char *data, qint64 size);

    // Encodes what is left, writes the index and closes the file: a file
    // that was opened and finished plays, even with no sample at all.
    bool finish();

    // Closes the file as it is, unfinished: for a clip about to be deleted.
    void discard();

    bool isOpen() const;

private:
    std::unique_ptr<ClipCodec> m_codec;
};

} // namespace velmor::voice
