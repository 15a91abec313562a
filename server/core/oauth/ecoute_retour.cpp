#include "server/core/oauth/ecoute_retour.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {

QByteArray raison(int statut)
{
    switch (statut) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 405:
        return "Method Not Allowed";
    case 431:
        return "Request Header Fields Too Large";
    default:
        return "Not Found";
    }
}

// Where the headers end, blank line included; -1 while they go on.
qsizetype fin_entete(const QByteArray &octets)
{
    const qsizetype crlf = octets.indexOf("\r\n\r\n");
    const qsizetype lf = octets.indexOf("\n\n");
    if (crlf < 0)
        return lf < 0 ? -1 : lf + 2;
    return lf < 0 || crlf < lf ? crlf + 4 : lf + 2;
}

} // namespace

EcouteRetour::EcouteRetour(Juge juge, QObject *parent)
    : QObject(parent), m_juge(std::move(juge)), m_serveur(new QTcpServer(this))
{
    connect(m_serveur, &QTcpServer::newConnection, this, &EcouteRetour::accepter);
}

EcouteRetour::~EcouteRetour() = default;

QString EcouteRetour::ecouter(quint16 port)
{
    if (m_serveur->listen(QHostAddress::LocalHost, port))
        return {};
    QString cause = m_serveur->errorString();
    if (m_serveur->serverError() == QAbstractSocket::AddressInUseError)
        cause = QStringLiteral("le port est déjà pris par un autre programme (--port)");
    else if (m_serveur->serverError() == QAbstractSocket::SocketAccessError)
        cause = QStringLiteral("port réservé à l'administrateur (choisissez-en un au-dessus "
                               "de 1023)");
    return QStringLiteral("impossible d'écouter sur 127.0.0.1:%1 : %2")
        .arg(port ? QString::number(port) : QStringLiteral("*"), cause);
}

quint16 EcouteRetour::port() const { return m_serveur->serverPort(); }

void EcouteRetour::fermer() { m_serveur->close(); }

void EcouteRetour::accepter()
{
    while (QTcpSocket *socket = m_serveur->nextPendingConnection()) {
        if (m_ouvertes.size() >= kConnexionsMax) {
            QTcpSocket *ancienne = m_ouvertes.takeFirst();
            ancienne->abort();
            ancienne->deleteLater();
        }
        m_ouvertes.append(socket);
        // The socket never holds more than a request may be, whatever is sent.
        socket->setReadBufferSize(kTailleRequeteMax + 1);
        auto *delai = new QTimer(socket);
        delai->setSingleShot(true);
        connect(delai, &QTimer::timeout, socket, [this, socket] {
            oublier(socket);
            socket->abort();
        });
        delai->start(m_delai_lecture_ms);
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { oublier(socket); });
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { lire(socket); });
    }
}

void EcouteRetour::oublier(QTcpSocket *socket)
{
    m_ouvertes.removeOne(socket);
    socket->deleteLater();
}

void EcouteRetour::lire(QTcpSocket *socket)
{
    if (!m_ouvertes.contains(socket))
        return; // answered already: what follows is not read
    const QByteArray octets = socket->peek(kTailleRequeteMax + 1);
    const qsizetype fin = fin_entete(octets);
    if (fin < 0 || fin > kTailleRequeteMax) {
        if (octets.size() > kTailleRequeteMax)
            repondre(socket, 431, QStringLiteral("Tramelon : requête trop longue."));
        return;
    }
    // "GET /?code=...&state=... HTTP/1.1"
    const QList<QByteArray> mots = octets.left(octets.indexOf('\n')).trimmed().split(' ');
    if (mots.size() != 3 || !mots[2].startsWith("HTTP/")) {
        repondre(socket, 400, QStringLiteral("Tramelon : requête illisible."));
        return;
    }
    if (mots[0] != "GET") {
        repondre(socket, 405, QString());
        return;
    }
    // Whoever judges may end the sign-in, and whoever waits for that end may
    // delete this listener in a nested event loop (a message box).
    const QPointer<QTcpSocket> garde(socket);
    const Reponse reponse = m_juge(QUrl::fromEncoded(mots[1], QUrl::StrictMode));
    if (garde)
        repondre(socket, reponse.statut, reponse.texte);
}

void EcouteRetour::repondre(QTcpSocket *socket, int statut, const QString &texte)
{
    m_ouvertes.removeOne(socket);
    // The rest of the request is read away, so that closing sends no reset
    // that would hide the page from the browser.
    socket->readAll();
    const QByteArray page = texte.isEmpty() ? QByteArray()
                                            : "<!DOCTYPE html><meta charset=\"utf-8\"><p>" +
                                                  texte.toHtmlEscaped().toUtf8() + "</p>\n";
    socket->write("HTTP/1.1 " + QByteArray::number(statut) + ' ' + raison(statut) +
                  "\r\nContent-Type: text/html; charset=utf-8\r\nConnection: close\r\n"
                  "Content-Length: " +
                  QByteArray::number(page.size()) + "\r\n\r\n" + page);
    socket->disconnectFromHost();
}
