// One simulated printer's job ports (RAW and LPR) and the device behind them: each job's client
// job id is read from the front of its data and the job becomes one of the device's job objects.
// Power off closes the ports (connections are refused); power on opens them again.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "JobHeader.h"
#include "LprReceiver.h"
#include "RawSink.h"
#include "Simulator.h"

namespace devsim {

struct PrinterSettings {
    std::string address = "127.0.0.1";
    bool raw = true;
    RawSinkOptions rawOptions;
    bool lpr = false;
    LprReceiverOptions lprOptions;
    std::vector<LprScript> lprOnce; // one per connection, in order
    DeviceSettings device;          // its DMLP side
};

// What the printer tells its owner: ports ready, jobs ended.
struct PrinterReports {
    std::function<void(const std::string& kind, const std::string& port, const std::string& note)> ready;
    std::function<void(const std::string& port, const RawJob& job)> rawEnded;
    std::function<void(const std::string& port, const LprJob& job)> lprEnded;
};

class Printer {
public:
    // simulator may be null: a printer without a DMLP side.
    Printer(PrinterSettings settings, Simulator* simulator, PrinterReports reports);
    ~Printer();
    Printer(const Printer&) = delete;
    Printer& operator=(const Printer&) = delete;

    bool start(std::string& error);
    void stop();
    bool power(bool on, std::string& error);
    const std::string& address() const { return settings_.address; }
    uint16_t rawPort() const { return rawPort_; }
    uint16_t lprPort() const { return lprPort_; }

private:
    // A job on its way in: its header as read so far, its job object once there is one.
    struct Progress {
        JobHeaderReader header;
        size_t taken = 0;
        uint32_t handle = 0;
    };

    bool startRaw(std::string& error);
    bool startLpr(std::string& error);
    void rawData(size_t index, const uint8_t* data, size_t size);
    void rawEnded(size_t index, const RawJob& job);
    bool lprData(size_t index, std::string_view firstDataFile);
    void lprEnded(size_t index, const LprJob& job);
    void ended(std::map<size_t, Progress>& jobs, size_t index, bool complete);
    uint32_t arrived(const ClientId& id, std::function<void()> drop);

    PrinterSettings settings_;
    Simulator* const simulator_;
    const PrinterReports reports_;
    std::mutex powerMutex_;
    std::unique_ptr<RawSink> rawSink_;
    std::unique_ptr<LprReceiver> lprReceiver_;
    std::map<size_t, Progress> rawJobs_;    // the RAW sink's thread only
    std::map<size_t, Progress> lprJobs_;    // the LPR receiver's thread only
    std::atomic<uint16_t> rawPort_{0};      // read by the ports' threads
    std::atomic<uint16_t> lprPort_{0};
};

} // namespace devsim
