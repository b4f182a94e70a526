// An interface name on Qt's virtual CAN bus that no other test process shares.
//
// Qt's virtualcan plugin has two channels, can0 and can1; any other name quietly lands on one shared
// fallback channel. Every process that makes a virtualcan device first serves the bus on a TCP port of
// localhost, 35468 unless the name is a full URL, and the others join the process that serves. Test
// programs running side by side would then hear each other's frames and lose the bus when the serving one
// exits. A port of this process's own keeps each test program on a bus of its own.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QString>

// Chosen once per process: a process serves the bus once, on the port of the first name it meets.
inline QString PrivateVirtualBus() {
    static const QString name = [] {
        // A port the kernel has just handed out is free; the bus server takes it a moment later.
        int port = 0;
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd >= 0) {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t size = sizeof address;
            if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
                ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
                port = ntohs(address.sin_port);
            ::close(fd);
        }
        return port ? QStringLiteral("tcp://127.0.0.1:%1/can0").arg(port) : QStringLiteral("can0");
    }();
    return name;
}
