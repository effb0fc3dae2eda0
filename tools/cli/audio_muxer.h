#pragma once

// Puts the sound of a source video into a processed video that OpenCV wrote without it. The
// packets are copied as they are (no re-encoding), in time order; sound past the end of the
// video is left out (a run cut short with --frames). Stateless.

#include <string>

class AudioMuxer {
public:
    // Rewrites `video` (a file name whose extension names its container) with the audio streams
    // of `source` added. Empty on success or when the source has no sound, else why the sound
    // cannot be kept; `video` is then left as it was.
    static std::string addAudio(const std::string& source, const std::string& video);
    // Before any work: empty when the sound of `source` (if any) fits the container that the
    // name `output` asks for, else why not.
    static std::string check(const std::string& source, const std::string& output);
};
