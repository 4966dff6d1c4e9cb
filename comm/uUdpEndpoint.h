// The UDP endpoint seam of the communicator.
#pragma once

// Loopback-only mode: every send to a destination outside 127.0.0.0/8 is refused as a
// failed send. Test executables switch it on before any test runs; the shipped programs
// never do.
void SetUdpLoopbackOnly(bool on);
bool UdpLoopbackOnly();
