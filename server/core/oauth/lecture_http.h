#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;

// What came back from one form posted: the HTTP status, the body (never more
// than the cap), or why there was no answer.
struct ReponseHttp {
    int statut = 0;
    QByteArray corps;
    QString echec;          // empty when the endpoint answered
    bool trop_long = false; // the body went past the cap: reading stopped there
};

// Posts one form at a time and reads its answer up to a cap, on the thread it
// lives on. Qt's network thread does not stop reading at a reply's buffer
// size: it hands on all it gets until the abort reaches it, so the cap only
// holds if whoever reads the reply is never kept busy. Hence a thread of its
// own, which does nothing else.
class LectureHttp : public QObject
{
    Q_OBJECT

public:
    using Rendre = std::function<void(quint64 numero, const ReponseHttp &)>;
    // rendre runs on this object's thread, once for each form sent and not stopped.
    LectureHttp(qint64 tailleMax, Rendre rendre);
    ~LectureHttp() override;

    void envoyer(quint64 numero, QNetworkRequest request, const QByteArray &formulaire);
    // Ends the request in flight; its answer is never given.
    void arreter();

private:
    const qint64 m_tailleMax;
    const Rendre m_rendre;
    QNetworkAccessManager *m_reseau = nullptr; // made on this object's thread
    QPointer<QNetworkReply> m_reply;
};
