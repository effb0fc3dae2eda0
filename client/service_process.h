#pragma once

// The facelume service as a child process of the client. Its standard output and error are read
// all the time by a thread of their own (so that the service never blocks on a full pipe) and the
// latest 64 KiB are kept, to quote the service's own reason when it fails. On Linux the child is
// killed when the thread that started it ends; on Windows when the client process ends.
// Used by one thread at a time; output() may be called from any thread.

#include <memory>
#include <string>
#include <vector>

#include "facelume_client.h"

namespace facelume {

class ServiceProcessPrivate;

class ServiceProcess {
public:
    ServiceProcess();
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    Result start(const std::string& executable, const std::vector<std::string>& arguments);
    bool isRunning();
    // "exited with code 255", "was killed by signal 9"; empty while it runs.
    std::string exitDescription();
    std::string output() const;
    // Asks the service to end, kills it if it does not within a moment, and reaps it.
    void stop();

    static bool isExecutable(const std::string& path);
    static std::string folderOf(const std::string& path);
    static bool exists(const std::string& path);
    // File name of the effect engine library on this platform.
    static const char* engineFileName();

private:
    std::unique_ptr<ServiceProcessPrivate> d;
};

}  // namespace facelume
