#include "server/core/oauth/lecture_http.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>

#include <memory>

LectureHttp::LectureHttp(qint64 tailleMax, Rendre rendre)
    : m_tailleMax(tailleMax), m_rendre(std::move(rendre))
{
}

LectureHttp::~LectureHttp() { arreter(); }

void LectureHttp::arreter()
{
    if (QNetworkReply *reply = m_reply) {
        m_reply = nullptr;
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void LectureHttp::envoyer(quint64 numero, QNetworkRequest request, const QByteArray &formulaire)
{
    arreter();
    if (!m_reseau) {
        m_reseau = new QNetworkAccessManager(this);
        // The token endpoint is asked directly: a proxy of the environment
        // would see the refresh token.
        m_reseau->setProxy(QNetworkProxy::NoProxy);
    }
    QNetworkReply *reply = m_reseau->post(request, formulaire);
    m_reply = reply;
    // The body is taken as it comes, so that no more than the cap is ever
    // held; past it, the transfer is ended.
    auto corps = std::make_shared<QByteArray>();
    auto trop_long = std::make_shared<bool>(false);
    auto lire = [this, reply, corps, trop_long] {
        if (*trop_long)
            return;
        const qint64 annonce = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        *corps += reply->read(m_tailleMax + 1 - corps->size());
        if (annonce > m_tailleMax || corps->size() > m_tailleMax) {
            *trop_long = true;
            corps->clear();
            reply->abort();
        }
    };
    connect(reply, &QNetworkReply::readyRead, this, lire);
    connect(reply, &QNetworkReply::metaDataChanged, this, lire);
    connect(reply, &QNetworkReply::finished, this, [this, numero, reply, corps, trop_long, lire] {
        if (m_reply == reply)
            m_reply = nullptr;
        reply->deleteLater();
        lire();
        ReponseHttp r;
        r.trop_long = *trop_long;
        r.statut = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        const bool reseau = reply->error() != QNetworkReply::NoError && r.statut == 0;
        if (reply->error() == QNetworkReply::OperationCanceledError ||
            reply->error() == QNetworkReply::TimeoutError)
            r.echec = QStringLiteral("pas de réponse de ") + reply->url().host();
        else if (reseau)
            r.echec = reply->errorString();
        if (!r.trop_long && !reseau)
            r.corps = std::move(*corps);
        m_rendre(numero, r);
    });
}
