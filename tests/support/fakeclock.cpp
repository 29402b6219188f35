// Stand-in for settimeofday, preloaded into clockpull by the tests so that no
// test can set the real clock. It appends "SECONDS MICROSECONDS ZONE" (ZONE is
// "null" or "set") to the file FAKECLOCK_LOG names, and fails with EPERM
// instead when FAKECLOCK_FAIL is set. time() answers FAKECLOCK_NOW when that
// is set, so that an offset from the local clock can be checked exactly; it
// reads the real clock otherwise.
#include <sys/time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>

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

extern "C" time_t time(time_t* timer) noexcept
{
    const char* now = std::getenv("FAKECLOCK_NOW");
    timespec clock{};
    if (now != nullptr)
        clock.tv_sec = static_cast<time_t>(std::strtoll(now, nullptr, 10));
    else
        clock_gettime(CLOCK_REALTIME, &clock);
    if (timer != nullptr)
        *timer = clock.tv_sec;
    return clock.tv_sec;
}
