#include "server/vmime/vmime_pop3_session.h"

#include "server/vmime/mail_call_runner.h"
#include "server/vmime/mail_failure.h"
#include "server/vmime/mail_parser.h"
#include "server/vmime/server_address.h"
#include "server/vmime/vmime_failure.h"
#include "server/vmime/vmime_pop3_retrieve.h"
#include "server/vmime/vmime_service.h"
#include "server/vmime/vmime_tracer.h"

#include <QElapsedTimer>

#include <vmime/vmime.hpp>

#include <set>

struct VmimePop3Session::Private {
    MailCallRunner runner;
    int timeoutMs = 30000;
    QStringList trustedCaFiles;

    // Caller's thread only.
    qint32 state = kStateClosed;
    QList<Pop3MessageInfo> list;

    // Worker thread only, one call at a time.
    vmime::shared_ptr<vmime::net::session> session;
    vmime::shared_ptr<vmime::net::store> store;
    vmime::shared_ptr<vmime::net::folder> inbox;
    std::set<qint32> deleted;

    // Runs work on the worker; a failure is returned, never thrown.
    std::optional<MailFailure> dialogue(const std::function<void()> &work)
    {
        std::optional<MailFailure> failure;
        QElapsedTimer clock;
        clock.start();
        runner.run([&] {
            try {
                work();
            } catch (const std::exception &error) {
                failure = describe_vmime_failure(error, clock.elapsed(), timeoutMs);
            } catch (...) {
                failure = MailFailure{MailError::Internal, QStringLiteral("Erreur inattendue")};
            }
        });
        return failure;
    }

    // Worker side: forget the connection without waiting on the server.
    void drop()
    {
        try {
            if (store && store->isConnected())
                store->disconnect();
        } catch (const std::exception &) {
        }
        inbox.reset();
        store.reset();
        session.reset();
        deleted.clear();
    }
};

namespace {

// A broken connection ends the session; a refused command does not.
bool connectionBroken(const MailFailure &failure)
{
    switch (failure.number) {
    case MailError::Timeout:
    case MailError::ConnectionLost:
    case MailError::NotConnected:
    case MailError::TlsFailure:
    case MailError::ProtocolError:
    case MailError::Internal:
        return true;
    default:
        return false;
    }
}

} // namespace

VmimePop3Session::VmimePop3Session(QObject *parent)
    : Pop3Session(parent), d(std::make_unique<Private>())
{
}

VmimePop3Session::~VmimePop3Session()
{
    if (d->state == kStateClosed || d->runner.busy())
        return;
    d->runner.runQuietly([this] { d->drop(); });
}

void VmimePop3Session::setTimeout(int milliseconds) { d->timeoutMs = milliseconds; }

int VmimePop3Session::timeout() const { return d->timeoutMs; }

void VmimePop3Session::addTrustedCertificates(const QString &pemFile)
{
    d->trustedCaFiles.append(pemFile);
}

qint16 VmimePop3Session::reportMessageFailure(MailFailure failure)
{
    // A command on one message refused by the server means the message is gone.
    if (failure.number == MailError::ServerRefused)
        failure.number = MailError::NoSuchMessage;
    report(failure.code(), failure.description);
    if (connectionBroken(failure))
        sessionLost();
    return failure.code();
}

bool VmimePop3Session::refuseWhileBusy()
{
    if (!d->runner.busy())
        return false;
    report(static_cast<qint16>(MailError::Busy),
           QStringLiteral("Une opération POP3 est déjà en cours"));
    return true;
}

void VmimePop3Session::report(qint16 number, const QString &description)
{
    Q_EMIT StatusChanged(description, 8);
    Q_EMIT ErrorPOP3(number, description);
}

void VmimePop3Session::setState(qint32 state, const QString &status)
{
    d->state = state;
    Q_EMIT StatusChanged(status, 4);
}

void VmimePop3Session::sessionLost()
{
    d->runner.runQuietly([this] { d->drop(); });
    d->list.clear();
    setState(kStateClosed, QStringLiteral("Session fermée"));
    Q_EMIT Closed();
}

qint32 VmimePop3Session::Open(const QString &server, qint32 port, const QString &user,
                              const QString &password)
{
    if (refuseWhileBusy())
        return static_cast<qint32>(MailError::Busy);
    if (d->state == kStateTransaction)
        Close();

    const ServerAddress address =
        ServerAddress::parse(server, ServerAddress::Protocol::Pop3,
                             static_cast<quint16>(port > 0 && port < 65536 ? port : 110));
    if (!address.isValid()) {
        report(static_cast<qint16>(MailError::BadAddress), address.error());
        return static_cast<qint32>(MailError::BadAddress);
    }

    setState(kStateOpening, QStringLiteral("Connexion à ") + address.display());
    VmimeServiceOptions options;
    options.timeoutMs = d->timeoutMs;
    options.trustedCaFiles = d->trustedCaFiles;
    // Lines reach the caller's thread through the runner, in order.
    options.tracer = vmime::make_shared<VmimeTracer>([this, user](QString line, qint32 type) {
        // vmime hides the user name too; the log is clearer with it.
        line.replace(QLatin1String("{username}"), user);
        d->runner.post([this, line, type] { Q_EMIT StatusChanged(line, type); });
    });

    const std::string userName = user.toStdString();
    const std::string secret = password.toStdString();
    const auto failure = d->dialogue([&] {
        d->drop();
        d->session = vmime::net::session::create();
        d->store = d->session->getStore(vmime_url(address));
        configure_vmime_service(d->store, address, options);
        // USER/PASS only: the tracer masks PASS, and every POP3 server knows it.
        d->store->setProperty("options.sasl", false);
        d->store->setProperty("options.apop", false);
        d->store->setProperty("auth.username", userName);
        d->store->setProperty("auth.password", secret);
        try {
            d->store->connect();
            d->inbox = d->store->getDefaultFolder();
            d->inbox->open(vmime::net::folder::MODE_READ_WRITE);
        } catch (...) {
            d->drop();
            throw;
        }
    });
    if (failure) {
        setState(kStateClosed, QStringLiteral("Session fermée"));
        report(failure->code(), failure->description);
        return failure->code();
    }
    setState(kStateTransaction, QStringLiteral("Session ouverte pour ") + user);
    Q_EMIT Connected();
    return 0;
}

qint32 VmimePop3Session::RefreshList()
{
    if (refuseWhileBusy())
        return static_cast<qint32>(MailError::Busy);
    if (d->state != kStateTransaction) {
        d->list.clear();
        return static_cast<qint32>(MailError::NotConnected);
    }
    QList<Pop3MessageInfo> list;
    const auto failure = d->dialogue([&] {
        const size_t count = d->inbox->getMessageCount();
        if (count == 0)
            return;
        auto messages = d->inbox->getMessages(vmime::net::messageSet::byNumber(1, count));
        d->inbox->fetchMessages(messages, vmime::net::fetchAttributes::SIZE |
                                              vmime::net::fetchAttributes::UID);
        for (const auto &message : messages) {
            const auto number = static_cast<qint32>(message->getNumber());
            // Deleted messages stay numbered but the server no longer lists them.
            if (d->deleted.count(number))
                continue;
            list.append(Pop3MessageInfo{number, static_cast<qint32>(message->getSize()),
                                        QString::fromStdString(message->getUID())});
        }
    });
    if (failure) {
        report(failure->code(), failure->description);
        if (connectionBroken(*failure))
            sessionLost();
        return failure->code();
    }
    d->list = list;
    return 0;
}

qint32 VmimePop3Session::MailboxFigure1() const { return static_cast<qint32>(d->list.size()); }

qint32 VmimePop3Session::MailboxFigure2() const
{
    qint64 total = 0;
    for (const Pop3MessageInfo &info : d->list)
        total += info.MsgSize;
    return static_cast<qint32>(qMin<qint64>(total, std::numeric_limits<qint32>::max()));
}

QList<Pop3MessageInfo> VmimePop3Session::MessageList() const { return d->list; }

std::optional<Pop3Message> VmimePop3Session::FetchMessage(qint32 number, bool headersOnly)
{
    if (refuseWhileBusy())
        return std::nullopt;
    if (d->state != kStateTransaction) {
        report(static_cast<qint16>(MailError::NotConnected),
               QStringLiteral("Pas de session POP3 ouverte"));
        return std::nullopt;
    }
    QByteArray raw;
    const auto failure = d->dialogue([&] {
        if (number < 1 || d->deleted.count(number))
            throw vmime::exceptions::message_not_found();
        if (static_cast<size_t>(number) > d->inbox->getMessageCount())
            throw vmime::exceptions::message_not_found();
        raw = vmime_pop3_retrieve(d->store, static_cast<size_t>(number));
    });
    if (failure) {
        reportMessageFailure(*failure);
        return std::nullopt;
    }
    if (headersOnly) {
        // Never used by the server: the whole message is read and cut.
        const qsizetype end = raw.indexOf("\r\n\r\n");
        if (end >= 0)
            raw.truncate(end + 4);
    }
    return parse_mail(raw);
}

qint32 VmimePop3Session::DeleteMessage(qint32 number)
{
    if (refuseWhileBusy())
        return static_cast<qint32>(MailError::Busy);
    if (d->state != kStateTransaction) {
        report(static_cast<qint16>(MailError::NotConnected),
               QStringLiteral("Pas de session POP3 ouverte"));
        return static_cast<qint32>(MailError::NotConnected);
    }
    const auto failure = d->dialogue([&] {
        if (number < 1 || static_cast<size_t>(number) > d->inbox->getMessageCount() ||
            d->deleted.count(number))
            throw vmime::exceptions::message_not_found();
        d->inbox->deleteMessages(vmime::net::messageSet::byNumber(static_cast<size_t>(number)));
        d->deleted.insert(number);
    });
    if (failure)
        return reportMessageFailure(*failure);
    d->list.removeIf([number](const Pop3MessageInfo &info) { return info.MsgNumber == number; });
    return 0;
}

void VmimePop3Session::Close()
{
    if (d->runner.busy() || d->state != kStateTransaction)
        return;
    setState(kStateClosing, QStringLiteral("Fermeture de la session"));
    const auto failure = d->dialogue([&] {
        try {
            // Closing with expunge keeps the deletions; disconnect sends QUIT.
            d->inbox->close(true);
            d->store->disconnect();
        } catch (...) {
            d->drop();
            throw;
        }
        d->drop();
    });
    d->list.clear();
    setState(kStateClosed, QStringLiteral("Session fermée"));
    if (failure)
        report(failure->code(), failure->description);
    Q_EMIT Closed();
}

qint32 VmimePop3Session::State() const { return d->state; }

bool VmimePop3Session::busy() const { return d->runner.busy(); }
