// The simulated printers' DMLP side: per device a UDP port (and a TCP port when asked) that answers
// requests about the device's job objects and its state, the subscriptions to its events and the
// notifications it sends, the faults it is told to make, and the control commands that change it
// at run time. One thread serves every device; RAW and LPR receivers report their jobs from their
// own threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "DmlpMessages.h"
#include "Faults.h"

namespace devsim {

using Milliseconds = std::chrono::milliseconds;

// Job states as the device reports them.
constexpr uint8_t kJobPrinting = 7;
constexpr uint8_t kJobDone = 9;
constexpr uint8_t kJobCanceled = 6;
constexpr uint8_t kJobAborted = 8;
// Completion ids in the job log.
constexpr uint8_t kCompletedNormally = 1;
constexpr uint8_t kCompletedCanceled = 6;
constexpr uint8_t kCompletedAborted = 3;

struct DeviceSettings {
    std::string address = "127.0.0.1";
    bool dmlp = true;
    uint16_t dmlpPort = kDmlpPort; // 0: a free port
    bool dmlpTcp = false;          // also on TCP, same port number
    Milliseconds printTime{1000};
    uint32_t impressions = 1;
    Milliseconds keepDone{5000};
    bool reportsDeviceState = true; // 282 in the 490/601/111 list
    bool setsListElements = true;   // 106 in the 512/101/1001 list
    std::vector<FaultRule> faults;
};

struct SimulatorSettings {
    Milliseconds subscriptionLifetime{0}; // 0: subscriptions never expire
    bool broadcast = false;               // answer Echo sent to 127.255.255.255
    uint16_t broadcastPort = kDmlpPort;
    std::string requestLog;               // file, one line per request
    std::string control;                  // Unix socket path of the control commands
    double completionsPerSecond = 0;      // 0: jobs complete as soon as they have printed
    std::string root;                     // platform root, for the ICMP stub table (power off)
};

struct JobInfo {
    std::string device;
    uint32_t handle = 0;
    uint8_t state = 0;
    uint32_t impressions = 0;
    bool receiving = false;
    ClientId clientJobId{};
};

class Simulator {
public:
    using Say = std::function<void(const std::string& line)>;
    // Switches a device's RAW and LPR ports off or on (power); false with a message.
    using PowerSwitch = std::function<bool(const std::string& address, bool on, std::string& error)>;

    Simulator(SimulatorSettings settings, Say say);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Before start.
    void addDevice(const DeviceSettings& settings);
    void setPowerSwitch(PowerSwitch powerSwitch) { powerSwitch_ = std::move(powerSwitch); }
    // Opens the ports and starts serving; false with a message.
    bool start(std::string& error);
    void stop();

    uint16_t dmlpPort(const std::string& address) const;
    uint16_t broadcastPort() const;

    // A job arrived by RAW or LPR (its client job id read from the front of its data); drop, when
    // given, breaks its connection. Returns the job object's handle (0: no such device or it is off).
    uint32_t jobArrived(const std::string& address, const ClientId& clientJobId, std::function<void()> drop);
    // All its data arrived (complete) or the connection broke.
    void jobDataEnded(uint32_t handle, bool complete);

    // One control command (the words of a line); the reply's lines, the last "ok" or "error: ...".
    std::string command(const std::vector<std::string>& words);

    std::vector<JobInfo> jobs() const;
    std::vector<std::string> requestLog() const;
    // Waits until condition holds for the jobs; false when the time ran out.
    bool waitForJobs(const std::function<bool(const std::vector<JobInfo>&)>& condition, Milliseconds timeout) const;

    struct Impl; // the state, shared by the simulator's source files

private:
    std::unique_ptr<Impl> impl_;
    PowerSwitch powerSwitch_;
};

} // namespace devsim
