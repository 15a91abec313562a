#include "server/mail/verdict_dmarc.h"

#include "server/mail/resultats_authentification.h"

#include <QUrl>

#include <algorithm>

namespace {

const QString kAbsent = QStringLiteral("dmarc=absent, ");

// Lower case, ASCII (IDNA), no final dot.
QString domaine_comparable(QString domaine)
{
    domaine = domaine.trimmed();
    if (domaine.endsWith(u'.'))
        domaine.chop(1);
    const QByteArray ascii = QUrl::toAce(domaine);
    return (ascii.isEmpty() ? domaine : QString::fromLatin1(ascii)).toLower();
}

// The signer is the From domain or one of its parents. A bare top-level
// domain never counts: no one signs as "org" for every domain under it.
bool aligne(const QString &signataire, const QString &from)
{
    if (signataire.isEmpty() || !signataire.contains(u'.'))
        return false;
    return from == signataire || from.endsWith(u'.' + signataire);
}

QString domaine_signataire(const ResultatMethode &r)
{
    const QString d = r.propriete(QStringLiteral("header.d"));
    if (!d.isEmpty())
        return domaine_comparable(d);
    const QString i = r.propriete(QStringLiteral("header.i"));
    const qsizetype arobase = i.lastIndexOf(u'@');
    return arobase < 0 ? QString() : domaine_comparable(i.mid(arobase + 1));
}

qsizetype nombre_resultats(const ResultatsAuthentification &ar, const QString &methode)
{
    return std::count_if(ar.resultats.cbegin(), ar.resultats.cend(),
                         [&methode](const ResultatMethode &r) { return r.methode == methode; });
}

} // namespace

VerdictDmarc juge_dmarc(const QByteArray &champ, const QString &domaine_from,
                        const QString &serveur_attendu)
{
    if (champ.trimmed().isEmpty())
        return {false, kAbsent + QStringLiteral("aucun champ Authentication-Results")};
    const ResultatsAuthentification ar = lire_resultats_authentification(champ);
    if (!ar.lisible)
        return {false, kAbsent + QStringLiteral("champ Authentication-Results illisible")};
    const QString attendu = serveur_attendu.trimmed();
    if (!attendu.isEmpty() && ar.serveur.compare(attendu, Qt::CaseInsensitive) != 0)
        return {false, kAbsent + QStringLiteral("résultats de ") +
                           (ar.sans_serveur ? QStringLiteral("serveur non nommé") : ar.serveur) +
                           QStringLiteral(", non de ") + attendu};
    const QString from = domaine_comparable(domaine_from);
    if (from.isEmpty())
        return {false, kAbsent + QStringLiteral("aucun domaine From")};

    // A line of the sender's that begins with a blank, right below the
    // receiving server's field, reads as the end of that field: a second
    // result for the method that decides may be the sender's.
    const qsizetype dmarcs = nombre_resultats(ar, QStringLiteral("dmarc"));
    if (dmarcs > 1 || (dmarcs == 0 && nombre_resultats(ar, QStringLiteral("dkim")) > 1))
        return {false, kAbsent +
                           QStringLiteral("champ Authentication-Results ambigu (deux "
                                          "résultats ") +
                           (dmarcs > 1 ? QStringLiteral("dmarc") : QStringLiteral("dkim")) + u')'};

    for (const ResultatMethode &r : ar.resultats) {
        if (r.methode != u"dmarc")
            continue;
        if (r.resultat != u"pass")
            return {false, QStringLiteral("dmarc=") + r.resultat};
        // Only a pass for the From this program read ties the result to it.
        const QString pour = r.propriete(QStringLiteral("header.from"));
        if (pour.isEmpty())
            return {false, QStringLiteral("dmarc=pass sans header.from")};
        if (domaine_comparable(pour) != from)
            return {false, QStringLiteral("dmarc=pass pour ") + pour};
        return {true, QStringLiteral("dmarc=pass")};
    }

    QString dkim;
    for (const ResultatMethode &r : ar.resultats) {
        if (r.methode != u"dkim")
            continue;
        const QString signataire = domaine_signataire(r);
        if (r.resultat == u"pass" && aligne(signataire, from))
            return {true, QStringLiteral("dkim=pass header.d=") + signataire};
        if (dkim.isEmpty() || r.resultat == u"pass")
            dkim = r.resultat == u"pass" ? QStringLiteral("dkim=pass header.d=") + signataire +
                                               QStringLiteral(" non aligné")
                                         : QStringLiteral("dkim=") + r.resultat;
    }
    return {false, kAbsent + (dkim.isEmpty() ? QStringLiteral("ni dmarc ni dkim") : dkim)};
}
