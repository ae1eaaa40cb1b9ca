#include "base/log_sink.h"

#include <iostream>
#include <memory>
#include <mutex>
#include <utility>

namespace tamrik {
namespace {

std::mutex& HandlerLock() {
    static std::mutex lock;
    return lock;
}

// Shared so that a line being handled keeps its handler alive while another is set.
std::shared_ptr<const LogHandler>& Handler() {
    static std::shared_ptr<const LogHandler> handler;
    return handler;
}

thread_local int quiet_depth = 0;

}  // namespace

QuietLines::QuietLines() { ++quiet_depth; }
QuietLines::~QuietLines() { --quiet_depth; }

void SetLogHandler(LogHandler handler) {
    auto replacement = handler ? std::make_shared<const LogHandler>(std::move(handler)) : nullptr;
    std::shared_ptr<const LogHandler> replaced;
    {
        std::lock_guard<std::mutex> guard(HandlerLock());
        replaced = std::exchange(Handler(), std::move(replacement));
    }
    // The old handler ends here, outside the lock: its end may wait for locks of its own.
}

std::shared_ptr<const LogHandler> CurrentHandler() {
    std::lock_guard<std::mutex> guard(HandlerLock());
    return Handler();
}

void EndOfWork() {
    if (const std::shared_ptr<const LogHandler> handler = CurrentHandler()) {
        (*handler)(LogStream::kEndOfWork, std::string());
    }
}

void LogLine(LogStream stream, const std::string& line) {
    if (quiet_depth > 0) return;
    const std::shared_ptr<const LogHandler> handler = CurrentHandler();
    if (handler) {
        (*handler)(stream, line);
    } else if (stream == LogStream::kOut) {
        std::cout << line << std::endl;
    } else {
        std::cerr << line << '\n';
    }
}

}  // namespace tamrik
