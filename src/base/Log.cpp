#include "base/Log.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace base {
namespace {

std::mutex& sinkMutex() {
    static auto* m = new std::mutex; // never destroyed: logging may run during exit
    return *m;
}

LogSink& sink() {
    static auto* s = new LogSink;
    return *s;
}

// The journal's native socket, when systemd-journald runs. One datagram per line.
int journalSocket() {
    static const int fd = [] {
        const char* path = "/run/systemd/journal/socket";
        if (access(path, W_OK) != 0) {
            return -1;
        }
        int s = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (s < 0) {
            return -1;
        }
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path);
        if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            close(s);
            return -1;
        }
        return s;
    }();
    return fd;
}

void defaultLog(std::string_view line) {
    std::string text(line);
    text.push_back('\n');
    std::fwrite(text.data(), 1, text.size(), stderr);
    if (int fd = journalSocket(); fd >= 0) {
        std::string entry = "SYSLOG_IDENTIFIER=cuewright\nMESSAGE=";
        entry.append(line);
        entry.push_back('\n');
        // A line with a newline inside would need the binary field form; keep it to one line.
        for (size_t i = entry.find("MESSAGE=") + 8; i + 1 < entry.size(); ++i) {
            if (entry[i] == '\n') {
                entry[i] = ' ';
            }
        }
        (void)send(fd, entry.data(), entry.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
}

// A line quoting text from outside (a file name, a setting, a datagram) can be of any size: it
// is cut at a character boundary, saying how much was left out.
std::string_view bounded(std::string_view line, std::string& storage) {
    if (line.size() <= kMaxLogLineBytes) {
        return line;
    }
    std::size_t end = kMaxLogLineBytes;
    while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) {
        --end; // not inside a UTF-8 sequence
    }
    storage.assign(line.substr(0, end));
    storage += "\u2026 (" + std::to_string(line.size() - end) + " bytes more)";
    return storage;
}

} // namespace

void log(std::string_view whole) {
    std::string storage;
    const std::string_view line = bounded(whole, storage);
    std::lock_guard lock(sinkMutex());
    if (sink()) {
        sink()(line);
        return;
    }
    defaultLog(line);
}

[[noreturn]] void fatal(std::string_view message) {
    {
        std::lock_guard lock(sinkMutex());
        std::string text = "fatal: ";
        text.append(message);
        if (sink()) {
            sink()(text);
        }
        defaultLog(text);
        std::fflush(stderr);
    }
    std::abort();
}

LogSink setLogSink(LogSink newSink) {
    std::lock_guard lock(sinkMutex());
    return std::exchange(sink(), std::move(newSink));
}

} // namespace base
