#include "files/range_lock.h"

#include <fcntl.h>

#include <cerrno>

namespace pal {

namespace {

struct flock rangeOf(short type, off_t start, off_t length)
{
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = start;
    range.l_len = length;
    return range;
}

} // namespace

bool lockRange(int fd, short type, off_t start, off_t length, bool wait)
{
    struct flock range = rangeOf(type, start, length);
    int result;
    do
        result = fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &range);
    while (result != 0 && errno == EINTR);
    return result == 0;
}

bool rangeHeldElsewhere(int fd, off_t start, off_t length)
{
    struct flock range = rangeOf(F_WRLCK, start, length);
    return fcntl(fd, F_OFD_GETLK, &range) == 0 && range.l_type != F_UNLCK;
}

} // namespace pal
