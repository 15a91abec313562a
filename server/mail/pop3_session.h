#pragma once

#include "server/mail/authentification.h"
#include "server/mail/pop3_message.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

// The server's POP3 mailbox session: opened and closed once per polling cycle.
//
// Every call returns only when its work is done, but the dialogue itself runs off
// the user-interface thread: while a call waits, the caller's thread keeps
// processing window events (a nested event loop), so timer ticks and clicks can
// arrive in the middle of a call. Callers that are re-entered that way must hold
// their own step while Busy() is true. The events below are always delivered on
// the caller's thread, before the call that caused them returns.
class Pop3Session : public QObject
{
    Q_OBJECT

public:
    // State() while logged in and able to list, fetch and delete.
    static constexpr qint32 kStateTransaction = 6;
    static constexpr qint32 kStateClosed = 0;

    using QObject::QObject;
    ~Pop3Session() override = default;

    // server is "host", "host:port", "pop3://host[:port]" (STARTTLS required) or
    // "pop3s://host[:port]" (TLS from the first byte); port is used when the
    // server names none. Connected or ErrorPOP3 follows.
    virtual qint32 Open(const QString &server, qint32 port, const QString &user,
                        const QString &password) = 0;
    virtual qint32 RefreshList() = 0;
    virtual qint32 MailboxFigure1() const = 0; // number of messages
    virtual qint32 MailboxFigure2() const = 0; // total size in octets
    virtual QList<Pop3MessageInfo> MessageList() const = 0;
    // Fetches the message into archivePath, byte for byte as the server holds
    // it (readable by its owner only), then reads it from there. The file is
    // complete and on disk when the message comes back; nothing is left at
    // archivePath otherwise. A message that cannot be read within the limits
    // comes back marked illisible. Nothing when the message was not fetched
    // (ErrorPOP3 says why): larger than MaxMailSize() (not even asked for,
    // the session stays open), the file could not be written, the server failed.
    virtual std::optional<Pop3Message> FetchMessage(qint32 number, const QString &archivePath) = 0;
    // The message goes when the session is closed.
    virtual qint32 DeleteMessage(qint32 number) = 0;
    // Ends the session (QUIT, so deletions take effect); harmless when not open.
    virtual void Close() = 0;
    virtual qint32 State() const = 0;
    // A call is in flight.
    virtual bool Busy() const = 0;
    // Ends the call in flight at once (it fails with an error), then the
    // session: QUIT is sent without waiting for the answer, so the deletions
    // still take effect. For a shut-down; does nothing when no call is in flight.
    virtual void Cancel() = 0;

    // Asked by FetchMessage once the archive is whole and on disk, before the
    // mail is read: reading a hostile mail is what could stop the server, so
    // the caller records it first. Read reads it; SetAside gives it back
    // unread, marked Unreadable with only what its header block says; Leave
    // gives nothing back and removes the archive (the caller says why).
    enum class BeforeRead { Read, SetAside, Leave };
    using ReadGuard = std::function<BeforeRead(const QString &archivePath)>;
    void SetReadGuard(ReadGuard guard) { m_readGuard = std::move(guard); }
    BeforeRead CheckBeforeRead(const QString &archivePath) const
    {
        return m_readGuard ? m_readGuard(archivePath) : BeforeRead::Read;
    }

    // Messages larger than this (octets) are not fetched; 0 for no limit.
    void SetMaxMailSize(qint64 octets) { m_maxMailSize = octets; }
    qint64 MaxMailSize() const { return m_maxMailSize; }
    // Taken at the next Open: with JetonOAuth2 the password is an access token.
    void SetAuthMethod(Authentification method) { m_authMethod = method; }
    Authentification AuthMethod() const { return m_authMethod; }

Q_SIGNALS:
    void Connected();
    void Closed();
    void ErrorPOP3(qint16 Number, const QString &Description);
    // A fault of the server itself, neither of the mailbox nor of a mail (its
    // mail reader died or cannot be started), given once per fault.
    void ServerFault(const QString &Description);
    // StatusType: 1 a line received, 2 a line sent, 4 a change of state, 8 an error.
    void StatusChanged(const QString &Status, qint32 StatusType);

private:
    qint64 m_maxMailSize = 50LL * 1024 * 1024;
    ReadGuard m_readGuard;
    Authentification m_authMethod = Authentification::MotDePasse;
};
