// Draws assets/ledpanel.png, the LED display panel picture behind the plant
// totals (421 x 185). Not part of the build; run it by hand after a change:
//
//   g++ -std=c++20 -fPIC tools/panelart/panelart.cpp \
//       $(pkg-config --cflags --libs Qt6Gui) -o /tmp/panelart
//   QT_QPA_PLATFORM=offscreen /tmp/panelart assets/ledpanel.png
//
// The three dark fields must stay where the window puts the totals readouts:
// picture (24,16) in the group, readouts at (351,69), (350,95), (350,121),
// 85 x 18 each.

#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cstdio>

namespace {

constexpr int W = 421, H = 185;
const QRect fields[3] = {{327, 53, 85, 18}, {326, 79, 85, 18}, {326, 105, 85, 18}};
const char *names[3] = {"PLANT POWER", "TOTAL PRODUCTION", "CO\u2082 REDUCTION"};
const char *units[3] = {"kW", "MWh", "kg"};

const QColor ledOn(255, 150, 20);
const QColor ledOff(38, 20, 12);

void housing(QPainter &p)
{
    QPainterPath outer;
    outer.addRoundedRect(QRectF(0.5, 0.5, W - 1, H - 1), 9, 9);
    QLinearGradient metal(0, 0, 0, H);
    metal.setColorAt(0, QColor(74, 78, 84));
    metal.setColorAt(0.08, QColor(52, 55, 60));
    metal.setColorAt(0.9, QColor(34, 36, 40));
    metal.setColorAt(1, QColor(22, 23, 26));
    p.fillPath(outer, metal);
    p.setPen(QPen(QColor(10, 10, 12), 1));
    p.drawPath(outer);
    // Light catches the upper edge of the housing.
    p.setPen(QPen(QColor(120, 124, 130, 150), 1));
    p.drawLine(QPointF(10, 1.5), QPointF(W - 10, 1.5));
}

void screw(QPainter &p, QPointF c)
{
    QRadialGradient g(c - QPointF(1.2, 1.2), 5);
    g.setColorAt(0, QColor(205, 208, 212));
    g.setColorAt(0.6, QColor(120, 123, 128));
    g.setColorAt(1, QColor(60, 62, 66));
    p.setPen(QPen(QColor(15, 15, 17), 0.8));
    p.setBrush(g);
    p.drawEllipse(c, 3.6, 3.6);
    p.setPen(QPen(QColor(40, 40, 44), 1.1));
    p.drawLine(c + QPointF(-2.2, 1.2), c + QPointF(2.2, -1.2));
}

// The display window set into the housing, with unlit LEDs as texture.
void display(QPainter &p, const QRect &r)
{
    p.fillRect(r.adjusted(-2, -2, 2, 2), QColor(16, 17, 19));
    p.setPen(QColor(96, 100, 106));
    p.drawLine(r.left() - 2, r.bottom() + 2, r.right() + 2, r.bottom() + 2);
    p.drawLine(r.right() + 2, r.top() - 2, r.right() + 2, r.bottom() + 2);
    p.fillRect(r, QColor(7, 7, 8));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 14, 12));
    for (int y = r.top() + 2; y < r.bottom(); y += 3)
        for (int x = r.left() + 2; x < r.right(); x += 3)
            p.drawRect(x, y, 1, 1);
}

// Text drawn as lit LEDs: the text is rasterised small and every set pixel
// becomes one round dot of the matrix.
void ledText(QPainter &p, const QString &text, QPoint origin, int pitch)
{
    QFont f(QStringLiteral("DejaVu Sans Condensed"));
    f.setBold(true);
    f.setPixelSize(9);
    f.setHintingPreference(QFont::PreferFullHinting);
    f.setStyleStrategy(QFont::NoAntialias);
    QImage mask(200, 12, QImage::Format_RGB32);
    mask.fill(Qt::black);
    QPainter mp(&mask);
    mp.setFont(f);
    mp.setPen(Qt::white);
    mp.drawText(QRect(0, 0, 200, 12), Qt::AlignLeft | Qt::AlignVCenter, text);
    mp.end();
    for (int y = 0; y < mask.height(); ++y) {
        for (int x = 0; x < mask.width(); ++x) {
            if (qRed(mask.pixel(x, y)) < 128)
                continue;
            const QPointF c(origin.x() + x * pitch + pitch / 2.0, origin.y() + y * pitch + pitch / 2.0);
            QRadialGradient glow(c, pitch * 0.95);
            glow.setColorAt(0, QColor(255, 230, 160));
            glow.setColorAt(0.45, ledOn);
            glow.setColorAt(1, QColor(ledOn.red(), ledOn.green(), ledOn.blue(), 0));
            p.setPen(Qt::NoPen);
            p.setBrush(glow);
            p.drawEllipse(c, pitch * 0.95, pitch * 0.95);
        }
    }
}

int ledTextWidth(const QString &text, int pitch)
{
    QFont f(QStringLiteral("DejaVu Sans Condensed"));
    f.setBold(true);
    f.setPixelSize(9);
    f.setStyleStrategy(QFont::NoAntialias);
    QImage probe(1, 1, QImage::Format_RGB32);
    QPainter pp(&probe);
    pp.setFont(f);
    return pp.fontMetrics().horizontalAdvance(text) * pitch;
}

void field(QPainter &p, const QRect &r, int row)
{
    // Recessed window: dark shade above and left, light edge below and right.
    const QRect frame = r.adjusted(-3, -3, 3, 3);
    p.fillRect(frame, QColor(30, 31, 34));
    p.setPen(QColor(0, 0, 0));
    p.drawLine(frame.topLeft(), frame.topRight());
    p.drawLine(frame.topLeft(), frame.bottomLeft());
    p.setPen(QColor(78, 80, 86));
    p.drawLine(frame.bottomLeft(), frame.bottomRight());
    p.drawLine(frame.topRight(), frame.bottomRight());
    p.fillRect(r.adjusted(-1, -1, 1, 1), Qt::black);

    QFont name(QStringLiteral("DejaVu Sans Condensed"));
    name.setBold(true);
    name.setPixelSize(11);
    name.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    p.setFont(name);
    p.setPen(QColor(196, 202, 206));
    const QRect text(30, r.top(), 250, r.height());
    p.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8(names[row]));
    const int nameEnd = 30 + p.fontMetrics().horizontalAdvance(QString::fromUtf8(names[row]));

    QFont unit(QStringLiteral("DejaVu Sans"));
    unit.setBold(true);
    unit.setPixelSize(11);
    p.setFont(unit);
    p.setPen(ledOn);
    const QRect unitBox(r.left() - 52, r.top(), 44, r.height());
    p.drawText(unitBox, Qt::AlignRight | Qt::AlignVCenter, QString::fromLatin1(units[row]));
    const int unitStart = unitBox.right() - p.fontMetrics().horizontalAdvance(QString::fromLatin1(units[row]));

    // Dotted leader from the name to the unit.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(90, 94, 100));
    for (int x = nameEnd + 8; x < unitStart - 6; x += 4)
        p.drawEllipse(QPointF(x, r.center().y() + 4.5), 0.8, 0.8);
}

void indicator(QPainter &p, QPointF c, const QColor &color, const char *label)
{
    QRadialGradient g(c - QPointF(0.8, 0.8), 4);
    g.setColorAt(0, color.lighter(170));
    g.setColorAt(0.7, color);
    g.setColorAt(1, color.darker(300));
    p.setPen(QPen(QColor(0, 0, 0), 0.8));
    p.setBrush(g);
    p.drawEllipse(c, 3, 3);
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(8);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(150, 155, 160));
    p.drawText(QPointF(c.x() + 6, c.y() + 3), QString::fromLatin1(label));
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: panelart OUTPUT.png\n");
        return 2;
    }
    QImage img(W, H, QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    housing(p);
    for (QPointF c : {QPointF(9, 9), QPointF(W - 10, 9), QPointF(9, H - 10), QPointF(W - 10, H - 10)})
        screw(p, c);

    display(p, QRect(20, 12, W - 40, 32));
    const QString title = QStringLiteral("SOLAR PLANT");
    const int pitch = 3;
    ledText(p, title, QPoint((W - ledTextWidth(title, pitch)) / 2, 12 - 3), pitch);

    for (int row = 0; row < 3; ++row)
        field(p, fields[row], row);

    p.setPen(QColor(18, 19, 21));
    p.drawLine(20, 137, W - 20, 137);
    p.setPen(QColor(84, 88, 94));
    p.drawLine(20, 138, W - 20, 138);

    indicator(p, QPointF(30, 156), QColor(40, 200, 60), "POWER");
    indicator(p, QPointF(82, 156), QColor(255, 150, 20), "DATA");

    // Vent slots and the maker's plate.
    for (int i = 0; i < 8; ++i) {
        const QRectF slot(150 + i * 10, 149, 4, 15);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(12, 12, 14));
        p.drawRoundedRect(slot, 2, 2);
    }
    QFont plate(QStringLiteral("DejaVu Sans"));
    plate.setPixelSize(9);
    plate.setBold(true);
    plate.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
    p.setFont(plate);
    p.setPen(QColor(16, 16, 18));
    p.drawText(QRect(241, 150, 150, 14), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("PV LED DISPLAY 3"));
    p.setPen(QColor(120, 124, 130));
    p.drawText(QRect(240, 149, 150, 14), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("PV LED DISPLAY 3"));
    p.end();

    return img.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
