#include <windows.h>

#include <thread>

#include "service_output.h"
#include "service_process.h"

namespace facelume {
namespace {

// STATUS_DLL_NOT_FOUND: the loader ends a program whose DLLs are missing before it runs, and
// says nothing on its standard output or error.
constexpr DWORD kDllNotFound = 0xC0000135;
constexpr DWORD kOutputSliceMs = 20;

std::wstring widen(const std::string& text) {
    const int units =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units > 0 ? units : 0), L'\0');
    if (units > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0],
                            units);
    }
    return wide;
}

// One argument quoted the way the C runtime splits a command line.
std::wstring quote(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

}  // namespace

class ServiceProcessPrivate {
public:
    HANDLE process = nullptr;
    HANDLE job = nullptr;
    HANDLE outputRead = nullptr;
    std::thread reader;
    ServiceOutput output;

    // Reads until the service has ended and all it wrote is taken, not until the pipe's end: a
    // process that the service started may hold the write handle for longer. Wine does so: the
    // first program of a session that makes a window (the service's event loop does) starts
    // explorer.exe /desktop, which keeps that program's standard error for as long as it runs.
    void readOutput() {
        char buffer[4096];
        for (;;) {
            const bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
            DWORD available = 0;
            if (!PeekNamedPipe(outputRead, nullptr, 0, nullptr, &available, nullptr)) return;
            if (available == 0) {
                if (ended) return;
                WaitForSingleObject(process, kOutputSliceMs);
                continue;
            }
            DWORD count = 0;
            const DWORD wanted = available < sizeof buffer ? available : sizeof buffer;
            if (!ReadFile(outputRead, buffer, wanted, &count, nullptr)) return;
            output.append(buffer, count);
        }
    }
};

ServiceProcess::ServiceProcess() : d(std::make_unique<ServiceProcessPrivate>()) {}

ServiceProcess::~ServiceProcess() { stop(); }

bool ServiceProcess::isExecutable(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool ServiceProcess::exists(const std::string& path) {
    return GetFileAttributesW(widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ServiceProcess::folderOf(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

const char* ServiceProcess::engineFileName() { return "mox_ai_effect.dll"; }

Result ServiceProcess::start(const std::string& executable,
                             const std::vector<std::string>& arguments) {
    stop();
    d->output.clear();
    std::wstring commandLine = quote(widen(executable));
    for (const std::string& argument : arguments) commandLine += L" " + quote(widen(argument));

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE outputWrite = nullptr;
    if (!CreatePipe(&d->outputRead, &outputWrite, &inheritable, 0)) {
        return {Status::ServiceFailed,
                "cannot make a pipe (system error " + std::to_string(GetLastError()) + ")"};
    }
    SetHandleInformation(d->outputRead, HANDLE_FLAG_INHERIT, 0);

    // The service goes with the client: the job ends its processes when its last handle closes.
    d->job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (d->job != nullptr) {
        SetInformationJobObject(d->job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = outputWrite;
    startup.hStdError = outputWrite;
    PROCESS_INFORMATION information{};
    // The service runs in its own folder: Windows also looks for DLLs in the working folder, and
    // the client's could hold another engine.
    const BOOL created =
        CreateProcessW(widen(executable).c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                       CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr,
                       widen(folderOf(executable)).c_str(), &startup, &information);
    const DWORD code = GetLastError();
    CloseHandle(outputWrite);
    if (!created) {
        stop();
        return {Status::ServiceNotFound,
                "cannot run " + executable + " (system error " + std::to_string(code) + ")"};
    }
    if (d->job != nullptr) AssignProcessToJobObject(d->job, information.hProcess);
    ResumeThread(information.hThread);
    CloseHandle(information.hThread);
    d->process = information.hProcess;
    d->reader = std::thread([this] { d->readOutput(); });
    return Result::ok();
}

bool ServiceProcess::isRunning() {
    return d->process != nullptr && WaitForSingleObject(d->process, 0) == WAIT_TIMEOUT;
}

std::string ServiceProcess::exitDescription() {
    DWORD code = 0;
    if (d->process == nullptr || isRunning() || !GetExitCodeProcess(d->process, &code)) return {};
    if (code == kDllNotFound) {
        return "could not be loaded: a DLL it needs, such as " + std::string(engineFileName()) +
               ", was not found (0xC0000135)";
    }
    return "exited with code " + std::to_string(static_cast<int>(code));
}

std::string ServiceProcess::output() const { return d->output.text(); }

void ServiceProcess::stop() {
    if (d->process != nullptr) {
        if (isRunning()) TerminateProcess(d->process, 1);
        WaitForSingleObject(d->process, 5000);
    }
    // The reader watches the process: its handle stays open until the reader is done.
    if (d->reader.joinable()) d->reader.join();
    if (d->process != nullptr) CloseHandle(d->process);
    d->process = nullptr;
    if (d->outputRead != nullptr) CloseHandle(d->outputRead);
    d->outputRead = nullptr;
    if (d->job != nullptr) CloseHandle(d->job);
    d->job = nullptr;
}

}  // namespace facelume
