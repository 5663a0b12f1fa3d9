// Moving printers from network ports to JTRKMON2 ports and back.
#include <string>
#include <vector>

#include "jtrkutil.h"

#define PORT_NAME_MAX 64
#define LIST_FILE_NAME W("jtrkprtlist.ini")
#define PRINT_PROCESSOR_PREFIX W("PRT ServerPrint")
#define TCPMON_PREFIX W("tcpmon.DLL")
#define LPR_MONITOR W("LPR Port")
#define PRINTHUB_MONITOR W("HARBOR PrintHub LAN Port")
#define OBV1_MONITOR W("TALLY-DESK Output Beacon Port")
#define ORIGINAL_PORT_VALUE W("OriginalPortName")
#define JOB_SPOOLING 0x8
#define JOB_PRINTING 0x10

// The maker's drivers and the language suffixes removed before the [Printer] lookup, longer first.
static const WCHAR* const kMakerPrefix = W("Vexil");
static const WCHAR* const kLanguageSuffixes[] = {W(" Japanese"), W(" JA")};

typedef BOOL(WINAPI* AddPortSilentProc)(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR);
typedef std::vector<WString> NameList;

enum PortKind { PORT_NONE, PORT_OBV1, PORT_LPR, PORT_PRINTHUB, PORT_TCPIP };

struct Conversion {
    MSIHANDLE session;
    AddPortSilentProc addPortSilent;
    PRINTER_INFO_2W* printers;
    DWORD printerCount;
    PORT_INFO_2W* ports;
    DWORD portCount;
    NameList lprPorts, printHubPorts, obv1Ports;
    BOOL listFile, portSection, printerSection;
    BOOL tcpip, lpr, printHub;
    WCHAR listPath[UTIL_FOLDER_MAX + 32];
};

static WString MonitorKey(LPCWSTR monitor)
{
    return WString(UTIL_MONITORS_KEY) + monitor + W("\\Ports");
}

// The subkey names of a monitor's Ports key; a missing key is an empty list.
static DWORD ReadPortList(LPCWSTR monitor, NameList* names)
{
    HKEY key = NULL;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, MonitorKey(monitor).c_str(), 0, KEY_READ, &key);
    if (status == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS)
        return (DWORD)status;
    for (DWORD index = 0;; ++index) {
        WCHAR name[256];
        DWORD length = 256;
        status = RegEnumKeyExW(key, index, name, &length, NULL, NULL, NULL, NULL);
        if (status != ERROR_SUCCESS)
            break;
        names->push_back(name);
    }
    RegCloseKey(key);
    return status == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : (DWORD)status;
}

static BOOL InList(const NameList& names, LPCWSTR port)
{
    for (const WString& name : names)
        if (UtilSameName(name.c_str(), port))
            return TRUE;
    return FALSE;
}

static BOOL IsTcpipPort(const Conversion& c, LPCWSTR port)
{
    for (DWORD i = 0; i < c.portCount; ++i)
        if (UtilSameName(c.ports[i].pPortName, port) && UtilStartsWith(c.ports[i].pMonitorName, TCPMON_PREFIX))
            return TRUE;
    return FALSE;
}

static PortKind KindOf(const Conversion& c, LPCWSTR port)
{
    if (InList(c.obv1Ports, port))
        return PORT_OBV1;
    if (InList(c.lprPorts, port))
        return PORT_LPR;
    if (InList(c.printHubPorts, port))
        return PORT_PRINTHUB;
    return IsTcpipPort(c, port) ? PORT_TCPIP : PORT_NONE;
}

// The old port value of an earlier-monitor port ("Original PrintHub PortNname", else OriginalPortName).
static WString Obv1OldName(LPCWSTR port)
{
    WString key = MonitorKey(OBV1_MONITOR) + W("\\") + port;
    for (LPCWSTR value : {W("Original PrintHub PortNname"), ORIGINAL_PORT_VALUE}) {
        WCHAR text[PORT_NAME_MAX * 4] = {};
        DWORD size = sizeof(text) - sizeof(WCHAR);
        if (RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), value, RRF_RT_REG_SZ, NULL, text, &size) == ERROR_SUCCESS &&
            text[0])
            return text;
    }
    return WString();
}

// Reads the list file; FALSE when the conversion ends here (all kinds off, no section).
static BOOL ReadListFile(Conversion* c)
{
    MSIHANDLE s = c->session;
    UtilLog(s, W("getIniFile start."));
    WCHAR folder[UTIL_FOLDER_MAX + 1];
    UtilCustomActionField(s, 0, folder, UTIL_FOLDER_MAX + 1);
    c->tcpip = c->lpr = c->printHub = TRUE;
    if (folder[0] == 0)
        return TRUE;
    DWORD length = (DWORD)lstrlenW(folder);
    StringCchPrintfW(c->listPath, UTIL_FOLDER_MAX + 32, W("%ls%ls%ls"), folder,
                     folder[length - 1] == W('\\') ? W("") : W("\\"), LIST_FILE_NAME);
    if (GetFileAttributesW(c->listPath) == INVALID_FILE_ATTRIBUTES)
        return TRUE;
    c->listFile = TRUE;
    std::vector<WCHAR> names(256);
    DWORD count;
    while ((count = GetPrivateProfileSectionNamesW(names.data(), (DWORD)names.size(), c->listPath)) ==
           names.size() - 2)
        names.resize(names.size() * 2);
    UtilLog(s, W("pszPrtListSecNames=%ls"), names.data());
    if (count != 6) {
        LPCWSTR name = names.data();
        for (int i = 0; i < 2 && *name; ++i, name += lstrlenW(name) + 1) {
            UtilLog(s, W("NullCheck start."));
            UtilLog(s, W("LengthCheck start."));
            UtilLog(s, W("PortCheck start."));
            if (UtilSameName(name, W("Port")))
                c->portSection = TRUE;
            UtilLog(s, W("bExistSecPort=%d"), c->portSection);
            UtilLog(s, W("PrinterCheck start."));
            if (UtilSameName(name, W("Printer")))
                c->printerSection = TRUE;
            UtilLog(s, W("bExistSecPrinter=%d"), c->printerSection);
        }
    }
    UtilLog(s, W("SectionCheck end"));
    if (c->portSection) {
        c->tcpip = GetPrivateProfileIntW(W("Port"), W("TCP"), 0, c->listPath) == 1;
        c->lpr = GetPrivateProfileIntW(W("Port"), W("LPR"), 0, c->listPath) == 1;
        c->printHub = GetPrivateProfileIntW(W("Port"), W("PrintHub"), 0, c->listPath) == 1;
        UtilLog(s, W("bChageTCPIPPort=%d"), c->tcpip);
        UtilLog(s, W("bChageLPRPort=%d"), c->lpr);
        UtilLog(s, W("bChagePrintHubLANPort=%d"), c->printHub);
        if (!c->tcpip && !c->lpr && !c->printHub) {
            UtilLog(s, W("All Ports not Change!!"));
            return FALSE;
        }
    } else if (!c->printerSection) {
        UtilLog(s, W("No Section!!"));
        return FALSE;
    }
    return TRUE;
}

static BOOL DriverSelected(const Conversion& c, LPCWSTR driver)
{
    WString key = driver;
    for (LPCWSTR suffix : kLanguageSuffixes) {
        size_t length = (size_t)lstrlenW(suffix);
        if (key.size() >= length && UtilSameName(key.c_str() + key.size() - length, suffix))
            key.resize(key.size() - length);
    }
    return GetPrivateProfileIntW(W("Printer"), key.c_str(), 0, c.listPath) == 1;
}

static BOOL KindSelected(const Conversion& c, PortKind kind)
{
    if (!c.portSection)
        return TRUE;
    return kind == PORT_OBV1 || (kind == PORT_TCPIP && c.tcpip) || (kind == PORT_LPR && c.lpr) ||
           (kind == PORT_PRINTHUB && c.printHub);
}

// A job spooling or printing, or a printer whose jobs cannot be read.
static BOOL PrinterBusy(LPWSTR printerName)
{
    HANDLE printer = NULL;
    if (!OpenPrinterW(printerName, &printer, NULL))
        return TRUE;
    BOOL busy = TRUE;
    DWORD needed = 0, count = 0;
    if (EnumJobsW(printer, 0, 0xFFFFFFFF, 1, NULL, 0, &needed, &count)) {
        busy = FALSE;
    } else if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
        JOB_INFO_1W* jobs = (JOB_INFO_1W*)LocalAlloc(LPTR, needed);
        if (jobs && EnumJobsW(printer, 0, 0xFFFFFFFF, 1, (LPBYTE)jobs, needed, &needed, &count)) {
            busy = FALSE;
            for (DWORD i = 0; i < count; ++i)
                if (jobs[i].Status & (JOB_SPOOLING | JOB_PRINTING))
                    busy = TRUE;
        }
        LocalFree(jobs);
    }
    ClosePrinter(printer);
    return busy;
}

static BOOL PortNameTaken(const Conversion& c, LPCWSTR candidate)
{
    for (DWORD i = 0; i < c.portCount; ++i)
        if (UtilStartsWith(c.ports[i].pPortName, candidate))
            return TRUE;
    return FALSE;
}

// "KPX2_<port>", then "KPX3_<port>" and on while a port begins with the candidate.
static DWORD MakeSpecialName(const Conversion& c, LPCWSTR port, LPWSTR name)
{
    if (lstrlenW(port) >= PORT_NAME_MAX)
        return ERROR_INVALID_PARAMETER;
    for (long n = 2; n < 100000; ++n) {
        WCHAR candidate[PORT_NAME_MAX * 2];
        StringCchPrintfW(candidate, PORT_NAME_MAX * 2, W("%ls%ld_%ls"), W("KPX"), n, port);
        if (lstrlenW(candidate) >= PORT_NAME_MAX)
            return ERROR_INVALID_PARAMETER;
        if (!PortNameTaken(c, candidate)) {
            lstrcpyW(name, candidate);
            return ERROR_SUCCESS;
        }
    }
    return ERROR_INVALID_PARAMETER;
}

static DWORD WriteOriginalPortName(LPCWSTR specialPort, LPCWSTR port)
{
    WString path = MonitorKey(UTIL_SPECIAL_MONITOR_NAME) + W("\\") + specialPort;
    HKEY key = NULL;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
    if (status != ERROR_SUCCESS)
        return (DWORD)status;
    status = RegSetValueExW(key, ORIGINAL_PORT_VALUE, 0, REG_SZ, (const BYTE*)port,
                            (DWORD)(lstrlenW(port) * sizeof(WCHAR)));
    RegCloseKey(key);
    return (DWORD)status;
}

DWORD UtilReadOriginalPortName(LPCWSTR specialPort, LPWSTR name, DWORD size)
{
    WString path = MonitorKey(UTIL_SPECIAL_MONITOR_NAME) + W("\\") + specialPort;
    HKEY key = NULL;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS)
        return ERROR_INVALID_PARAMETER;
    DWORD type = 0, bytes = (size - 1) * sizeof(WCHAR);
    status = RegQueryValueExW(key, ORIGINAL_PORT_VALUE, NULL, &type, (LPBYTE)name, &bytes);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ || bytes < sizeof(WCHAR))
        return ERROR_INVALID_PARAMETER;
    name[bytes / sizeof(WCHAR)] = 0;
    return name[0] ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

static DWORD MovePrinter(const PRINTER_INFO_2W& printer, LPCWSTR port)
{
    PRINTER_DEFAULTSW defaults = {NULL, NULL, PRINTER_ALL_ACCESS};
    HANDLE handle = NULL;
    if (!OpenPrinterW(printer.pPrinterName, &handle, &defaults))
        return GetLastError();
    PRINTER_INFO_2W copy = printer;
    copy.pPortName = (LPWSTR)port;
    DWORD error = SetPrinterW(handle, 2, (LPBYTE)&copy, 0) ? ERROR_SUCCESS : GetLastError();
    ClosePrinter(handle);
    return error;
}

static void Record(const Conversion& c, const PRINTER_INFO_2W& printer, int result)
{
    UtilWriteResult(c.session, W("ChangePortResult"), printer.pPrinterName, result);
}

// One printer; an error only when the conversion must stop.
static DWORD ConvertPrinter(Conversion* c, const PRINTER_INFO_2W& printer)
{
    MSIHANDLE s = c->session;
    LPCWSTR port = printer.pPortName;
    if (UtilIsSpecialPort(c->ports, c->portCount, port)) {
        UtilLog(s, W("IsKPXPort false."));
        return ERROR_SUCCESS;
    }
    if (!UtilStartsWith(printer.pPrintProcessor, PRINT_PROCESSOR_PREFIX)) {
        UtilLog(s, W("IsPrintHubProcessor false."));
        return ERROR_SUCCESS;
    }
    if (!UtilStartsWith(printer.pDriverName, kMakerPrefix)) {
        UtilLog(s, W("IsVexilPrinter false."));
        return ERROR_SUCCESS;
    }
    PortKind kind = KindOf(*c, port);
    WString oldName;
    if (kind == PORT_OBV1) {
        oldName = Obv1OldName(port);
        UtilLog(s, W("portname=%ls,oldname=%ls,bIsOBV1Port=%d"), port, oldName.c_str(), 1);
    }
    if (kind == PORT_NONE || !KindSelected(*c, kind) || (c->printerSection && !DriverSelected(*c, printer.pDriverName)))
        return ERROR_SUCCESS;
    if (kind == PORT_PRINTHUB && PrinterBusy(printer.pPrinterName)) {
        Record(*c, printer, 5);
        return ERROR_SUCCESS;
    }
    WCHAR special[PORT_NAME_MAX];
    if (MakeSpecialName(*c, port, special) != ERROR_SUCCESS) {
        Record(*c, printer, 1);
        return ERROR_SUCCESS;
    }
    if (kind == PORT_OBV1)
        UtilLog(s, W("portname=%ls,specialportname=%ls,oldname=%ls"), port, special, oldName.c_str());
    else
        UtilLog(s, W("portname=%ls,specialportname=%ls"), port, special);
    if (!c->addPortSilent(NULL, port, special, kind == PORT_OBV1 && !oldName.empty() ? oldName.c_str() : NULL)) {
        Record(*c, printer, 2);
        return ERROR_SUCCESS;
    }
    // Without its original name the printer could never be put back: it stays where it is.
    if (WriteOriginalPortName(special, port) != ERROR_SUCCESS) {
        DeletePortW(NULL, NULL, special);
        Record(*c, printer, 4);
        return ERROR_SUCCESS;
    }
    LocalFree(c->ports);
    DWORD error = UtilEnumPorts(&c->ports, &c->portCount);
    if (error != ERROR_SUCCESS) {
        DeletePortW(NULL, NULL, special);
        return error;
    }
    if (MovePrinter(printer, special) != ERROR_SUCCESS) {
        DeletePortW(NULL, NULL, special);
        Record(*c, printer, 3);
        return ERROR_SUCCESS;
    }
    Record(*c, printer, 0);
    return ERROR_SUCCESS;
}

static DWORD ReadState(Conversion* c)
{
    MSIHANDLE s = c->session;
    UtilLog(s, W("dwGetPrinterInfo start."));
    DWORD error = UtilEnumPrinters(&c->printers, &c->printerCount);
    if (error != ERROR_SUCCESS)
        return error;
    UtilLog(s, W("printerCount = %d"), (int)c->printerCount);
    UtilLog(s, W("dwGetPortInfo start."));
    if ((error = UtilEnumPorts(&c->ports, &c->portCount)) != ERROR_SUCCESS)
        return error;
    UtilLog(s, W("portCount = %d"), (int)c->portCount);
    UtilLog(s, W("dwGetLPRPortInfo start."));
    if ((error = ReadPortList(LPR_MONITOR, &c->lprPorts)) != ERROR_SUCCESS)
        return error;
    UtilLog(s, W("lprportCount = %d"), (int)c->lprPorts.size());
    UtilLog(s, W("dwGetPrintHubPortInfo start."));
    if ((error = ReadPortList(PRINTHUB_MONITOR, &c->printHubPorts)) != ERROR_SUCCESS)
        return error;
    UtilLog(s, W("printHubportCount = %d"), (int)c->printHubPorts.size());
    UtilLog(s, W("dwGetOBV1PortInfo start."));
    if ((error = ReadPortList(OBV1_MONITOR, &c->obv1Ports)) != ERROR_SUCCESS)
        return error;
    UtilLog(s, W("obv1portCount = %d"), (int)c->obv1Ports.size());
    return ERROR_SUCCESS;
}

DWORD WINAPI JTMXToSecialPort(MSIHANDLE session, LPCWSTR uiDllName)
{
    if (uiDllName == NULL)
        return ERROR_INVALID_PARAMETER;
    HMODULE ui = LoadLibraryW(uiDllName);
    if (ui == NULL)
        return GetLastError();
    Conversion c = {};
    c.session = session;
    c.addPortSilent = (AddPortSilentProc)GetProcAddress(ui, "JTMXAddPortSilent");
    if (c.addPortSilent == NULL) {
        DWORD error = GetLastError();
        FreeLibrary(ui);
        return error;
    }
    DWORD error = ReadState(&c);
    if (error == ERROR_SUCCESS && ReadListFile(&c))
        for (DWORD i = 0; i < c.printerCount && error == ERROR_SUCCESS; ++i)
            error = ConvertPrinter(&c, c.printers[i]);
    LocalFree(c.printers);
    LocalFree(c.ports);
    FreeLibrary(ui);
    UtilLog(session, W("ToSpecialPort End!!"));
    return error;
}

DWORD WINAPI JTMXToOriginalPort(void)
{
    PRINTER_INFO_2W* printers = NULL;
    PORT_INFO_2W* ports = NULL;
    DWORD printerCount = 0, portCount = 0;
    DWORD last = UtilEnumPrinters(&printers, &printerCount);
    if (last == ERROR_SUCCESS)
        last = UtilEnumPorts(&ports, &portCount);
    for (DWORD i = 0; i < printerCount && portCount; ++i) {
        if (!UtilIsSpecialPort(ports, portCount, printers[i].pPortName))
            continue;
        WCHAR original[PORT_NAME_MAX * 4];
        DWORD error = UtilReadOriginalPortName(printers[i].pPortName, original, PORT_NAME_MAX * 4);
        if (error == ERROR_SUCCESS)
            error = MovePrinter(printers[i], original);
        if (error != ERROR_SUCCESS)
            last = error;
    }
    LocalFree(printers);
    LocalFree(ports);
    return last;
}
