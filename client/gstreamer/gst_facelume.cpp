// The GStreamer element "facelume": a video filter over BGR frames that runs every frame through
// the facelume service, started (or joined) through the client SDK when the stream's size is
// known. The nine controls are properties, changeable while the pipeline runs:
//   ... ! videoconvert ! facelume smooth=70 lipstick=#c2185b:60 filter=warm ! videoconvert ! ...
// A name the service does not offer stops the pipeline with an error that lists the names it
// does; a frame that does not come back within `timeout` ms passes unchanged, with a warning.

#include <gst/gst.h>
#include <gst/video/gstvideofilter.h>
#include <gst/video/video.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>

#include "facelume_client.h"

namespace {

struct Controls {
    int white = 0;
    int smooth = 0;
    int eyes = 0;
    int thin = 0;
    std::string filter;
    std::string sticker;
    std::string lipstick;
    std::string cheeks;
    std::string eyebrow;
};

}  // namespace

struct GstFacelume {
    GstVideoFilter parent;
    std::mutex* lock;  // guards every member below: properties change from any thread
    facelume::Client* client;
    Controls* controls;
    std::string* service;
    std::string* receiveName;
    std::string* sendName;
    int timeoutMs;
    int channelSize;  // of the running service; 0 when none runs
};

struct GstFacelumeClass {
    GstVideoFilterClass parent_class;
};

#define GST_TYPE_FACELUME (gst_facelume_get_type())
#define GST_FACELUME(obj) (G_TYPE_CHECK_INSTANCE_CAST((obj), GST_TYPE_FACELUME, GstFacelume))
GType gst_facelume_get_type(void);
G_DEFINE_TYPE(GstFacelume, gst_facelume, GST_TYPE_VIDEO_FILTER)

GST_DEBUG_CATEGORY_STATIC(facelume_debug);
#define GST_CAT_DEFAULT facelume_debug

namespace {

enum Property {
    kPropertyNone,
    kWhite,
    kSmooth,
    kEyes,
    kThin,
    kFilter,
    kSticker,
    kLipstick,
    kCheeks,
    kEyebrow,
    kService,
    kReceiveName,
    kSendName,
    kTimeout,
};

constexpr int kDefaultTimeoutMs = 5000;
// The engine loads its face model at start-up: seconds, and far more on a busy machine.
constexpr int kStartTimeoutMs = 60000;

// "NAME[:PERCENT]" -> name and strength (1.0 without a percent).
void splitNamed(const std::string& text, std::string& name, float& strength) {
    const auto colon = text.rfind(':');
    name = text.substr(0, colon);
    strength = 1.0f;
    if (colon != std::string::npos)
        strength = std::strtof(text.c_str() + colon + 1, nullptr) / 100.f;
}

facelume::Result applyNamed(facelume::Client& client, Property property, const std::string& text) {
    std::string name;
    float strength = 1.0f;
    splitNamed(text, name, strength);
    switch (property) {
        case kFilter:
            return client.setFilter(name, strength);
        case kSticker:
            return client.setSticker(text);
        case kLipstick:
            return client.setLipstick(name, strength);
        case kCheeks:
            return client.setCheeks(name, strength);
        default:
            return client.setEyebrow(name, strength);
    }
}

facelume::Result applyControl(facelume::Client& client, const Controls& controls,
                              Property property) {
    switch (property) {
        case kWhite:
            return client.setSkinWhite(controls.white / 100.f);
        case kSmooth:
            return client.setSkinSmooth(controls.smooth / 100.f);
        case kEyes:
            return client.setEyeScale(controls.eyes / 100.f);
        case kThin:
            return client.setFaceThin(controls.thin / 100.f);
        case kFilter:
            return applyNamed(client, property, controls.filter);
        case kSticker:
            return applyNamed(client, property, controls.sticker);
        case kLipstick:
            return applyNamed(client, property, controls.lipstick);
        case kCheeks:
            return applyNamed(client, property, controls.cheeks);
        case kEyebrow:
            return applyNamed(client, property, controls.eyebrow);
        default:
            return facelume::Result::ok();
    }
}

facelume::Result applyAll(GstFacelume* self) {
    facelume::Result result;
    for (int property = kWhite; result && property <= kEyebrow; ++property) {
        result = applyControl(*self->client, *self->controls, static_cast<Property>(property));
    }
    return result;
}

// The facelume executable: the property, else $FACELUME_HOME/facelume, else the installed one.
std::string serviceExecutable(const GstFacelume* self) {
    if (!self->service->empty()) return *self->service;
    const char* home = std::getenv("FACELUME_HOME");
    if (home != nullptr && *home != '\0') return std::string(home) + "/facelume";
    return FACELUME_INSTALLED_SERVICE;
}

// Starts or joins the service with room for width x height frames and sets every control.
bool openService(GstFacelume* self, int width, int height) {
    const int needed = 12 + width * height * 3;
    if (self->client->isConnected() && self->channelSize >= needed) return true;
    self->client->close();
    facelume::Result result;
    if (!self->receiveName->empty()) {
        facelume::ChannelOptions channel;
        channel.receiveName = *self->receiveName;
        channel.sendName = *self->sendName;
        channel.size = std::max(needed, 921700);
        result = self->client->connect(channel);
    } else {
        facelume::ServiceOptions options;
        options.executable = serviceExecutable(self);
        const std::string unique =
            "gst" + std::to_string(::getpid()) + "x" + std::to_string(g_random_int());
        options.channel.receiveName = unique + "in";
        options.channel.sendName = unique + "out";
        options.channel.size = std::max(needed, 921700);
        options.startTimeoutMs = kStartTimeoutMs;
        result = self->client->start(options);
    }
    if (result) result = applyAll(self);
    if (!result) {
        if (result.status() == facelume::Status::InvalidArgument) {
            GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("facelume: %s", result.message().c_str()),
                              (nullptr));
        } else {
            GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ_WRITE,
                              ("facelume: %s", result.message().c_str()), (nullptr));
        }
        self->client->close();
        self->channelSize = 0;
        return false;
    }
    self->channelSize = std::max(needed, 921700);
    return true;
}

gboolean setInfo(GstVideoFilter* filter, GstCaps*, GstVideoInfo* in, GstCaps*, GstVideoInfo*) {
    GstFacelume* self = GST_FACELUME(filter);
    const std::lock_guard<std::mutex> lock(*self->lock);
    return openService(self, GST_VIDEO_INFO_WIDTH(in), GST_VIDEO_INFO_HEIGHT(in)) ? TRUE : FALSE;
}

void copyRows(const std::uint8_t* from, std::size_t fromStride, GstVideoFrame* to, int width,
              int height) {
    auto* pixels = static_cast<std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(to, 0));
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(to, 0);
    for (int row = 0; row < height; ++row) {
        std::copy_n(from + row * fromStride, width * 3, pixels + row * stride);
    }
}

GstFlowReturn transformFrame(GstVideoFilter* filter, GstVideoFrame* in, GstVideoFrame* out) {
    GstFacelume* self = GST_FACELUME(filter);
    const std::lock_guard<std::mutex> lock(*self->lock);
    const int width = GST_VIDEO_FRAME_WIDTH(in);
    const int height = GST_VIDEO_FRAME_HEIGHT(in);
    const auto* pixels = static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(in, 0));
    const std::size_t stride = GST_VIDEO_FRAME_PLANE_STRIDE(in, 0);
    facelume::Frame result;
    const facelume::Result processed =
        self->client->process(width, height, pixels, stride, result, self->timeoutMs);
    if (processed.status() == facelume::Status::Timeout) {
        GST_WARNING_OBJECT(self, "no result within %d ms; the frame passes unchanged",
                           self->timeoutMs);
        copyRows(pixels, stride, out, width, height);
        return GST_FLOW_OK;
    }
    if (!processed) {
        GST_ELEMENT_ERROR(self, STREAM, FAILED, ("facelume: %s", processed.message().c_str()),
                          (nullptr));
        return GST_FLOW_ERROR;
    }
    copyRows(result.pixels.data(), static_cast<std::size_t>(width) * 3, out, width, height);
    return GST_FLOW_OK;
}

gboolean stop(GstBaseTransform* transform) {
    GstFacelume* self = GST_FACELUME(transform);
    const std::lock_guard<std::mutex> lock(*self->lock);
    self->client->close();
    self->channelSize = 0;
    return TRUE;
}

std::string* textOf(GstFacelume* self, guint id) {
    switch (id) {
        case kFilter:
            return &self->controls->filter;
        case kSticker:
            return &self->controls->sticker;
        case kLipstick:
            return &self->controls->lipstick;
        case kCheeks:
            return &self->controls->cheeks;
        case kEyebrow:
            return &self->controls->eyebrow;
        case kService:
            return self->service;
        case kReceiveName:
            return self->receiveName;
        case kSendName:
            return self->sendName;
        default:
            return nullptr;
    }
}

int* numberOf(GstFacelume* self, guint id) {
    switch (id) {
        case kWhite:
            return &self->controls->white;
        case kSmooth:
            return &self->controls->smooth;
        case kEyes:
            return &self->controls->eyes;
        case kThin:
            return &self->controls->thin;
        case kTimeout:
            return &self->timeoutMs;
        default:
            return nullptr;
    }
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* paramSpec) {
    GstFacelume* self = GST_FACELUME(object);
    const std::lock_guard<std::mutex> lock(*self->lock);
    if (std::string* text = textOf(self, id)) {
        const gchar* given = g_value_get_string(value);
        *text = given != nullptr ? given : "";
    } else if (int* number = numberOf(self, id)) {
        *number = g_value_get_int(value);
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, paramSpec);
        return;
    }
    if (id > kEyebrow || !self->client->isConnected()) return;
    const facelume::Result result =
        applyControl(*self->client, *self->controls, static_cast<Property>(id));
    if (!result) {
        GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("facelume: %s", result.message().c_str()),
                          (nullptr));
    }
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* paramSpec) {
    GstFacelume* self = GST_FACELUME(object);
    const std::lock_guard<std::mutex> lock(*self->lock);
    if (const std::string* text = textOf(self, id)) {
        g_value_set_string(value, text->c_str());
    } else if (const int* number = numberOf(self, id)) {
        g_value_set_int(value, *number);
    } else {
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, paramSpec);
    }
}

void finalize(GObject* object) {
    GstFacelume* self = GST_FACELUME(object);
    delete self->client;
    delete self->controls;
    delete self->service;
    delete self->receiveName;
    delete self->sendName;
    delete self->lock;
    G_OBJECT_CLASS(gst_facelume_parent_class)->finalize(object);
}

void installInt(GObjectClass* klass, Property id, const char* name, const char* blurb, int low,
                int high, int initial) {
    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                GST_PARAM_CONTROLLABLE | GST_PARAM_MUTABLE_PLAYING);
    g_object_class_install_property(klass, id,
                                    g_param_spec_int(name, name, blurb, low, high, initial, flags));
}

void installText(GObjectClass* klass, Property id, const char* name, const char* blurb) {
    const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                GST_PARAM_MUTABLE_PLAYING);
    g_object_class_install_property(klass, id, g_param_spec_string(name, name, blurb, "", flags));
}

}  // namespace

static void gst_facelume_class_init(GstFacelumeClass* klass) {
    GObjectClass* object = G_OBJECT_CLASS(klass);
    object->set_property = setProperty;
    object->get_property = getProperty;
    object->finalize = finalize;
    installInt(object, kWhite, "white", "skin whitening, percent", 0, 100, 0);
    installInt(object, kSmooth, "smooth", "skin smoothing, percent", 0, 100, 0);
    installInt(object, kEyes, "eyes", "eye enlargement, percent", -100, 100, 0);
    installInt(object, kThin, "thin", "face thinning, percent", -100, 100, 0);
    installText(object, kFilter, "filter", "colour look NAME[:PERCENT]; empty: off");
    installText(object, kSticker, "sticker", "sticker NAME; empty: off");
    installText(object, kLipstick, "lipstick", "lipstick COLOUR[:PERCENT] (#rrggbb or a name)");
    installText(object, kCheeks, "cheeks", "blush COLOUR[:PERCENT]");
    installText(object, kEyebrow, "eyebrow", "eyebrow tint COLOUR[:PERCENT]");
    installText(object, kService, "service",
                "facelume executable to start (default: $FACELUME_HOME/facelume, else the "
                "installed one)");
    installText(object, kReceiveName, "recv", "join a running service: its receive name");
    installText(object, kSendName, "send", "join a running service: its send name");
    installInt(object, kTimeout, "timeout", "milliseconds to wait for each processed frame", 1,
               600000, kDefaultTimeoutMs);

    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(
        element, "facelume face beautification", "Filter/Effect/Video",
        "Face beautification through the facelume service", "facelume developers");
    GstCaps* caps = gst_caps_from_string("video/x-raw, format=(string)BGR");
    gst_element_class_add_pad_template(
        element, gst_pad_template_new("sink", GST_PAD_SINK, GST_PAD_ALWAYS, caps));
    gst_element_class_add_pad_template(
        element, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps));
    gst_caps_unref(caps);

    GST_BASE_TRANSFORM_CLASS(klass)->stop = stop;
    GstVideoFilterClass* filter = GST_VIDEO_FILTER_CLASS(klass);
    filter->set_info = setInfo;
    filter->transform_frame = transformFrame;
}

static void gst_facelume_init(GstFacelume* self) {
    self->lock = new std::mutex;
    self->client = new facelume::Client;
    self->controls = new Controls;
    self->service = new std::string;
    self->receiveName = new std::string;
    self->sendName = new std::string;
    self->timeoutMs = kDefaultTimeoutMs;
    self->channelSize = 0;
}

static gboolean plugin_init(GstPlugin* plugin) {
    GST_DEBUG_CATEGORY_INIT(facelume_debug, "facelume", 0, "facelume face beautification");
    return gst_element_register(plugin, "facelume", GST_RANK_NONE, GST_TYPE_FACELUME);
}

#define PACKAGE "facelume"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, facelume,
                  "Face beautification through the facelume service", plugin_init, FACELUME_VERSION,
                  "LGPL", "facelume", "facelume")
