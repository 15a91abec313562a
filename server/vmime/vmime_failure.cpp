#include "server/vmime/vmime_failure.h"

#include "server/vmime/tls_verifier.h"
#include "server/vmime/vmime_socket.h"

#include <vmime/security/cert/certificateException.hpp>
#include <vmime/vmime.hpp>

namespace {

// vmime wraps the real cause (refused, reset) inside a generic exception.
QString chainText(const std::exception &error)
{
    QString text = QString::fromLocal8Bit(error.what());
    const auto *own = dynamic_cast<const vmime::exception *>(&error);
    for (const vmime::exception *cause = own ? own->other() : nullptr; cause;
         cause = cause->other()) {
        const QString more = QString::fromLocal8Bit(cause->what());
        if (!more.isEmpty() && !text.contains(more))
            text += QStringLiteral(": ") + more;
    }
    return text;
}

MailFailure make(MailError number, const QString &what, const QString &detail)
{
    return MailFailure{
        number, detail.isEmpty() ? what : what + QStringLiteral(" (") + detail + QLatin1Char(')')};
}

} // namespace

MailFailure describe_vmime_failure(const std::exception &error, qint64 elapsedMs, int timeoutMs)
{
    namespace ex = vmime::exceptions;
    namespace cert = vmime::security::cert;
    const QString detail = chainText(error).trimmed();

    if (const auto *tls = dynamic_cast<const TlsExpected *>(&error)) {
        const QString where =
            QString::fromStdString(tls->host()) + QLatin1Char(':') + QString::number(tls->port());
        return MailFailure{MailError::TlsFailure,
                           QStringLiteral("le port %1 attend TLS dès la connexion, il ne parle "
                                          "pas en clair : écrivez pop3s://%1 (POP3) ou "
                                          "smtps://%1 (SMTP)")
                               .arg(where)};
    }
    if (const auto *refused = dynamic_cast<const CertificateRefused *>(&error))
        return MailFailure{MailError::CertificateRejected,
                           QStringLiteral("certificat du serveur %1 refusé : %2")
                               .arg(refused->host(), refused->reason())};
    if (dynamic_cast<const cert::certificateException *>(&error))
        return make(
            MailError::CertificateRejected,
            QStringLiteral("Certificat refusé : il n'est pas reconnu comme digne de confiance"),
            detail);
    if (dynamic_cast<const ex::tls_exception *>(&error))
        return make(MailError::TlsFailure, QStringLiteral("Échec de la négociation TLS"), detail);
    if (dynamic_cast<const ex::operation_timed_out *>(&error))
        return make(MailError::Timeout, QStringLiteral("Le serveur n'a pas répondu à temps"),
                    detail);
    if (dynamic_cast<const ex::authentication_error *>(&error) ||
        dynamic_cast<const ex::authentication_exception *>(&error))
        return make(MailError::AuthenticationFailed,
                    QStringLiteral(
                        "Authentification refusée : nom d'utilisateur ou mot de passe incorrect"),
                    detail);
    if (dynamic_cast<const ex::message_not_found *>(&error))
        return make(MailError::NoSuchMessage,
                    QStringLiteral("Ce message n'existe pas dans la boîte"), detail);
    if (dynamic_cast<const ex::connection_error *>(&error)) {
        if (detail.contains(QLatin1String("ECONNREFUSED")))
            return make(MailError::ConnectionRefused,
                        QStringLiteral("Connexion refusée par le serveur"), detail);
        if (detail.contains(QLatin1String("getaddrinfo")) ||
            detail.contains(QLatin1String("resolve")))
            return make(MailError::HostNotFound, QStringLiteral("Serveur introuvable"), detail);
        // vmime ends every failed connect attempt with ETIMEDOUT: only one that
        // took the whole limit is a timeout.
        if (detail.contains(QLatin1String("ETIMEDOUT")) ||
            detail.contains(QLatin1String("timed out"))) {
            if (elapsedMs >= timeoutMs)
                return make(MailError::Timeout,
                            QStringLiteral("Le serveur n'a pas répondu à temps"), detail);
            return make(
                MailError::ConnectionRefused,
                QStringLiteral("Connexion refusée : aucun serveur n'écoute à cette adresse"),
                QString());
        }
        return make(MailError::ConnectionRefused, QStringLiteral("Connexion impossible"), detail);
    }
    if (dynamic_cast<const ex::socket_exception *>(&error))
        return make(MailError::ConnectionLost, QStringLiteral("Connexion perdue avec le serveur"),
                    detail);
    if (dynamic_cast<const ex::not_connected *>(&error) ||
        dynamic_cast<const ex::illegal_state *>(&error))
        return make(MailError::NotConnected, QStringLiteral("Pas de session ouverte"), detail);
    if (const auto *command = dynamic_cast<const ex::command_error *>(&error)) {
        const QString name = QString::fromStdString(command->command());
        if (name.contains(QLatin1String("STARTTLS")) || name.contains(QLatin1String("STLS")))
            return make(MailError::StartTlsUnavailable,
                        QStringLiteral("Le serveur n'accepte pas STARTTLS, qui est exigé"), detail);
        return make(MailError::ServerRefused, QStringLiteral("Le serveur a refusé la commande"),
                    QString::fromStdString(command->response()).trimmed() + QStringLiteral(" [") +
                        name + QLatin1Char(']'));
    }
    if (dynamic_cast<const ex::connection_greeting_error *>(&error) ||
        dynamic_cast<const ex::invalid_response *>(&error))
        return make(MailError::ProtocolError, QStringLiteral("Réponse du serveur incompréhensible"),
                    detail);
    return make(MailError::Internal, QStringLiteral("Erreur inattendue"), detail);
}
