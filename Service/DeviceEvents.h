// The device-event callback of every watched printer: job states and impression counts become
// messages to ControlJobThread, for every printer that reaches the device.
#pragma once

#include "VxDmlp.h"

#define DEVICE_EVENT_JOBSTATE 154
#define DEVICE_EVENT_IMPRESSIONS 18
#define JOBSTATE_COMPLETED 9
#define JOBSTATE_PROCESSING 7
#define JOBSTATE_PENDING 2

// The subscription's callback: sender (the device's address), the printer's SubscribeContext and
// the event the library hands out; the event is given back to the client library.
void CBSubEvent(const DmlpAddress* sender, void* context, void* event);
