#include "temporaryfiles_posix.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// The temporary files alive at any moment, for the signal handler: a fixed
// table it can read without allocating or locking.
struct Temporary
{
    std::atomic<bool> used{false};
    int folder = -1;
    char name[64] = {};
};
constexpr int kSlots = 64;
Temporary temporaries[kSlots];
std::atomic<unsigned> counter{0};

} // namespace

int temporaryfiles::add(int folder, const QByteArray &name)
{
    for (int i = 0; i < kSlots; ++i) {
        bool expected = false;
        if (temporaries[i].used.load() || size_t(name.size()) >= sizeof temporaries[i].name)
            continue;
        temporaries[i].folder = folder;
        std::memcpy(temporaries[i].name, name.constData(), size_t(name.size()) + 1);
        if (temporaries[i].used.compare_exchange_strong(expected, true))
            return i;
    }
    return -1; // not cleaned up on a signal, but still removed on failure
}

void temporaryfiles::remove(int slot)
{
    if (slot >= 0)
        temporaries[slot].used.store(false);
}

namespace {

extern "C" void removeTemporariesAndStop(int signal)
{
    for (Temporary &t : temporaries) {
        if (t.used.load())
            ::unlinkat(t.folder, t.name, 0);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

QByteArray temporaryfiles::newName(const char *ending)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, ".vorland-%ld-%u.%s", long(::getpid()), counter++, ending);
    return buffer;
}

void temporaryfiles::removeLeftOvers(int folder)
{
    static std::mutex lock;
    static std::set<std::pair<dev_t, ino_t>> swept;
    struct stat info;
    if (::fstat(folder, &info) != 0)
        return;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!swept.insert({info.st_dev, info.st_ino}).second)
            return;
    }
    const int copy = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!dir) {
        if (copy >= 0)
            ::close(copy);
        return;
    }
    const long self = long(::getpid());
    while (const dirent *item = ::readdir(dir)) {
        long pid = 0;
        unsigned number = 0;
        int length = 0;
        if (std::strncmp(item->d_name, ".vorland-", 9) != 0 ||
            std::sscanf(item->d_name, ".vorland-%ld-%u.part%n", &pid, &number, &length) != 2 ||
            item->d_name[length] != '\0' || pid <= 0 || pid == self)
            continue;
        struct stat file;
        if (::kill(pid_t(pid), 0) != 0 && errno == ESRCH &&
            ::fstatat(folder, item->d_name, &file, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(file.st_mode) && file.st_uid == ::geteuid())
            ::unlinkat(folder, item->d_name, 0);
    }
    ::closedir(dir);
}

void removeTemporariesOnSignals()
{
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action = {}, previous = {};
        action.sa_handler = removeTemporariesAndStop;
        sigemptyset(&action.sa_mask);
        // A signal the caller chose to ignore stays ignored.
        if (::sigaction(signal, &action, &previous) == 0 && previous.sa_handler == SIG_IGN)
            ::sigaction(signal, &previous, nullptr);
    }
    std::signal(SIGXFSZ, SIG_IGN);
}
