// LPR ports: the port's network start and clean-up.
#include "jtrkmon.h"

BOOL LPROpenPort(PPortEntry pPort)
{
    return StartPortNetwork(pPort, W("LPROpenPort"));
}

BOOL LPRClosePort(PPortEntry pPort)
{
    return StopPortNetwork(pPort, W("LPRClosePort"));
}
