// A local socket that another user listens on, for tests of who may hand what to whom.
#pragma once

#include "support/TempDir.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <string>

#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

// The user nobody listening on a local socket at `path`, in a child process (the test must run
// as root to switch users). Killed when destroyed.
class OtherUserListener {
public:
    explicit OtherUserListener(const std::string& path) {
        const passwd* nobody = ::getpwnam("nobody");
        int ends[2];
        if (!nobody || ::pipe(ends) != 0)
            return;
        const uid_t uid = nobody->pw_uid;
        const gid_t gid = nobody->pw_gid;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ends[0]);
            const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0 ||
                ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                ::listen(listener, 8) != 0)
                ::_exit(1);
            (void)!::write(ends[1], "r", 1);
            const int connection = ::accept(listener, nullptr, nullptr);
            long received = 0;
            char buffer[256];
            for (ssize_t n; (n = ::read(connection, buffer, sizeof buffer)) > 0;)
                received += n;
            (void)!::write(ends[1], &received, sizeof received);
            ::pause();
            ::_exit(0);
        }
        ::close(ends[1]);
        report_ = ends[0];
        char ready = 0;
        listening_ = pid_ > 0 && ::read(report_, &ready, 1) == 1;
    }
    ~OtherUserListener() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (report_ >= 0)
            ::close(report_);
    }
    OtherUserListener(const OtherUserListener&) = delete;
    OtherUserListener& operator=(const OtherUserListener&) = delete;

    bool listening() const { return listening_; }
    // What its first connection sent, once that connection has ended.
    long bytesReceived() const {
        long received = -1;
        return ::read(report_, &received, sizeof received) == sizeof received ? received : -1;
    }

private:
    pid_t pid_ = -1;
    int report_ = -1;
    bool listening_ = false;
};

} // namespace testsupport
