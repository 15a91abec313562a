#include "server/mail/textes_resultat.h"

#include "server/frame/journal.h"
#include "server/mail/commande_citee.h"
#include "server/mail/reponse.h"

#include <QStringList>

namespace {

const QString kCrLf = QStringLiteral("\r\n");

QString ligne(const QString &commande) { return commande_citee(journal::sur_une_ligne(commande)); }

QString secondes(qint64 duree_ms) { return QString::number((duree_ms + 500) / 1000); }

QString depassement(const IssueLancement &issue)
{
    return issue.duree_max_depassee > 0
               ? QStringLiteral(" (durée maximale de %1 s dépassée)").arg(issue.duree_max_depassee)
               : QString();
}

QString propre(QStringView texte)
{
    QString out;
    out.reserve(texte.size());
    for (const QChar c : texte) {
        const QChar::Category genre = c.category();
        if (c == u'\t')
            out.append(u' ');
        else if (genre == QChar::Other_Control || genre == QChar::Other_Format ||
                 genre == QChar::Separator_Line || genre == QChar::Separator_Paragraph)
            out.append(u'?');
        else
            out.append(c);
    }
    return out;
}

} // namespace

QString ligne_fin(const QString &commande, const IssueLancement &issue)
{
    const QString nom = ligne(commande);
    const QString en = QStringLiteral(" en ") + secondes(issue.duree_ms) + QStringLiteral(" s");
    switch (issue.genre) {
    case IssueLancement::Genre::Code:
        return nom + QStringLiteral(" terminée : code ") + QString::number(issue.valeur) + en +
               depassement(issue);
    case IssueLancement::Genre::Signal:
        return nom + QStringLiteral(" terminée : arrêtée par le signal ") +
               QString::number(issue.valeur) + en + depassement(issue);
    case IssueLancement::Genre::Inconnue:
        return nom + QStringLiteral(" terminée : code inconnu") + en + depassement(issue);
    case IssueLancement::Genre::Interrompue:
        break;
    }
    return nom + QStringLiteral(" interrompue : le serveur s'est arrêté pendant son exécution") +
           (issue.tournait_encore ? QStringLiteral(", elle tournait encore à son redémarrage")
                                  : QString());
}

QString ligne_depassement(const QString &commande, int duree_max)
{
    return ligne(commande) +
           QStringLiteral(" dépasse sa durée maximale de %1 s : elle est arrêtée").arg(duree_max);
}

QString objet_resultat(const QString &objet_reponse, qint16 numero)
{
    // The reply's own form, so that the two subjects differ by one word.
    QString objet = Reponse::objet_numerote(objet_reponse, numero);
    const qsizetype mot = objet.lastIndexOf(QStringLiteral(" (reponse n "));
    return objet.replace(mot, 12, QStringLiteral(" (resultat n "));
}

QString fin_de_sortie(const QByteArray &octets)
{
    QList<QByteArray> lignes = octets.split('\n');
    if (!lignes.isEmpty() && lignes.last().isEmpty())
        lignes.removeLast();
    lignes = lignes.mid(qMax(qsizetype(0), lignes.size() - kLignesSortie));
    QStringList propres;
    qsizetype taille = 0;
    // From the last line backwards, whole lines while they fit.
    for (qsizetype i = lignes.size() - 1; i >= 0; --i) {
        QByteArray l = lignes.at(i);
        if (l.endsWith('\r'))
            l.chop(1);
        QString texte = propre(QString::fromUtf8(l));
        const qsizetype place = kCaracteresSortie - taille - (propres.isEmpty() ? 0 : 2);
        if (texte.size() > place) {
            if (propres.isEmpty()) // one line longer than all: its end
                propres.prepend(QStringLiteral("…") + texte.right(kCaracteresSortie - 1));
            break;
        }
        propres.prepend(texte);
        taille += texte.size() + (propres.size() > 1 ? 2 : 0);
    }
    return propres.join(kCrLf);
}

QString texte_resultat(const QString &commande, const IssueLancement &issue,
                       const QString &fin_sortie)
{
    QString etat;
    const QString en = QStringLiteral(" en ") + secondes(issue.duree_ms) + QStringLiteral(" s");
    switch (issue.genre) {
    case IssueLancement::Genre::Code:
        etat = QStringLiteral("s'est terminée avec le code ") + QString::number(issue.valeur) + en;
        break;
    case IssueLancement::Genre::Signal:
        etat = QStringLiteral("a été arrêtée par le signal ") + QString::number(issue.valeur) + en;
        break;
    case IssueLancement::Genre::Inconnue:
        etat = QStringLiteral("s'est terminée") + en + QStringLiteral(", son code n'est pas connu");
        break;
    case IssueLancement::Genre::Interrompue:
        etat = QStringLiteral("a été interrompue : le serveur s'est arrêté pendant son exécution") +
               (issue.tournait_encore ? QStringLiteral(" ; elle tournait encore à son redémarrage")
                                      : QStringLiteral(" ; sa fin n'est pas connue"));
        break;
    }
    const QString sortie =
        fin_sortie.isEmpty()
            ? QStringLiteral("Elle n'a rien écrit sur sa sortie.")
            : QStringLiteral("Dernières lignes de sa sortie :") + kCrLf + fin_sortie;
    return QStringLiteral(" La commande : ") + kCrLf + ligne(commande) + kCrLf + etat +
           depassement(issue) + kCrLf + sortie;
}
