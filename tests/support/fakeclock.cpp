// Stand-in for settimeofday, preloaded into clockpull by the tests so that no
// test can set the real clock. It appends "SECONDS MICROSECONDS ZONE" (ZONE is
// "null" or "set") to the file FAKECLOCK_LOG names, and fails with EPERM
// instead when FAKECLOCK_FAIL is set.
#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

extern "C" int settimeofday(const struct timeval* tv, const struct timezone* tz) noexcept
{
    if (std::getenv("FAKECLOCK_FAIL") != nullptr) {
        errno = EPERM;
        return -1;
    }
    const char* log = std::getenv("FAKECLOCK_LOG");
    std::FILE* f = log != nullptr ? std::fopen(log, "a") : nullptr;
    if (f == nullptr) {
        errno = EIO;
        return -1;
    }
    std::fprintf(f, "%lld %lld %s\n", static_cast<long long>(tv->tv_sec), static_cast<long long>(tv->tv_usec),
                 tz == nullptr ? "null" : "set");
    std::fclose(f);
    return 0;
}
