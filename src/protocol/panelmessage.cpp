#include "panelmessage.h"

QByteArray composePanelMessage(char letter, const QString &figure)
{
    QByteArray message;
    message.reserve(PanelMessageSize);
    message += '!';
    message += letter;
    // Stop as soon as 9 bytes are there: the figure may be of any length.
    for (qsizetype i = 0; i < figure.size() && message.size() < PanelMessageSize; ++i) {
        const char16_t unit = figure.at(i).unicode();
        message += unit < 0x80 ? char(unit) : '?';
    }
    if (message.size() < PanelMessageSize)
        message += '%';
    return message;
}
