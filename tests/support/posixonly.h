// Included into every test source of the Windows build: the few POSIX calls some tests make
// to set a scene (another program's lock, a symbolic link) exist there only as failures, so
// the sources compile and the tests that need them are filtered out (tests/CMakeLists.txt).
#pragma once

#ifdef _WIN32
#include <cerrno>

#ifndef LOCK_SH
#define LOCK_SH 1
#define LOCK_EX 2
#define LOCK_NB 4
#define LOCK_UN 8
#endif

inline int flock(int, int) {
    errno = ENOSYS;
    return -1;
}

inline int symlink(const char *, const char *) {
    errno = ENOSYS;
    return -1;
}
#endif
