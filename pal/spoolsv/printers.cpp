#include "printers.h"

#include <cstdio>

#include "text.h"

namespace spoolsv {

namespace {

using pal::spool::OptString;

struct TextValue {
    const WCHAR* value;
    std::u16string PrinterSettings::*setting;
    OptString PrinterFields::*field;
};

struct NumberValue {
    const WCHAR* value;
    DWORD PrinterSettings::*setting;
};

// The name is the key's own name and is kept in "Name" as well.
const TextValue kTextValues[] = {
    {W("Name"), &PrinterSettings::name, &PrinterFields::name},
    {W("Share Name"), &PrinterSettings::share, &PrinterFields::share},
    {W("Port"), &PrinterSettings::port, &PrinterFields::port},
    {W("Printer Driver"), &PrinterSettings::driver, &PrinterFields::driver},
    {W("Description"), &PrinterSettings::comment, &PrinterFields::comment},
    {W("Location"), &PrinterSettings::location, &PrinterFields::location},
    {W("Separator File"), &PrinterSettings::separatorFile, &PrinterFields::separatorFile},
    {W("Print Processor"), &PrinterSettings::printProcessor, &PrinterFields::printProcessor},
    {W("Datatype"), &PrinterSettings::datatype, &PrinterFields::datatype},
    {W("Parameters"), &PrinterSettings::parameters, &PrinterFields::parameters},
};

const NumberValue kNumberValues[] = {
    {W("Attributes"), &PrinterSettings::attributes},
    {W("Priority"), &PrinterSettings::priority},
    {W("Default Priority"), &PrinterSettings::defaultPriority},
    {W("StartTime"), &PrinterSettings::startTime},
    {W("UntilTime"), &PrinterSettings::untilTime},
    {W("dnsTimeout"), &PrinterSettings::notSelectedTimeout},
    {W("txTimeout"), &PrinterSettings::retryTimeout},
};

constexpr const WCHAR* kStatusValue = W("Status");
constexpr const WCHAR* kRetentionValue = W("RetentionMs");
constexpr const WCHAR* kDefaultPrintProcessor = W("WinPrint");
constexpr const WCHAR* kDefaultDatatype = W("RAW");

std::u16string keyPath(const std::u16string& printer)
{
    return std::u16string(kPrintersKey) + u"\\" + printer;
}

bool readText(HKEY key, const WCHAR* name, std::u16string& text)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return false;
    std::u16string buffer(size / sizeof(WCHAR) + 1, u'\0');
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size) != ERROR_SUCCESS)
        return false;
    buffer.resize(size / sizeof(WCHAR));
    text = buffer.substr(0, buffer.find(u'\0'));
    return true;
}

bool readNumber(HKEY key, const WCHAR* name, DWORD& number)
{
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof value)
        return false;
    number = value;
    return true;
}

std::vector<std::u16string> printerKeyNames()
{
    std::vector<std::u16string> names;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPrintersKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    WCHAR name[kMaxPrinterName + 2];
    DWORD length = kMaxPrinterName + 2;
    for (DWORD index = 0; RegEnumKeyExW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++index, length = kMaxPrinterName + 2)
        names.emplace_back(name, length);
    RegCloseKey(key);
    return names;
}

bool loadPrinter(const std::u16string& name, PrinterSettings& settings)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath(name).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    for (const TextValue& text : kTextValues)
        readText(key, text.value, settings.*text.setting);
    for (const NumberValue& number : kNumberValues)
        readNumber(key, number.value, settings.*number.setting);
    DWORD status = 0;
    readNumber(key, kStatusValue, status);
    RegCloseKey(key);
    settings.name = name;
    settings.paused = (status & PRINTER_STATUS_PAUSED) != 0;
    return !settings.port.empty();
}

DWORD requireText(const OptString& text, DWORD error)
{
    return text && !text->empty() ? ERROR_SUCCESS : error;
}

} // namespace

bool validPrinterName(std::u16string_view name)
{
    return !name.empty() && name.size() <= kMaxPrinterName && name.find_first_of(u"\\,") == std::u16string_view::npos;
}

DWORD applyFields(const PrinterFields& fields, PrinterSettings& settings)
{
    if (fields.name && !pal::spool::sameName(*fields.name, settings.name))
        return ERROR_INVALID_PRINTER_NAME;
    if (DWORD error = requireText(fields.port, ERROR_UNKNOWN_PORT))
        return error;
    if (DWORD error = requireText(fields.driver, ERROR_UNKNOWN_PRINTER_DRIVER))
        return error;
    std::u16string name = settings.name;
    for (const TextValue& text : kTextValues)
        settings.*text.setting = (fields.*text.field).value_or(std::u16string());
    settings.name = name;
    if (settings.printProcessor.empty())
        settings.printProcessor = kDefaultPrintProcessor;
    if (settings.datatype.empty())
        settings.datatype = kDefaultDatatype;
    settings.attributes = fields.attributes | PRINTER_ATTRIBUTE_LOCAL;
    settings.priority = fields.priority;
    settings.defaultPriority = fields.defaultPriority;
    settings.startTime = fields.startTime;
    settings.untilTime = fields.untilTime;
    return ERROR_SUCCESS;
}

DWORD settingsFromFields(const PrinterFields& fields, PrinterSettings& settings)
{
    if (!fields.name || !validPrinterName(*fields.name))
        return ERROR_INVALID_PRINTER_NAME;
    settings = PrinterSettings{};
    settings.name = *fields.name;
    return applyFields(fields, settings);
}

PrinterFields fieldsOf(const PrinterSettings& settings)
{
    PrinterFields fields;
    for (const TextValue& text : kTextValues)
        fields.*text.field = settings.*text.setting;
    fields.attributes = settings.attributes;
    fields.priority = settings.priority;
    fields.defaultPriority = settings.defaultPriority;
    fields.startTime = settings.startTime;
    fields.untilTime = settings.untilTime;
    return fields;
}

std::vector<PrinterSettings> loadPrinters()
{
    std::vector<PrinterSettings> printers;
    for (const std::u16string& name : printerKeyNames()) {
        PrinterSettings settings;
        if (loadPrinter(name, settings))
            printers.push_back(std::move(settings));
        else
            std::fprintf(stderr, "spoolsv: printer \"%s\" has no port and is left out\n", printable(name).c_str());
    }
    return printers;
}

DWORD savePrinter(const PrinterSettings& settings)
{
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath(settings.name).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                  nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return DWORD(status);
    for (const TextValue& text : kTextValues) {
        const std::u16string& value = settings.*text.setting;
        if (status == ERROR_SUCCESS)
            status = RegSetValueExW(key, text.value, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                    DWORD((value.size() + 1) * sizeof(WCHAR)));
    }
    DWORD printerStatus = settings.paused ? PRINTER_STATUS_PAUSED : 0;
    for (const NumberValue& number : kNumberValues)
        if (status == ERROR_SUCCESS)
            status = RegSetValueExW(key, number.value, 0, REG_DWORD,
                                    reinterpret_cast<const BYTE*>(&(settings.*number.setting)), sizeof(DWORD));
    if (status == ERROR_SUCCESS)
        status = RegSetValueExW(key, kStatusValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&printerStatus),
                                sizeof printerStatus);
    RegCloseKey(key);
    return DWORD(status);
}

DWORD retentionMilliseconds(const std::u16string& printer)
{
    HKEY key = nullptr;
    DWORD retention = kDefaultRetentionMs;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath(printer).c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        readNumber(key, kRetentionValue, retention);
        RegCloseKey(key);
    }
    return retention;
}

} // namespace spoolsv
