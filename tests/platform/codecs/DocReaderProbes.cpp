// The Word reader program with a probe, named by its last argument, that runs once the reader is
// confined and stands for a file that took the reader over.
#include "platform/codecs/DocReader.h"

#include <csignal>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <linux/futex.h>
#include <map>
#include <string>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

// The document's bytes sealed until the reader is confined, standing in for libgsf's own memory
// input (which the reader hands the bytes to before confinement): while `armed`, the bytes are
// copied into pages that cannot be read until unseal(), which the "seal" probe calls. A read of any
// byte of the document before confinement faults, and the file is reported damaged.
namespace sealing {
bool armed = false;
bool confined = false;
void* pages = nullptr;
std::size_t pagesSize = 0;

void unseal() {
    confined = true;
    if (pages != nullptr)
        ::mprotect(pages, pagesSize, PROT_READ);
}
} // namespace sealing

extern "C" void* gsf_input_memory_new(const unsigned char* buffer, long long length, int needsFree) {
    using Real = void* (*)(const unsigned char*, long long, int);
    static const auto real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "gsf_input_memory_new"));
    if (!sealing::armed || sealing::confined || length <= 0)
        return real(buffer, length, needsFree);
    const long page = ::sysconf(_SC_PAGESIZE);
    sealing::pagesSize = (static_cast<std::size_t>(length) + page - 1) / page * page;
    sealing::pages =
        ::mmap(nullptr, sealing::pagesSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (sealing::pages == MAP_FAILED)
        ::abort();
    std::memcpy(sealing::pages, buffer, static_cast<std::size_t>(length));
    ::mprotect(sealing::pages, sealing::pagesSize, PROT_NONE);
    return real(static_cast<const unsigned char*>(sealing::pages), length, /*needs_free=*/0);
}

int main(int argc, char** argv) {
    using Probe = platform::codecs::DocReader::ConfinedProbe;
    const std::map<std::string, Probe> probes = {
        {"none", [] {}},
        {"refused", [] { ::syscall(SYS_exit_group, 3); }},
        {"seal", sealing::unseal},
        {"open", [] { (void)::open("/etc/passwd", O_RDONLY | O_CLOEXEC); }},
        {"socket", [] { (void)::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }},
        {"signal", [] { (void)::kill(::getppid(), 0); }},
        {"exec-memory",
         [] { (void)::mmap(nullptr, 4096, PROT_READ | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0); }},
        {"lookups",
         [] {
             struct stat status {};
             if (::stat("/etc/passwd", &status) == 0 ||
                 ::syscall(SYS_newfstatat, AT_FDCWD, "/etc/passwd", &status, AT_EMPTY_PATH) == 0)
                 ::abort();
         }},
        // Waits for good, as a reader stuck on a lock would.
        {"hang",
         [] {
             int never = 0;
             for (;;)
                 ::syscall(SYS_futex, &never, FUTEX_WAIT, 0, nullptr, nullptr, 0);
         }},
    };
    const auto found = probes.find(argc > 0 ? argv[argc - 1] : "");
    sealing::armed = found != probes.end() && found->first == "seal";
    return platform::codecs::DocReader::readerMain(argc, argv,
                                                   found != probes.end() ? found->second : Probe{});
}
