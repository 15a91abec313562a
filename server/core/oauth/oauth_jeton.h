#pragma once

#include "server/core/oauth/oauth_client.h"
#include "server/frame/horloge.h"
#include "server/frame/oauth_settings.h"
#include "server/frame/oauth_token_file.h"

#include <QObject>
#include <QString>

#include <functional>

// The access token of the cycle. A token that remains valid for at least a
// minute is used as is; otherwise it is renewed with the refresh token of
// jeton_oauth2.dat, at most once per cycle, and the file takes the new tokens
// at once (a rotated refresh token replaces the old one). A refusal of the
// refresh token (invalid_grant: the operator withdrew the grant) is a
// revocation: polling cannot go on until the sign-in is made again.
class SourceJeton : public QObject
{
    Q_OBJECT

public:
    // The number the mail components' errors carry when no token could be had.
    static constexpr qint16 kErreurJeton = 30;
    static constexpr qint64 kMargeSecondes = 60;

    struct Resultat {
        enum class Etat { Pret, Echec, Revoque };
        Etat etat = Etat::Echec;
        QString jeton;  // with Pret
        QString erreur; // French; with Pret, a warning (the file could not be written)
    };

    explicit SourceJeton(const QString &rep_appli, Horloge horloge = horloge_systeme(),
                         QObject *parent = nullptr);

    // pop3.ini's settings as they are now: the dialog may change them.
    oauth2::Reglages reglages() const;
    // A new polling cycle: one renewal is allowed again.
    void nouveau_cycle() { m_renouvele = false; }
    // The next jeton() asks the endpoint whatever the access token's time left:
    // a check of the settings proves the refresh token is still granted.
    void forcer_renouvellement() { m_forcer = true; }
    // Waits for the endpoint in a nested event loop when a renewal is needed.
    Resultat jeton();
    bool busy() const { return m_client.busy(); }
    void annuler() { m_client.annuler(); }
    ClientOAuth2 &client() { return m_client; }

    // Told once per refusal, with the error line to show and journal.
    std::function<void(const QString &)> sur_revocation;

private:
    QString m_rep_appli;
    Horloge m_horloge;
    ClientOAuth2 m_client;
    bool m_renouvele = false;
    bool m_forcer = false;
};

// Stores what a token endpoint granted over what the file held: the new
// access token and its expiry, and the refresh token when one came (the
// provider may keep the former one). False when the answer holds no token.
bool prendre_jetons(const QJsonObject &reponse, const QDateTime &maintenant, JetonsOAuth2 &jetons);
