#include "server/core/oauth/oauth_client.h"

#include "server/core/oauth/poste_http.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QPointer>

#include <utility>

ClientOAuth2::ClientOAuth2(QObject *parent) : QObject(parent) {}

ClientOAuth2::~ClientOAuth2()
{
    // Whoever waits for the answer may be going too: nobody is told. The
    // thread sees the cancel within a second; what it posts then is dropped
    // with this object.
    m_suite = nullptr;
    if (m_annule)
        *m_annule = true;
    if (m_fil.joinable())
        m_fil.join();
}

ReponseOAuth2 ClientOAuth2::lire_reponse(int statut, const QByteArray &corps, const QString &echec)
{
    ReponseOAuth2 r;
    QJsonParseError erreurJson;
    const QJsonDocument doc = QJsonDocument::fromJson(corps, &erreurJson);
    const bool objet = erreurJson.error == QJsonParseError::NoError && doc.isObject();
    if (objet)
        r.corps = doc.object();
    const QString code = r.corps.value(QStringLiteral("error")).toString();
    if (statut >= 200 && statut < 300 && objet && code.isEmpty()) {
        r.issue = ReponseOAuth2::Issue::Succes;
        return r;
    }
    // RFC 6749: errors come as 400 (401 for a client not recognised) with a
    // JSON "error"; anything else is a server that does not work right now.
    if (objet && !code.isEmpty() && statut >= 400 && statut < 500) {
        r.issue = ReponseOAuth2::Issue::Refus;
        r.erreur = code;
        const QString detail = r.corps.value(QStringLiteral("error_description")).toString();
        r.description =
            QStringLiteral("le fournisseur OAuth2 refuse : ") + code +
            (detail.isEmpty() ? QString()
                              : QStringLiteral(" (") + detail.left(200) + QStringLiteral(")"));
        return r;
    }
    r.issue = ReponseOAuth2::Issue::Injoignable;
    r.description =
        QStringLiteral("le fournisseur OAuth2 ne répond pas : ") +
        (echec.isEmpty() ? QStringLiteral("réponse HTTP ") + QString::number(statut) : echec);
    return r;
}

void ClientOAuth2::poster(const QUrl &url, const QUrlQuery &form, Suite suite)
{
    annuler();
    if (m_fil.joinable())
        m_fil.join();
    const quint64 numero = ++m_numero;
    m_suite = std::move(suite);
    m_hote = url.host();
    m_annule = std::make_shared<std::atomic<bool>>(false);
    m_fil = std::thread([this, numero, url, annule = m_annule, delai = m_timeoutMs,
                         corps = form.toString(QUrl::FullyEncoded).toUtf8()] {
        const ReponseHttp r = poster_borne(url, corps, delai, kTailleReponseMax, *annule);
        QMetaObject::invokeMethod(
            this, [this, numero, r] { recue(numero, r); }, Qt::QueuedConnection);
    });
}

void ClientOAuth2::recue(quint64 numero, const ReponseHttp &reponse)
{
    if (numero != m_numero || !m_suite)
        return; // cancelled since
    const Suite suite = std::exchange(m_suite, nullptr);
    if (reponse.trop_long) {
        ReponseOAuth2 r;
        r.description = QStringLiteral("le fournisseur OAuth2 (") + m_hote +
                        QStringLiteral(") envoie une réponse de plus de 64 Kio, qui "
                                       "n'est pas une réponse OAuth2 : lecture arrêtée");
        suite(r);
        return;
    }
    suite(lire_reponse(reponse.statut, reponse.corps, reponse.echec));
}

ReponseOAuth2 ClientOAuth2::poster_et_attendre(const QUrl &url, const QUrlQuery &form)
{
    ReponseOAuth2 resultat;
    QEventLoop boucle;
    bool fini = false;
    QPointer<QEventLoop> attente(&boucle);
    poster(url, form, [&](const ReponseOAuth2 &r) {
        resultat = r;
        fini = true;
        if (attente)
            attente->quit();
    });
    if (!fini)
        boucle.exec();
    return resultat;
}

void ClientOAuth2::annuler()
{
    if (!m_suite)
        return;
    ++m_numero; // an answer still on its way is for nobody
    *m_annule = true;
    const Suite suite = std::exchange(m_suite, nullptr);
    suite(lire_reponse(0, {}, QStringLiteral("pas de réponse de ") + m_hote));
}
