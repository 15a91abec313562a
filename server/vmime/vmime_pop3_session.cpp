#include "server/vmime/vmime_pop3_session.h"

#include "common/durable_file.h"

#include "server/vmime/bounded_mail_reader.h"
#include "server/vmime/lecteur_borne.h"
#include "server/vmime/mail_call_runner.h"
#include "server/vmime/mail_failure.h"
#include "server/vmime/mail_limits.h"
#include "server/vmime/server_address.h"
#include "server/vmime/vmime_failure.h"
#include "server/vmime/vmime_guarded_socket.h"
#include "server/vmime/vmime_oauth2.h"
#include "server/vmime/vmime_pop3_retrieve.h"
#include "server/vmime/vmime_service.h"
#include "server/vmime/vmime_tracer.h"

#include <QElapsedTimer>
#include <QFile>

#include <vmime/net/pop3/POP3Command.hpp>
#include <vmime/net/pop3/POP3Connection.hpp>
#include <vmime/net/pop3/POP3Response.hpp>
#include <vmime/net/pop3/POP3Store.hpp>
#include <vmime/vmime.hpp>

#include <set>

struct VmimePop3Session::Private {
    int timeoutMs = 30000;
    QStringList trustedCaFiles;
    lecture_bornee::Bornes bornesLecture;
    // Shared with the worker's socket: Cancel() and the bound on answers.
    std::shared_ptr<SocketGuard> guard = std::make_shared<SocketGuard>();

    // Caller's thread only.
    qint32 state = kStateClosed;
    QList<Pop3MessageInfo> list;

    // Worker thread only, one call at a time.
    vmime::shared_ptr<vmime::net::session> session;
    vmime::shared_ptr<vmime::net::store> store;
    vmime::shared_ptr<vmime::net::folder> inbox;
    std::set<qint32> deleted;

    // Declared last, so destroyed first: the worker is joined before the
    // members it uses go.
    MailCallRunner runner;

    // Runs work on the worker; a failure is returned, never thrown.
    std::optional<MailFailure> dialogue(const std::function<void()> &work)
    {
        std::optional<MailFailure> failure;
        guard->reset();
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
        // The guard knows better than what vmime made of its exception.
        if (failure) {
            if (const auto own = guard->failure())
                failure = own;
            else if (guard->cancelled())
                failure =
                    MailFailure{MailError::Cancelled, QStringLiteral("Opération POP3 interrompue")};
        }
        return failure;
    }

    // Worker side: forget the connection without waiting on the server. QUIT
    // goes out first, unanswered: a server still listening then commits the
    // deletions of the session.
    void drop(bool sendQuit)
    {
        try {
            const auto pop3 = vmime::dynamicCast<vmime::net::pop3::POP3Store>(store);
            const auto connection = pop3 ? pop3->getConnection() : nullptr;
            const auto socket = connection ? connection->getSocket() : nullptr;
            if (socket && socket->isConnected()) {
                if (sendQuit) {
                    guard->setClosing(true);
                    try {
                        socket->send("QUIT\r\n");
                    } catch (const std::exception &) {
                    }
                    guard->setClosing(false);
                }
                socket->disconnect();
            }
        } catch (const std::exception &) {
        }
        inbox.reset();
        store.reset();
        session.reset();
        deleted.clear();
    }

    // Worker side: QUIT, and its answer, which says whether the deletions were made.
    void quit()
    {
        const auto pop3 = vmime::dynamicCast<vmime::net::pop3::POP3Store>(store);
        if (!pop3 || !pop3->isConnected())
            throw vmime::exceptions::not_connected();
        const auto connection = pop3->getConnection();
        vmime::net::pop3::POP3Command::QUIT()->send(connection);
        const auto answer = vmime::net::pop3::POP3Response::readResponse(connection);
        if (!answer->isSuccess())
            throw vmime::exceptions::command_error("QUIT", answer->getFirstLine());
    }

    // Worker side: the size of one message, as listed or else from the server.
    qint64 messageSize(qint32 number, qint64 listed)
    {
        if (listed >= 0)
            return listed;
        auto message = inbox->getMessage(static_cast<size_t>(number));
        inbox->fetchMessage(message, vmime::net::fetchAttributes::SIZE);
        return static_cast<qint64>(message->getSize());
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
    case MailError::Cancelled:
    case MailError::TooLong:
        return true;
    default:
        return false;
    }
}

} // namespace

VmimePop3Session::VmimePop3Session(QObject *parent)
    : Pop3Session(parent), d(std::make_unique<Private>())
{
    install_vmime_platform();
}

VmimePop3Session::~VmimePop3Session()
{
    // Whatever is still running ends at once; the runner, destroyed first,
    // then joins the worker after the QUIT below.
    d->guard->cancel();
    if (d->state != kStateClosed)
        d->runner.dispatch([this] { d->drop(true); });
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
    fail(failure, false);
    return failure.code();
}

void VmimePop3Session::fail(const MailFailure &failure, bool connectionUsable)
{
    report(failure.code(), failure.description);
    if (!connectionUsable && (connectionBroken(failure) || failure.number == MailError::TooLarge ||
                              failure.number == MailError::ArchiveFailed))
        sessionLost();
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

bool VmimePop3Session::lecteurPret(const QString &sinon)
{
    const lecture_bornee::EtatLecteur lecteur = lecture_bornee::verifier_lecteur();
    if (!lecteur.panne.isEmpty())
        Q_EMIT ServerFault(lecteur.panne);
    // The fault was said once above, with its cause: each cycle it lasts
    // only shows in the trace.
    if (!lecteur.pret)
        Q_EMIT StatusChanged(QStringLiteral("Pas de lecteur des messages : ") + sinon, 8);
    return lecteur.pret;
}

void VmimePop3Session::setState(qint32 state, const QString &status)
{
    d->state = state;
    Q_EMIT StatusChanged(status, 4);
}

void VmimePop3Session::sessionLost()
{
    d->runner.dispatch([this] { d->drop(true); });
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
    // Without a reader no mail could be read: the box is left as it is.
    if (!lecteurPret(QStringLiteral("la boite n'est pas relevée")))
        return static_cast<qint32>(MailError::ReaderUnavailable);

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
    options.guard = d->guard;
    // Lines reach the caller's thread through the runner, in order.
    options.tracer = vmime::make_shared<VmimeTracer>([this, user](QString line, qint32 type) {
        // vmime hides the user name too; the log is clearer with it.
        line.replace(QLatin1String("{username}"), user);
        d->runner.post([this, line, type] { Q_EMIT StatusChanged(line, type); });
    });

    const std::string userName = user.toStdString();
    const std::string secret = password.toStdString();
    const bool parJeton = AuthMethod() == Authentification::JetonOAuth2;
    if (parJeton) {
        if (const auto refus = vmime_oauth2::refus_caracteres(userName, secret)) {
            setState(kStateClosed, QStringLiteral("Session fermée"));
            report(static_cast<qint16>(MailError::AuthenticationFailed), *refus);
            return static_cast<qint32>(MailError::AuthenticationFailed);
        }
    }
    const auto authenticator = vmime::make_shared<vmime_oauth2::JetonAuthenticator>();
    d->guard->setAnswerLimit(mail_limits::kTailleReponse);
    auto failure = d->dialogue([&] {
        d->drop(false);
        d->session = vmime::net::session::create();
        if (parJeton) {
            d->store = d->session->getStore(vmime_url(address), authenticator);
            configure_vmime_service(d->store, address, options);
            vmime_oauth2::configurer(d->store, userName, secret);
        } else {
            d->store = d->session->getStore(vmime_url(address));
            configure_vmime_service(d->store, address, options);
            // USER/PASS only: the tracer masks PASS, and every POP3 server knows it.
            d->store->setProperty("options.sasl", false);
            d->store->setProperty("options.apop", false);
            d->store->setProperty("auth.username", userName);
            d->store->setProperty("auth.password", secret);
        }
        try {
            if (parJeton)
                vmime_oauth2::connecter(d->store, *authenticator);
            else
                d->store->connect();
            d->inbox = d->store->getDefaultFolder();
            d->inbox->open(vmime::net::folder::MODE_READ_WRITE);
        } catch (...) {
            d->drop(false);
            throw;
        }
    });
    if (failure && parJeton)
        failure = authenticator->expliquer(*failure, QStringLiteral("POP3"));
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

std::optional<Pop3Message> VmimePop3Session::FetchMessage(qint32 number, const QString &archivePath)
{
    if (refuseWhileBusy())
        return std::nullopt;
    if (d->state != kStateTransaction) {
        report(static_cast<qint16>(MailError::NotConnected),
               QStringLiteral("Pas de session POP3 ouverte"));
        return std::nullopt;
    }
    const qint64 limit = MaxMailSize();
    qint64 listed = -1;
    for (const Pop3MessageInfo &info : std::as_const(d->list))
        if (info.MsgNumber == number)
            listed = info.MsgSize;
    qint64 tooLarge = -1;
    bool retrieved = false;
    const auto failure = d->dialogue([&] {
        if (number < 1 || d->deleted.count(number))
            throw vmime::exceptions::message_not_found();
        if (static_cast<size_t>(number) > d->inbox->getMessageCount())
            throw vmime::exceptions::message_not_found();
        if (limit > 0) {
            const qint64 size = d->messageSize(number, listed);
            if (size > limit) {
                tooLarge = size;
                return;
            }
        }
        // Written aside and renamed once whole and on disk, its folder synced:
        // a file at archivePath is always the complete mail, and its name
        // survives a power cut before the mail may be deleted.
        durable::Ecriture file(archivePath);
        QString why;
        const auto notArchived = [&](const QString &why) {
            return MailFailure{MailError::ArchiveFailed,
                               QStringLiteral("Le message %1 n'a pas pu être archivé dans %2 (%3), "
                                              "il reste dans la boite")
                                   .arg(number)
                                   .arg(archivePath, why)};
        };
        // Owner-only: it may hold a code still valid.
        if (!file.ouvrir(&why))
            d->guard->fail(notArchived(why));
        const qint64 written = vmime_pop3_retrieve(d->store, static_cast<size_t>(number),
                                                   file.device(), limit, *d->guard);
        retrieved = true;
        if (!file.terminer(written, &why))
            d->guard->fail(notArchived(why));
    });
    if (failure) {
        // After a whole RETR the dialogue is in step: only the file failed.
        fail(*failure, retrieved);
        return std::nullopt;
    }
    if (tooLarge >= 0) {
        report(static_cast<qint16>(MailError::TooLarge),
               QStringLiteral("Message %1 de %2 octets, plus grand que la limite de %3 octets : "
                              "il n'est pas relevé")
                   .arg(number)
                   .arg(tooLarge)
                   .arg(limit));
        return std::nullopt;
    }
    return lireArchive(number, archivePath);
}

std::optional<Pop3Message> VmimePop3Session::lireArchive(qint32 number, const QString &archivePath)
{
    // Asked before the mail is recorded as being read: a mail the server
    // could not read is no mail whose reading never ended.
    if (!lecteurPret(QStringLiteral("le message %1 reste dans la boite").arg(number))) {
        QFile::remove(archivePath);
        return std::nullopt;
    }
    switch (CheckBeforeRead(archivePath)) {
    case BeforeRead::Leave:
        QFile::remove(archivePath);
        return std::nullopt;
    case BeforeRead::SetAside:
        return lecture_bornee::mis_de_cote(
            archivePath, QStringLiteral("sa lecture n'a pas abouti avant un arrêt du serveur, "
                                        "elle n'est pas reprise"));
    case BeforeRead::Read:
        break;
    }
    // The parse runs in a child process, waited for on the worker: the caller
    // keeps handling its events and Busy() holds the sequencer meanwhile.
    lecture_bornee::Resultat resultat;
    d->guard->reset();
    d->runner.run([&] {
        resultat = lecture_bornee::lire(archivePath, d->bornesLecture,
                                        [this] { return d->guard->cancelled(); });
    });
    if (!resultat.panne.isEmpty())
        Q_EMIT ServerFault(resultat.panne);
    if (!resultat.mail) {
        // Left in the box for a later cycle, as a mail that could not be archived.
        QFile::remove(archivePath);
        report(static_cast<qint16>(MailError::ArchiveFailed),
               QStringLiteral("Le message %1 n'a pas pu être lu dans %2 (%3), il reste dans la "
                              "boite")
                   .arg(number)
                   .arg(archivePath, resultat.echec));
    }
    return resultat.mail;
}

void VmimePop3Session::setLecture(const lecture_bornee::Bornes &bornes)
{
    d->bornesLecture = bornes;
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
            d->quit();
        } catch (...) {
            d->drop(false);
            throw;
        }
        d->drop(false);
    });
    d->list.clear();
    setState(kStateClosed, QStringLiteral("Session fermée"));
    if (failure)
        report(failure->code(),
               QStringLiteral("Fin de session sans confirmation du serveur, les suppressions "
                              "ne sont peut-être pas faites : ") +
                   failure->description);
    Q_EMIT Closed();
}

qint32 VmimePop3Session::State() const { return d->state; }

bool VmimePop3Session::Busy() const { return d->runner.busy(); }

void VmimePop3Session::Cancel()
{
    if (d->runner.busy())
        d->guard->cancel();
}
