#pragma once

// The file a run writes, made under a temporary name in the output's folder and renamed over the
// output only when the run succeeds, so that a failure or Ctrl-C never leaves a partial output.
// The temporary file is created with O_CREAT | O_EXCL (never through a symlink) under a random
// name, which also tells at once whether the folder is writable. Used by one thread.

#include <string>

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Makes the temporary file; empty on success, else why the output cannot be written.
    std::string create(const std::string& output);
    // Where to write: the temporary file, with the output's extension.
    const std::string& path() const { return m_temporary; }
    // Renames the temporary file over the output; empty on success, else why not.
    std::string commit();
    // Removes the temporary file (the destructor does this unless commit() succeeded).
    void discard();

private:
    std::string m_output;
    std::string m_temporary;
};
