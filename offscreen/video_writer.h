#pragma once

#include <memory>
#include <string>

#include "images/texture_image.h"

// Writes pictures as the frames of a video file through FFmpeg's libraries
// (no program is run): H.264 in MP4 for .mp4, VP9 in WebM for .webm, and an
// animated GIF for .gif, each frame lasting 1 / fps seconds.

namespace fyrel {

class VideoWriter {
public:
    // Opens path for frames of width × height (even sizes: the video
    // formats halve the colour planes). Null, with the reason, when the
    // ending names no video format, the encoder is missing or the file cannot
    // be written.
    static std::unique_ptr<VideoWriter> open(const std::string& path, int width, int height, int fps,
                                             std::string& reason);
    ~VideoWriter();
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // Appends one RGBA frame of the size given to open; false, with the
    // reason, when encoding or writing fails.
    bool write(const Image& frame, std::string& reason);

    // Flushes the encoder and completes the file; false, with the reason,
    // when that fails. The destructor of a writer not finished closes the
    // file as it stands.
    bool finish(std::string& reason);

private:
    struct Impl;
    explicit VideoWriter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace fyrel
