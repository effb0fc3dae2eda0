// The C API over facelume::Client: every call catches what the C++ side could throw (only
// allocation failures) and turns results into a status and a text kept in the handle.

#include "facelume_client_c.h"

#include <string>

#include "facelume_client.h"

struct facelume_client {
    facelume::Client client;
    facelume::Frame frame;
    std::string lastError;
    std::string serviceOutput;
    std::string names;
};

namespace {

thread_local std::string t_lastError;

facelume_status record(facelume_client* handle, const facelume::Result& result) {
    const std::string& text = result.message();
    handle->lastError = text;
    t_lastError = text;
    return static_cast<facelume_status>(result.status());
}

facelume_status noHandle() {
    t_lastError = "the facelume_client handle is NULL";
    return FACELUME_INVALID_ARGUMENT;
}

facelume_status outOfMemory(facelume_client* handle) {
    t_lastError = "out of memory";
    if (handle != nullptr) {
        try {
            handle->lastError = t_lastError;
        } catch (...) {
        }
    }
    return FACELUME_OUT_OF_MEMORY;
}

// Runs `body` on a valid handle; nothing it throws crosses into C.
template <typename Body>
facelume_status guarded(facelume_client* handle, Body body) {
    if (handle == nullptr) return noHandle();
    try {
        return record(handle, body(handle->client));
    } catch (...) {
        return outOfMemory(handle);
    }
}

std::string text(const char* value) { return value != nullptr ? value : ""; }

facelume::ChannelOptions channelOptions(const char* receiveName, const char* sendName, int size) {
    facelume::ChannelOptions options;
    if (receiveName != nullptr) options.receiveName = receiveName;
    if (sendName != nullptr) options.sendName = sendName;
    if (size != 0) options.size = size;
    return options;
}

facelume_status giveFrame(facelume_client* handle, facelume_status status, int* width, int* height,
                          const unsigned char** pixels) {
    const bool ok = status == FACELUME_OK;
    if (width != nullptr) *width = ok ? handle->frame.width : 0;
    if (height != nullptr) *height = ok ? handle->frame.height : 0;
    if (pixels != nullptr) *pixels = ok ? handle->frame.pixels.data() : nullptr;
    return status;
}

}  // namespace

extern "C" {

facelume_client* facelume_client_new(void) {
    try {
        return new facelume_client;
    } catch (...) {
        t_lastError = "out of memory";
        return nullptr;
    }
}

void facelume_client_free(facelume_client* client) { delete client; }

facelume_status facelume_start(facelume_client* client, const char* executable,
                               const char* receive_name, const char* send_name, int size,
                               int timeout_ms) {
    return guarded(client, [&](facelume::Client& c) {
        facelume::ServiceOptions options;
        options.executable = text(executable);
        options.channel = channelOptions(receive_name, send_name, size);
        if (timeout_ms > 0) options.startTimeoutMs = timeout_ms;
        return c.start(options);
    });
}

facelume_status facelume_connect(facelume_client* client, const char* receive_name,
                                 const char* send_name, int size, int timeout_ms) {
    return guarded(client, [&](facelume::Client& c) {
        facelume::ChannelOptions options = channelOptions(receive_name, send_name, size);
        if (timeout_ms > 0) options.timeoutMs = timeout_ms;
        return c.connect(options);
    });
}

void facelume_close(facelume_client* client) {
    if (client != nullptr) client->client.close();
}

size_t facelume_capacity(const facelume_client* client) {
    return client != nullptr ? client->client.capacity() : 0;
}

facelume_status facelume_send_frame(facelume_client* client, int width, int height,
                                    const unsigned char* bgr, size_t stride) {
    return guarded(client,
                   [&](facelume::Client& c) { return c.sendFrame(width, height, bgr, stride); });
}

facelume_status facelume_receive_frame(facelume_client* client, int timeout_ms, int* width,
                                       int* height, const unsigned char** pixels) {
    const facelume_status status = guarded(
        client, [&](facelume::Client& c) { return c.receiveFrame(client->frame, timeout_ms); });
    return client != nullptr ? giveFrame(client, status, width, height, pixels) : status;
}

facelume_status facelume_process(facelume_client* client, int width, int height,
                                 const unsigned char* bgr, size_t stride, int timeout_ms,
                                 int* out_width, int* out_height,
                                 const unsigned char** out_pixels) {
    const facelume_status status = guarded(client, [&](facelume::Client& c) {
        return c.process(width, height, bgr, stride, client->frame, timeout_ms);
    });
    return client != nullptr ? giveFrame(client, status, out_width, out_height, out_pixels)
                             : status;
}

facelume_status facelume_set_skin_white(facelume_client* client, float value) {
    return guarded(client, [&](facelume::Client& c) { return c.setSkinWhite(value); });
}

facelume_status facelume_set_skin_smooth(facelume_client* client, float value) {
    return guarded(client, [&](facelume::Client& c) { return c.setSkinSmooth(value); });
}

facelume_status facelume_set_eye_scale(facelume_client* client, float value) {
    return guarded(client, [&](facelume::Client& c) { return c.setEyeScale(value); });
}

facelume_status facelume_set_face_thin(facelume_client* client, float value) {
    return guarded(client, [&](facelume::Client& c) { return c.setFaceThin(value); });
}

facelume_status facelume_set_filter(facelume_client* client, const char* name, float strength) {
    return guarded(client, [&](facelume::Client& c) { return c.setFilter(text(name), strength); });
}

facelume_status facelume_set_sticker(facelume_client* client, const char* name) {
    return guarded(client, [&](facelume::Client& c) { return c.setSticker(text(name)); });
}

facelume_status facelume_set_lipstick(facelume_client* client, const char* name, float strength) {
    return guarded(client,
                   [&](facelume::Client& c) { return c.setLipstick(text(name), strength); });
}

facelume_status facelume_set_cheeks(facelume_client* client, const char* name, float strength) {
    return guarded(client, [&](facelume::Client& c) { return c.setCheeks(text(name), strength); });
}

facelume_status facelume_set_eyebrow(facelume_client* client, const char* name, float strength) {
    return guarded(client, [&](facelume::Client& c) { return c.setEyebrow(text(name), strength); });
}

facelume_status facelume_reset(facelume_client* client) {
    return guarded(client, [](facelume::Client& c) { return c.reset(); });
}

const char* facelume_available_names(facelume_client* client, facelume_name_kind kind) {
    if (client == nullptr) return "";
    try {
        client->names.clear();
        for (const std::string& name :
             client->client.availableNames(static_cast<facelume::NameKind>(kind))) {
            client->names += (client->names.empty() ? "" : ", ") + name;
        }
    } catch (...) {
        client->names.clear();
    }
    return client->names.c_str();
}

const char* facelume_last_error(const facelume_client* client) {
    return client != nullptr ? client->lastError.c_str() : t_lastError.c_str();
}

const char* facelume_service_output(facelume_client* client) {
    if (client == nullptr) return "";
    try {
        client->serviceOutput = client->client.serviceOutput();
    } catch (...) {
        client->serviceOutput.clear();
    }
    return client->serviceOutput.c_str();
}

const char* facelume_status_name(facelume_status status) {
    switch (status) {
        case FACELUME_OK:
            return "ok";
        case FACELUME_INVALID_ARGUMENT:
            return "invalid argument";
        case FACELUME_FRAME_TOO_LARGE:
            return "frame too large";
        case FACELUME_TIMEOUT:
            return "timeout";
        case FACELUME_SERVICE_NOT_FOUND:
            return "service not found";
        case FACELUME_SERVICE_FAILED:
            return "service failed";
        case FACELUME_CHANNEL_ERROR:
            return "channel error";
        case FACELUME_NOT_CONNECTED:
            return "not connected";
        case FACELUME_OUT_OF_MEMORY:
            return "out of memory";
    }
    return "unknown status";
}

}  // extern "C"
