// The decoded attribute values that the client library reads, in the protocol library's decoded
// form (one block per reply, every part 8-aligned), and lookups in decoded Get2 replies.
#pragma once

#include <cstddef>
#include <cstdint>

#include "VxDmlpResults.h"

// Multi-valued values start with this header; the elements follow it.
struct ClibMultiValue {
    uint16_t count;  // uint8 or uint16 on the wire; the high byte is 0 for uint8 counts
    const uint8_t* elements;
};
static_assert(sizeof(ClibMultiValue) == 16 && offsetof(ClibMultiValue, elements) == 8, "multi header");

// Element of the lists of attributes 111 and 1001 (4 bytes): an id and a byte.
#define CLIB_LIST_ELEMENT_BYTES 4

// Attribute 283: a job's state and status codes.
struct ClibJobState2 {
    uint8_t State;
    uint8_t value2;
    uint8_t value3;
    uint8_t unused1[5];
    uint8_t StatusCodeCount;
    const uint32_t* StatusCodeList;
    uint32_t value5;
    uint8_t unused2[4];
    uint16_t attributeCount;
    const DmlpAttributeEntry* attributes;
};
static_assert(sizeof(ClibJobState2) == 48 && offsetof(ClibJobState2, StatusCodeCount) == 8 &&
                  offsetof(ClibJobState2, StatusCodeList) == 16 && offsetof(ClibJobState2, value5) == 24 &&
                  offsetof(ClibJobState2, attributeCount) == 32 && offsetof(ClibJobState2, attributes) == 40,
              "attribute 283");

// Attribute 282: the device's state.
struct ClibComponentState2 {
    uint8_t Status;
    uint8_t value2;
    uint8_t unused1[6];
    uint8_t StatusCount;
    const uint32_t* StatusList;
    uint32_t lHintPriorityCode;
    uint8_t Online;
    uint8_t unused2[3];
    uint16_t attributeCount;
    const DmlpAttributeEntry* attributes;
};
static_assert(sizeof(ClibComponentState2) == 48 && offsetof(ClibComponentState2, StatusCount) == 8 &&
                  offsetof(ClibComponentState2, StatusList) == 16 &&
                  offsetof(ClibComponentState2, lHintPriorityCode) == 24 &&
                  offsetof(ClibComponentState2, Online) == 28 && offsetof(ClibComponentState2, attributes) == 40,
              "attribute 282");

#define CLIB_ATTR_LIST_SUPPORT 111    // list of the attributes that a component reports
#define CLIB_ATTR_OPERATIONS 1001     // list of the operations that a component supports
#define CLIB_ATTR_CLIENT_JOB_ID 280
#define CLIB_ATTR_COMPONENT_STATE2 282
#define CLIB_ATTR_JOB_STATE2 283
#define CLIB_ATTR_IMPRESSIONS 277
#define CLIB_ATTR_JOB_COMPLETION 6004

// The decoded value of the first attribute id in entries; NULL when there is none or when its
// value was kept as raw bytes (no decoded form to read).
const void* ClibAttributeValue(const DmlpAttributeEntry* entries, uint16_t count, uint16_t id);
// The same in the first object of a Get2 reply; NULL when the reply has no object.
const void* ClibFirstObjectValue(const DmlpGet2Result* reply, uint16_t id);
// Whether a list of 4-byte elements (attributes 111, 1001) holds an element with that id.
bool ClibListHasElement(const void* value, uint16_t elementId);
