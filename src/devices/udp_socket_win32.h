#pragma once
// The UDP sync output on Winsock. Error numbers are Winsock's: WSAEADDRINUSE for "Binding UDP
// port 16000: ...", and 126 for WSAEWOULDBLOCK and WSAENOBUFS.
#include "devices/udp_socket.h"

namespace tidewell {

using WindowsUdpSocket = SystemUdpSocket;

}  // namespace tidewell
