#include "server/vmime/server_address.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

struct Scheme {
    const char *name;
    ServerAddress::Protocol protocol;
    ServerAddress::Security security;
    quint16 port;
};

constexpr Scheme kSchemes[] = {
    {"pop3", ServerAddress::Protocol::Pop3, ServerAddress::Security::StartTls, 110},
    {"pop3s", ServerAddress::Protocol::Pop3, ServerAddress::Security::Tls, 995},
    {"smtp", ServerAddress::Protocol::Smtp, ServerAddress::Security::StartTls, 25},
    {"smtps", ServerAddress::Protocol::Smtp, ServerAddress::Security::Tls, 465},
    {"imap", ServerAddress::Protocol::Imap, ServerAddress::Security::StartTls, 143},
    {"imaps", ServerAddress::Protocol::Imap, ServerAddress::Security::Tls, 993},
};

const char *protocolName(ServerAddress::Protocol protocol)
{
    if (protocol == ServerAddress::Protocol::Imap)
        return "IMAP";
    return protocol == ServerAddress::Protocol::Pop3 ? "POP3" : "SMTP";
}

} // namespace

ServerAddress ServerAddress::failure(const QString &setting, const QString &why)
{
    ServerAddress address;
    address.m_error = QStringLiteral("Adresse de serveur incorrecte « %1 » : %2").arg(setting, why);
    return address;
}

ServerAddress ServerAddress::parse(const QString &setting, Protocol protocol, quint16 defaultPort)
{
    // Settings are typed by hand: blanks around the value mean nothing.
    QString rest = setting.trimmed();
    if (rest.isEmpty())
        return failure(setting, QStringLiteral("pas de nom de serveur"));

    ServerAddress address;
    address.m_port = defaultPort;
    address.m_protocol = protocol;

    const qsizetype schemeEnd = rest.indexOf(QLatin1String("://"));
    if (schemeEnd >= 0) {
        const QString name = rest.left(schemeEnd).toLower();
        const Scheme *found = nullptr;
        for (const Scheme &scheme : kSchemes) {
            if (name == QLatin1String(scheme.name) && scheme.protocol == protocol)
                found = &scheme;
        }
        if (!found) {
            QStringList known;
            for (const Scheme &scheme : kSchemes) {
                if (scheme.protocol == protocol)
                    known << QLatin1String(scheme.name) + QStringLiteral("://") +
                                 (scheme.security == Security::Tls
                                      ? QStringLiteral(" (TLS dès la connexion)")
                                      : QStringLiteral(" (STARTTLS exigé)"));
            }
            return failure(setting,
                           QStringLiteral("préfixe « %1 » inconnu pour un serveur %2 ; "
                                          "formes connues : %3, ou hôte[:port] sans préfixe "
                                          "(en clair)")
                               .arg(name, QLatin1String(protocolName(protocol)),
                                    known.join(QStringLiteral(", "))));
        }
        address.m_security = found->security;
        address.m_port = found->port;
        rest = rest.mid(schemeEnd + 3);
        if (rest.endsWith(QLatin1Char('/')))
            rest.chop(1);
    }

    QString portText;
    if (rest.startsWith(QLatin1Char('['))) {
        // An IPv6 literal keeps its colons inside the brackets.
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return failure(setting, QStringLiteral("« [ » non refermé"));
        address.m_host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(QLatin1Char(':')))
                return failure(setting, QStringLiteral("texte inattendu après « ] »"));
            portText = after.mid(1);
            if (portText.isEmpty())
                return failure(setting, QStringLiteral("port vide"));
        }
    } else {
        const qsizetype colon = rest.indexOf(QLatin1Char(':'));
        address.m_host = colon < 0 ? rest : rest.left(colon);
        if (colon >= 0) {
            portText = rest.mid(colon + 1);
            if (portText.isEmpty())
                return failure(setting, QStringLiteral("port vide"));
        }
    }

    static const QRegularExpression hostPattern(QStringLiteral("^[A-Za-z0-9._:-]+$"));
    if (address.m_host.isEmpty())
        return failure(setting, QStringLiteral("pas de nom de serveur"));
    if (!hostPattern.match(address.m_host).hasMatch())
        return failure(setting,
                       QStringLiteral("« %1 » n'est pas un nom de serveur").arg(address.m_host));

    if (!portText.isEmpty()) {
        bool ok = false;
        const uint port = portText.toUInt(&ok);
        if (!ok || port == 0 || port > 65535 || !portText.at(0).isDigit())
            return failure(setting,
                           QStringLiteral("« %1 » n'est pas un numéro de port").arg(portText));
        address.m_port = static_cast<quint16>(port);
    }
    if (address.m_port == 0)
        return failure(setting, QStringLiteral("pas de port"));
    return address;
}

QString ServerAddress::display() const
{
    const QString host =
        m_host.contains(QLatin1Char(':')) ? QLatin1Char('[') + m_host + QLatin1Char(']') : m_host;
    QString text = host + QLatin1Char(':') + QString::number(m_port);
    if (m_security == Security::StartTls)
        text += QStringLiteral(" (STARTTLS)");
    else if (m_security == Security::Tls)
        text += QStringLiteral(" (TLS)");
    return text;
}
