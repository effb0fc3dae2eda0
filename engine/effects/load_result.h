#pragma once

// The outcome of loading one resource file (a LUT, a sticker, a colour table): success, or a
// message that names the file and what is wrong with it, ready to show to a user.

#include <string>
#include <utility>

namespace facelume {

struct [[nodiscard]] LoadResult {
    std::string error;

    bool ok() const { return error.empty(); }
    static LoadResult success() { return {}; }
    static LoadResult failure(std::string message) { return {std::move(message)}; }
};

}  // namespace facelume
