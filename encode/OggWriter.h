#pragma once
// Ogg Vorbis writer on libvorbis, vorbisenc and libogg, with Vorbis comments in UTF-8.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/File.h"

namespace pelloran {

class OggWriter {
public:
    OggWriter();
    ~OggWriter();
    OggWriter(const OggWriter&) = delete;
    OggWriter& operator=(const OggWriter&) = delete;

    // Releases any previous file and states, creates (or replaces) path.
    bool Open(const std::string& path);
    // Managed set-up at a nominal bit rate (bit/s) with bit-rate management off (quality from the nominal
    // rate). False when libvorbis has no mode for the combination.
    bool Setup(int rate, int channels, int bitrate);
    // Adds the non-empty texts as comments; the track only when its integer value is above 0.
    void AddComments(std::string_view title, std::string_view artist, std::string_view album,
                     std::string_view year, std::string_view genre, std::string_view comment,
                     std::string_view composer, std::string_view copyright, std::string_view track);
    // Starts the stream and writes the three header packets on pages of their own.
    bool WriteHeaders();
    // Encodes one block of 16-bit planar samples; no buffers and 0 frames end the stream.
    // False once a write has failed.
    bool Encode(const int16_t* left, const int16_t* right, int frames);
    // Closes the file and clears every state; false when a write or the close failed.
    // Does nothing (true) on an idle writer.
    bool Close();

    bool IsOpen() const { return file_.IsOpen(); }
    bool HeadersWritten() const;

private:
    struct State;

    bool WritePage(const void* header, long headerBytes, const void* body, long bodyBytes);

    File file_;
    std::unique_ptr<State> state_;
    int channels_ = 0;
    bool failed_ = false;
};

}  // namespace pelloran
