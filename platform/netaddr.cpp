#include "platform/netaddr.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace v7::net {

QStringList direccionesLocales() {
    QStringList addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return addresses;
    }
    for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || (i->ifa_flags & IFF_UP) == 0) {
            continue;
        }
        char text[INET6_ADDRSTRLEN] = {};
        const void* raw = nullptr;
        if (i->ifa_addr->sa_family == AF_INET) {
            raw = &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr;
        } else if (i->ifa_addr->sa_family == AF_INET6) {
            raw = &reinterpret_cast<const sockaddr_in6*>(i->ifa_addr)->sin6_addr;
        } else {
            continue;
        }
        if (::inet_ntop(i->ifa_addr->sa_family, raw, text, sizeof text) != nullptr) {
            const QString address = QString::fromLatin1(text);
            if (!addresses.contains(address)) {
                addresses << address;
            }
        }
    }
    ::freeifaddrs(list);
    return addresses;
}

} // namespace v7::net
