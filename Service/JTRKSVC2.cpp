// JTRKSVC2: the print-job tracking service. It runs under the service control (pal-sc start
// JTRKSVC2); started from a console it writes one error event and ends.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ServiceMain.h"

namespace {

const char kUsage[] =
    "usage: JTRKSVC2 [--root DIR] [--help]\n"
    "\n"
    "The print-job tracking service. Register and start it with the service control:\n"
    "  pal-sc create JTRKSVC2 binPath= /path/to/JTRKSVC2\n"
    "  pal-sc start JTRKSVC2\n"
    "Settings: section [Device] of C:\\Program Files\\JTRKSVC2.ini (the executable's path with .ini).\n"
    "Started from a console it writes event 0xC0000001 (source OutputBeaconService2) and ends.\n"
    "\n"
    "  --root DIR  platform root (default: PAL_ROOT)\n"
    "  --help      show this text\n"
    "Other words are ignored (a binPath may add its own).\n";

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--help") == 0) {
            fputs(kUsage, stdout);
            return 0;
        }
        // Other words are ignored: a service's command line may carry what its binPath adds.
        if (strcmp(argv[i], "--root") == 0 && i + 1 < argc)
            setenv("PAL_ROOT", argv[++i], 1);
    }
    return JTRKServiceEntry();
}
