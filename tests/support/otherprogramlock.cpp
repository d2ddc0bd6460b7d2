#include "tests/support/otherprogramlock.h"

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace salvora::testing {

#ifndef _WIN32
OtherProgramLock::OtherProgramLock(const std::string &path, bool exclusive, long length) {
    int ready[2];
    if (::pipe(ready) != 0)
        return;
    child_ = ::fork();
    if (child_ == 0) {
        int fd = ::open(path.c_str(), exclusive ? O_RDWR : O_RDONLY);
        struct flock lock {};
        lock.l_type = exclusive ? F_WRLCK : F_RDLCK;
        lock.l_whence = SEEK_SET;
        lock.l_len = length;
        char ok = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    char ok = 'n';
    if (child_ > 0)
        (void)!::read(ready[0], &ok, 1);
    holding_ = ok == 'y';
    ::close(ready[0]);
    ::close(ready[1]);
}

OtherProgramLock::~OtherProgramLock() {
    if (child_ > 0) {
        ::kill(child_, SIGKILL);
        ::waitpid(child_, nullptr, 0);
    }
}
#else
OtherProgramLock::OtherProgramLock(const std::string &, bool, long) {}
OtherProgramLock::~OtherProgramLock() = default;
#endif

} // namespace salvora::testing
