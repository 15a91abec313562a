#include "server/core/sortie_console.h"

#include <QDateTime>

namespace {

QString nom_journal(Champ champ)
{
    switch (champ) {
    case Champ::Text3:
        return QStringLiteral("messages");
    case Champ::txtstatus:
        return QStringLiteral("pop3");
    case Champ::Text2:
        return QStringLiteral("smtp");
    default:
        return {};
    }
}

} // namespace

SortieConsole::SortieConsole(const Affichage &affichage, std::FILE *flux, QObject *parent)
    : QObject(parent), m_flux(flux)
{
    connect(&affichage, &Affichage::ajoute, this, [this](Champ champ, const QString &texte) {
        for (const QString &ligne : lignes(QDateTime::currentDateTime(), champ, texte))
            std::fprintf(m_flux, "%s\n", ligne.toLocal8Bit().constData());
        std::fflush(m_flux);
    });
}

QStringList SortieConsole::lignes(const QDateTime &moment, Champ champ, const QString &texte)
{
    const QString nom = nom_journal(champ);
    if (nom.isEmpty())
        return {};
    const QString debut =
        moment.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ")) + nom + QStringLiteral(": ");
    QStringList result;
    QString copie = texte;
    copie.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    for (const QString &ligne : copie.split(u'\n', Qt::SkipEmptyParts))
        result.append(debut + ligne);
    return result;
}
