#include "platform/app_folder.h"
#include "prep/form1.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrine"));
    QApplication::setApplicationDisplayName(QStringLiteral("Kestrine"));

    kestrine::Form1 form(platform::dossier_application());
    form.show();
    return QApplication::exec();
}
