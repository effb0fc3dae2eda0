#pragma once

// The sticker control: the picture "<resources>/stickers/<name>.png" drawn on every face,
// pinned and scaled by its metadata "<name>.yml" (see Sticker), turned with the face's roll,
// alpha-blended with its opacity times the face's presence. configure() loads both files
// (null or empty name: off; unknown name or broken files: off, with one line on standard
// error). apply() reuses one frame-sized work image. One thread at a time; never throws.

#include <string>
#include <vector>

#include "effect.h"
#include "sticker.h"

namespace facelume {

class FaceGeometry;

class StickerOverlay final : public Effect {
public:
    explicit StickerOverlay(std::string resourceFolder);

    void configure(const char* name);
    bool active() const override;
    void apply(cv::Mat& frame, const std::vector<Face>& faces) override;

private:
    void drawOn(cv::Mat& frame, const FaceGeometry& face);

    std::string m_folder;
    std::string m_name;  // of the loaded sticker; empty when off
    Sticker m_sticker;
    cv::Mat m_warped;  // frame-sized BGRA work image; each face uses a part of it
    bool m_failureReported = false;
};

}  // namespace facelume
