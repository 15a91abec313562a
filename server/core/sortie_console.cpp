#include "server/core/sortie_console.h"

#include "server/frame/journal.h"

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
    connect(&affichage, &Affichage::ajoute, this,
            [this, &affichage](Champ champ, const QString &texte) {
                const QString sortie =
                    ligne(QDateTime::currentDateTime(), champ, texte, affichage.champs().Label11);
                if (sortie.isEmpty())
                    return;
                std::fprintf(m_flux, "%s\n", sortie.toLocal8Bit().constData());
                std::fflush(m_flux);
            });
}

QString SortieConsole::ligne(const QDateTime &moment, Champ champ, const QString &texte,
                             const QString &code)
{
    const QString nom = nom_journal(champ);
    if (nom.isEmpty())
        return {};
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
