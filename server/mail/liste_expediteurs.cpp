#include "server/mail/liste_expediteurs.h"

#include <QRegularExpression>
#include <QUrl>

namespace {

// The address with its domain in ASCII (IDNA) and everything in lower case,
// so that a domain written in Unicode in the setting meets the ASCII form the
// mail reader gives. Empty when the text holds no "@".
QString forme_comparable(QString adresse)
{
    if (adresse.startsWith(u'<') && adresse.endsWith(u'>'))
        adresse = adresse.mid(1, adresse.size() - 2);
    const qsizetype arobase = adresse.lastIndexOf(u'@');
    if (arobase < 0)
        return {};
    QString domaine = adresse.mid(arobase + 1);
    if (domaine.endsWith(u'.'))
        domaine.chop(1);
    const QByteArray ascii = QUrl::toAce(domaine);
    if (!ascii.isEmpty())
        domaine = QString::fromLatin1(ascii);
    if (domaine.isEmpty())
        return {};
    return (adresse.left(arobase + 1) + domaine).toLower();
}

} // namespace

ListeExpediteurs::ListeExpediteurs(const QString &autorises)
{
    static const QRegularExpression separateurs(QStringLiteral("[,;\\s]+"));
    for (const QString &entree : autorises.split(separateurs, Qt::SkipEmptyParts))
        m_entrees.append(forme_comparable(entree));
}

bool ListeExpediteurs::autorise(const QString &adresse) const
{
    const QString forme = forme_comparable(adresse);
    if (forme.isEmpty())
        return false;
    const QString domaine = forme.mid(forme.lastIndexOf(u'@'));
    for (const QString &entree : m_entrees) {
        if (entree.isEmpty())
            continue;
        if (entree == forme)
            return true;
        if (entree.startsWith(QStringLiteral("*@")) && entree.mid(1) == domaine)
            return true;
    }
    return false;
}
