// The ports that jobs are delivered through: each is opened with its monitor's OpenPort on first
// use and stays open until no printer uses it any more, the host stops or its monitor is replaced;
// one job at a time per port, whatever printers share it.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "monitor.h"

namespace spoolsv {

// What the spooler knows about ports: who owns them and the status SetPortW gave them.
class PortDirectory {
public:
    virtual std::shared_ptr<const Monitor> portOwner(std::u16string_view port) const = 0;
    // PORT_STATUS_* and the status text of the port, or false when it has none.
    virtual bool portStatus(std::u16string_view port, DWORD& status, std::u16string& text) const = 0;

protected:
    ~PortDirectory() = default;
};

class PortLinks {
    struct Link;

public:
    // The sole use of an open port, held for one delivery.
    class Lease {
    public:
        Lease(std::shared_ptr<Link> link, std::unique_lock<std::mutex> busy);
        const Monitor& monitor() const;
        HANDLE port() const;
        const std::u16string& name() const;

    private:
        std::shared_ptr<Link> link_;
        std::unique_lock<std::mutex> busy_; // released before the link
    };

    explicit PortLinks(const PortDirectory& directory) : directory_(directory) {}
    PortLinks(const PortLinks&) = delete;
    PortLinks& operator=(const PortLinks&) = delete;

    // Waits while another delivery uses the port; the error when no monitor can open it.
    DWORD acquire(const std::u16string& port, std::unique_ptr<Lease>& lease);
    // ClosePort for a port that no printer uses any more, unless a delivery holds it: the end of
    // that delivery asks again. The next delivery through the port opens it again.
    void closeUnused(std::u16string_view port);
    // ClosePort for every port no lease holds any more (the host stops).
    void closeAll();

private:
    const PortDirectory& directory_;
    std::mutex mutex_;
    std::map<std::u16string, std::shared_ptr<Link>> links_; // by upper-cased port name
};

} // namespace spoolsv
