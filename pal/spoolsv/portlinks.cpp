#include "portlinks.h"

namespace spoolsv {

// The port is opened and used only under busy; ClosePort runs when the last user lets go.
struct PortLinks::Link {
    Link(std::shared_ptr<const Monitor> monitor, std::u16string name)
        : monitor(std::move(monitor)), name(std::move(name))
    {
    }
    ~Link()
    {
        if (opened)
            monitor->closePort(handle);
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    const std::shared_ptr<const Monitor> monitor;
    const std::u16string name;
    std::mutex busy;
    bool opened = false;
    HANDLE handle = nullptr;
};

PortLinks::Lease::Lease(std::shared_ptr<Link> link, std::unique_lock<std::mutex> busy)
    : link_(std::move(link)), busy_(std::move(busy))
{
}

const Monitor& PortLinks::Lease::monitor() const
{
    return *link_->monitor;
}

HANDLE PortLinks::Lease::port() const
{
    return link_->handle;
}

const std::u16string& PortLinks::Lease::name() const
{
    return link_->name;
}

DWORD PortLinks::acquire(const std::u16string& port, std::unique_ptr<Lease>& lease)
{
    std::shared_ptr<const Monitor> owner = directory_.portOwner(port);
    if (!owner)
        return ERROR_UNKNOWN_PORT;
    std::shared_ptr<Link> link;
    std::shared_ptr<Link> retired; // a link of a monitor that no longer owns the port
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::shared_ptr<Link>& slot = links_[pal::spool::foldName(port)];
        if (!slot || slot->monitor != owner) {
            retired = std::move(slot);
            slot = std::make_shared<Link>(owner, port);
        }
        link = slot;
    }
    retired.reset();
    std::unique_lock<std::mutex> busy(link->busy);
    if (!link->opened) {
        DWORD error = owner->openPort(port, link->handle);
        if (error != ERROR_SUCCESS)
            return error;
        link->opened = true;
    }
    lease = std::make_unique<Lease>(std::move(link), std::move(busy));
    return ERROR_SUCCESS;
}

void PortLinks::closeUnused(std::u16string_view port)
{
    std::shared_ptr<Link> link;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = links_.find(pal::spool::foldName(port));
        if (it == links_.end())
            return;
        link = it->second;
    }
    std::unique_lock<std::mutex> busy(link->busy, std::try_to_lock);
    if (!busy.owns_lock() || !link->opened)
        return;
    link->monitor->closePort(link->handle);
    link->opened = false;
    link->handle = nullptr;
}

void PortLinks::closeAll()
{
    std::map<std::u16string, std::shared_ptr<Link>> closing;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing.swap(links_);
    }
}

} // namespace spoolsv
