#include "dispatch.h"

#include <algorithm>

namespace spoolsv {

namespace {

using pal::spool::failureReply;
using pal::spool::OptBlob;
using pal::spool::Op;
using pal::spool::replyHead;
using pal::spool::Writer;

Bytes statusReply(DWORD error)
{
    return error == ERROR_SUCCESS ? replyHead(TRUE, 0).take() : failureReply(error);
}

Bytes badRequest()
{
    return failureReply(RPC_X_BAD_STUB_DATA);
}

// The reply of an enumeration: the failure, or the count and then each record as write puts it.
template <class Record, class Write>
Bytes listReply(DWORD error, const std::vector<Record>& records, Write write)
{
    if (error != ERROR_SUCCESS)
        return failureReply(error);
    Writer reply = replyHead(TRUE, 0);
    reply.u32(uint32_t(records.size()));
    for (const Record& record : records)
        write(reply, record);
    return reply.take();
}

// A buffer for a blob the caller passed: at least one byte, so that an empty buffer is still a
// buffer (not NULL) for the monitor.
Bytes bufferFor(const OptBlob& blob, DWORD size)
{
    Bytes buffer(std::max<size_t>(size, 1), 0);
    if (blob)
        std::copy(blob->begin(), blob->end(), buffer.begin());
    return buffer;
}

} // namespace

const Dispatcher::Route Dispatcher::routes_[] = {
    {Op::OpenPrinter, &Dispatcher::openPrinter},
    {Op::ClosePrinter, &Dispatcher::closePrinter},
    {Op::XcvData, &Dispatcher::xcvData},
    {Op::EnumPorts, &Dispatcher::enumPorts},
    {Op::SetPort, &Dispatcher::setPort},
    {Op::EnumMonitors, &Dispatcher::enumMonitors},
    {Op::AddMonitor, &Dispatcher::addMonitor},
    {Op::DeleteMonitor, &Dispatcher::deleteMonitor},
    {Op::DeletePort, &Dispatcher::deletePort},
    {Op::AddPrinter, &Dispatcher::addPrinter},
    {Op::GetPrinter, &Dispatcher::getPrinter},
    {Op::SetPrinter, &Dispatcher::setPrinter},
    {Op::EnumPrinters, &Dispatcher::enumPrinters},
    {Op::GetJob, &Dispatcher::getJob},
    {Op::SetJob, &Dispatcher::setJob},
    {Op::EnumJobs, &Dispatcher::enumJobs},
    {Op::StartDocPrinter, &Dispatcher::startDocPrinter},
    {Op::WritePrinter, &Dispatcher::writePrinter},
    {Op::EndDocPrinter, &Dispatcher::endDocPrinter},
};

Bytes Dispatcher::serve(const Caller& caller, const Bytes& request)
{
    Reader reader(request);
    auto op = static_cast<Op>(reader.u32());
    if (reader.failed())
        return badRequest();
    for (const Route& route : routes_)
        if (route.op == op)
            return (this->*route.handler)(caller, reader);
    return failureReply(ERROR_NOT_SUPPORTED);
}

Bytes Dispatcher::serve(const Bytes& request)
{
    return serve(Caller{kHostSession, true}, request);
}

Bytes Dispatcher::openPrinter(const Caller& caller, Reader& reader)
{
    OptString name = reader.string();
    bool hasDefaults = reader.u32() != 0;
    reader.string(); // the data type matters to printers only
    ACCESS_MASK access = reader.u32();
    OptBlob devMode = reader.blob();
    if (reader.failed())
        return badRequest();
    uint32_t handle = 0;
    pal::spool::HandleKind kind = pal::spool::HandleKind::Xcv;
    DWORD error = spooler_.openPrinter(caller, name, hasDefaults, access, devMode, handle, kind);
    if (error != ERROR_SUCCESS)
        return failureReply(error);
    return replyHead(TRUE, 0).u32(handle).u32(uint32_t(kind)).take();
}

Bytes Dispatcher::closePrinter(const Caller& caller, Reader& reader)
{
    uint32_t handle = reader.u32();
    if (reader.failed())
        return badRequest();
    return statusReply(spooler_.closePrinter(caller, handle));
}

Bytes Dispatcher::xcvData(const Caller& caller, Reader& reader)
{
    uint32_t handle = reader.u32();
    OptString method = reader.string();
    OptBlob input = reader.blob();
    DWORD cbInput = reader.u32();
    DWORD cbOutput = reader.u32();
    OptBlob output = reader.blob();
    bool wantsNeeded = reader.u32() != 0;
    if (reader.failed() || (input && input->size() != cbInput) || (output && output->size() != cbOutput))
        return badRequest();
    Bytes inputBuffer = bufferFor(input, input ? cbInput : 0);
    Bytes outputBuffer = bufferFor(output, output ? cbOutput : 0);
    DWORD needed = 0;
    XcvCall call;
    call.method = method ? method->c_str() : nullptr;
    call.input = input ? inputBuffer.data() : nullptr;
    call.cbInput = cbInput;
    call.output = output ? outputBuffer.data() : nullptr;
    call.cbOutput = cbOutput;
    call.needed = wantsNeeded ? &needed : nullptr;
    DWORD status = ERROR_SUCCESS;
    DWORD error = spooler_.xcvData(caller, handle, call, status);
    if (error != ERROR_SUCCESS)
        return failureReply(error);
    Writer reply = replyHead(TRUE, 0);
    reply.blob(output ? outputBuffer.data() : nullptr, cbOutput);
    return reply.u32(needed).u32(status).take();
}

Bytes Dispatcher::enumPorts(const Caller&, Reader& reader)
{
    OptString server = reader.string();
    DWORD level = reader.u32();
    if (reader.failed())
        return badRequest();
    std::vector<PortRecord> ports;
    DWORD error = spooler_.enumPorts(server, level, ports);
    return listReply(error, ports, [](Writer& reply, const PortRecord& port) {
        reply.string(port.name).string(port.monitor).string(port.description).u32(port.type);
    });
}

Bytes Dispatcher::setPort(const Caller& caller, Reader& reader)
{
    OptString server = reader.string();
    std::u16string port = reader.requiredString();
    DWORD level = reader.u32();
    PORT_INFO_3W status{};
    status.dwStatus = reader.u32();
    OptString text = reader.string();
    status.dwSeverity = reader.u32();
    if (reader.failed())
        return badRequest();
    status.pszStatus = text ? text->data() : nullptr;
    return statusReply(spooler_.setPort(caller, server, port, level, status));
}

Bytes Dispatcher::enumMonitors(const Caller&, Reader& reader)
{
    OptString server = reader.string();
    DWORD level = reader.u32();
    if (reader.failed())
        return badRequest();
    std::vector<MonitorRecord> monitors;
    DWORD error = spooler_.enumMonitors(server, level, monitors);
    return listReply(error, monitors, [](Writer& reply, const MonitorRecord& monitor) {
        reply.string(monitor.name).string(monitor.environment).string(monitor.dll);
    });
}

Bytes Dispatcher::addMonitor(const Caller& caller, Reader& reader)
{
    OptString server = reader.string();
    DWORD level = reader.u32();
    OptString name = reader.string();
    OptString environment = reader.string();
    OptString dll = reader.string();
    if (reader.failed())
        return badRequest();
    if (!name || !dll)
        return failureReply(ERROR_INVALID_PARAMETER);
    return statusReply(spooler_.addMonitor(caller, server, level, *name, environment, *dll));
}

Bytes Dispatcher::deleteMonitor(const Caller& caller, Reader& reader)
{
    OptString server = reader.string();
    OptString environment = reader.string();
    OptString name = reader.string();
    if (reader.failed())
        return badRequest();
    if (!name)
        return failureReply(ERROR_INVALID_PARAMETER);
    return statusReply(spooler_.deleteMonitor(caller, server, environment, *name));
}

Bytes Dispatcher::deletePort(const Caller& caller, Reader& reader)
{
    OptString server = reader.string();
    std::u16string port = reader.requiredString();
    if (reader.failed())
        return badRequest();
    return statusReply(spooler_.deletePort(caller, server, port));
}

std::shared_ptr<PrinterHandle> Dispatcher::printerOf(const Caller& caller, Reader& reader, Bytes& failure)
{
    uint32_t handle = reader.u32();
    if (reader.failed()) {
        failure = badRequest();
        return nullptr;
    }
    std::shared_ptr<PrinterHandle> printer = spooler_.printerHandle(caller, handle);
    if (!printer)
        failure = failureReply(ERROR_INVALID_HANDLE);
    return printer;
}

Bytes Dispatcher::addPrinter(const Caller& caller, Reader& reader)
{
    OptString server = reader.string();
    pal::spool::PrinterFields fields = pal::spool::readPrinterFields(reader);
    if (reader.failed())
        return badRequest();
    uint32_t handle = 0;
    DWORD error = spooler_.addPrinter(caller, server, fields, handle);
    if (error != ERROR_SUCCESS)
        return failureReply(error);
    return replyHead(TRUE, 0).u32(handle).u32(uint32_t(pal::spool::HandleKind::Printer)).take();
}

Bytes Dispatcher::getPrinter(const Caller& caller, Reader& reader)
{
    Bytes failure;
    std::shared_ptr<PrinterHandle> printer = printerOf(caller, reader, failure);
    if (!printer)
        return failure;
    PrinterRecord record;
    DWORD error = spooler_.queues().getPrinter(*printer, record);
    if (error != ERROR_SUCCESS)
        return failureReply(error);
    Writer reply = replyHead(TRUE, 0);
    pal::spool::writePrinterRecord(reply, record);
    return reply.take();
}

Bytes Dispatcher::setPrinter(const Caller& caller, Reader& reader)
{
    Bytes failure;
    std::shared_ptr<PrinterHandle> printer = printerOf(caller, reader, failure);
    if (!printer)
        return failure;
    PrinterUpdate update;
    update.level = reader.u32();
    update.command = reader.u32();
    if (update.level == 2) {
        update.fields = pal::spool::readPrinterFields(reader);
    } else if (update.level == 5) {
        update.attributes = reader.u32();
        update.notSelectedTimeout = reader.u32();
        update.retryTimeout = reader.u32();
    }
    if (reader.failed())
        return badRequest();
    return statusReply(spooler_.queues().setPrinter(caller, *printer, update));
}

Bytes Dispatcher::enumPrinters(const Caller&, Reader& reader)
{
    DWORD flags = reader.u32();
    OptString name = reader.string();
    if (reader.failed())
        return badRequest();
    std::vector<PrinterRecord> printers;
    DWORD error = spooler_.enumPrinters(flags, name, printers);
    return listReply(error, printers, pal::spool::writePrinterRecord);
}

Bytes Dispatcher::getJob(const Caller& caller, Reader& reader)
{
    Bytes failure;
    std::shared_ptr<PrinterHandle> printer = printerOf(caller, reader, failure);
    if (!printer)
        return failure;
    DWORD id = reader.u32();
    if (reader.failed())
        return badRequest();
    JobRecord record;
    DWORD error = spooler_.queues().getJob(*printer, id, record);
    if (error != ERROR_SUCCESS)
        return failureReply(error);
    Writer reply = replyHead(TRUE, 0);
    pal::spool::writeJob(reply, record);
    return reply.take();
}

Bytes Dispatcher::setJob(const Caller& caller, Reader& reader)
{
    Bytes failure;
    std::shared_ptr<PrinterHandle> printer = printerOf(caller, reader, failure);
    if (!printer)
        return failure;
    DWORD id = reader.u32();
    DWORD level = reader.u32();
    DWORD command = reader.u32();
    if (reader.failed())
        return badRequest();
    return statusReply(spooler_.queues().setJob(caller, *printer, id, level, command));
}

Bytes Dispatcher::enumJobs(const Caller& caller, Reader& reader)
{
    Bytes failure;
    std::shared_ptr<PrinterHandle> printer = printerOf(caller, reader, failure);
    if (!printer)
        return failure;
    DWORD first = reader.u32();
    DWORD count = reader.u32();
    if (reader.failed())
        return badRequest();
    std::vector<JobRecord> jobs;
    DWORD error = spooler_.queues().enumJobs(*printer, first, count, jobs);
    return listReply(error, jobs, pal::spool::writeJob);
}

Bytes Dispatcher::startDocPrinter(const Caller& caller, Reader& reader)
{
    Bytes failure;
    std::shared_ptr<PrinterHandle> printer = printerOf(caller, reader, failure);
    if (!printer)
        return failure;
    DocumentInfo info;
    info.document = reader.string();
    reader.string(); // an output file is not supported: the job goes to the port
    info.datatype = reader.string();
    info.user = reader.requiredString();
    info.machine = reader.requiredString();
    if (reader.failed())
        return badRequest();
    DWORD id = 0;
    DWORD error = spooler_.queues().startDoc(*printer, info, id);
    if (error != ERROR_SUCCESS)
        return failureReply(error);
    return replyHead(id, 0).take();
}

Bytes Dispatcher::writePrinter(const Caller& caller, Reader& reader)
{
    Bytes failure;
    std::shared_ptr<PrinterHandle> printer = printerOf(caller, reader, failure);
    if (!printer)
        return failure;
    OptBlob data = reader.blob();
    if (reader.failed() || !data)
        return badRequest();
    DWORD written = 0;
    DWORD error = spooler_.queues().writePrinter(*printer, data->data(), data->size(), written);
    if (error != ERROR_SUCCESS)
        return failureReply(error);
    return replyHead(TRUE, 0).u32(written).take();
}

Bytes Dispatcher::endDocPrinter(const Caller& caller, Reader& reader)
{
    Bytes failure;
    std::shared_ptr<PrinterHandle> printer = printerOf(caller, reader, failure);
    if (!printer)
        return failure;
    return statusReply(spooler_.queues().endDoc(*printer));
}

} // namespace spoolsv
