#include "client_pipe.h"

namespace facelume {

Result ClientPipe::stalledWrite(bool lineCutOff, int timeoutMs) {
    const std::string stalled = "the service took no control line for " +
                                std::to_string(timeoutMs) + " ms (stopped or overloaded)";
    if (lineCutOff) {
        return {Status::ServiceFailed,
                stalled + "; the control pipe was closed in the middle of a line: connect again"};
    }
    return {Status::Timeout, stalled + "; the control was not sent, try again later"};
}

}  // namespace facelume
