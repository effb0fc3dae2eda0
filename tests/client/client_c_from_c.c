/* Proves that the C API header is plain C: one frame through the service, checked here. */

#include <stdlib.h>

#include "facelume_client_c.h"

int processOneFrameFromC(facelume_client* client, int width, int height) {
    size_t stride = (size_t)width * 3 + 1;
    unsigned char* pixels = calloc(stride * (size_t)height, 1);
    const unsigned char* out = NULL;
    int outWidth = 0;
    int outHeight = 0;
    int y;
    int x;
    int failures = 0;
    if (pixels == NULL) return -1;
    for (y = 0; y < height; ++y) {
        for (x = 0; x < width * 3; ++x) pixels[y * stride + x] = (unsigned char)(x + y);
    }
    if (facelume_process(client, width, height, pixels, stride, 5000, &outWidth, &outHeight,
                         &out) != FACELUME_OK ||
        outWidth != width || outHeight != height) {
        free(pixels);
        return -1;
    }
    for (y = 0; y < height; ++y) {
        for (x = 0; x < width * 3; ++x) {
            if (out[y * width * 3 + x] != 255 - pixels[y * stride + x]) ++failures;
        }
    }
    free(pixels);
    return failures;
}
