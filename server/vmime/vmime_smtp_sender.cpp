#include "server/vmime/vmime_smtp_sender.h"

#include "server/mail/reply_mail.h"
#include "server/mail/sender_address.h"
#include "server/vmime/mail_call_runner.h"
#include "server/vmime/mail_failure.h"
#include "server/vmime/server_address.h"
#include "server/vmime/vmime_failure.h"
#include "server/vmime/vmime_oauth2.h"
#include "server/vmime/vmime_service.h"
#include "server/vmime/vmime_tracer.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <vmime/net/smtp/SMTPConnection.hpp>
#include <vmime/net/smtp/SMTPExceptions.hpp>
#include <vmime/net/smtp/SMTPTransport.hpp>
#include <vmime/security/sasl/defaultSASLAuthenticator.hpp>
#include <vmime/vmime.hpp>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>

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

QString bareAddress(QString text)
{
    text = text.trimmed();
    if (text.startsWith(QLatin1Char('<')) && text.endsWith(QLatin1Char('>')))
        text = text.mid(1, text.size() - 2).trimmed();
    return text;
}

// vmime writes an envelope address in one of two ways: to a server that
// offers SMTPUTF8 as the text it holds, word for word; to any other, quoting
// the local part itself where its syntax needs it. It gets the addr-spec's own
// quoted form in the first case and the bare local part in the second, so that
// the server reads the sender's mailbox exactly, quoted once.
vmime::mailbox envelopeMailbox(const QString &addrSpec, bool smtpUtf8)
{
    const AddrSpecParts parts = split_addr_spec(addrSpec);
    const QString local =
        smtpUtf8 ? addrSpec.left(addrSpec.lastIndexOf(QLatin1Char('@'))) : parts.localPart;
    return vmime::mailbox(
        vmime::emailAddress(vmime::word(utf8(local), vmime::charsets::UTF_8),
                            vmime::word(utf8(parts.domain), vmime::charsets::UTF_8)));
}

bool offersSmtpUtf8(const vmime::shared_ptr<vmime::net::transport> &transport)
{
    const auto smtp = vmime::dynamicCast<vmime::net::smtp::SMTPTransport>(transport);
    return smtp && smtp->getConnection() && smtp->getConnection()->hasExtension("SMTPUTF8");
}

// An address outside ASCII travels as such only to a server that takes UTF-8
// in the envelope (RFC 6531); there is no ASCII form of such a local part.
std::optional<MailFailure> utf8Refusal(const vmime::shared_ptr<vmime::net::transport> &transport,
                                       const ComposedMail &mail)
{
    for (const QString &address : {mail.mailfrom, mail.rcptto}) {
        if (std::all_of(address.cbegin(), address.cend(),
                        [](QChar c) { return c.unicode() < 0x80; }))
            continue;
        if (offersSmtpUtf8(transport))
            return std::nullopt;
        return MailFailure{MailError::Utf8Unavailable,
                           QStringLiteral("L'adresse « %1 » demande SMTPUTF8, que le serveur SMTP "
                                          "ne propose pas : réponse non envoyée")
                               .arg(address)};
    }
    return std::nullopt;
}

} // namespace

VmimeSmtpSender::VmimeSmtpSender(QObject *parent)
    : SmtpSender(parent), d(std::make_unique<Private>())
{
    install_vmime_platform();
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
    const QString from = bareAddress(properties.mailfrom);
    const SenderAddress to = sender_address(bareAddress(properties.sendto).toUtf8());
    if (!properties.cc.trimmed().isEmpty() || !properties.bcc.trimmed().isEmpty()) {
        fail(static_cast<qint16>(MailError::BadAddress),
             QStringLiteral("Une réponse ne va qu'à son expéditeur : ni copie ni copie cachée"));
        return;
    }
    if (properties.sendto.trimmed().isEmpty()) {
        fail(static_cast<qint16>(MailError::BadAddress),
             QStringLiteral("Aucun destinataire pour la réponse"));
        return;
    }
    if (!to.isValid()) {
        fail(static_cast<qint16>(MailError::BadAddress),
             QStringLiteral("Pas de réponse : ") + to.raison);
        return;
    }
    if (from.isEmpty()) {
        fail(static_cast<qint16>(MailError::BadAddress),
             QStringLiteral("Aucune adresse d'expéditeur (mailfrom)"));
        return;
    }
    ReplyContent content;
    content.from = from;
    content.to = to.address;
    content.subject = properties.messagesubject;
    content.text = properties.messagetext;
    content.html = properties.messagehtml;
    content.charset = properties.charset;
    content.inReplyTo = properties.inreplyto;
    content.references = properties.references;
    if (!properties.maildate.trimmed().isEmpty())
        content.date = QDateTime::fromString(properties.maildate.trimmed(), Qt::RFC2822Date);
    sendcomposed(ComposedMail{from, to.address, compose_reply(content)});
}

// One send on the worker thread: the steps of the dialogue, each named, and the
// one way out for a failure. What the caller must see is post()ed to it.
struct VmimeSmtpSender::Dialogue {
    Dialogue(VmimeSmtpSender *owner, const ComposedMail &composed, const ServerAddress &server)
        : sender(owner), mail(composed), address(server)
    {
    }

    VmimeSmtpSender *sender;
    const ComposedMail &mail;
    ServerAddress address;
    VmimeServiceOptions options;
    QString username;
    QString password; // an access token with JetonOAuth2
    Authentification authentification = Authentification::MotDePasse;
    // Whether the server's EHLO answer offered AUTH: vmime reports a server
    // without it like a refused password.
    std::shared_ptr<std::atomic<bool>> authOffered = std::make_shared<std::atomic<bool>>(false);
    // Chooses the token mechanism with JetonOAuth2, and says why none fits.
    vmime::shared_ptr<vmime_oauth2::JetonAuthenticator> jeton =
        vmime::make_shared<vmime_oauth2::JetonAuthenticator>();

    vmime::shared_ptr<vmime::net::session> session;
    vmime::shared_ptr<vmime::net::transport> transport;
    QElapsedTimer clock;
    bool connected = false;
    // Sent, or for a check only, the session accepted.
    bool accepted = false;
    // Up to the server's acceptance of the session, then QUIT.
    bool checkOnly = false;

    void run();
    void open();
    void transfer();
    void close();
    void failed(const std::exception &error);
    void post(void (SmtpSender::*signal)(), const QString &text)
    {
        sender->d->runner.post([s = sender, signal, text] { s->notify(signal, text); });
    }
    // replyCode is the SMTP server's answer to the refused command, 0 when
    // none came; permanent says that sending again cannot help.
    void postFailure(const MailFailure &failure, int replyCode = 0, bool permanent = false)
    {
        sender->d->runner.post([s = sender, failure, replyCode, permanent] {
            s->replycode = replyCode;
            s->permanentfailure = permanent;
            s->fail(failure.code(), failure.description);
        });
    }
};

void VmimeSmtpSender::Dialogue::run()
{
    clock.start();
    try {
        open();
        if (checkOnly) {
            close();
            accepted = true;
            return;
        }
        if (const auto refusal = utf8Refusal(transport, mail)) {
            postFailure(*refusal, 0, true);
            close();
            return;
        }
        transfer();
        close();
    } catch (const std::exception &error) {
        failed(error);
    } catch (...) {
        postFailure(MailFailure{MailError::Internal, QStringLiteral("Erreur inattendue")});
    }
}

// Connected, past STARTTLS and AUTH when the settings ask for them.
void VmimeSmtpSender::Dialogue::open()
{
    if (!username.isEmpty())
        options.tracer = vmime::make_shared<VmimeTracer>(
            [offered = authOffered](const QString &line, qint32 type) {
                if (type == 1 && line.mid(4).startsWith(QLatin1String("AUTH"), Qt::CaseInsensitive))
                    *offered = true;
            });
    session = vmime::net::session::create();
    const bool parJeton = authentification == Authentification::JetonOAuth2;
    transport = session->getTransport(
        vmime_url(address),
        parJeton ? jeton : vmime::make_shared<vmime::security::sasl::defaultSASLAuthenticator>());
    configure_vmime_service(transport, address, options);
    if (parJeton && !username.isEmpty()) {
        vmime_oauth2::configurer(transport, utf8(username), utf8(password));
    } else if (!username.isEmpty()) {
        transport->setProperty("options.need-authentication", true);
        transport->setProperty("auth.username", utf8(username));
        transport->setProperty("auth.password", utf8(password));
    }
    clock.restart();
    if (parJeton && !username.isEmpty())
        vmime_oauth2::connecter(transport, *jeton);
    else
        transport->connect();
    connected = true;
    post(&SmtpSender::ConnectionMade,
         QStringLiteral("Connecté au serveur SMTP ") + address.display());
}

// The envelope and the bytes, sent unchanged.
void VmimeSmtpSender::Dialogue::transfer()
{
    const bool smtpUtf8 = offersSmtpUtf8(transport);
    vmime::mailboxList recipients;
    recipients.appendMailbox(
        vmime::make_shared<vmime::mailbox>(envelopeMailbox(mail.rcptto, smtpUtf8)));
    // vmime ends the data with CR LF "." CR LF itself: a final CR LF of ours
    // would reach the server as one more, empty, line.
    const size_t size = static_cast<size_t>(mail.bytes.endsWith("\r\n") ? mail.bytes.size() - 2
                                                                        : mail.bytes.size());
    vmime::utility::inputStreamByteBufferAdapter stream(
        reinterpret_cast<const vmime::byte_t *>(mail.bytes.constData()), size);
    transport->send(envelopeMailbox(mail.mailfrom, smtpUtf8), recipients, stream, size);
    accepted = true;
    post(&SmtpSender::MessageSent, QStringLiteral("Message envoyé à ") + mail.rcptto);
}

void VmimeSmtpSender::Dialogue::close()
{
    transport->disconnect();
    post(&SmtpSender::ConnectionClosed, QStringLiteral("Connexion fermée"));
}

void VmimeSmtpSender::Dialogue::failed(const std::exception &error)
{
    MailFailure failure = describe_vmime_failure(error, clock.elapsed(), options.timeoutMs);
    if (failure.number == MailError::AuthenticationFailed && !*authOffered)
        failure = MailFailure{MailError::AuthenticationUnavailable,
                              QStringLiteral("« Authentification SMTP » est cochée mais le "
                                             "serveur SMTP ne propose pas AUTH : réponse "
                                             "non envoyée")};
    else if (failure.number == MailError::AuthenticationFailed &&
             authentification == Authentification::JetonOAuth2) {
        failure = jeton->expliquer(failure, QStringLiteral("SMTP"));
        failure.description += QStringLiteral(" : réponse non envoyée");
    }
    // A failure after the server took the mail only concerns the goodbye.
    if (accepted)
        failure.description = QStringLiteral("Message remis ; ") + failure.description;
    const auto *refusal = dynamic_cast<const vmime::net::smtp::SMTPCommandError *>(&error);
    const int code = refusal ? refusal->statusCode() : 0;
    postFailure(failure, code, code >= 500 && code < 600);
    if (!connected)
        return;
    try {
        if (transport->isConnected())
            transport->disconnect();
    } catch (const std::exception &) {
        // The session is over either way.
    }
    post(&SmtpSender::ConnectionClosed, QStringLiteral("Connexion fermée"));
}

std::optional<ServerAddress> VmimeSmtpSender::checkedServer(const ComposedMail *mail)
{
    replycode = 0;
    permanentfailure = false;
    if (d->runner.busy()) {
        fail(static_cast<qint16>(MailError::Busy),
             QStringLiteral("Un envoi SMTP est déjà en cours"));
        return std::nullopt;
    }
    bool portOk = false;
    const uint port = properties.port.trimmed().toUInt(&portOk);
    const ServerAddress address =
        ServerAddress::parse(properties.server, ServerAddress::Protocol::Smtp,
                             static_cast<quint16>(portOk && port > 0 && port < 65536 ? port : 25));
    if (!address.isValid()) {
        fail(static_cast<qint16>(MailError::BadAddress), address.error());
        return std::nullopt;
    }
    if (mail && (mail->rcptto.isEmpty() || mail->mailfrom.isEmpty())) {
        permanentfailure = true;
        fail(static_cast<qint16>(MailError::BadAddress),
             QStringLiteral("Aucun destinataire pour la réponse"));
        return std::nullopt;
    }
    return address;
}

bool VmimeSmtpSender::sendcomposed(const ComposedMail &mail)
{
    const std::optional<ServerAddress> address = checkedServer(&mail);
    if (!address)
        return false;
    if (properties.authentification == Authentification::JetonOAuth2) {
        if (const auto refus = vmime_oauth2::refus_caracteres(utf8(properties.username),
                                                              utf8(properties.password))) {
            fail(static_cast<qint16>(MailError::AuthenticationFailed),
                 *refus + QStringLiteral(" : réponse non envoyée"));
            return false;
        }
    }
    Dialogue dialogue{this, mail, *address};
    return converse(dialogue);
}

bool VmimeSmtpSender::converse(Dialogue &dialogue)
{
    dialogue.username = properties.username;
    dialogue.password = properties.password;
    dialogue.authentification = properties.authentification;
    dialogue.options.timeoutMs = d->timeoutMs;
    dialogue.options.trustedCaFiles = d->trustedCaFiles;
    d->runner.run([&dialogue] { dialogue.run(); });
    return dialogue.accepted;
}

bool VmimeSmtpSender::checkconnection()
{
    const std::optional<ServerAddress> address = checkedServer(nullptr);
    if (!address)
        return false;
    const ComposedMail none;
    Dialogue dialogue{this, none, *address};
    dialogue.checkOnly = true;
    return converse(dialogue);
}
