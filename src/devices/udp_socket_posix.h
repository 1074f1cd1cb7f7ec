#pragma once
// The UDP sync output on BSD sockets. Error numbers are errno values.
#include "devices/udp_socket.h"

namespace tidewell {

using PosixUdpSocket = SystemUdpSocket;

}  // namespace tidewell
