#include "server/core/sortie_console.h"

#include "server/frame/journal.h"

#include <QDateTime>

#include <sys/stat.h>

SortieConsole::SortieConsole(const Affichage &affichage, bool trace, std::FILE *flux,
                             QObject *parent)
    : QObject(parent), m_affichage(affichage), m_flux(flux),
      m_journal_systeme(vers_journal_systeme(flux))
{
    connect(&affichage, &Affichage::signale, this, [this](Niveau niveau, const QString &texte) {
        ecrire(niveau, QStringLiteral("messages"), texte);
    });
    if (!trace)
        return;
    connect(&affichage, &Affichage::ajoute, this, [this](Champ champ, const QString &texte) {
        // An error of the session is said once, by the message log.
        if (champ == Champ::txtstatus && !texte.startsWith(QLatin1String("! ")))
            ecrire(Niveau::Trace, QStringLiteral("pop3"), texte);
        else if (champ == Champ::Text2)
            ecrire(Niveau::Trace, QStringLiteral("smtp"), texte);
    });
}

void SortieConsole::ecrire(Niveau niveau, const QString &nom, const QString &texte)
{
    const QString sortie =
        ligne(QDateTime::currentDateTime(), nom, texte, m_affichage.champs().Label11);
    if (sortie.isEmpty())
        return;
    std::fprintf(m_flux, "%s%s\n", qPrintable(priorite(niveau, m_journal_systeme)),
                 sortie.toLocal8Bit().constData());
    std::fflush(m_flux);
}

QString SortieConsole::ligne(const QDateTime &moment, const QString &nom, const QString &texte,
                             const QString &code)
{
    QString copie = texte;
    // A code of one or two characters is no key (they have twelve) and its mask
    // would show it whole; looking for it would only mangle the dates.
    if (code.size() > 2)
        copie.replace(code, journal::masque_code(code));
    copie = journal::sur_une_ligne(copie).trimmed();
    if (copie.isEmpty())
        return {};
    return moment.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ")) + nom + QStringLiteral(": ") +
           copie;
}

QString SortieConsole::priorite(Niveau niveau, bool journal_systeme)
{
    if (!journal_systeme)
        return {};
    return u'<' + QString::number(static_cast<int>(niveau)) + u'>';
}

bool SortieConsole::vers_journal_systeme(std::FILE *flux)
{
    const QList<QByteArray> champs = qgetenv("JOURNAL_STREAM").split(':');
    struct stat etat {
    };
    const int fd = ::fileno(flux);
    if (champs.size() != 2 || fd < 0 || ::fstat(fd, &etat) != 0)
        return false;
    return champs.at(0) == QByteArray::number(quint64(etat.st_dev)) &&
           champs.at(1) == QByteArray::number(quint64(etat.st_ino));
}
