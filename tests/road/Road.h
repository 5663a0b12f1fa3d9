// The printing road between processes: the spooler host with the port monitor loaded, its ports
// and printers set up through the spooler API, and jobs submitted to them. Used by the cross-process
// tests and the throughput benchmark; the spooler host itself is started with
// spoolertest::SpoolerHost.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

#include "jtrkportcfg.h"

namespace road {

const std::u16string kMonitorName = u"TALLY-DESK Output Beacon Port2";

// Registers JTRKMON2.DLL with the running spooler host.
bool addMonitor();
// Adds a port through the monitor's Xcv method; the Xcv status, or ~0u when the call failed.
DWORD addPort(const PortConfigData& config);
PortConfigData rawPort(const std::u16string& name, const std::u16string& address, uint16_t port);
PortConfigData lprPort(const std::u16string& name, const std::u16string& address, DWORD transferMode);
// Adds a printer on the port; the Windows error, or 0.
DWORD addPrinter(const std::u16string& name, const std::u16string& port);
// Submits the data as one job in writes of piece bytes; the job id, or 0.
DWORD submit(const std::u16string& printer, const std::vector<BYTE>& data, const std::u16string& document,
             size_t piece = 256 * 1024);
// The job's status in the spooler; false when the job is gone.
bool jobStatus(const std::u16string& printer, DWORD job, DWORD& status);

// Writes a file below the platform root (PAL_ROOT), creating its folders.
bool writeRootFile(const std::string& relative, const std::string& text);

// The platform root of a benchmark, set as PAL_ROOT: `root` when given, else PAL_ROOT when set,
// else a new folder prefix-XXXXXX that goes with the object.
class BenchRoot {
public:
    BenchRoot(const std::string& root, const std::string& prefix);
    ~BenchRoot();
    BenchRoot(const BenchRoot&) = delete;
    BenchRoot& operator=(const BenchRoot&) = delete;

    // False when no temporary folder could be made.
    bool ready() const { return ready_; }

private:
    std::string temporary_;
    bool ready_ = true;
};

} // namespace road
