// Byte-range locks of open file descriptions (OFD): held per open, released with its descriptor, so
// they serve as cross-process records that a crashed process cannot leave behind.
#pragma once

#include <sys/types.h>

namespace pal {

// Takes (F_RDLCK, F_WRLCK) or releases (F_UNLCK) the lock of [start, start + length); with wait it
// blocks until the lock is granted. A wait cut short by a signal is resumed.
bool lockRange(int fd, short type, off_t start, off_t length, bool wait);
// Whether another open of the file holds a lock that overlaps [start, start + length).
bool rangeHeldElsewhere(int fd, off_t start, off_t length);

} // namespace pal
