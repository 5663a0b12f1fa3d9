// Share modes of open files, enforced between the opens of every process of the platform root.
//
// Each open with data access keeps a record file <root>/run/files/<device>-<inode> open and holds
// shared OFD locks on its bytes: one byte per access it has (read, write, delete) and one per
// access it denies; a loaded module also holds the image byte, so that its file cannot be deleted
// or replaced while it is mapped. A new open tests, under an exclusive lock of the gate byte, that nobody denies
// an access it wants and that nobody has an access it denies. Locks vanish with their descriptor,
// so a crashed process leaves no stale share state; the last open removes the record file.
#pragma once

#include <string>
#include <sys/types.h>

#include "pal/types.h"

namespace pal {

// The folder of the record files and of the file layer's other cross-process locks.
std::string lockFolder();

class ShareRecord {
public:
    ShareRecord() = default;
    ~ShareRecord() { release(); }
    ShareRecord(const ShareRecord&) = delete;
    ShareRecord& operator=(const ShareRecord&) = delete;

    // Records an open of the file (device, inode) with Windows access rights and share mode;
    // ERROR_SHARING_VIOLATION when it conflicts with an open recorded before.
    DWORD take(dev_t device, ino_t inode, DWORD access, DWORD share);
    // The hold of a module loaded from the file: read and execute, sharing read and delete (it may be
    // renamed), and the image byte.
    DWORD takeImage(dev_t device, ino_t inode);
    // Whether another open holds the file as a loaded module's image.
    bool heldAsImageElsewhere() const;
    void release();

private:
    DWORD take(dev_t device, ino_t inode, DWORD access, DWORD share, bool image);

    int fd_ = -1;
    std::string path_;
};

} // namespace pal
