#pragma once

#include <QtEndian>

#include <arpa/inet.h>
#include <initializer_list>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// Types into the real application running on Qt's VNC platform, as a VNC
// client would: nothing in the app exists for a test's sake.

// X keysyms, as a VNC client sends keys.
inline constexpr quint32 keyReturn = 0xff0d, keyTab = 0xff09, keyControl = 0xffe3;

// A minimal RFB 3.3 client (RFC 6143): no security, and keys only.
struct VncKeyboard {
    int fd = -1;
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    sockaddr* at = reinterpret_cast<sockaddr*>(&address);

    ~VncKeyboard() { ::close(fd); }
    // Picks a port that no one listens on, for the app's server.
    quint16 pickPort()
    {
        socklen_t length = sizeof address;
        const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        ::bind(probe, at, length);
        ::getsockname(probe, at, &length);
        ::close(probe);
        return ntohs(address.sin_port);
    }
    // The server's version, ours, the security type, a shared session, then
    // the framebuffer's size and format; a step at a time, as the server reads.
    bool connect()
    {
        ::close(fd);
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        return ::connect(fd, at, sizeof address) == 0 && receive(12) && send("RFB 003.003\n", 12) &&
               receive(4) && send("\1", 1) && receive(24);
    }
    // Presses the keys in order, then releases them.
    void press(std::initializer_list<quint32> keysyms)
    {
        for (const bool down : {true, false}) {
            for (const quint32 keysym : keysyms) {
                char message[8] = {4, char(down)};
                qToBigEndian(keysym, message + 4);
                send(message, sizeof message);
            }
        }
    }
    bool send(const char* data, size_t size)
    {
        return ::send(fd, data, size, MSG_NOSIGNAL) == ssize_t(size);
    }
    bool receive(size_t size)
    {
        char reply[24];
        return ::recv(fd, reply, size, MSG_WAITALL) == ssize_t(size);
    }
};
