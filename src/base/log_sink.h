#pragma once

#include <functional>
#include <sstream>
#include <string>

namespace tamrik {

// Every line the core prints goes through here: by default to standard output or standard
// error as before, or, once a handler is set, to the handler alone (from whichever thread
// logs it, one line at a time). A handler also hears kEndOfWork, with an empty line, when a
// solve or a check ends, for one that holds lines back.
enum class LogStream { kOut, kError, kEndOfWork };
using LogHandler = std::function<void(LogStream stream, const std::string& line)>;

// An empty handler restores the default.
void SetLogHandler(LogHandler handler);
// `line` without its newline.
void LogLine(LogStream stream, const std::string& line);

// Tells the handler, if one is set, that a solve or a check has ended.
void EndOfWork();

// Calls EndOfWork when it goes out of scope, also when an exception passes.
class EndOfWorkNotice {
public:
    EndOfWorkNotice() = default;
    ~EndOfWorkNotice() { EndOfWork(); }
    EndOfWorkNotice(const EndOfWorkNotice&) = delete;
    EndOfWorkNotice& operator=(const EndOfWorkNotice&) = delete;
};

// While one lives, lines logged on its thread are dropped (for work done only to learn
// something, such as a solver set up to check an instance).
class QuietLines {
public:
    QuietLines();
    ~QuietLines();
    QuietLines(const QuietLines&) = delete;
    QuietLines& operator=(const QuietLines&) = delete;
};

// The values joined as `operator<<` prints them.
template <class... Values>
std::string LineOf(const Values&... values) {
    std::ostringstream line;
    (line << ... << values);
    return line.str();
}

}  // namespace tamrik
