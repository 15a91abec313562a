#include "platform/widgets/application_setup.h"

#include "platform/widgets/twips.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace platform {

void preparer_application(const QString &nomIcone)
{
    // The programs speak French whatever the desktop's language, so Qt's
    // standard dialogs and buttons must too.
    auto *traduction = new QTranslator(qApp);
    if (traduction->load(QLocale(QLocale::French), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(traduction);
    else
        qWarning("traductions françaises de Qt introuvables : boîtes standard en anglais");

    QIcon icone;
    for (int taille : {16, 32, 48, 64, 128, 256})
        icone.addFile(QStringLiteral(":/icons/png/%1-%2.png").arg(nomIcone).arg(taille));
    QApplication::setWindowIcon(icone);

    // The windows' own font where it exists, otherwise one of the same widths.
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), familles_etroites());
    QApplication::setFont(police_formulaire(8.25, false));
}

} // namespace platform
