#include "config/inifile.h"

#include <QFile>
#include <QFileInfo>

#include <limits>
#include <optional>

namespace {

bool isLineEnd(char c)
{
    return c == '\n' || c == '\r';
}

bool isLineEnd(QChar c)
{
    return c == u'\n' || c == u'\r';
}

QString valueOf(QStringView raw)
{
    QStringView value = raw.trimmed();
    if (value.size() >= 2 && value.front() == value.back() && (value.front() == u'"' || value.front() == u'\''))
        value = value.sliced(1, value.size() - 2);
    if (value.size() > IniFile::MaxValueLength) {
        qsizetype keep = IniFile::MaxValueLength;
        // Half a surrogate pair would be an invalid character for every later use.
        if (value[keep - 1].isHighSurrogate())
            --keep;
        value = value.first(keep);
    }
    return value.toString();
}

int hexDigit(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

std::optional<int> parseInteger(QStringView text)
{
    if (text.size() > 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        quint64 value = 0;
        for (QChar c : text.sliced(2)) {
            const int digit = hexDigit(c.unicode());
            if (digit < 0)
                return std::nullopt;
            value = value * 16 + digit;
            if (value > 0xFFFFFFFFu)
                return std::nullopt;
        }
        // Eight hex digits are a 32-bit pattern, so 0xFFFFFFFF reads as -1.
        return static_cast<int>(static_cast<quint32>(value));
    }

    qsizetype i = 0;
    bool negative = false;
    if (!text.isEmpty() && (text[0] == u'+' || text[0] == u'-')) {
        negative = text[0] == u'-';
        i = 1;
    }
    if (i == text.size())
        return std::nullopt;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        // QChar::isDigit would accept other scripts' digits as well.
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c - u'0');
        if (value > qint64(1) << 31) // stops before any long run of digits can overflow
            return std::nullopt;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(value);
}

} // namespace

IniFile IniFile::fromFile(const QString &path)
{
    // Only regular files: opening a FIFO blocks, and a device may never end.
    if (!QFileInfo(path).isFile())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // One byte beyond the limit tells fromData whether the last line was cut.
    QByteArray data;
    while (data.size() <= MaxInputBytes) {
        const QByteArray chunk = file.read(MaxInputBytes + 1 - data.size());
        if (chunk.isEmpty())
            break;
        data += chunk;
    }
    return fromData(data);
}

IniFile IniFile::fromData(QByteArrayView data)
{
    if (data.size() > MaxInputBytes) {
        const bool lastLineWhole = isLineEnd(data[MaxInputBytes]);
        data = data.first(MaxInputBytes);
        if (!lastLineWhole) {
            qsizetype end = data.size();
            while (end > 0 && !isLineEnd(data[end - 1]))
                --end;
            data = data.first(end);
        }
    }
    if (data.startsWith("\xEF\xBB\xBF"))
        data = data.sliced(3);
    IniFile ini;
    ini.parse(QString::fromUtf8(data));
    return ini;
}

IniFile IniFile::fromString(const QString &text)
{
    return fromData(text.toUtf8());
}

void IniFile::parse(QStringView text)
{
    // Keys go here; null while outside a section or inside a repeated one.
    // Safe to keep: m_sections gains entries only where current is reset.
    Section *current = nullptr;
    qsizetype pos = 0;
    while (pos < text.size()) {
        qsizetype end = pos;
        while (end < text.size() && !isLineEnd(text[end]))
            ++end;
        const QStringView line = text.sliced(pos, end - pos).trimmed();
        pos = end + 1;

        if (line.isEmpty() || line.front() == u';')
            continue;
        if (line.front() == u'[') {
            const qsizetype close = line.lastIndexOf(u']');
            if (close < 0)
                continue;
            const QString name = line.sliced(1, close - 1).trimmed().toString().toCaseFolded();
            current = m_sections.contains(name) ? nullptr : &m_sections[name];
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0 || !current)
            continue;
        const QStringView key = line.first(equals).trimmed();
        if (key.isEmpty())
            continue;
        const QString foldedKey = key.toString().toCaseFolded();
        if (!current->contains(foldedKey))
            current->insert(foldedKey, valueOf(line.sliced(equals + 1)));
    }
}

QString IniFile::readString(const QString &section, const QString &key, const QString &defaultValue) const
{
    const auto s = m_sections.constFind(section.toCaseFolded());
    if (s == m_sections.cend())
        return defaultValue;
    const auto k = s->constFind(key.toCaseFolded());
    return k == s->cend() ? defaultValue : *k;
}

int IniFile::readInteger(const QString &section, const QString &key, int defaultValue) const
{
    return parseInteger(readString(section, key, QString())).value_or(defaultValue);
}
