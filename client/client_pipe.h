#pragma once

// The text side of a channel as the client sees it. The client listens under the service's send
// name + "_pipe", where a starting service connects and announces itself with "ServerCreated";
// it connects to the service's receive name + "_pipe" to write its control lines. Native names:
// on Linux AF_UNIX stream sockets named NAME in the user's private socket folder
// (protocol::socketPath), on Windows the named pipes \\.\pipe\NAME. Used by one thread at a time.

#include <functional>
#include <memory>
#include <string>

#include "facelume_client.h"

namespace facelume {

class ClientPipePrivate;

class ClientPipe {
public:
    ClientPipe();
    ~ClientPipe();
    ClientPipe(const ClientPipe&) = delete;
    ClientPipe& operator=(const ClientPipe&) = delete;

    // Listens under `name`; a leftover of a crashed process under that name is removed first,
    // a live listener is an error.
    Result listen(const std::string& name);
    // Waits for the service's connection and its "ServerCreated" line. `keepWaiting` is asked
    // every few milliseconds and ends the wait early when it returns false.
    Result waitForAnnouncement(int timeoutMs, const std::function<bool()>& keepWaiting);
    // Connects to the service's listener, trying again until it answers or time runs out.
    Result connect(const std::string& name, int timeoutMs);
    // Writes whole lines in one write, so that the service reads them in one piece. A service
    // that takes nothing for timeoutMs gives Timeout; when that cuts a line off, the connection
    // is closed, since the rest of the line would run into the next one.
    Result writeLines(const std::string& lines, int timeoutMs);
    // Removes a leftover under `name` that nobody listens on. False when someone listens.
    static bool removeStale(const std::string& name);
    void close();

private:
    static Result stalledWrite(bool lineCutOff, int timeoutMs);

    std::unique_ptr<ClientPipePrivate> d;
};

}  // namespace facelume
