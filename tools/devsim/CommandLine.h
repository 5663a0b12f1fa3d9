// The devsim program's command line: printers with their ports and behaviour, and where jobs go.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Printer.h"
#include "Simulator.h"

namespace devsim {

struct Settings {
    std::vector<PrinterSettings> printers;
    SimulatorSettings simulator;
    std::string outFolder;
    uint64_t jobLimit = 0;
    bool help = false;
};

extern const char kUsage[];

// Empty on success, else the complaint.
std::string parseCommandLine(const std::vector<std::string>& arguments, Settings& settings);

} // namespace devsim
