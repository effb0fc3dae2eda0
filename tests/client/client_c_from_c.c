/* Proves that the C API header is plain C: one frame through the service, handed over from C. */

#include "facelume_client_c.h"

/* The processed pixels, or NULL when the call fails or gives back another size. */
const unsigned char* processFromC(facelume_client* client, const unsigned char* bgr, int width,
                                  int height, size_t stride) {
    const unsigned char* out = NULL;
    int outWidth = 0;
    int outHeight = 0;
    if (facelume_process(client, width, height, bgr, stride, 5000, &outWidth, &outHeight, &out) !=
            FACELUME_OK ||
        outWidth != width || outHeight != height) {
        return NULL;
    }
    return out;
}
