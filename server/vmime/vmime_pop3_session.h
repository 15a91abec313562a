#pragma once

#include "server/mail/pop3_session.h"
#include "server/vmime/bounded_mail_reader.h"
#include "server/vmime/mail_failure.h"

#include <QStringList>

#include <memory>

// The server's POP3 session on vmime.
//
// Each call runs its part of the dialogue on a worker thread and waits for it
// in a nested event loop: window events, timer ticks and clicks are handled
// during the call, and the sequencer must hold its step while Busy() is true.
// A call made while another is in flight does nothing but report
// MailError::Busy. Every event is emitted on the caller's thread before the
// call returns; no exception ever leaves a call.
//
// Events: StatusChanged for each line of the dialogue (1 received, 2 sent, the
// PASS line masked), for each change of state (4) and each failure (8);
// ErrorPOP3 with a MailError number for every failure; Connected after login;
// Closed when an open session ends (Close, or a lost connection).
// State(): 0 closed, 1 while opening, 6 logged in, 7 while closing.
//
// Messages are numbered by the server for the session. DeleteMessage marks
// (DELE); the server removes the message at Close (QUIT), whose failure is
// reported. FetchMessage streams the message byte for byte as sent
// (dot-unstuffed) to its file, asks garde_lecture(), then reads it from there in
// a child process (bounded_mail_reader.h), within the limits of mail_limits.h;
// without a reader (none could be started) Open and FetchMessage leave the box
// as it is, and the reader's faults come as ServerFault, once each;
// an answer of the server beyond its bound ends the session. A lost connection is dropped on the
// worker without holding the caller.
class VmimePop3Session : public Pop3Session
{
    Q_OBJECT

public:
    static constexpr qint32 kStateOpening = 1;
    static constexpr qint32 kStateClosing = 7;

    explicit VmimePop3Session(QObject *parent = nullptr);
    // Ends an open session quietly (QUIT, no events).
    ~VmimePop3Session() override;

    // For connect and for each command; 30 s unless set.
    void setTimeout(int milliseconds);
    int timeout() const;
    // A PEM file of certificates trusted besides the system store; taken at the next Open.
    void addTrustedCertificates(const QString &pemFile);
    // The bounds of the mail reader.
    void setLecture(const lecture_bornee::Bornes &bornes);

    qint32 Open(const QString &server, qint32 port, const QString &user,
                const QString &password) override;
    qint32 RefreshList() override;
    qint32 MailboxFigure1() const override;
    qint32 MailboxFigure2() const override;
    QList<Pop3MessageInfo> MessageList() const override;
    std::optional<Pop3Message> FetchMessage(qint32 number, const QString &archivePath) override;
    qint32 DeleteMessage(qint32 number) override;
    void Close() override;
    qint32 State() const override;
    bool Busy() const override;
    void Cancel() override;

private:
    struct Private;

    bool refuseWhileBusy();
    // The archived message, read within bounds once the caller allows it.
    std::optional<Pop3Message> lireArchive(qint32 number, const QString &archivePath);
    void report(qint16 number, const QString &description);
    // A reader is there to read mails; otherwise ErrorPOP3 says so, with sinon.
    bool lecteurPret(const QString &sinon);
    void setState(qint32 state, const QString &status);
    void sessionLost();
    // The failure of a call, with the session dropped when it broke the connection.
    void fail(const MailFailure &failure, bool connectionUsable);
    // Reports a failed command on one message; returns the error number.
    qint16 reportMessageFailure(MailFailure failure);

    std::unique_ptr<Private> d;
};
