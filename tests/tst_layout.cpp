// The main window's components: names, places, initial texts, look, and
// where a mouse click goes.

#include "app/fonts.h"
#include "app/formlayout.h"

#include <QApplication>
#include <QFontInfo>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QTest>

namespace {

struct Form {
    QWidget widget;
    FormWidgets w;
    Form()
    {
        widget.resize(991, 713);
        buildFormWidgets(&widget, w);
    }
    bool show()
    {
        widget.show();
        return QTest::qWaitForWindowExposed(&widget);
    }
};

QString shownText(const QWidget *w)
{
    if (auto *label = qobject_cast<const QLabel *>(w))
        return label->text();
    if (auto *button = qobject_cast<const QAbstractButton *>(w))
        return button->text();
    if (auto *box = qobject_cast<const QGroupBox *>(w))
        return box->title();
    if (auto *edit = qobject_cast<const QPlainTextEdit *>(w))
        return edit->toPlainText();
    return {};
}

// Finds a widget by a '/'-separated path from `root`; each step names a direct
// child by objectName or, for unnamed children, by the text it shows.
QWidget *byPath(QWidget *root, const QString &path)
{
    QWidget *w = root;
    for (const QString &step : path.split(QLatin1Char('/'))) {
        QWidget *next = nullptr;
        int hits = 0;
        for (QWidget *c : w->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
            if (c->objectName() == step || (c->objectName().isEmpty() && shownText(c) == step)) {
                next = c;
                ++hits;
            }
        }
        if (hits != 1)
            return nullptr;
        w = next;
    }
    return w;
}

QColor pixelAt(QWidget *w, QPoint p)
{
    return w->grab().toImage().pixelColor(p);
}

const QStringList boxNames = {QStringLiteral("Phase 1"), QStringLiteral("Phase 2"), QStringLiteral("Phase 3"),
                              QStringLiteral("DC Input 1"), QStringLiteral("DC Input 2 "), QStringLiteral("DC Input 3")};
// Value readouts by box (in the order above) and quantity; the slot follows after '_'.
const char *const valueNames[6][3] = {
    {"F1volt", "F1Cur", "F1Power"}, {"F2Volt", "F2Cur", "F2Power"}, {"F3Volt", "F3cur", "F3Power"},
    {"G1Volt", "G1Cur", "G1Power"}, {"G2Volt", "G2Cur", "G2Power"}, {"G3Volt", "G3Cur", "G3Power"},
};

} // namespace

class TestLayout : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void components_data();
    void components();
    void namesAndSlotFieldsAgree();
    void fontsArePixelSized();
    void readoutLook();
    void readoutKeepsRightEndOfLongText();
    void lampFollowsColour();
    void panelGroup();
    void focusOrder();
    void hostLabelFitsItsText();
    void clickRouting_data();
    void clickRouting();
    void dragOffGroupIsNoClick();
};

void TestLayout::initTestCase()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    installMonitorFonts();
}

void TestLayout::components_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QPoint>("pos");
    QTest::addColumn<QSize>("size"); // invalid: sized to its text, not checked
    QTest::addColumn<QString>("text");

    auto add = [](const QString &path, QPoint pos, QSize size, const QString &text) {
        QTest::newRow(qPrintable(path)) << path << pos << size << text;
    };
    const QPoint groupPos[7] = {{}, {8, 8}, {256, 8}, {504, 8}, {744, 8}, {8, 360}, {256, 360}};
    const QPoint boxPos[6] = {{118, 47}, {118, 123}, {118, 198}, {6, 47}, {6, 123}, {6, 199}};
    const char *rowCaptions[3] = {"Voltage", "Current", "Power"};
    const QPoint captionPos[3] = {{3, 16}, {3, 36}, {3, 55}};
    const QPoint valuePos[3] = {{50, 16}, {50, 36}, {50, 56}};

    for (int n = 1; n <= 6; ++n) {
        const QString gb = QStringLiteral("GB%1").arg(n);
        const QString g = gb + QLatin1Char('/');
        const QString d = QString::number(n);
        add(gb, groupPos[n], {233, 345}, QStringLiteral("Inverter 1"));
        add(g + "LabelHost" + d, {8, 16}, {}, QString());
        add(g + "Satus:", {8, 32}, {}, QStringLiteral("Satus:"));
        add(g + "LblStatus" + d, {48, 32}, {105, 17}, QStringLiteral("Unknow"));
        add(g + "Shape" + d, {160, 32}, {62, 14}, QString());
        add(g + "SBP" + d, {8, 277}, {73, 22}, QStringLiteral("Total Power"));
        add(g + "SBD" + d, {8, 298}, {73, 22}, QStringLiteral("Daily Energy"));
        add(g + "SBT" + d, {8, 319}, {73, 22}, QStringLiteral("Total Energy"));
        add(g + "TPower_" + d, {88, 277}, {130, 22}, QStringLiteral("000.0"));
        add(g + "DailyEnergy_" + d, {88, 297}, {130, 22}, QStringLiteral("000.0"));
        add(g + "ETotal_" + d, {88, 317}, {130, 22}, QStringLiteral("000.0"));
        for (int b = 0; b < 6; ++b) {
            const QString box = g + boxNames[b];
            add(box, boxPos[b], {105, 76}, boxNames[b]);
            for (int q = 0; q < 3; ++q) {
                add(box + "/" + rowCaptions[q], captionPos[q], {}, QString::fromLatin1(rowCaptions[q]));
                add(box + "/" + valueNames[b][q] + "_" + d, valuePos[q], {50, 17}, QStringLiteral("000.0"));
            }
        }
    }
    add("GB7", {496, 360}, {481, 345}, QStringLiteral("LED Panel "));
    add("GB7/Image1", {24, 16}, {421, 185}, QString());
    add("GB7/Power_Total", {351, 69}, {85, 18}, QStringLiteral("000000"));
    add("GB7/ETotal_Total", {350, 95}, {85, 18}, QStringLiteral("000000"));
    add("GB7/CO2_Total", {350, 121}, {85, 18}, QStringLiteral("000000"));
    add("GB7/Shape7", {456, 16}, {17, 65}, QString());
    add("GB7/Button3", {448, 96}, {25, 25}, QStringLiteral("Snd"));
    add("GB7/Memo1", {24, 216}, {425, 89}, QString());
    add("GB7/CB1", {8, 320}, {121, 17}, QStringLiteral("Auto-Read"));
    add("GB7/Button2", {176, 312}, {129, 25}, QStringLiteral("Clear Log"));
    add("GB7/Button1", {320, 312}, {129, 25}, QStringLiteral("Exit"));
}

void TestLayout::components()
{
    QFETCH(QString, path);
    QFETCH(QPoint, pos);
    QFETCH(QSize, size);
    QFETCH(QString, text);

    Form form;
    QWidget *w = byPath(&form.widget, path);
    QVERIFY2(w, qPrintable(path + " not found, or not unique in its container"));
    if (!w->objectName().isEmpty())
        QCOMPARE(form.widget.findChildren<QWidget *>(w->objectName()).size(), 1);
    QCOMPARE(w->pos(), pos);
    if (size.isValid())
        QCOMPARE(w->size(), size);
    QCOMPARE(shownText(w), text);
}

void TestLayout::namesAndSlotFieldsAgree()
{
    Form form;
    const FormWidgets &w = form.w;
    for (int n = 1; n <= 6; ++n) {
        const SlotWidgets &s = w.slot[n];
        const QString d = QString::number(n);
        const std::pair<QWidget *, QString> fields[] = {
            {s.GB, "GB" + d}, {s.LabelHost, "LabelHost" + d}, {s.LblStatus, "LblStatus" + d},
            {s.Shape, "Shape" + d}, {s.SBP, "SBP" + d}, {s.SBD, "SBD" + d}, {s.SBT, "SBT" + d},
            {s.TPower, "TPower_" + d}, {s.DailyEnergy, "DailyEnergy_" + d}, {s.ETotal, "ETotal_" + d},
        };
        for (const auto &[widget, name] : fields) {
            QVERIFY2(widget, qPrintable(name));
            QCOMPARE(widget->objectName(), name);
        }
        for (int b = 0; b < 6; ++b) {
            for (int q = 0; q < 3; ++q) {
                Readout *r = s.values[b][q];
                QVERIFY(r);
                QCOMPARE(r->objectName(), QString::fromLatin1(valueNames[b][q]) + "_" + d);
                QCOMPARE(qobject_cast<QGroupBox *>(r->parentWidget())->title(), boxNames[b]);
                QVERIFY(r->parentWidget()->parentWidget() == s.GB);
            }
        }
        QCOMPARE(s.Shape->accessibleName(), "Link lamp " + d);
    }
    const std::pair<QWidget *, QString> panel[] = {
        {w.GB7, "GB7"}, {w.Image1, "Image1"}, {w.Power_Total, "Power_Total"},
        {w.ETotal_Total, "ETotal_Total"}, {w.CO2_Total, "CO2_Total"}, {w.Shape7, "Shape7"},
        {w.Button1, "Button1"}, {w.Button2, "Button2"}, {w.Button3, "Button3"},
        {w.Memo1, "Memo1"}, {w.CB1, "CB1"},
    };
    for (const auto &[widget, name] : panel) {
        QVERIFY2(widget, qPrintable(name));
        QCOMPARE(widget->objectName(), name);
    }
}

void TestLayout::fontsArePixelSized()
{
    Form form;
    QCOMPARE(form.widget.font().family(), QStringLiteral("Tahoma"));
    QCOMPARE(form.widget.font().pixelSize(), 11);
    for (QWidget *w : form.widget.findChildren<QWidget *>()) {
        // Qt's own inner parts of the log (scroll bars, viewport) inherit it.
        QVERIFY2(w->font().pixelSize() > 0, qPrintable(w->objectName() + " " + shownText(w)));
    }
    const SlotWidgets &s = form.w.slot[3];
    QLabel *caption = qobject_cast<QLabel *>(byPath(s.GB, QStringLiteral("DC Input 3/Current")));
    QVERIFY(caption);
    QCOMPARE(caption->font().pixelSize(), 13);
    QCOMPARE(s.LblStatus->font().pixelSize(), 11);
    QCOMPARE(s.LblStatus->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QCOMPARE(s.SBD->font().pixelSize(), 11);
}

void TestLayout::readoutLook()
{
    Form form;
    const QColor red(255, 0, 0), lime(0, 255, 0), yellow(255, 255, 0), black(0, 0, 0);
    auto check = [](Readout *r, int px, const QColor &text, const QColor &back) {
        const QString name = r->objectName();
        QVERIFY2(r->font().pixelSize() == px && r->font().bold(), qPrintable(name));
        QVERIFY2(QFontInfo(r->font()).fixedPitch(), qPrintable(name + " " + QFontInfo(r->font()).family()));
        QVERIFY2(r->palette().color(QPalette::WindowText) == text, qPrintable(name));
        QVERIFY2(r->palette().color(QPalette::Window) == back, qPrintable(name));
        QVERIFY2(r->autoFillBackground(), qPrintable(name));
        QVERIFY2(r->alignment() == (Qt::AlignRight | Qt::AlignVCenter), qPrintable(name));
        QVERIFY2(!r->wordWrap(), qPrintable(name));
        QVERIFY2(r->minimumSize() == r->maximumSize(), qPrintable(name + " is not of fixed size"));
    };
    for (int n = 1; n <= 6; ++n) {
        const SlotWidgets &s = form.w.slot[n];
        for (int b = 0; b < 6; ++b)
            for (int q = 0; q < 3; ++q)
                check(s.values[b][q], 12, b < 3 ? red : lime, black);
        for (Readout *r : {s.TPower, s.DailyEnergy, s.ETotal})
            check(r, 19, yellow, black);
    }
    for (Readout *r : {form.w.Power_Total, form.w.ETotal_Total, form.w.CO2_Total})
        check(r, 19, red, black);
    // The painted background really is opaque black.
    form.w.slot[2].values[0][0]->setText(QString());
    QCOMPARE(pixelAt(form.w.slot[2].values[0][0], {2, 2}), black);
}

void TestLayout::readoutKeepsRightEndOfLongText()
{
    Form form;
    Readout *r = form.w.slot[1].values[3][2]; // G1Power_1, 50 px wide
    const QString unit = QStringLiteral("kW");
    const QString longText = QStringLiteral("1234567890.123 kW");
    QVERIFY(r->fontMetrics().horizontalAdvance(longText) > r->width());

    r->setText(unit);
    const QImage unitOnly = r->grab().toImage();
    r->setText(longText);
    QCOMPARE(r->text(), longText);
    const QImage cut = r->grab().toImage();
    const int unitWidth = r->fontMetrics().horizontalAdvance(unit) + 1;
    const QRect tail(r->width() - unitWidth, 0, unitWidth, r->height());
    QCOMPARE(cut.copy(tail), unitOnly.copy(tail));
    // The digits run on to the left edge: the text is cut, not elided or wrapped.
    const QImage head = cut.copy(0, 0, 4, r->height());
    bool inked = false;
    for (int y = 0; y < head.height() && !inked; ++y)
        for (int x = 0; x < head.width() && !inked; ++x)
            inked = head.pixelColor(x, y) != QColor(Qt::black);
    QVERIFY(inked);
}

void TestLayout::lampFollowsColour()
{
    Form form;
    Lamp *lamp = form.w.slot[5].Shape;
    QCOMPARE(lamp->color(), QColor(255, 0, 0));
    QCOMPARE(lamp->accessibleDescription(), QStringLiteral("not connected"));
    QCOMPARE(pixelAt(lamp, {0, 0}), QColor(Qt::black));
    QCOMPARE(pixelAt(lamp, {lamp->width() - 1, lamp->height() - 1}), QColor(Qt::black));
    QCOMPARE(pixelAt(lamp, {30, 7}), QColor(255, 0, 0));

    lamp->setColor(QColor(0, 128, 0));
    QCOMPARE(lamp->accessibleDescription(), QStringLiteral("connected"));
    QCOMPARE(pixelAt(lamp, {30, 7}), QColor(0, 128, 0));
    lamp->setColor(QColor(255, 255, 0));
    QCOMPARE(lamp->accessibleDescription(), QStringLiteral("not connected"));
    QCOMPARE(form.w.Shape7->color(), QColor(255, 0, 0));
}

void TestLayout::panelGroup()
{
    Form form;
    const FormWidgets &w = form.w;
    QVERIFY(!w.Image1->pixmap().isNull());
    QCOMPARE(w.Image1->pixmap().size(), QSize(421, 185));
    for (Readout *r : {w.Power_Total, w.ETotal_Total, w.CO2_Total}) {
        QVERIFY2(w.Image1->geometry().contains(r->geometry()), qPrintable(r->objectName()));
        QVERIFY2(w.GB7->childAt(r->geometry().center()) == r, qPrintable(r->objectName() + " is beneath the picture"));
    }
    QCOMPARE(w.Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QCOMPARE(w.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(w.Memo1->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QVERIFY(!w.Memo1->isReadOnly());
    QCOMPARE(w.Memo1->maximumBlockCount(), 100000);
    QVERIFY(!w.CB1->isChecked());
    for (QPushButton *b : form.widget.findChildren<QPushButton *>()) {
        QVERIFY2(!b->isDefault() && !b->autoDefault(), qPrintable(b->objectName()));
        if (qobject_cast<RequestButton *>(b)) {
            QVERIFY2(!b->isEnabled(), qPrintable(b->objectName()));
            QCOMPARE(b->focusPolicy(), Qt::NoFocus);
        }
    }
}

void TestLayout::focusOrder()
{
    Form form;
    QVERIFY(form.show());
    form.widget.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form.widget));
    const FormWidgets &w = form.w;
    w.CB1->setFocus();
    const QList<QWidget *> expected = {w.Memo1, w.Button2, w.Button1, w.Button3, w.CB1};
    for (QWidget *next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
}

void TestLayout::hostLabelFitsItsText()
{
    const QString host = QStringLiteral("192.168.100.104:10001");
    {
        Form form; // text written while the window is shown
        QVERIFY(form.show());
        QLabel *label = form.w.slot[4].LabelHost;
        label->setText(host);
        QTRY_COMPARE(label->size(), label->sizeHint());
        QVERIFY(label->width() > label->fontMetrics().horizontalAdvance(QStringLiteral("192.168.100.104")));
    }
    {
        Form form; // text written before the window is first shown
        QLabel *label = form.w.slot[2].LabelHost;
        label->setText(host);
        QVERIFY(form.show());
        QTRY_COMPARE(label->size(), label->sizeHint());
    }
}

void TestLayout::clickRouting_data()
{
    QTest::addColumn<QString>("path");       // the widget the mouse is over
    QTest::addColumn<QPoint>("at");          // in that widget; (-1,-1): its centre
    QTest::addColumn<bool>("buttonsOn");     // request buttons of group 4 switched on
    QTest::addColumn<Qt::MouseButton>("mouseButton");
    QTest::addColumn<int>("groupClicks");
    QTest::addColumn<int>("buttonClicks");   // clicked() of SBD4

    const QPoint centre(-1, -1);
    QTest::newRow("switched-off Daily Energy") << "GB4/SBD4" << centre << false << Qt::LeftButton << 1 << 0;
    QTest::newRow("switched-on Daily Energy") << "GB4/SBD4" << centre << true << Qt::LeftButton << 0 << 1;
    QTest::newRow("switched-off, right button") << "GB4/SBD4" << centre << false << Qt::RightButton << 0 << 0;
    QTest::newRow("group caption") << "GB4" << QPoint(24, 5) << false << Qt::LeftButton << 1 << 0;
    QTest::newRow("group frame") << "GB4" << QPoint(1, 200) << false << Qt::LeftButton << 1 << 0;
    QTest::newRow("between the boxes") << "GB4" << QPoint(114, 150) << false << Qt::LeftButton << 1 << 0;
    QTest::newRow("right of the lamp") << "GB4" << QPoint(226, 38) << false << Qt::LeftButton << 1 << 0;
    QTest::newRow("group, right button") << "GB4" << QPoint(114, 150) << false << Qt::RightButton << 0 << 0;
    QTest::newRow("Voltage caption") << "GB4/Phase 1/Voltage" << centre << false << Qt::LeftButton << 0 << 0;
    QTest::newRow("Satus caption") << "GB4/Satus:" << centre << false << Qt::LeftButton << 0 << 0;
    QTest::newRow("status text") << "GB4/LblStatus4" << centre << false << Qt::LeftButton << 0 << 0;
    QTest::newRow("host label") << "GB4/LabelHost4" << centre << false << Qt::LeftButton << 0 << 0;
    QTest::newRow("value readout") << "GB4/DC Input 2 /G2Cur_4" << centre << false << Qt::LeftButton << 0 << 0;
    QTest::newRow("large readout") << "GB4/ETotal_4" << centre << true << Qt::LeftButton << 0 << 0;
    QTest::newRow("lamp") << "GB4/Shape4" << centre << false << Qt::LeftButton << 0 << 0;
    QTest::newRow("inner box frame") << "GB4/Phase 2" << QPoint(100, 70) << false << Qt::LeftButton << 0 << 0;
    QTest::newRow("inner box caption") << "GB4/DC Input 1" << QPoint(20, 4) << false << Qt::LeftButton << 0 << 0;
}

void TestLayout::clickRouting()
{
    QFETCH(QString, path);
    QFETCH(QPoint, at);
    QFETCH(bool, buttonsOn);
    QFETCH(Qt::MouseButton, mouseButton);
    QFETCH(int, groupClicks);
    QFETCH(int, buttonClicks);

    Form form;
    const SlotWidgets &s = form.w.slot[4];
    s.LabelHost->setText(QStringLiteral("10.0.0.4:502"));
    for (RequestButton *b : {s.SBP, s.SBD, s.SBT})
        b->setEnabled(buttonsOn);
    QVERIFY(form.show());

    QWidget *target = byPath(&form.widget, path);
    QVERIFY(target);
    const QPoint local = at == QPoint(-1, -1) ? target->rect().center() : at;
    const QPoint inWindow = target->mapTo(&form.widget, local);
    // The click must land on the widget the row is about.
    QCOMPARE(form.widget.childAt(inWindow), target);

    QSignalSpy groupSpy(s.GB, &ClickGroup::clicked);
    QSignalSpy buttonSpy(s.SBD, &QAbstractButton::clicked);
    QSignalSpy otherGroup(form.w.slot[3].GB, &ClickGroup::clicked);
    // Through the window, as the window system delivers a real click.
    QTest::mouseClick(form.widget.windowHandle(), mouseButton, {}, inWindow);
    QCOMPARE(groupSpy.count(), groupClicks);
    QCOMPARE(buttonSpy.count(), buttonClicks);
    QCOMPARE(otherGroup.count(), 0);
}

void TestLayout::dragOffGroupIsNoClick()
{
    Form form;
    QVERIFY(form.show());
    const SlotWidgets &s = form.w.slot[4];
    QSignalSpy groupSpy(s.GB, &ClickGroup::clicked);
    QWindow *window = form.widget.windowHandle();
    const QPoint onButton = s.SBD->mapTo(&form.widget, s.SBD->rect().center());
    QTest::mousePress(window, Qt::LeftButton, {}, onButton);
    QTest::mouseMove(window, s.GB->geometry().topLeft() - QPoint(4, 4));
    QTest::mouseRelease(window, Qt::LeftButton, {}, s.GB->geometry().topLeft() - QPoint(4, 4));
    QCOMPARE(groupSpy.count(), 0);
    QTest::mouseClick(window, Qt::LeftButton, {}, onButton);
    QCOMPARE(groupSpy.count(), 1);
}

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
