// A client job id as the device simulator keys its jobs: the GUID's fields in network order, then
// the job text, as the id stands on the wire.
#pragma once

#include <arpa/inet.h>

#include <cstring>

#include "JTRKCLIB.h"
#include "Simulator.h"

inline devsim::ClientId wireId(const ClJobID& id)
{
    devsim::ClientId wire{};
    uint32_t data1 = htonl(id.Data1);
    uint16_t data2 = htons(id.Data2), data3 = htons(id.Data3);
    memcpy(wire.data(), &data1, 4);
    memcpy(wire.data() + 4, &data2, 2);
    memcpy(wire.data() + 6, &data3, 2);
    memcpy(wire.data() + 8, id.Data4, 8);
    memcpy(wire.data() + 16, id.JobText, 48);
    return wire;
}
