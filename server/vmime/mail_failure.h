#pragma once

#include <QString>

#include <QtGlobal>

// The numbers of ErrorPOP3 and SMTPError, shared by both components so that
// the logs read the same for both.
enum class MailError : qint16 {
    BadAddress = 1, // the server setting or a mail address is not understood
    HostNotFound = 2,
    ConnectionRefused = 3,
    Timeout = 4, // connect or a command took longer than the timeout
    ConnectionLost = 5,
    TlsFailure = 6,
    CertificateRejected = 7, // not trusted, expired, or for another name
    StartTlsUnavailable = 8, // STARTTLS was required and the server does not offer it
    AuthenticationFailed = 9,
    NoSuchMessage = 10,
    NotConnected = 11,
    Busy = 12,                      // a call came while another one was in flight
    ServerRefused = 13,             // the server answered a command with an error
    ProtocolError = 14,             // the server's answer could not be understood
    Cancelled = 15,                 // the call was ended on request (the server is shutting down)
    TooLong = 16,                   // an answer of the server went beyond its bound
    TooLarge = 17,                  // the message is larger than the mail size limit: not fetched
    ArchiveFailed = 18,             // the fetched message could not be written whole to its file
    AuthenticationUnavailable = 19, // the settings ask for AUTH, the server offers none
    Utf8Unavailable = 20,           // an address is not ASCII, the server does not offer SMTPUTF8
    ReaderUnavailable = 21,         // no mail reader could be started: the box is left as it is
    Internal = 99,
};

// One failure as the components report it.
struct MailFailure {
    MailError number = MailError::Internal;
    QString description;

    qint16 code() const { return static_cast<qint16>(number); }
};
