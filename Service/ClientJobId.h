// The client job id: the 64-byte identity that ties a spooler job to the job object in the device.
// Host byte order in memory and in every pipe and heap record; the three numbers are big-endian only
// inside protocol attribute 280.
#pragma once

#include <cstddef>

#include <windows.h>

#include "jtrkplatform.h"

#define CLJOBID_DATA4_BYTES 8
#define CLJOBID_JOBTEXT_BYTES 48
#define CLJOBID_JOBINFO1_CHARS 8

typedef struct _ClJobID {
    DWORD Data1; // 0: the driver gave no identifier (a device of the first protocol version)
    WORD Data2;
    WORD Data3;
    BYTE Data4[CLJOBID_DATA4_BYTES];
    BYTE JobText[CLJOBID_JOBTEXT_BYTES]; // the first CLJOBID_JOBINFO1_CHARS are JobInfo1
} ClJobID;

static_assert(sizeof(ClJobID) == 64, "ClJobID is 64 bytes");
static_assert(offsetof(ClJobID, Data1) == 0 && offsetof(ClJobID, Data2) == 4 && offsetof(ClJobID, Data3) == 6,
              "ClJobID numbers");
static_assert(offsetof(ClJobID, Data4) == 8 && offsetof(ClJobID, JobText) == 16, "ClJobID bytes");

class clClientJobId {
public:
    clClientJobId();
    ~clClientJobId();

    // Copies source into destination; a missing record changes nothing.
    void Copy(const ClJobID* source, ClJobID* destination);
    // Copies source into destination (the first record receives the second); a missing record changes nothing.
    void Register(ClJobID* destination, const ClJobID* source);
    // 1 when all 64 bytes are equal, 0 otherwise or when a record is missing.
    int Identical(const ClJobID* first, const ClJobID* second);
};
