// Running code in a child process that has run out of file descriptors.
#pragma once

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

// Runs `attempt` in a forked child whose descriptor table is full but for `spare` free places,
// and returns the text it returned, or "crashed by signal N" / "ended with status N".
inline std::string inChildShortOfDescriptors(int spare, const std::function<std::string()>& attempt) {
    int ends[2];
    if (::pipe(ends) != 0)
        return "no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        // A low limit keeps the filling short.
        rlimit limit{};
        ::getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_cur, 256);
        ::setrlimit(RLIMIT_NOFILE, &limit);
        std::vector<int> filler;
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            filler.push_back(fd);
        for (int i = 0; i < spare && !filler.empty(); ++i) {
            ::close(filler.back());
            filler.pop_back();
        }
        const std::string text = attempt();
        (void)!::write(ends[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(ends[1]);
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(ends[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(n));
    ::close(ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (WIFSIGNALED(status))
        return "crashed by signal " + std::to_string(WTERMSIG(status));
    if (WEXITSTATUS(status) != 0)
        return "ended with status " + std::to_string(WEXITSTATUS(status));
    return text;
}

} // namespace testsupport
