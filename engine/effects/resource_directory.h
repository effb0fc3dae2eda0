#pragma once

// The named resource files of one kind in one folder ("<folder>/<name><extension>"), as the
// effects look them up by the name a client sends. Names are plain file names: anything with
// a path separator or a parent reference is never found. Reads the file system on each call;
// meant for configure time, not for every frame.

#include <string>

namespace facelume {

class ResourceDirectory {
public:
    ResourceDirectory(std::string folder, std::string extension);

    // The file's path, or an empty string when the name is not a plain name or no such file
    // exists.
    std::string find(const std::string& name) const;
    // The names present, sorted and comma separated ("none" when there are none), for messages.
    std::string listing() const;
    const std::string& folder() const { return m_folder; }

private:
    std::string m_folder;
    std::string m_extension;
};

}  // namespace facelume
