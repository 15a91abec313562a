#include "server/vmime/vmime_smtp_sender.h"

#include "server/vmime/mail_call_runner.h"
#include "server/vmime/mail_failure.h"
#include "server/vmime/mail_reply_html.h"
#include "server/vmime/server_address.h"
#include "server/vmime/vmime_failure.h"
#include "server/vmime/vmime_service.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <vmime/security/sasl/defaultSASLAuthenticator.hpp>
#include <vmime/vmime.hpp>

struct VmimeSmtpSender::Private {
    MailCallRunner runner;
    int timeoutMs = 30000;
    QStringList trustedCaFiles;
    QString statusText;
};

namespace {

vmime::string utf8(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    return vmime::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// Bare addresses, from "a@b", "<a@b>" or lists of them.
QStringList addresses(const QString &field)
{
    QStringList list;
    static const QRegularExpression separators(QStringLiteral("[,;]"));
    for (QString part : field.split(separators, Qt::SkipEmptyParts)) {
        part = part.trimmed();
        if (part.startsWith(QLatin1Char('<')) && part.endsWith(QLatin1Char('>')))
            part = part.mid(1, part.size() - 2).trimmed();
        if (!part.isEmpty())
            list.append(part);
    }
    return list;
}

// What vmime reads its address objects from: a bare address, no display name.
vmime::mailbox mailbox(const QString &address)
{
    return vmime::mailbox(vmime::emailAddress(utf8(address)));
}

// Text in the mail's charset, the way vmime takes body text.
vmime::shared_ptr<vmime::contentHandler> bodyText(const QString &text,
                                                  const vmime::charset &charset)
{
    vmime::string bytes;
    vmime::charset::convert(utf8(text), bytes, vmime::charsets::UTF_8, charset);
    return vmime::make_shared<vmime::stringContentHandler>(bytes);
}

QString lineBreaksAsLf(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

vmime::shared_ptr<vmime::message> buildMessage(const SmtpProperties &p, const QStringList &to,
                                               const QStringList &cc)
{
    const vmime::charset charset(p.charset.trimmed().isEmpty() ? vmime::charsets::UTF_8
                                                               : p.charset.trimmed().toStdString());
    vmime::messageBuilder builder;
    builder.setExpeditor(mailbox(addresses(p.mailfrom).value(0)));
    for (const QString &address : to)
        builder.getRecipients().appendAddress(vmime::make_shared<vmime::mailbox>(mailbox(address)));
    for (const QString &address : cc)
        builder.getCopyRecipients().appendAddress(
            vmime::make_shared<vmime::mailbox>(mailbox(address)));
    builder.setSubject(*vmime::text::newFromString(utf8(p.messagesubject), vmime::charsets::UTF_8));

    builder.constructTextPart(
        vmime::mediaType(vmime::mediaTypes::TEXT, vmime::mediaTypes::TEXT_HTML));
    auto part = vmime::dynamicCast<vmime::htmlTextPart>(builder.getTextPart());
    part->setCharset(charset);
    // vmime writes the line ends of the wire itself; CRs would come out as =0D.
    part->setPlainText(bodyText(lineBreaksAsLf(p.messagetext), charset));
    part->setText(bodyText(lineBreaksAsLf(mail_reply_html(p.messagehtml)), charset));

    auto message = builder.construct();
    const auto header = message->getHeader();
    header->appendField(
        vmime::headerFieldFactory::getInstance()->create("Auto-Submitted", "auto-replied"));
    if (!p.maildate.trimmed().isEmpty()) {
        header->removeAllFields(vmime::fields::DATE);
        header->appendField(vmime::headerFieldFactory::getInstance()->create(
            vmime::fields::DATE, utf8(p.maildate.trimmed())));
    }
    return message;
}

} // namespace

VmimeSmtpSender::VmimeSmtpSender(QObject *parent)
    : SmtpSender(parent), d(std::make_unique<Private>())
{
}

VmimeSmtpSender::~VmimeSmtpSender() = default;

void VmimeSmtpSender::setTimeout(int milliseconds) { d->timeoutMs = milliseconds; }

int VmimeSmtpSender::timeout() const { return d->timeoutMs; }

void VmimeSmtpSender::addTrustedCertificates(const QString &pemFile)
{
    d->trustedCaFiles.append(pemFile);
}

QString VmimeSmtpSender::statustext() const { return d->statusText; }

bool VmimeSmtpSender::busy() const { return d->runner.busy(); }

void VmimeSmtpSender::notify(void (SmtpSender::*signal)(), const QString &text)
{
    d->statusText = text;
    Q_EMIT(this->*signal)();
}

void VmimeSmtpSender::fail(qint16 number, const QString &description)
{
    d->statusText = description;
    Q_EMIT SMTPError(number, description);
}

void VmimeSmtpSender::sendmessage()
{
    if (d->runner.busy()) {
        fail(static_cast<qint16>(MailError::Busy),
             QStringLiteral("Un envoi SMTP est déjà en cours"));
        return;
    }
    bool portOk = false;
    const uint port = properties.port.trimmed().toUInt(&portOk);
    const ServerAddress address =
        ServerAddress::parse(properties.server, ServerAddress::Protocol::Smtp,
                             static_cast<quint16>(portOk && port > 0 && port < 65536 ? port : 25));
    if (!address.isValid()) {
        fail(static_cast<qint16>(MailError::BadAddress), address.error());
        return;
    }
    const QStringList to = addresses(properties.sendto);
    const QStringList cc = addresses(properties.cc);
    const QStringList bcc = addresses(properties.bcc);
    const QString from = addresses(properties.mailfrom).value(0);
    if (to.isEmpty() && cc.isEmpty() && bcc.isEmpty()) {
        fail(static_cast<qint16>(MailError::BadAddress),
             QStringLiteral("Aucun destinataire pour la réponse"));
        return;
    }
    if (from.isEmpty()) {
        fail(static_cast<qint16>(MailError::BadAddress),
             QStringLiteral("Aucune adresse d'expéditeur (mailfrom)"));
        return;
    }

    VmimeServiceOptions options;
    options.timeoutMs = d->timeoutMs;
    options.trustedCaFiles = d->trustedCaFiles;
    const SmtpProperties p = properties;
    const QString server = address.display();

    QElapsedTimer clock;
    clock.start();
    d->runner.run([&] {
        bool connected = false;
        vmime::shared_ptr<vmime::net::transport> transport;
        try {
            const auto message = buildMessage(p, to, cc);
            vmime::mailboxList recipients;
            for (const QString &address : to + cc + bcc)
                recipients.appendMailbox(vmime::make_shared<vmime::mailbox>(mailbox(address)));

            auto session = vmime::net::session::create();
            transport = session->getTransport(
                vmime_url(address),
                vmime::make_shared<vmime::security::sasl::defaultSASLAuthenticator>());
            configure_vmime_service(transport, address, options);
            if (!p.username.isEmpty()) {
                transport->setProperty("options.need-authentication", true);
                transport->setProperty("auth.username", utf8(p.username));
                transport->setProperty("auth.password", utf8(p.password));
            }
            clock.restart();
            transport->connect();
            connected = true;
            d->runner.post([this, server] {
                notify(&SmtpSender::ConnectionMade,
                       QStringLiteral("Connecté au serveur SMTP ") + server);
            });

            transport->send(message, mailbox(from), recipients);
            const QString sentTo = (to + cc + bcc).join(QStringLiteral(", "));
            d->runner.post([this, sentTo] {
                notify(&SmtpSender::MessageSent, QStringLiteral("Message envoyé à ") + sentTo);
            });

            transport->disconnect();
            d->runner.post([this] {
                notify(&SmtpSender::ConnectionClosed, QStringLiteral("Connexion fermée"));
            });
        } catch (const std::exception &error) {
            const MailFailure failure =
                describe_vmime_failure(error, clock.elapsed(), options.timeoutMs);
            d->runner.post([this, failure] { fail(failure.code(), failure.description); });
            if (connected) {
                try {
                    if (transport->isConnected())
                        transport->disconnect();
                } catch (const std::exception &) {
                    // The session is over either way.
                }
                d->runner.post([this] {
                    notify(&SmtpSender::ConnectionClosed, QStringLiteral("Connexion fermée"));
                });
            }
        } catch (...) {
            d->runner.post([this] {
                fail(static_cast<qint16>(MailError::Internal), QStringLiteral("Erreur inattendue"));
            });
        }
    });
}
