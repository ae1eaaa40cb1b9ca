#pragma once

#include <cstring>
#include <string>

namespace tamrik {

// True when `running` (an interpreter version string such as "3.12.1 (main, ...)") belongs
// to the release `compiled` ("3.12"): it starts with it and no further digit follows, so
// "3.120.0" is not a 3.12 release.
inline bool PythonVersionMatches(const char* running, const char* compiled) {
    size_t length = std::strlen(compiled);
    if (std::strncmp(running, compiled, length) != 0) return false;
    char next = running[length];
    return !(next >= '0' && next <= '9');
}

inline std::string PythonVersionMismatchMessage(const char* running, const char* compiled) {
    return std::string("Python version mismatch: module was compiled for Python ") + compiled +
           ", but the interpreter version is incompatible: " + running + ".";
}

}  // namespace tamrik
