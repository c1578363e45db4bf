// The boundary between the program and the encoder that writes voice clips.
// FFmpeg's libraries (and the hundred-odd libraries they pull in) sit in a
// small module of their own, loaded when the first recording starts: the
// program starts without them.
#pragma once

#include <cstdint>

namespace velmor::voice {

// Raw sample layouts the module takes (interleaved).
enum class ClipSampleFormat : int { UInt8 = 1, Int16, Int32, Float };

// One clip being written. Plain C++ that belongs to the thread using it.
class ClipCodec
{
public:
    virtual ~ClipCodec() = default;
    // Creates the file at the path (UTF-8 or the local 8-bit encoding of the
    // file system, as QFile::encodeName gives it). False, with nothing left
    // open, on failure.
    virtual bool open(const char *path, ClipSampleFormat format, int channels, int rate) = 0;
    // Bytes of whole and partial input frames; false once writing failed.
    virtual bool write(const char *data, std::int64_t size) = 0;
    // Encodes what is left, writes the index and closes the file.
    virtual bool finish() = 0;
    // Closes the file as it is.
    virtual void discard() = 0;
    virtual bool isOpen() const = 0;
};

// The module's one entry point: a new, closed codec the caller deletes.
using ClipCodecFactory = ClipCodec *(*)();
inline constexpr const char *kClipCodecFactorySymbol = "velmor_create_clip_codec";
// Raised when the interface above changes: a module of another build is
// refused rather than called wrongly.
inline constexpr int kClipCodecAbi = 1;
using ClipCodecAbi = int (*)();
inline constexpr const char *kClipCodecAbiSymbol = "velmor_clip_codec_abi";

} // namespace velmor::voice
