// This computer's own IP addresses, to tell whether a server address typed at login is this machine.
#pragma once

#include <QStringList>

namespace v7::net {

// The IPv4 and IPv6 addresses of the network interfaces that are up, loopback included, in their usual
// text form ("127.0.0.1", "::1", "fe80::1"; no zone suffix), each once, in the system's order.
QStringList direccionesLocales();

} // namespace v7::net
