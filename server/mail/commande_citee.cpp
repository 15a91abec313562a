#include "server/mail/commande_citee.h"

QString commande_citee(const QString &commande)
{
    QString propre;
    propre.reserve(qMin(commande.size(), kLongueurCommandeCitee + 1));
    for (const QChar c : commande) {
        const QChar::Category k = c.category();
        if (k == QChar::Other_Control || k == QChar::Separator_Line ||
            k == QChar::Separator_Paragraph)
            continue;
        propre += c;
        if (propre.size() > kLongueurCommandeCitee)
            break;
    }
    if (propre.size() <= kLongueurCommandeCitee)
        return propre;
    qsizetype coupe = kLongueurCommandeCitee;
    // Never half of a character written as a surrogate pair.
    if (propre.at(coupe - 1).isHighSurrogate())
        --coupe;
    return propre.left(coupe) + QStringLiteral(" […]");
}
