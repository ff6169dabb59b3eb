#include "requestframe.h"

#include <QByteArray>
#include <QDebug>

QDebug operator<<(QDebug debug, const RequestFrameBytes &frame)
{
    const QByteArray bytes(reinterpret_cast<const char *>(frame.data()), qsizetype(frame.size()));
    QDebugStateSaver saver(debug);
    debug.nospace().noquote() << bytes.toHex(' ');
    return debug;
}
