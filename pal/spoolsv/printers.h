// Printers as the registry keeps them: one key per printer below kPrintersKey, so that printers
// outlive the host.
#pragma once

#include <string>
#include <vector>

#include "pal/registry.h"
#include "pal/winspool.h"
#include "winspool/winspool_wire.h"

namespace spoolsv {

using pal::spool::PrinterFields;

inline constexpr const WCHAR* kPrintersKey = W("SYSTEM\\CurrentControlSet\\Control\\Print\\Printers");

// Printer names are at most this long and hold neither '\' nor ','.
inline constexpr size_t kMaxPrinterName = 220;
// A delivered job stays listed this long unless the printer's value "RetentionMs" says otherwise.
inline constexpr DWORD kDefaultRetentionMs = 10 * 60 * 1000;

struct PrinterSettings {
    std::u16string name;
    std::u16string share;
    std::u16string port;
    std::u16string driver;
    std::u16string comment;
    std::u16string location;
    std::u16string separatorFile;
    std::u16string printProcessor;
    std::u16string datatype;
    std::u16string parameters;
    DWORD attributes = 0;
    DWORD priority = 1;
    DWORD defaultPriority = 0;
    DWORD startTime = 0;
    DWORD untilTime = 0;
    // PRINTER_INFO_5: the retry timeout is how long a failed port call waits before it is retried.
    DWORD notSelectedTimeout = 15000;
    DWORD retryTimeout = 45000;
    bool paused = false;
};

bool validPrinterName(std::u16string_view name);

// New settings from AddPrinterW's PRINTER_INFO_2: ERROR_SUCCESS, or why the fields are refused
// (the port is checked by the caller).
DWORD settingsFromFields(const PrinterFields& fields, PrinterSettings& settings);
// SetPrinterW level 2 on existing settings; the name may only be repeated.
DWORD applyFields(const PrinterFields& fields, PrinterSettings& settings);
PrinterFields fieldsOf(const PrinterSettings& settings);

// Every printer key that holds a port; keys that do not are reported on stderr and skipped.
std::vector<PrinterSettings> loadPrinters();
DWORD savePrinter(const PrinterSettings& settings);
// The printer's "RetentionMs", read when a job has been delivered (tests change it at any time).
DWORD retentionMilliseconds(const std::u16string& printer);

} // namespace spoolsv
