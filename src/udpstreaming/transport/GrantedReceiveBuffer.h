#pragma once

namespace Varkon::QUILApi::UdpStreaming::Transport {

// The receive buffer granted for a request of `requested` bytes, in the units of the request,
// from the size the system reports. Linux caps a request at net.core.rmem_max and reports twice
// what it grants (the rest is for its bookkeeping); some kernels that emulate Linux report the
// size itself. The limit tells the two apart: a report of at least twice the granted size is a
// doubled one.
int GrantedReceiveBuffer(int requested, int reported);

}  // namespace Varkon::QUILApi::UdpStreaming::Transport
