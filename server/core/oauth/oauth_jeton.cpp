#include "server/core/oauth/oauth_jeton.h"

#include <QJsonValue>

#include <utility>

namespace {
// When the endpoint gives no lifetime: RFC 6749 leaves it to the provider,
// and an hour is what the common ones give.
constexpr qint64 kDureeParDefaut = 3600;
} // namespace

SourceJeton::SourceJeton(const QString &rep_appli, Horloge horloge, QObject *parent)
    : QObject(parent), m_rep_appli(rep_appli), m_horloge(std::move(horloge))
{
}

oauth2::Reglages SourceJeton::reglages() const
{
    return oauth2::lire_reglages(m_rep_appli + QStringLiteral("pop3.ini"));
}

bool prendre_jetons(const QJsonObject &reponse, const QDateTime &maintenant, JetonsOAuth2 &jetons)
{
    const QString acces = reponse.value(QStringLiteral("access_token")).toString();
    if (acces.isEmpty())
        return false;
    qint64 duree = reponse.value(QStringLiteral("expires_in")).toVariant().toLongLong();
    if (duree <= 0)
        duree = kDureeParDefaut;
    jetons.access_token = acces;
    jetons.expiration = maintenant.toUTC().addSecs(duree);
    const QString renouvellement = reponse.value(QStringLiteral("refresh_token")).toString();
    if (!renouvellement.isEmpty())
        jetons.refresh_token = renouvellement;
    return true;
}

SourceJeton::Resultat SourceJeton::jeton()
{
    using Etat = Resultat::Etat;
    const oauth2::Reglages r = reglages();
    if (const QString erreur = oauth2::verifie(r); !erreur.isEmpty())
        return {Etat::Echec, {}, erreur};
    const QString fichier = fichier_jeton::chemin(m_rep_appli);
    QString erreur;
    std::optional<JetonsOAuth2> jetons = fichier_jeton::lire(fichier, &erreur);
    if (!jetons)
        return {Etat::Echec, {}, erreur};

    const QDateTime maintenant = m_horloge();
    const bool forcer = std::exchange(m_forcer, false);
    if (!forcer && jetons->acces_valide(maintenant, kMargeSecondes))
        return {Etat::Pret, jetons->access_token, {}};
    if (m_renouvele && !forcer) {
        // Renewed earlier in this cycle: still good enough for the rest of it.
        if (jetons->acces_valide(maintenant, 1))
            return {Etat::Pret, jetons->access_token, {}};
        return {Etat::Echec,
                {},
                QStringLiteral("jeton OAuth2 expiré ; il sera renouvelé au prochain cycle")};
    }
    m_renouvele = true;

    QUrlQuery form;
    form.addQueryItem(QStringLiteral("grant_type"), QStringLiteral("refresh_token"));
    form.addQueryItem(QStringLiteral("refresh_token"), jetons->refresh_token);
    form.addQueryItem(QStringLiteral("client_id"), r.client_id);
    if (!r.client_secret.isEmpty())
        form.addQueryItem(QStringLiteral("client_secret"), r.client_secret);
    const ReponseOAuth2 reponse = m_client.poster_et_attendre(QUrl(r.url_jeton), form);

    if (reponse.issue == ReponseOAuth2::Issue::Refus &&
        reponse.erreur == QLatin1String("invalid_grant")) {
        const QString texte =
            QStringLiteral("connexion OAuth2 révoquée ou expirée (le fournisseur refuse le jeton "
                           "de renouvellement) : relève arrêtée ; refaites la connexion avec "
                           "« tramelon --folder ") +
            m_rep_appli + QStringLiteral(" --connexion-oauth2 » puis redémarrez le serveur");
        if (sur_revocation)
            sur_revocation(texte);
        return {Etat::Revoque, {}, texte};
    }
    if (reponse.issue != ReponseOAuth2::Issue::Succes)
        return {Etat::Echec, {}, reponse.description};
    if (!prendre_jetons(reponse.corps, m_horloge(), *jetons))
        return {Etat::Echec,
                {},
                QStringLiteral("le fournisseur OAuth2 n'a pas donné de jeton d'accès")};
    Resultat resultat{Etat::Pret, jetons->access_token, {}};
    if (!fichier_jeton::ecrire(fichier, *jetons, &erreur))
        resultat.erreur = QStringLiteral("jeton OAuth2 renouvelé mais non enregistré : ") + erreur;
    return resultat;
}
