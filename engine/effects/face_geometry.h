#pragma once

// Measures on one tracked face that the painting effects share: whether its landmarks can be
// used at all, landmark means, and the face's own axes (across from the person's right to
// left, and down), turned by its roll. A light view; keeps a reference to the face.

#include <initializer_list>

#include "face.h"

namespace facelume {

class FaceGeometry {
public:
    explicit FaceGeometry(const Face& face);

    // Visible, with finite landmarks and a face of at least a few pixels.
    bool usable() const;
    const cv::Point2f& point(int index) const { return m_face.landmarks[index]; }
    cv::Point2f mean(int first, int last) const;  // landmarks first..last inclusive
    cv::Point2f mean(std::initializer_list<int> indices) const;
    // Unit vectors in frame pixels: along the eye line, and perpendicular to it, downwards.
    cv::Point2f across() const { return m_across; }
    cv::Point2f down() const { return m_down; }
    float scale() const { return m_face.eyeDistance; }
    float presence() const { return m_face.presence; }
    // How far the landmarks lag behind the head's turn as the detector saw it (Face::turn), in
    // its direction; both measure the offset of the nose tip from between the eyes. 0.2 and less
    // for a good fit, a three-quarter face's too; 0.4 and more where the landmarks lay a frontal
    // face over a head in profile or over features that are not there. 0 when the turn is
    // unknown.
    float turnLag() const;
    // How far landmark-placed make-up can be trusted by the lag: 1 up to a lag of 0.3 (and when
    // the turn is unknown), 0 from 0.4, where they lay a frontal face over a head in profile.
    float fitTrust() const;
    bool turnKnown() const;
    // Which way a near profile faces along across(): 1 toward the person's left, -1 toward the
    // right; 0 for any other face or an unknown turn. A near profile is a head the detector saw
    // turned well aside while the landmarks, by the nose tip against the middle of the jaw line,
    // barely turn: they lay a frontal face over it, one eye on the visible eye, the other on the
    // cheek or the ear. A three-quarter face's landmarks turn about as far as the detector saw.
    int profileSide() const;

private:
    const Face& m_face;
    cv::Point2f m_across;
    cv::Point2f m_down;
};

}  // namespace facelume
