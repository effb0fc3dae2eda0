#include <string>

#include "helper_process.h"

std::string uniqueName(const std::string& base) {
    std::string id;
    for (const char digit : std::to_string(currentProcessId())) {
        id += static_cast<char>('a' + (digit - '0'));
    }
    return "facelumetestP" + id + "X_" + base;
}
