#include "fonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QStringList>

void installMonitorFonts()
{
    if (!QFontDatabase::families().contains(QStringLiteral("Tahoma"), Qt::CaseInsensitive)) {
        for (const char *file : {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"}) {
            if (QFile::exists(QString::fromLatin1(file)))
                QFontDatabase::addApplicationFont(QString::fromLatin1(file));
        }
    }
    // Tahoma is a narrow face; the condensed DejaVu keeps captions such as
    // "Voltage" clear of the readouts beside them.
    QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                               {QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Liberation Sans"),
                                QStringLiteral("DejaVu Sans"), QStringLiteral("Noto Sans"), QStringLiteral("Arial")});
    // DejaVu Sans Mono first: it has a real bold, which the readouts use.
    QFont::insertSubstitutions(QStringLiteral("Consolas"),
                               {QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Inconsolata"),
                                QStringLiteral("Liberation Mono"), QStringLiteral("Noto Sans Mono")});
}

QFont monitorFont(int pixelSize)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    return font;
}

QFont readoutFont(int pixelSize)
{
    QFont font(QStringLiteral("Consolas"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setBold(true);
    font.setPixelSize(pixelSize);
    // The substitutes are about 9 % wider than Consolas; narrowing them keeps
    // as many digits in a readout as the real face would.
    if (QFontInfo(font).family().compare(QStringLiteral("Consolas"), Qt::CaseInsensitive) != 0)
        font.setStretch(92);
    return font;
}
