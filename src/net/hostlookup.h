#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

// True when text could be a host name: 1 to 253 characters of letters,
// digits, '-', '_' and '.', no empty label (one trailing dot allowed).
// Anything else is never handed to a resolver.
bool isValidHostName(const QString &text);

// A host-name lookup (IPv4) on a thread of its own, so that a slow or
// absent name server never holds up the window. The outcome is delivered
// through the receiver's event loop; cancel() (or destroying the receiver)
// drops it unseen. Nobody ever waits for a lookup to end.
class HostLookup {
public:
    // ok: the name gave an address; address: the first one, network byte order.
    using Done = std::function<void(bool ok, quint32 address)>;

    static std::shared_ptr<HostLookup> start(const QString &host, QObject *receiver, Done done);
    void cancel();

    struct Shared; // state shared with the lookup thread
private:
    std::shared_ptr<Shared> m_shared;
};
