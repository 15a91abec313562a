#include "server/mail/etat_releve.h"

QString texte_cause(EspacementReleve::Cause cause)
{
    switch (cause) {
    case EspacementReleve::Cause::MotDePasse:
        return QStringLiteral("mot de passe refusé");
    case EspacementReleve::Cause::Connexion:
        return QStringLiteral("serveur POP3 injoignable");
    case EspacementReleve::Cause::Aucune:
        break;
    }
    return {};
}

QString texte_heure(const QDateTime &moment, const QDateTime &maintenant)
{
    if (moment.date() == maintenant.date())
        return moment.toString(QStringLiteral("HH:mm"));
    return moment.toString(QStringLiteral("dd/MM HH:mm"));
}

QString EtatReleve::texte() const
{
    if (cause != EspacementReleve::Cause::Aucune)
        return QStringLiteral("relève suspendue : %1 à %2, nouvel essai à %3")
            .arg(texte_cause(cause), texte_heure(dernier_echec, maintenant),
                 texte_heure(prochain_essai, maintenant));
    const QString releve =
        !arret.isEmpty() ? QStringLiteral("relève arrêtée : ") + arret
        : derniere_releve.isValid()
            ? QStringLiteral("dernière relève ") + texte_heure(derniere_releve, maintenant)
            : QStringLiteral("aucune relève encore");
    return QStringLiteral("%1, %2 clef%3, %4 réponse%5 en attente")
        .arg(releve)
        .arg(clefs)
        .arg(clefs > 1 ? QStringLiteral("s") : QString())
        .arg(reponses_en_attente)
        .arg(reponses_en_attente > 1 ? QStringLiteral("s") : QString());
}
