// Decodes requests of the spooler protocol (winspool_wire.h), runs them on the spooler and
// encodes the replies; serves the host's own process in-process as well.
#pragma once

#include "spooler.h"
#include "winspool/winspool_local.h"

namespace spoolsv {

using pal::spool::Bytes;
using pal::spool::Reader;

class Dispatcher : public pal::spool::LocalServer {
public:
    explicit Dispatcher(Spooler& spooler) : spooler_(spooler) {}

    Bytes serve(const Caller& caller, const Bytes& request);
    // In-process callers: the host session, with administrator rights.
    Bytes serve(const Bytes& request) override;
    // A connection ended: the handles it left open are closed.
    void endSession(uint64_t session) { spooler_.closeSession(session); }

private:
    using Handler = Bytes (Dispatcher::*)(const Caller&, Reader&);
    struct Route {
        pal::spool::Op op;
        Handler handler;
    };
    static const Route routes_[];

    Bytes openPrinter(const Caller& caller, Reader& reader);
    Bytes closePrinter(const Caller& caller, Reader& reader);
    Bytes xcvData(const Caller& caller, Reader& reader);
    Bytes enumPorts(const Caller& caller, Reader& reader);
    Bytes setPort(const Caller& caller, Reader& reader);
    Bytes enumMonitors(const Caller& caller, Reader& reader);
    Bytes addMonitor(const Caller& caller, Reader& reader);
    Bytes deleteMonitor(const Caller& caller, Reader& reader);
    Bytes deletePort(const Caller& caller, Reader& reader);
    Bytes addPrinter(const Caller& caller, Reader& reader);
    Bytes getPrinter(const Caller& caller, Reader& reader);
    Bytes setPrinter(const Caller& caller, Reader& reader);
    Bytes enumPrinters(const Caller& caller, Reader& reader);
    Bytes getJob(const Caller& caller, Reader& reader);
    Bytes setJob(const Caller& caller, Reader& reader);
    Bytes enumJobs(const Caller& caller, Reader& reader);
    Bytes startDocPrinter(const Caller& caller, Reader& reader);
    Bytes writePrinter(const Caller& caller, Reader& reader);
    Bytes endDocPrinter(const Caller& caller, Reader& reader);
    // Reads the handle that starts a printer request; NULL after a failure reply was set.
    std::shared_ptr<PrinterHandle> printerOf(const Caller& caller, Reader& reader, Bytes& failure);

    Spooler& spooler_;
};

} // namespace spoolsv
