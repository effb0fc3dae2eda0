/* Built against an installed facelume (pkg-config or find_package) by scripts/check-install.sh:
 * starts the installed service, runs one frame through it with an effect, and checks that an
 * unknown filter is refused with the names that exist. Usage: use_installed FACELUME_EXECUTABLE */
#include <facelume/facelume_client_c.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv) {
    enum { kWidth = 64, kHeight = 48 };
    static unsigned char frame[kWidth * kHeight * 3];
    const unsigned char* out = NULL;
    int width = 0;
    int height = 0;
    facelume_client* fx = facelume_client_new();
    if (argc != 2 || fx == NULL) return 2;
    memset(frame, 128, sizeof frame);
    /* A control sent before the first frame may reach the service after it; sent with a frame
     * in the service, the next frame waits for the control's re-send and so carries it. */
    if (facelume_start(fx, argv[1], NULL, NULL, 0, 0) != FACELUME_OK ||
        facelume_process(fx, kWidth, kHeight, frame, kWidth * 3, 10000, &width, &height, &out) !=
            FACELUME_OK ||
        facelume_set_filter(fx, "warm", 1.0f) != FACELUME_OK ||
        facelume_process(fx, kWidth, kHeight, frame, kWidth * 3, 10000, &width, &height, &out) !=
            FACELUME_OK) {
        fprintf(stderr, "use_installed: %s\n", facelume_last_error(fx));
        facelume_client_free(fx);
        return 1;
    }
    /* The warm look changes a grey frame. */
    const int changed =
        width == kWidth && height == kHeight && memcmp(out, frame, sizeof frame) != 0;
    const int refused =
        facelume_set_filter(fx, "no-such-look", 1.0f) == FACELUME_INVALID_ARGUMENT &&
        strstr(facelume_last_error(fx), "warm") != NULL;
    printf("use_installed: frame %s, unknown filter %s\n", changed ? "processed" : "UNCHANGED",
           refused ? "refused" : "NOT REFUSED");
    facelume_client_free(fx);
    return changed && refused ? 0 : 1;
}
