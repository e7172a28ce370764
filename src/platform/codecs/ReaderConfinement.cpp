#include "platform/codecs/ReaderConfinement.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <vector>

#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform::codecs {

void dropInheritedDescriptors(int firstKept, int lastKept) {
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        for (int standard = STDIN_FILENO; standard <= STDERR_FILENO; ++standard)
            ::dup2(null, standard);
    }
    const auto closeFrom = [](unsigned first, unsigned last) {
        if (first > last || ::close_range(first, last, 0) == 0)
            return;
        // Kernels before 5.9: one by one, as far as the descriptor limit goes.
        const long limit = ::sysconf(_SC_OPEN_MAX);
        const unsigned long end = std::min<unsigned long>(last, limit > 0 ? limit - 1 : 1023);
        for (unsigned long fd = first; fd <= end; ++fd)
            ::close(static_cast<int>(fd));
    };
    if (firstKept <= STDERR_FILENO || lastKept < firstKept) {
        closeFrom(STDERR_FILENO + 1, UINT_MAX);
        return;
    }
    closeFrom(STDERR_FILENO + 1, static_cast<unsigned>(firstKept) - 1);
    closeFrom(static_cast<unsigned>(lastKept) + 1, UINT_MAX);
}

void preloadCharacterSets() {
    // Word's Windows and East Asian code pages, and the locale's own. Each converter is left
    // open, so that its module stays loaded while the reader opens and closes its own.
    static const char* const names[] = {"CP1250", "CP1251", "CP1252", "CP1253",   "CP1254", "CP1255",
                                        "CP1256", "CP1257", "CP1258", "CP874",    "CP932",  "BIG5",
                                        "GBK",    "UHC",    "JOHAB",  "MACINTOSH"};
    for (const char* name : names)
        (void)::iconv_open("UCS-2LE", name);
    (void)::iconv_open("UCS-2LE", ::nl_langinfo(CODESET));
}

namespace {

#if defined(__x86_64__)
constexpr unsigned thisArchitecture = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
constexpr unsigned thisArchitecture = AUDIT_ARCH_AARCH64;
#endif

// The low 32 bits of argument `index` (little-endian).
constexpr unsigned argument(int index) {
    return static_cast<unsigned>(offsetof(seccomp_data, args) + index * sizeof(__u64));
}

class FilterBuilder {
public:
    void allow(long nr) {
        add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(nr), 0, 1));
        add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    }
    // Allowed when the flag `bit` of argument `index` is clear (mmap and mprotect without
    // PROT_EXEC) or set, as `wanted`; otherwise the process is killed.
    enum class Flag { clear, set };
    void allowWhen(long nr, int index, __u32 bit, Flag wanted) {
        add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(nr), 0, 4));
        add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, argument(index)));
        // Jumps past the kill when the bit is as wanted.
        const __u8 pastKill = wanted == Flag::set ? 1 : 0;
        add(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, bit, pastKill, static_cast<__u8>(1 - pastKill)));
        add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS));
        add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    }
    void add(sock_filter instruction) { program_.push_back(instruction); }
    // Every check above expects the call's number loaded; a call that matches ends the program
    // (allowed or killed), so the number stays loaded for the next check.
    void loadNumber() { add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))); }
    std::vector<sock_filter>& program() { return program_; }

private:
    std::vector<sock_filter> program_;
};

} // namespace

// Landlock with every file-system right it knows handled and none granted: no file can be opened,
// made or changed by path, whatever the seccomp filter lets through. False when the kernel has no
// Landlock (before 5.13, or switched off); the filter then stands alone.
static bool denyFileSystem() {
#if defined(__NR_landlock_create_ruleset) && defined(__NR_landlock_restrict_self)
    const long abi = ::syscall(__NR_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1)
        return false;
    // Version 1 knows 13 rights (bits 0-12); 2 adds "refer", 3 "truncate", 5 "ioctl on devices".
    const unsigned rights = abi >= 5 ? 16 : abi >= 3 ? 15 : abi >= 2 ? 14 : 13;
    landlock_ruleset_attr attributes{};
    attributes.handled_access_fs = (__u64{1} << rights) - 1;
    const long ruleset = ::syscall(__NR_landlock_create_ruleset, &attributes, sizeof attributes, 0);
    if (ruleset < 0)
        return false;
    const bool restricted = ::syscall(__NR_landlock_restrict_self, static_cast<int>(ruleset), 0) == 0;
    ::close(static_cast<int>(ruleset));
    return restricted;
#else
    return false;
#endif
}

bool confineToOpenFiles() {
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    (void)denyFileSystem();
#if defined(__x86_64__) || defined(__aarch64__)
    FilterBuilder filter;
    // Calls made through another architecture's numbers (x86's 32-bit entry) are refused.
    filter.add(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)));
    filter.add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, thisArchitecture, 1, 0));
    filter.add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS));
    filter.loadNumber();
#if defined(__x86_64__)
    // The x32 calling convention: same architecture, numbers with bit 30 set.
    filter.add(BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, 0x40000000, 0, 1));
    filter.add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS));
#endif
    // Reading the open file and writing the reply (and to /dev/null).
    for (const long nr :
         {SYS_read, SYS_pread64, SYS_readv, SYS_lseek, SYS_write, SYS_writev, SYS_fstat, SYS_close})
        filter.allow(nr);
    // Memory, and waiting for it when a lock is contended.
    for (const long nr : {SYS_brk, SYS_munmap, SYS_mremap, SYS_madvise, SYS_futex})
        filter.allow(nr);
    // Leaving, returning from a signal handler the parent left installed, the clock, and the
    // signal stack a sanitizer's runtime takes down on the way out.
    for (const long nr : {SYS_exit, SYS_exit_group, SYS_rt_sigreturn, SYS_clock_gettime, SYS_sigaltstack})
        filter.allow(nr);
    filter.allowWhen(SYS_mmap, 2, PROT_EXEC, FilterBuilder::Flag::clear);
    filter.allowWhen(SYS_mprotect, 2, PROT_EXEC, FilterBuilder::Flag::clear);
    // glibc's fstat is newfstatat(fd, "", AT_EMPTY_PATH), but the kernel resolves any path given
    // with it too, and a filter cannot see the string: every form fails (stdio then picks its
    // buffer size without it). Nothing that takes a path is let through.
    filter.add(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(SYS_newfstatat), 0, 1));
    filter.add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EACCES));
    filter.add(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS));
    std::vector<sock_filter>& program = filter.program();
    const sock_fprog fprog{static_cast<unsigned short>(program.size()), program.data()};
    return ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &fprog, 0, 0) == 0;
#else
    return false;
#endif
}

} // namespace platform::codecs
