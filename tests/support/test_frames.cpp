#include "test_frames.h"

#include <QtEndian>

QByteArray frameHeader(qint32 width, qint32 height) {
    QByteArray header(8, Qt::Uninitialized);
    qToLittleEndian<qint32>(width, header.data());
    qToLittleEndian<qint32>(height, header.data() + 4);
    return header;
}

QByteArray makeFrame(int width, int height, unsigned char first) {
    QByteArray frame = frameHeader(width, height);
    for (int i = 0; i < width * height * 3; ++i) frame.append(static_cast<char>(first + i));
    return frame;
}

QByteArray invertedFrame(const QByteArray& frame) {
    QByteArray result = frame;
    for (int i = 8; i < result.size(); ++i) result[i] = static_cast<char>(255 - uchar(result[i]));
    return result;
}
