#pragma once

// Frames as the channel carries them, with known bytes, and what the recording engine makes of
// them.

#include <QByteArray>

// The 8-byte header: width, then height, little-endian.
QByteArray frameHeader(qint32 width, qint32 height);
// The header, then width * height * 3 pixel bytes counting up from `first`.
QByteArray makeFrame(int width, int height, unsigned char first);
// The frame as the recording engine returns it: the same header, every pixel byte inverted.
QByteArray invertedFrame(const QByteArray& frame);
