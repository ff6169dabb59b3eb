#include "hostlookup.h"

#include <QMetaObject>

#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <thread>

bool isValidHostName(const QString &text)
{
    if (text.isEmpty() || text.size() > 253)
        return false;
    int label = 0;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'.') {
            if (label == 0)
                return false;
            label = 0;
            continue;
        }
        const bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z')
                || (c >= u'0' && c <= u'9') || c == u'-' || c == u'_';
        if (!ok || ++label > 63)
            return false;
    }
    return true;
}

struct HostLookup::Shared {
    std::mutex mutex;
    QObject *receiver = nullptr; // cleared by cancel(), under the mutex
    Done done;
};

std::shared_ptr<HostLookup> HostLookup::start(const QString &host, QObject *receiver, Done done)
{
    auto lookup = std::make_shared<HostLookup>();
    lookup->m_shared = std::make_shared<Shared>();
    lookup->m_shared->receiver = receiver;
    lookup->m_shared->done = std::move(done);

    std::thread([shared = lookup->m_shared, name = host.toLatin1()] {
        addrinfo hints;
        std::memset(&hints, 0, sizeof hints);
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *result = nullptr;
        bool ok = false;
        quint32 address = 0;
        if (::getaddrinfo(name.constData(), nullptr, &hints, &result) == 0 && result) {
            address = reinterpret_cast<sockaddr_in *>(result->ai_addr)->sin_addr.s_addr;
            ok = true;
        }
        if (result)
            ::freeaddrinfo(result);

        std::lock_guard<std::mutex> lock(shared->mutex);
        if (!shared->receiver)
            return;
        // Posting under the mutex: cancel() cannot complete (and the receiver
        // cannot go) in between. A receiver destroyed later drops the event.
        QMetaObject::invokeMethod(
                shared->receiver,
                [shared, ok, address] {
                    Done done;
                    {
                        std::lock_guard<std::mutex> lock(shared->mutex);
                        if (!shared->receiver)
                            return;
                        shared->receiver = nullptr;
                        done = std::move(shared->done);
                    }
                    done(ok, address);
                },
                Qt::QueuedConnection);
    }).detach();
    return lookup;
}

void HostLookup::cancel()
{
    if (!m_shared)
        return;
    std::lock_guard<std::mutex> lock(m_shared->mutex);
    m_shared->receiver = nullptr;
    m_shared->done = nullptr;
}
