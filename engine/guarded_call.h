#pragma once

// Runs a piece of the engine so that no exception leaves it: OpenCV and dlib report failures by
// throwing, and nothing may cross the C interface. A caught exception becomes the fallback result
// and one line on standard error naming the operation.

#include <cstdio>
#include <exception>

namespace facelume {

class GuardedCall {
public:
    template <typename F>
    static int run(const char* operation, int fallback, F&& body) noexcept {
        try {
            return body();
        } catch (const std::exception& e) {
            report(operation, e.what());
        } catch (...) {
            report(operation, "unknown exception");
        }
        return fallback;
    }

private:
    static void report(const char* operation, const char* what) noexcept {
        std::fprintf(stderr, "facelume engine: %s failed: %s\n", operation, what);
    }
};

}  // namespace facelume
