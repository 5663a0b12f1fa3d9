// Writes a print job as a printer driver of DMLP devices produces it: the job messages (with a
// client job id) at the front, then the page data.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "JobMessages.h"

namespace {

void usage(FILE* out)
{
    fprintf(out,
            "usage: mkjob FILE [--pages-bytes N] [--id N]\n"
            "Writes a print job to FILE: the DMLP job messages a printer driver puts at the front\n"
            "(JobStart, JobStart2 with the client job id, SetDocument, JobEnd), then N bytes of page\n"
            "data (default 65536). --id sets the client job id's first number (default: from the\n"
            "clock). Exit status 0 on success, 1 when the file cannot be written, 2 for a wrong\n"
            "command line.\n");
}

bool parseNumber(const char* text, unsigned long long& value)
{
    char* end = nullptr;
    value = strtoull(text, &end, 10);
    return *text && end && *end == '\0';
}

} // namespace

int main(int argc, char** argv)
{
    const char* path = nullptr;
    unsigned long long pageBytes = 65536;
    unsigned long long id = static_cast<unsigned long long>(time(nullptr)) & 0xFFFFFFFFu;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--help")) {
            usage(stdout);
            return 0;
        }
        if ((!strcmp(argv[i], "--pages-bytes") || !strcmp(argv[i], "--id")) && i + 1 < argc) {
            unsigned long long& target = argv[i][2] == 'p' ? pageBytes : id;
            if (!parseNumber(argv[++i], target) || (target == id && id > 0xFFFFFFFFu)) {
                fprintf(stderr, "mkjob: %s is not a valid number for %s\n", argv[i], argv[i - 1]);
                return 2;
            }
        } else if (argv[i][0] != '-' && !path) {
            path = argv[i];
        } else {
            usage(stderr);
            return 2;
        }
    }
    if (!path) {
        usage(stderr);
        return 2;
    }

    auto clientJobId = jobmsg::ClientJobId::make(static_cast<uint32_t>(id), 0x1234, 0x5678, "DEMOJOB!", "00000000demo");
    jobmsg::Bytes header = jobmsg::typicalHeader(clientJobId, 1);
    FILE* file = fopen(path, "wb");
    if (!file) {
        fprintf(stderr, "mkjob: cannot write %s: %s\n", path, strerror(errno));
        return 1;
    }
    bool ok = fwrite(header.data(), 1, header.size(), file) == header.size();
    std::string line = "page data of the demo job\n";
    for (unsigned long long written = 0; ok && written < pageBytes; written += line.size()) {
        size_t chunk = static_cast<size_t>(std::min<unsigned long long>(line.size(), pageBytes - written));
        ok = fwrite(line.data(), 1, chunk, file) == chunk;
    }
    if (fclose(file) != 0 || !ok) {
        fprintf(stderr, "mkjob: cannot write %s\n", path);
        return 1;
    }
    printf("%s: %zu bytes of job messages (client job id %llu), %llu bytes of page data\n", path, header.size(), id,
           pageBytes);
    return 0;
}
