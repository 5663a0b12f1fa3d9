// The devsim program's command line: printers with their ports and behaviour, and where jobs go.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "LprReceiver.h"
#include "RawSink.h"

namespace devsim {

struct PrinterSettings {
    std::string address = "127.0.0.1";
    bool raw = true;
    RawSinkOptions rawOptions;
    bool lpr = false;
    LprReceiverOptions lprOptions;
    std::vector<LprScript> lprOnce; // one per connection, in order
};

struct Settings {
    std::vector<PrinterSettings> printers;
    std::string outFolder;
    uint64_t jobLimit = 0;
    bool help = false;
};

extern const char kUsage[];

// Empty on success, else the complaint.
std::string parseCommandLine(const std::vector<std::string>& arguments, Settings& settings);

} // namespace devsim
