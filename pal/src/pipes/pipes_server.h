// The instances that one process serves under one pipe name, and the socket clients reach them by.
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pipes/pipes_io.h"
#include "pal/types.h"

namespace pal::pipes {

class Link;
class PipeEnd;

class Group {
public:
    // The process's group of the pipe in folder, made and listening on first use; else null with
    // a Windows error.
    static std::shared_ptr<Group> of(const std::string& folder, DWORD& error);
    Group(std::string folder, std::string path, int fd, IoId id);
    ~Group();
    Group(const Group&) = delete;
    Group& operator=(const Group&) = delete;

    void add(const std::shared_ptr<PipeEnd>& instance);
    void remove(const PipeEnd* instance);
    // Gives the client of link to a free instance (then set in taker); 0, ERROR_PIPE_BUSY or
    // ERROR_ACCESS_DENIED.
    DWORD admit(const std::shared_ptr<Link>& link, DWORD access, uid_t peer, std::shared_ptr<PipeEnd>& taker);
    // Whether an instance would take a client now; the pipe's default time-out.
    bool hasFreeInstance(DWORD& defaultTimeout);

private:
    std::vector<std::shared_ptr<PipeEnd>> instances();

    const std::string folder_;
    const std::string path_;
    const int fd_;
    const IoId id_;
    std::mutex mutex_;
    std::vector<std::weak_ptr<PipeEnd>> instances_;
};

} // namespace pal::pipes
