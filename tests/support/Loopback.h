// SPDX-License-Identifier: MIT
// A listening TCP socket on 127.0.0.1 with a small receive buffer, for the tests whose far end
// stops reading: the client's socket then stops taking bytes after a few kilobytes.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>

// The listener's descriptor; `port` gets the port the system chose. `flags` go to socket()
// beside SOCK_STREAM and SOCK_CLOEXEC (SOCK_NONBLOCK, say).
inline int smallLoopbackListener(uint16_t &port, int flags = 0)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
    const int small = 4096;
    setsockopt(listener, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a);
    ::listen(listener, 4);
    getsockname(listener, reinterpret_cast<sockaddr *>(&a), &length);
    port = ntohs(a.sin_port);
    return listener;
}
