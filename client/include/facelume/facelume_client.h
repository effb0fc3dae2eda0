#pragma once

// The facelume client SDK, C++ API. A Client starts the facelume service as a child process (or
// joins one that runs), sends it BGR frames through shared memory, waits for the processed frames
// and steers the effects with typed setters. Nothing is thrown: every operation returns a Result
// whose text says what went wrong and what to do about it.
//
// Threading: one thread uses a Client at a time, except that receiveFrame may wait in a second
// thread while the first sends frames and controls. The service started by a Client is ended by
// close() or the destructor, and (on Linux) when the thread that started it ends.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "facelume_client_export.h"

namespace facelume {

/// What went wrong; the values are those of the C API's facelume_status.
enum class Status : int {
    Ok = 0,
    InvalidArgument = 1,  ///< a parameter is out of its range
    FrameTooLarge = 2,    ///< the frame does not fit the channel size; nothing was sent
    Timeout = 3,          ///< nothing came within the time-out
    ServiceNotFound = 4,  ///< no service executable at the given path
    ServiceFailed = 5,    ///< the service did not start, or ended
    ChannelError = 6,     ///< shared memory, semaphore or pipe failure
    NotConnected = 7,     ///< start or connect first
};

/// Outcome of an operation: a status and, unless Ok, a text for the user.
class [[nodiscard]] Result {
public:
    Result() = default;
    Result(Status status, std::string message) : m_status(status), m_message(std::move(message)) {}
    static Result ok() { return {}; }

    bool isOk() const { return m_status == Status::Ok; }
    explicit operator bool() const { return isOk(); }
    Status status() const { return m_status; }
    const std::string& message() const { return m_message; }

private:
    Status m_status = Status::Ok;
    std::string m_message;
};

/// A processed frame: width x height BGR pixels, rows of width * 3 bytes without padding.
struct Frame {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
};

/// The kinds of names the effects take; a service's resource folder says which exist.
enum class NameKind : int { Filter = 0, Sticker = 1, Colour = 2 };

/// The channel names are the service's own: it receives on receiveName and sends on sendName.
struct ChannelOptions {
    std::string receiveName = "n2";
    std::string sendName = "n1";
    int size = 921700;     ///< bytes per direction; a frame needs 12 + width * height * 3
    int timeoutMs = 5000;  ///< for connecting to the service's pipe
    /// The service's resource folder (beauty_res), against which filter, sticker and colour
    /// names are checked. Empty: the one beside the started executable, or the installed one.
    std::string resourceFolder;
};

struct ServiceOptions {
    std::string executable;  ///< path of the facelume executable
    ChannelOptions channel;
    int startTimeoutMs = 20000;  ///< until the service has announced its channel
};

class ClientPrivate;

class FACELUME_CLIENT_API Client {
public:
    Client();
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    /// Starts the service and waits until its channel is up. On failure the text carries the
    /// service's own reason when it printed one.
    Result start(const ServiceOptions& options);
    /// Joins a service that is already running under the given names, and resets every
    /// control, so that nothing of an earlier client's effects remains. A channel has one
    /// client at a time: while another is connected, this fails with ChannelError.
    Result connect(const ChannelOptions& options);
    bool isConnected() const;

    /// Bytes of frame data (12 + width * height * 3) that fit the channel.
    std::size_t capacity() const;
    bool fits(int width, int height) const;

    /// Hands one frame to the service. `stride` is the byte distance between rows (at least
    /// width * 3). A frame that does not fit gives FrameTooLarge and sends nothing.
    Result sendFrame(int width, int height, const std::uint8_t* bgr, std::size_t stride);
    /// Waits at most timeoutMs for the next frame that the service sends.
    Result receiveFrame(Frame& frame, int timeoutMs);
    /// sendFrame then receiveFrame, after dropping frames that the service re-sent on its own
    /// (it processes its newest frame again whenever a control changes).
    Result process(int width, int height, const std::uint8_t* bgr, std::size_t stride,
                   Frame& result, int timeoutMs);

    /// Controls. Values are the engine's (1.0 = full); they travel in hundredths. While frames go
    /// through process(), a setter first waits for the frame the service sent again for the
    /// control before (2 s at most, shared with its write; then Timeout and nothing is sent), so
    /// that process() returns its own frame's result.
    Result setSkinWhite(float value);
    Result setSkinSmooth(float value);
    Result setEyeScale(float value);
    Result setFaceThin(float value);
    /// An empty name turns the effect off. A name the service's resource folder does not offer
    /// (or a colour not of the form #rrggbb) gives InvalidArgument with the names it offers, and
    /// nothing is sent.
    Result setFilter(const std::string& name, float strength);
    Result setSticker(const std::string& name);
    Result setLipstick(const std::string& name, float strength);
    Result setCheeks(const std::string& name, float strength);
    Result setEyebrow(const std::string& name, float strength);
    /// Turns every effect off.
    Result reset();

    /// The names of one kind that the service's resource folder offers, sorted (colours in lower
    /// case); empty when that folder is not known.
    std::vector<std::string> availableNames(NameKind kind) const;
    /// The resource folder names are checked against; empty when not known.
    std::string resourceFolder() const;

    /// What the started service wrote to its standard output and error (the latest 64 KiB).
    std::string serviceOutput() const;
    /// Leaves the channel and ends the service if this client started it.
    void close();

private:
    std::unique_ptr<ClientPrivate> d;
};

/// The resource folder that the service at `executable` reads: beauty_res beside it, else the
/// installed share/facelume/beauty_res; empty when there is neither.
FACELUME_CLIENT_API std::string resourceFolderOf(const std::string& executable);
/// The names of one kind that a resource folder offers, sorted.
FACELUME_CLIENT_API std::vector<std::string> availableNames(const std::string& resourceFolder,
                                                            NameKind kind);

}  // namespace facelume
