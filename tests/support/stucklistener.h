#pragma once

#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

// A listener whose accept queue is full and never drained: a further
// connection attempt stays pending (the kernel drops its SYN).
struct StuckListener {
    StuckListener(const StuckListener &) = delete;
    StuckListener &operator=(const StuckListener &) = delete;
    int listener = -1;
    std::vector<int> fillers;
    quint16 port = 0;
    StuckListener()
    {
        listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr *>(&a), sizeof a);
        ::listen(listener, 0);
        socklen_t len = sizeof a;
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&a), &len);
        port = ntohs(a.sin_port);
        for (int i = 0; i < 3; ++i) {
            const int f = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            ::connect(f, reinterpret_cast<sockaddr *>(&a), sizeof a);
            fillers.push_back(f);
        }
        QTest::qWait(50);
    }
    ~StuckListener()
    {
        for (int f : fillers)
            ::close(f);
        ::close(listener);
    }
};

