#include "server/core/oauth/connexion_oauth2.h"

#include "server/core/oauth/ecoute_retour.h"
#include "server/core/oauth/lecture_lignes.h"
#include "server/core/oauth/oauth_jeton.h"
#include "server/frame/oauth_token_file.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QJsonValue>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>

#include <cstdio>
#include <memory>

#include <unistd.h>

namespace {

constexpr int kPasLent = 5000; // RFC 8628: slow_down adds five seconds

QByteArray aleatoire_base64url(int octets)
{
    QByteArray bytes(octets, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QString texte(const QJsonObject &objet, const char *cle)
{
    return objet.value(QLatin1String(cle)).toString();
}

// A terminal shows the address as a QR code too, for a telephone to read,
// when the qrencode program is there to draw it.
void afficher_qr_code(const QString &adresse)
{
    const QString qrencode = QStandardPaths::findExecutable(QStringLiteral("qrencode"));
    if (qrencode.isEmpty() || !::isatty(STDOUT_FILENO))
        return;
    QProcess dessin;
    dessin.start(qrencode, {QStringLiteral("-t"), QStringLiteral("UTF8"), QStringLiteral("-m"),
                            QStringLiteral("2"), adresse});
    if (dessin.waitForFinished(5000) && dessin.exitCode() == 0)
        std::fputs(dessin.readAllStandardOutput().constData(), stdout);
}

} // namespace

ConnexionOAuth2::ConnexionOAuth2(const QString &rep_appli, QObject *parent)
    : QObject(parent), m_rep_appli(rep_appli), m_delai_lecture_ms(EcouteRetour::kDelaiLectureMs)
{
    m_attente.setSingleShot(true);
    connect(&m_attente, &QTimer::timeout, this, &ConnexionOAuth2::interroger);
    m_delai_navigateur.setSingleShot(true);
    m_delai_navigateur.setInterval(kDelaiNavigateurMs);
    connect(&m_delai_navigateur, &QTimer::timeout, this, [this] {
        const int secondes = m_delai_navigateur.interval() / 1000;
        finir(false, QStringLiteral("le navigateur n'est pas revenu dans le délai de la connexion "
                                    "(%1) : relancez-la")
                         .arg(secondes >= 60 && secondes % 60 == 0
                                  ? QString::number(secondes / 60) + QStringLiteral(" minutes")
                                  : QString::number(secondes) + QStringLiteral(" s")));
    });
}

ConnexionOAuth2::~ConnexionOAuth2() = default;

QByteArray ConnexionOAuth2::defi_pkce(const QByteArray &verifier)
{
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

void ConnexionOAuth2::demarrer()
{
    m_reglages = oauth2::lire_reglages(m_rep_appli + QStringLiteral("pop3.ini"));
    if (const QString erreur = oauth2::verifie(m_reglages); !erreur.isEmpty()) {
        finir(false, erreur);
        return;
    }
    if (m_reglages.par_navigateur())
        demarrer_navigateur();
    else
        demarrer_appareil();
}

void ConnexionOAuth2::annuler(const QString &raison) { finir(false, raison); }

void ConnexionOAuth2::finir(bool reussi, const QString &message)
{
    if (m_fini)
        return;
    m_fini = true;
    m_attente.stop();
    m_delai_navigateur.stop();
    if (m_ecoute)
        m_ecoute->fermer();
    m_client.annuler();
    Q_EMIT termine(reussi, message);
}

void ConnexionOAuth2::enregistrer(const QJsonObject &reponse)
{
    JetonsOAuth2 jetons;
    if (!prendre_jetons(reponse, QDateTime::currentDateTimeUtc(), jetons)) {
        finir(false, QStringLiteral("le fournisseur OAuth2 n'a pas donné de jeton d'accès"));
        return;
    }
    if (jetons.refresh_token.isEmpty()) {
        finir(false, QStringLiteral("le fournisseur OAuth2 n'a pas donné de jeton de "
                                    "renouvellement (portée offline_access manquante ?)"));
        return;
    }
    const QString fichier = fichier_jeton::chemin(m_rep_appli);
    QString erreur;
    if (!fichier_jeton::ecrire(fichier, jetons, &erreur)) {
        finir(false, erreur);
        return;
    }
    finir(true, QStringLiteral("connexion OAuth2 établie pour ") + m_reglages.login +
                    QStringLiteral(" : jeton enregistré dans ") + fichier);
}

// --- Device flow ---------------------------------------------------------

void ConnexionOAuth2::demarrer_appareil()
{
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("client_id"), m_reglages.client_id);
    if (!m_reglages.portee.isEmpty())
        form.addQueryItem(QStringLiteral("scope"), m_reglages.portee);
    m_client.poster(QUrl(m_reglages.url_appareil), form, [this](const ReponseOAuth2 &r) {
        if (m_fini)
            return;
        if (r.issue != ReponseOAuth2::Issue::Succes) {
            finir(false, r.description);
            return;
        }
        m_device_code = texte(r.corps, "device_code");
        const QString code = texte(r.corps, "user_code");
        // Google names it verification_url.
        QString adresse = texte(r.corps, "verification_uri");
        if (adresse.isEmpty())
            adresse = texte(r.corps, "verification_url");
        if (m_device_code.isEmpty() || code.isEmpty() || adresse.isEmpty()) {
            finir(false, QStringLiteral("réponse incomplète du fournisseur OAuth2 (code "
                                        "d'appareil)"));
            return;
        }
        const int intervalle = r.corps.value(QStringLiteral("interval")).toInt(5);
        m_intervalle_ms = qBound(1, intervalle, 60) * 1000;
        const int duree = r.corps.value(QStringLiteral("expires_in")).toInt(900);
        m_expiration.setRemainingTime(qint64(qBound(1, duree, 3600)) * 1000);
        Q_EMIT code_appareil(adresse, code, texte(r.corps, "verification_uri_complete"));
        m_attente.start(m_intervalle_ms);
    });
}

void ConnexionOAuth2::interroger()
{
    if (m_fini)
        return;
    if (m_expiration.hasExpired()) {
        finir(false, QStringLiteral("le code a expiré avant l'autorisation : relancez la "
                                    "connexion"));
        return;
    }
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("grant_type"),
                      QStringLiteral("urn:ietf:params:oauth:grant-type:device_code"));
    form.addQueryItem(QStringLiteral("device_code"), m_device_code);
    form.addQueryItem(QStringLiteral("client_id"), m_reglages.client_id);
    if (!m_reglages.client_secret.isEmpty())
        form.addQueryItem(QStringLiteral("client_secret"), m_reglages.client_secret);
    m_client.poster(QUrl(m_reglages.url_jeton), form, [this](const ReponseOAuth2 &r) {
        if (m_fini)
            return;
        if (r.issue == ReponseOAuth2::Issue::Succes) {
            enregistrer(r.corps);
        } else if (r.erreur == QLatin1String("authorization_pending")) {
            m_attente.start(m_intervalle_ms);
        } else if (r.erreur == QLatin1String("slow_down")) {
            m_intervalle_ms += kPasLent;
            m_attente.start(m_intervalle_ms);
        } else if (r.erreur == QLatin1String("access_denied")) {
            finir(false, QStringLiteral("l'autorisation a été refusée"));
        } else if (r.erreur == QLatin1String("expired_token")) {
            finir(false, QStringLiteral("le code a expiré avant l'autorisation : relancez la "
                                        "connexion"));
        } else {
            finir(false, r.description);
        }
    });
}

// --- Browser flow with PKCE ----------------------------------------------

void ConnexionOAuth2::set_delais(int total_ms, int lecture_ms)
{
    m_delai_navigateur.setInterval(total_ms);
    m_delai_lecture_ms = lecture_ms;
}

void ConnexionOAuth2::demarrer_navigateur()
{
    m_ecoute = new EcouteRetour(
        [this](const QUrl &cible) -> EcouteRetour::Reponse {
            switch (recevoir(cible)) {
            case Retour::Pris:
                return {200, QStringLiteral("Tramelon : autorisation reçue, vous pouvez fermer "
                                            "cette page.")};
            case Retour::Refuse:
                return {200, QStringLiteral("Tramelon : autorisation refusée.")};
            case Retour::EtatFaux:
                return {400, QStringLiteral("Tramelon : cette réponse ne vient pas de la "
                                            "connexion en cours ; elle est ignorée.")};
            case Retour::Tard:
                return {400, QStringLiteral("Tramelon : la connexion n'attend plus de "
                                            "réponse.")};
            case Retour::Etranger:
                break;
            }
            return {404, QString()};
        },
        this);
    m_ecoute->set_delai_lecture(m_delai_lecture_ms);
    if (const QString erreur = m_ecoute->ecouter(m_port); !erreur.isEmpty()) {
        finir(false, erreur);
        return;
    }
    m_verifier = aleatoire_base64url(48);
    m_etat = QString::fromLatin1(aleatoire_base64url(16));
    m_redirection = QStringLiteral("http://127.0.0.1:%1/").arg(m_ecoute->port());
    m_delai_navigateur.start();

    QUrl url(m_reglages.url_autorisation);
    QUrlQuery query(url);
    query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
    query.addQueryItem(QStringLiteral("client_id"), m_reglages.client_id);
    query.addQueryItem(QStringLiteral("redirect_uri"), m_redirection);
    query.addQueryItem(QStringLiteral("scope"), m_reglages.portee);
    query.addQueryItem(QStringLiteral("state"), m_etat);
    query.addQueryItem(QStringLiteral("code_challenge"),
                       QString::fromLatin1(defi_pkce(m_verifier)));
    query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
    // Google gives a refresh token only with these.
    query.addQueryItem(QStringLiteral("access_type"), QStringLiteral("offline"));
    query.addQueryItem(QStringLiteral("prompt"), QStringLiteral("consent"));
    query.addQueryItem(QStringLiteral("login_hint"), m_reglages.login);
    url.setQuery(query);
    Q_EMIT adresse_navigateur(url.toString(QUrl::FullyEncoded));
}

ConnexionOAuth2::Retour ConnexionOAuth2::recevoir(const QUrl &cible)
{
    const QUrlQuery query(cible);
    const bool code = query.hasQueryItem(QStringLiteral("code"));
    const bool refus = query.hasQueryItem(QStringLiteral("error"));
    if (cible.path() != u"/" || (!code && !refus))
        return Retour::Etranger;
    if (m_fini || m_code_recu || m_etat.isEmpty())
        return Retour::Tard;
    // Anything on this machine can reach the listener: only the state this
    // sign-in sent proves that the answer is the provider's, and anything
    // else must not end the sign-in.
    if (query.queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded) != m_etat)
        return Retour::EtatFaux;
    m_code_recu = true;
    m_ecoute->fermer();
    m_delai_navigateur.stop();
    if (refus) {
        finir(false, QStringLiteral("l'autorisation a été refusée : ") +
                         query.queryItemValue(QStringLiteral("error"), QUrl::FullyDecoded));
        return Retour::Refuse;
    }
    echanger_code(query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded));
    return Retour::Pris;
}

QString ConnexionOAuth2::coller(const QString &adresse)
{
    const QUrl url(adresse.trimmed(), QUrl::StrictMode);
    switch (url.isValid() ? recevoir(url) : Retour::Etranger) {
    case Retour::Pris:
    case Retour::Refuse:
        return {};
    case Retour::EtatFaux:
        return QStringLiteral("cette adresse ne vient pas de la connexion en cours (adresse d'une "
                              "connexion précédente ?) : collez celle où le navigateur vient "
                              "d'être renvoyé");
    case Retour::Tard:
        return QStringLiteral("la connexion n'attend plus d'adresse");
    case Retour::Etranger:
        break;
    }
    return QStringLiteral("adresse non reconnue : collez l'adresse complète de la barre du "
                          "navigateur, qui commence par ") +
           m_redirection + QStringLiteral("?");
}

void ConnexionOAuth2::echanger_code(const QString &code)
{
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("grant_type"), QStringLiteral("authorization_code"));
    form.addQueryItem(QStringLiteral("code"), code);
    form.addQueryItem(QStringLiteral("redirect_uri"), m_redirection);
    form.addQueryItem(QStringLiteral("client_id"), m_reglages.client_id);
    if (!m_reglages.client_secret.isEmpty())
        form.addQueryItem(QStringLiteral("client_secret"), m_reglages.client_secret);
    form.addQueryItem(QStringLiteral("code_verifier"), QString::fromLatin1(m_verifier));
    m_client.poster(QUrl(m_reglages.url_jeton), form, [this](const ReponseOAuth2 &r) {
        if (m_fini)
            return;
        if (r.issue == ReponseOAuth2::Issue::Succes)
            enregistrer(r.corps);
        else
            finir(false, r.description);
    });
}

// --- From a terminal -----------------------------------------------------

int connexion_oauth2_terminal(const QString &rep_appli, const OptionsConnexion &options)
{
    ConnexionOAuth2 connexion(rep_appli);
    connexion.set_port(options.port);
    std::unique_ptr<LectureLignes> entree;
    QObject::connect(
        &connexion, &ConnexionOAuth2::code_appareil, &connexion,
        [&options](const QString &adresse, const QString &code, const QString &complete) {
            if (options.port != 0 || options.coller)
                std::printf("(--port et --coller ne servent qu'à la connexion par "
                            "navigateur : ignorés)\n");
            std::printf("Pour autoriser Tramelon à relever la boîte, ouvrez dans un "
                        "navigateur :\n  %s\net saisissez le code : %s\n",
                        qPrintable(adresse), qPrintable(code));
            if (!complete.isEmpty())
                std::printf("(ou directement : %s)\n", qPrintable(complete));
            afficher_qr_code(complete.isEmpty() ? adresse : complete);
            std::printf("En attente de l'autorisation...\n");
            std::fflush(stdout);
        });
    QObject::connect(
        &connexion, &ConnexionOAuth2::adresse_navigateur, &connexion, [&](const QString &adresse) {
            if (!options.coller) {
                std::printf("Ouvrez cette adresse dans un navigateur de cette machine (ou "
                            "d'une autre, par un tunnel SSH vers ce port) et autorisez l'accès "
                            "à la boîte :\n  %s\nEn attente du retour du navigateur...\n",
                            qPrintable(adresse));
                std::fflush(stdout);
                return;
            }
            // The browser, on another computer, is sent to this machine's
            // loopback address, where nothing answers it: the operator copies
            // that address from the browser's address bar.
            std::printf("Ouvrez cette adresse dans un navigateur, sur n'importe quel ordinateur, "
                        "et autorisez l'accès à la boîte :\n  %s\nLe navigateur est ensuite "
                        "renvoyé vers une adresse http://127.0.0.1:..., qui ne s'affiche pas : "
                        "copiez-la depuis sa barre d'adresse et collez-la ici, puis Entrée.\n",
                        qPrintable(adresse));
            std::fflush(stdout);
            entree = std::make_unique<LectureLignes>(STDIN_FILENO);
            QObject::connect(entree.get(), &LectureLignes::ligne, &connexion,
                             [&](const QByteArray &ligne) {
                                 if (!connexion.attend_retour() || ligne.trimmed().isEmpty())
                                     return;
                                 const QString refus = connexion.coller(QString::fromUtf8(ligne));
                                 if (!refus.isEmpty()) {
                                     std::fprintf(stderr, "tramelon: %s\n", qPrintable(refus));
                                     std::fflush(stderr);
                                 }
                             });
            // Once an answer came, pasted or through the listener, the end of
            // the input changes nothing.
            QObject::connect(entree.get(), &LectureLignes::fin, &connexion, [&] {
                if (connexion.attend_retour())
                    connexion.annuler(QStringLiteral("entrée standard fermée sans l'adresse "
                                                     "de retour du navigateur"));
            });
        });
    int statut = 1;
    QEventLoop boucle;
    QObject::connect(&connexion, &ConnexionOAuth2::termine, &boucle,
                     [&](bool reussi, const QString &message) {
                         if (reussi) {
                             std::printf("%s\n", qPrintable(message));
                             statut = 0;
                         } else {
                             std::fprintf(stderr, "tramelon: %s\n", qPrintable(message));
                         }
                         boucle.quit();
                     });
    bool fini = false;
    QObject::connect(&connexion, &ConnexionOAuth2::termine, &connexion, [&] { fini = true; });
    connexion.demarrer();
    if (!fini)
        boucle.exec();
    std::fflush(nullptr);
    return statut;
}
