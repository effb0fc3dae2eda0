#include <algorithm>
#include <chrono>
#include <mutex>

#include "client_pipe.h"
#include "control_command.h"
#include "facelume_client.h"
#include "frame_channel.h"
#include "protocol.h"
#include "resource_catalogue.h"
#include "service_process.h"

namespace facelume {
namespace {

constexpr int kPipeConnectTimeoutMs = 5000;
// A control makes the service process its newest frame again and send it; process() waits this
// long for that frame before it sends the next one.
constexpr int kRefreshTimeoutMs = 2000;
// A service that reads no control line for this long, or sends back no frame for the control
// before, is stopped or overloaded.
constexpr int kControlWriteTimeoutMs = 2000;
constexpr std::size_t kMessageOverhead = protocol::kLengthPrefixBytes + protocol::kFrameHeaderBytes;

Result checkNames(const ChannelOptions& options) {
    for (const std::string* name : {&options.receiveName, &options.sendName}) {
        if (name->empty() || name->find_first_of("/\\") != std::string::npos ||
            name->find('\0') != std::string::npos) {
            return {
                Status::InvalidArgument,
                "channel names must be non-empty and contain no slashes (got \"" + *name + "\")"};
        }
    }
    if (options.receiveName == options.sendName) {
        return {Status::InvalidArgument, "the receive and send names must differ"};
    }
    if (options.size > protocol::kMaxSize) {
        return {Status::InvalidArgument, "the channel size " + std::to_string(options.size) +
                                             " is above the limit of " +
                                             std::to_string(protocol::kMaxSize) + " bytes"};
    }
    if (options.size < static_cast<int>(kMessageOverhead) + protocol::kBytesPerPixel) {
        return {Status::InvalidArgument, "the channel size " + std::to_string(options.size) +
                                             " is too small for even one pixel"};
    }
    return Result::ok();
}

// Keeps only the lines that say something: drops blank lines.
std::string quoted(const std::string& output) {
    std::string text;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        const std::string line = output.substr(start, end - start);
        if (line.find_first_not_of(" \t\r") != std::string::npos) text += "\n  " + line;
        start = end + 1;
    }
    return text;
}

}  // namespace

class ClientPrivate {
public:
    ServiceProcess service;
    bool startedService = false;
    ClientPipe pipe;
    FrameChannel channel;
    ChannelOptions options;
    ResourceCatalogue catalogue;
    std::mutex pipeMutex;
    bool frameInService = false;
    // A control reached a service holding a frame, which it sends again (once per read of control
    // lines); that frame has not been taken yet.
    bool refreshPending = false;
    // The latest frame went through process(), which takes every frame the service sends; with
    // sendFrame, the caller's receiveFrame takes them (perhaps waiting in another thread).
    bool processTakesFrames = false;

    Result failure(Status status, const std::string& what, const std::string& executable);
    Result sendControl(const Result& encoded, const std::string& line);
    Result takeRefresh(int timeoutMs);
    Result sendValue(ControlCommand::Id id, float value);
    Result sendNamed(ControlCommand::Id id, NameKind kind, const std::string& name, float strength);
    Result openChannel(const ChannelOptions& channelOptions, int pipeTimeoutMs);
};

Result ClientPrivate::failure(Status status, const std::string& what,
                              const std::string& executable) {
    std::string text = what;
    const std::string folder = ServiceProcess::folderOf(executable);
    const std::string ended = service.exitDescription();
    const std::string resources = ResourceCatalogue::folderFor(executable);
    // Stopping first collects everything the service wrote before it ended.
    service.stop();
    startedService = false;
    const std::string output = service.output();
    if (resources.empty()) {
        text += "; its resource folder " + folder + "/beauty_res is missing";
    } else if (output.find("initError") != std::string::npos) {
        text += "; its effect engine could not start with the resources in " + resources;
    }
    if ((output + ended).find(ServiceProcess::engineFileName()) != std::string::npos &&
        !ServiceProcess::exists(folder + "/" + ServiceProcess::engineFileName())) {
        text += "; its effect engine " + std::string(ServiceProcess::engineFileName()) +
                " is missing beside it";
    }
    if (!output.empty()) text += ". The service said:" + quoted(output);
    pipe.close();
    return {status, text};
}

Result ClientPrivate::openChannel(const ChannelOptions& channelOptions, int pipeTimeoutMs) {
    Result result = pipe.connect(protocol::pipeName(channelOptions.receiveName), pipeTimeoutMs);
    if (result) {
        result =
            channel.open(channelOptions.receiveName, channelOptions.sendName, channelOptions.size);
    }
    if (!result) {
        pipe.close();
        return result;
    }
    options = channelOptions;
    frameInService = false;
    refreshPending = false;
    return Result::ok();
}

Result ClientPrivate::sendControl(const Result& encoded, const std::string& line) {
    if (!encoded) return encoded;
    if (!channel.isOpen()) return {Status::NotConnected, "start or connect to a service first"};
    const std::lock_guard<std::mutex> lock(pipeMutex);
    // Two writes in a row may reach the service in one read or in two, and bring back one frame or
    // two: with one write outstanding at a time, process() knows that exactly one is on its way.
    // The wait and the write share the setter's time.
    int writeMs = kControlWriteTimeoutMs;
    if (refreshPending && processTakesFrames) {
        const auto start = std::chrono::steady_clock::now();
        Result taken = takeRefresh(kControlWriteTimeoutMs);
        if (!taken) return taken;
        writeMs -= static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now() - start)
                                        .count());
    }
    Result result = pipe.writeLines(line, std::max(writeMs, 0));
    if (result && frameInService) refreshPending = true;
    return result;
}

Result ClientPrivate::takeRefresh(int timeoutMs) {
    Frame dropped;
    const Result received = channel.receiveFrame(dropped, timeoutMs);
    if (received.status() == Status::Timeout && startedService && !service.isRunning()) {
        return {Status::ServiceFailed, "the service " + service.exitDescription()};
    }
    if (received.status() == Status::Timeout) {
        const std::string ms = std::to_string(timeoutMs);
        return {Status::Timeout, "the service sent back no frame for the previous control within " +
                                     ms +
                                     " ms (stopped or overloaded); this control was not sent, "
                                     "try again later"};
    }
    refreshPending = false;
    return received;
}

Result ClientPrivate::sendValue(ControlCommand::Id id, float value) {
    std::string line;
    Result encoded = ControlCommand::valueLine(id, value, line);
    return sendControl(encoded, line);
}

Result ClientPrivate::sendNamed(ControlCommand::Id id, NameKind kind, const std::string& name,
                                float strength) {
    Result checked = catalogue.check(kind, name);
    if (!checked) {
        return {checked.status(),
                std::string(ControlCommand::controlName(id)) + ": " + checked.message()};
    }
    std::string line;
    Result encoded = id == ControlCommand::Sticker
                         ? ControlCommand::nameOnlyLine(id, name, line)
                         : ControlCommand::namedLine(id, name, strength, line);
    return sendControl(encoded, line);
}

Client::Client() : d(std::make_unique<ClientPrivate>()) {}

Client::~Client() { close(); }

Result Client::start(const ServiceOptions& options) {
    close();
    Result result = checkNames(options.channel);
    if (!result) return result;
    const std::string& executable = options.executable;
    if (!ServiceProcess::isExecutable(executable)) {
        return {Status::ServiceNotFound, "no facelume executable at \"" + executable +
                                             "\"; build it or give the path of an installed one"};
    }
    const ChannelOptions& channel = options.channel;
    // A service left running under these names would take our frames; one that crashed left
    // its socket behind, which would keep a new one from listening.
    if (!ClientPipe::removeStale(protocol::pipeName(channel.receiveName))) {
        return {Status::ChannelError, "a service is already running under the names " +
                                          channel.receiveName + "/" + channel.sendName +
                                          "; connect to it or choose other names"};
    }
    // Listen before the service starts: it connects to us once, within its first second.
    result = d->pipe.listen(protocol::pipeName(channel.sendName));
    if (!result) return result;
    result = d->service.start(
        executable, {channel.receiveName, channel.sendName, std::to_string(channel.size)});
    if (!result) {
        d->pipe.close();
        return result;
    }
    d->startedService = true;
    result = d->pipe.waitForAnnouncement(options.startTimeoutMs,
                                         [this] { return d->service.isRunning(); });
    if (!result) {
        const std::string ended = d->service.exitDescription();
        if (!ended.empty()) {
            return d->failure(
                Status::ServiceFailed,
                "the service " + executable + " " + ended + " before its channel was up",
                executable);
        }
        return d->failure(result.status(),
                          "the service did not bring up its channel within " +
                              std::to_string(options.startTimeoutMs) + " ms (" + result.message() +
                              ")",
                          executable);
    }
    result = d->openChannel(channel, kPipeConnectTimeoutMs);
    if (!result) return d->failure(result.status(), result.message(), executable);
    d->catalogue.load(channel.resourceFolder.empty() ? ResourceCatalogue::folderFor(executable)
                                                     : channel.resourceFolder);
    return Result::ok();
}

Result Client::connect(const ChannelOptions& options) {
    close();
    Result result = checkNames(options);
    if (!result) return result;
    result = d->openChannel(options, std::max(options.timeoutMs, 0));
    if (!result && result.status() == Status::Timeout) {
        return {Status::Timeout, result.message() + "; is the service running under the names " +
                                     options.receiveName + "/" + options.sendName + "?"};
    }
    if (!result) return result;
    std::string folder = options.resourceFolder;
    if (folder.empty() && ServiceProcess::exists(FACELUME_INSTALLED_RESOURCES)) {
        folder = FACELUME_INSTALLED_RESOURCES;
    }
    d->catalogue.load(folder);
    // A running service keeps the controls an earlier client set, and the last frame it was
    // given: the reset brings that frame back, which process() must not take for its own.
    d->frameInService = d->channel.serviceHasSentFrame();
    result = reset();
    if (!result) close();
    return result;
}

bool Client::isConnected() const { return d->channel.isOpen(); }

std::size_t Client::capacity() const {
    return d->channel.isOpen() ? d->channel.payloadCapacity() + protocol::kLengthPrefixBytes : 0;
}

bool Client::fits(int width, int height) const {
    if (width <= 0 || height <= 0) return false;
    const std::size_t needed =
        static_cast<std::size_t>(width) * height * protocol::kBytesPerPixel + kMessageOverhead;
    return needed <= capacity();
}

Result Client::sendFrame(int width, int height, const std::uint8_t* bgr, std::size_t stride) {
    if (!d->channel.isOpen()) return {Status::NotConnected, "start or connect to a service first"};
    if (width <= 0 || height <= 0 || bgr == nullptr ||
        stride < static_cast<std::size_t>(width) * protocol::kBytesPerPixel) {
        return {Status::InvalidArgument,
                "a frame needs a positive width and height, pixels, and a row stride of at "
                "least width * 3 bytes"};
    }
    Result result = d->channel.sendFrame(width, height, bgr, stride);
    if (result) {
        d->frameInService = true;
        d->processTakesFrames = false;
    }
    return result;
}

Result Client::receiveFrame(Frame& frame, int timeoutMs) {
    if (!d->channel.isOpen()) return {Status::NotConnected, "start or connect to a service first"};
    Result result = d->channel.receiveFrame(frame, timeoutMs);
    if (!result && d->startedService && !d->service.isRunning()) {
        return {Status::ServiceFailed, "the service " + d->service.exitDescription()};
    }
    return result;
}

Result Client::process(int width, int height, const std::uint8_t* bgr, std::size_t stride,
                       Frame& result, int timeoutMs) {
    if (!d->channel.isOpen()) return {Status::NotConnected, "start or connect to a service first"};
    if (d->refreshPending) {
        Frame dropped;
        (void)d->channel.receiveFrame(dropped, std::min(timeoutMs, kRefreshTimeoutMs));
        d->refreshPending = false;
    }
    d->channel.dropPendingFrames();
    Result sent = sendFrame(width, height, bgr, stride);
    if (!sent) return sent;
    Result received = receiveFrame(result, timeoutMs);
    d->processTakesFrames = received.isOk();
    return received;
}

Result Client::setSkinWhite(float value) { return d->sendValue(ControlCommand::SkinWhite, value); }

Result Client::setSkinSmooth(float value) {
    return d->sendValue(ControlCommand::SkinSmooth, value);
}

Result Client::setEyeScale(float value) { return d->sendValue(ControlCommand::EyeScale, value); }

Result Client::setFaceThin(float value) { return d->sendValue(ControlCommand::FaceThin, value); }

Result Client::setFilter(const std::string& name, float strength) {
    return d->sendNamed(ControlCommand::Filter, NameKind::Filter, name, strength);
}

Result Client::setSticker(const std::string& name) {
    return d->sendNamed(ControlCommand::Sticker, NameKind::Sticker, name, 0.f);
}

Result Client::setLipstick(const std::string& name, float strength) {
    return d->sendNamed(ControlCommand::Lipstick, NameKind::Colour, name, strength);
}

Result Client::setCheeks(const std::string& name, float strength) {
    return d->sendNamed(ControlCommand::Cheeks, NameKind::Colour, name, strength);
}

Result Client::setEyebrow(const std::string& name, float strength) {
    return d->sendNamed(ControlCommand::Eyebrow, NameKind::Colour, name, strength);
}

Result Client::reset() {
    // One write: the service applies the lines of one read in one pass, so exactly one frame
    // comes back re-processed, and process() skips exactly that one.
    std::string lines, line;
    for (const auto id : {ControlCommand::SkinWhite, ControlCommand::SkinSmooth,
                          ControlCommand::EyeScale, ControlCommand::FaceThin}) {
        (void)ControlCommand::valueLine(id, 0.f, line);
        lines += line;
    }
    for (const auto id : {ControlCommand::Filter, ControlCommand::Lipstick, ControlCommand::Cheeks,
                          ControlCommand::Eyebrow}) {
        (void)ControlCommand::namedLine(id, std::string(), 0.f, line);
        lines += line;
    }
    (void)ControlCommand::nameOnlyLine(ControlCommand::Sticker, std::string(), line);
    return d->sendControl(Result::ok(), lines + line);
}

std::vector<std::string> Client::availableNames(NameKind kind) const {
    return d->catalogue.names(kind);
}

std::string Client::resourceFolder() const { return d->catalogue.folder(); }

std::string Client::serviceOutput() const { return d->service.output(); }

void Client::close() {
    // The service first: it then finds us still holding the channel, and we, closing last,
    // remove the named objects even when the service had to be killed.
    if (d->startedService) {
        d->service.stop();
        // A service that was killed left its socket behind.
        (void)ClientPipe::removeStale(protocol::pipeName(d->options.receiveName));
    }
    d->channel.close();
    d->pipe.close();
    d->startedService = false;
    d->frameInService = false;
    d->refreshPending = false;
    d->catalogue.load({});
}

std::string resourceFolderOf(const std::string& executable) {
    return ResourceCatalogue::folderFor(executable);
}

std::vector<std::string> availableNames(const std::string& resourceFolder, NameKind kind) {
    ResourceCatalogue catalogue;
    catalogue.load(resourceFolder);
    return catalogue.names(kind);
}

}  // namespace facelume
