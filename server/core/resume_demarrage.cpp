#include "server/core/resume_demarrage.h"

#include "server/core/controle_dossier.h"
#include "server/keys/key_store.h"

namespace resume_demarrage {

QString texte_sans_adresse_reponse()
{
    return QStringLiteral(
        "aucune adresse de réponse : la boite n'est pas relevée tant que « repondre » est vide");
}

QString forme_serveur(const QString &reglage)
{
    const QString texte = reglage.trimmed();
    const qsizetype fin = texte.indexOf(QLatin1String("://"));
    if (fin < 0)
        return QStringLiteral("en clair");
    const QString prefixe = texte.left(fin).toLower();
    if (prefixe == QLatin1String("pop3s") || prefixe == QLatin1String("smtps"))
        return QStringLiteral("TLS dès la connexion");
    if (prefixe == QLatin1String("pop3") || prefixe == QLatin1String("smtp"))
        return QStringLiteral("STARTTLS exigé");
    return QStringLiteral("préfixe « %1:// » inconnu").arg(prefixe);
}

QStringList lignes(const ServerState &state, bool oauth2, const QString &version)
{
    const QString connexion = oauth2 ? QStringLiteral("OAuth 2.0") : QStringLiteral("mot de passe");
    QStringList texte;
    texte << QStringLiteral("Tramelon %1 démarré, dossier %2").arg(version, state.rep_appli)
          << QStringLiteral("clefs inutilisées : %1").arg(key_store::clefs_restantes(state));
    const int bat = controle_dossier::nombre_fichiers_bat(state.rep_actions);
    texte << QStringLiteral("dossier des actions : %1 (%2)")
                 .arg(state.rep_actions, bat < 0
                                             ? QStringLiteral("introuvable ou fermé à la lecture")
                                             : QStringLiteral("%1 fichier(s) .bat").arg(bat));
    texte << QStringLiteral("serveur POP3 : %1 (%2), compte %3, connexion par %4")
                 .arg(state.nom_serveur_pop, forme_serveur(state.nom_serveur_pop), state.login_pop,
                      connexion);
    texte << QStringLiteral("serveur SMTP : %1 (%2), authentification SMTP %3")
                 .arg(state.nom_serveur_smtp, forme_serveur(state.nom_serveur_smtp),
                      state.auth_smtp ? QStringLiteral("oui (") + connexion + u')'
                                      : QStringLiteral("non"));
    texte << QStringLiteral("cycle : %1 s, réponses de %2")
                 .arg(state.duree_cycle)
                 .arg(state.adresse_reponse);
    for (const QString &correction : state.reglages_corriges)
        texte << QStringLiteral("réglage corrigé dans pop3.ini : ") + correction;
    return texte;
}

} // namespace resume_demarrage
