#include "config/plantconfig.h"
#include "fonts.h"
#include "net/simpletcp.h"
#include "tform2.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QStyleFactory>

#include <cstring>

namespace {
// Shows an exception's message without a modal loop: one box, brought up
// again with the newest message.
void showException(const QString &message)
{
    static QPointer<QMessageBox> box;
    if (!box) {
        box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Brelvon"), message, QMessageBox::Ok);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
    }
    box->setText(message);
    box->show();
    box->raise();
}

bool hasOption(int argc, char **argv, const char *option)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], option) == 0)
            return true;
    }
    return false;
}
} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    installMonitorFonts();
    setApplicationExceptionHandler(showException);

    TForm2 form(PlantConfig::defaultPath());
    // Unattended operation: start polling as if the operator ticked Auto-Read.
    form.setAutoReadAtStart(hasOption(argc, argv, "--auto-read"));
    form.show();
    const int code = app.exec();
    setApplicationExceptionHandler({});
    return code;
}
