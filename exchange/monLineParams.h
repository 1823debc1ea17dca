// The physical channel description of a configured connection: which line the exchange
// opens for it (serial port with its mode and modem settings, or TCP).
#pragma once

#include "channel/PCAType.h"
#include "connection/CcnConnectionList.h"

namespace qz {

// Fills params from the connection mode's interface and hardware. The record is zeroed
// first; a connection without a connection mode, or a mode without an interface, leaves it
// all zero (Kind 0, no channel kind). Strings are cut to their fields.
void FillPCAParams(const TccnCustomConMode* conMode, TPCAParams& params);
void FillPCAParams(const TccnConnection& connection, TPCAParams& params);
TPCAParams PCAParamsOfConnection(const TccnConnection& connection);

} // namespace qz
