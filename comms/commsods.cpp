// commsODS: the serial layer's trace hook. Every trace line of the layer is
// handed here and dropped. It lives in a file of its own so that a program
// linking the layer may bring its own commsODS instead (the linker then
// takes no object from here).
#include "comms/comms.h"

void commsODS(LPCSTR lpOutputString)
{
    (void)lpOutputString;
}
