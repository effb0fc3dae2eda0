#ifndef FACELUME_CLIENT_C_H
#define FACELUME_CLIENT_C_H

/* The facelume client SDK, C API.
 *
 * Conventions:
 * - A facelume_client is an opaque handle made by facelume_client_new and released by
 *   facelume_client_free (which also closes it). Every other function takes it first.
 * - Functions that can fail return a facelume_status; FACELUME_OK (0) is success. The text of the
 *   latest failure on a handle is facelume_last_error(handle), valid until the next call on it.
 *   Nothing is thrown and nothing aborts.
 * - Strings are NUL-terminated UTF-8. The SDK copies what it keeps; strings it returns belong to
 *   the handle and stay valid until the next call on it.
 * - Pixels are 8-bit BGR, 3 bytes per pixel. Input rows are `stride` bytes apart; output rows
 *   are width * 3 bytes apart with no padding.
 * - Channel names are the service's: it receives frames on receive_name and sends on send_name.
 *   NULL names and a size of 0 take the service's defaults ("n2", "n1", 921700).
 * - Control values are the engine's (1.0 = full) and travel in hundredths. A NULL or empty name
 *   turns an effect off.
 * - One thread uses a handle at a time, except that facelume_receive_frame may wait in a second
 *   thread while the first sends frames and controls.
 */

#include <stddef.h>

#include "facelume_client_export.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct facelume_client facelume_client;

typedef enum facelume_status {
    FACELUME_OK = 0,
    FACELUME_INVALID_ARGUMENT = 1,
    FACELUME_FRAME_TOO_LARGE = 2, /* the frame does not fit the channel; nothing was sent */
    FACELUME_TIMEOUT = 3,
    FACELUME_SERVICE_NOT_FOUND = 4,
    FACELUME_SERVICE_FAILED = 5,
    FACELUME_CHANNEL_ERROR = 6,
    FACELUME_NOT_CONNECTED = 7,
    FACELUME_OUT_OF_MEMORY = 8
} facelume_status;

/* NULL when memory runs out. */
FACELUME_CLIENT_API facelume_client* facelume_client_new(void);
FACELUME_CLIENT_API void facelume_client_free(facelume_client* client);

/* Starts the service `executable` and waits up to timeout_ms (0: 20000) for its channel. */
FACELUME_CLIENT_API facelume_status facelume_start(facelume_client* client, const char* executable,
                                                   const char* receive_name, const char* send_name,
                                                   int size, int timeout_ms);
/* Joins a running service, waiting up to timeout_ms (0: 5000) for its pipe. A channel has one
 * client at a time: while another is connected, this fails with FACELUME_CHANNEL_ERROR. */
FACELUME_CLIENT_API facelume_status facelume_connect(facelume_client* client,
                                                     const char* receive_name,
                                                     const char* send_name, int size,
                                                     int timeout_ms);
/* Leaves the channel; ends the service if this handle started it. */
FACELUME_CLIENT_API void facelume_close(facelume_client* client);

/* Bytes of channel a frame may use (12 + width * height * 3 must not exceed it); 0 if closed. */
FACELUME_CLIENT_API size_t facelume_capacity(const facelume_client* client);

FACELUME_CLIENT_API facelume_status facelume_send_frame(facelume_client* client, int width,
                                                        int height, const unsigned char* bgr,
                                                        size_t stride);
/* Waits up to timeout_ms for the next frame. On success *pixels points at width * height * 3
 * bytes owned by the handle, valid until the next receive, process or close. */
FACELUME_CLIENT_API facelume_status facelume_receive_frame(facelume_client* client, int timeout_ms,
                                                           int* width, int* height,
                                                           const unsigned char** pixels);
/* Sends a frame and waits for its result, as send then receive. */
FACELUME_CLIENT_API facelume_status facelume_process(facelume_client* client, int width, int height,
                                                     const unsigned char* bgr, size_t stride,
                                                     int timeout_ms, int* out_width,
                                                     int* out_height,
                                                     const unsigned char** out_pixels);

FACELUME_CLIENT_API facelume_status facelume_set_skin_white(facelume_client* client, float value);
FACELUME_CLIENT_API facelume_status facelume_set_skin_smooth(facelume_client* client, float value);
FACELUME_CLIENT_API facelume_status facelume_set_eye_scale(facelume_client* client, float value);
FACELUME_CLIENT_API facelume_status facelume_set_face_thin(facelume_client* client, float value);
FACELUME_CLIENT_API facelume_status facelume_set_filter(facelume_client* client, const char* name,
                                                        float strength);
FACELUME_CLIENT_API facelume_status facelume_set_sticker(facelume_client* client, const char* name);
FACELUME_CLIENT_API facelume_status facelume_set_lipstick(facelume_client* client, const char* name,
                                                          float strength);
FACELUME_CLIENT_API facelume_status facelume_set_cheeks(facelume_client* client, const char* name,
                                                        float strength);
FACELUME_CLIENT_API facelume_status facelume_set_eyebrow(facelume_client* client, const char* name,
                                                         float strength);

/* Turns every effect off. facelume_connect does this on its own, so that a client that joins a
 * running service does not inherit an earlier client's effects. */
FACELUME_CLIENT_API facelume_status facelume_reset(facelume_client* client);

typedef enum facelume_name_kind {
    FACELUME_NAMES_FILTER = 0,
    FACELUME_NAMES_STICKER = 1,
    FACELUME_NAMES_COLOUR = 2
} facelume_name_kind;

/* The names of one kind that the service's resource folder offers, sorted and separated by ", "
 * ("" when the folder is not known). The setters refuse other names with FACELUME_INVALID_ARGUMENT
 * and a text that lists these. */
FACELUME_CLIENT_API const char* facelume_available_names(facelume_client* client,
                                                         facelume_name_kind kind);

/* The latest failure's text on this handle ("" after success); for a NULL handle, the text of
 * the latest call made with one in this thread. */
FACELUME_CLIENT_API const char* facelume_last_error(const facelume_client* client);
/* What the started service wrote to its output and error streams (the latest 64 KiB). */
FACELUME_CLIENT_API const char* facelume_service_output(facelume_client* client);
/* A short name for a status: "ok", "timeout", ... */
FACELUME_CLIENT_API const char* facelume_status_name(facelume_status status);

#ifdef __cplusplus
}
#endif

#endif
