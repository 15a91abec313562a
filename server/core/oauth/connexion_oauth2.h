#pragma once

#include "server/core/oauth/oauth_client.h"
#include "server/frame/oauth_settings.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>

class EcouteRetour;

// The operator's sign-in, once, which leaves the refresh token in
// jeton_oauth2.dat. Two ways, chosen by the provider:
// - the device flow (RFC 8628; Microsoft and others): the endpoint gives a
//   code that the operator types at an address in any browser, while the
//   token endpoint is asked at the pace it sets until it grants or refuses;
// - the browser flow with PKCE (RFC 7636; Google, which refuses the mail scope
//   to devices): the operator opens an address in a browser of this machine,
//   the provider sends the browser back to a loopback address where this
//   object listens, and the code it brings is exchanged for the tokens. On a
//   machine without a browser, the listener takes a fixed port (for an SSH
//   tunnel), or the operator pastes back the address the browser was sent
//   to (coller()).
// Runs in the event loop; ends with termine() once.
class ConnexionOAuth2 : public QObject
{
    Q_OBJECT

public:
    explicit ConnexionOAuth2(const QString &rep_appli, QObject *parent = nullptr);
    ~ConnexionOAuth2() override;

    // Browser flow: where to listen (0, the default: a port the system chooses).
    void set_port(quint16 port) { m_port = port; }
    // Browser flow: how long the browser has to come back (10 minutes unless
    // set), and a connection to say what it wants.
    void set_delais(int total_ms, int lecture_ms);
    void demarrer();
    // Ends the sign-in: termine(false, raison) follows.
    void annuler(const QString &raison = QStringLiteral("connexion OAuth2 abandonnée"));
    // Browser flow: the address the browser was sent back to, as the operator
    // copied it. Empty when taken (the sign-in goes on to its end); otherwise
    // why it was not, in French, and the sign-in still waits.
    QString coller(const QString &adresse);
    // Browser flow: no answer taken yet, neither from the listener nor pasted.
    bool attend_retour() const { return !m_fini && !m_code_recu; }

    static constexpr int kDelaiNavigateurMs = 10 * 60 * 1000;

    // base64url without padding of SHA-256(verifier), as RFC 7636 S256 wants it.
    static QByteArray defi_pkce(const QByteArray &verifier);

Q_SIGNALS:
    // Device flow: where to go and the code to type; adresse_complete, when
    // the provider gives it, holds the code already.
    void code_appareil(const QString &adresse, const QString &code,
                       const QString &adresse_complete);
    // Browser flow: the address to open in a browser of this machine.
    void adresse_navigateur(const QString &adresse);
    void termine(bool reussi, const QString &message);

private:
    void finir(bool reussi, const QString &message);
    void demarrer_appareil();
    void interroger();
    void demarrer_navigateur();
    enum class Retour { Pris, Refuse, EtatFaux, Etranger, Tard };
    // The target the browser was sent back to, from the listener or pasted.
    Retour recevoir(const QUrl &cible);
    void echanger_code(const QString &code);
    void enregistrer(const QJsonObject &reponse);

    QString m_rep_appli;
    oauth2::Reglages m_reglages;
    ClientOAuth2 m_client;
    QTimer m_attente;
    bool m_fini = false;
    // Device flow.
    QString m_device_code;
    int m_intervalle_ms = 5000;
    QDeadlineTimer m_expiration;
    // Browser flow.
    EcouteRetour *m_ecoute = nullptr;
    quint16 m_port = 0;
    int m_delai_lecture_ms;
    QTimer m_delai_navigateur;
    bool m_code_recu = false;
    QByteArray m_verifier;
    QString m_etat;
    QString m_redirection;
};

// How the operator signs in from a terminal (tramelon --connexion-oauth2).
struct OptionsConnexion {
    quint16 port = 0;    // --port N: the browser flow listens on 127.0.0.1:N
    bool coller = false; // --coller: the address comes back on standard input
};

// From a terminal: runs the sign-in for the server folder, prints what the
// operator must do, waits. 0 once the token is stored; otherwise the error
// was printed (in French) and the status is not 0.
int connexion_oauth2_terminal(const QString &rep_appli, const OptionsConnexion &options = {});
