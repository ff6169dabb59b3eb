// Panel messages are composed from label texts and the figures from
// arbitrary numbers: never more than 9 bytes, never a crash.
#include "protocol/formats.h"
#include "protocol/panelmessage.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    for (char letter : {'A', 'B', 'C'}) {
        if (composePanelMessage(letter, text).size() > PanelMessageSize)
            std::abort();
    }
    if (size >= sizeof(long double)) {
        long double v;
        std::memcpy(&v, data, sizeof v);
        const QString six = formatSixDigits(v);
        if (composePanelMessage('C', six).size() > PanelMessageSize)
            std::abort();
        formatGeneral(v, QLocale::c());
    }
    return 0;
}
