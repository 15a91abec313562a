#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <QtGlobal>

// One entry of the mailbox listing.
struct Pop3MessageInfo {
    qint32 MsgNumber = 0; // the server's number of the message in this session, from 1
    qint32 MsgSize = 0;   // octets
    QString Uidl;         // the server's unique id of the message
};

// One fetched mail: the bytes as the server sent them and what was read from
// them. It stands for the POP3 component's message object, so it speaks the
// component's language: English names in PascalCase, ours added alike.
class Pop3Message
{
public:
    struct Mailbox {
        QString Address; // bare address, no display name, no angle brackets
    };

    QString Subject; // decoded, blanks as received
    QString Body;    // the decoded text of the mail
    Mailbox Sender;  // From, else Sender, else Return-Path
    QByteArray Raw;  // the whole message, dot-unstuffed, byte for byte
    // The mail was itself sent by a machine (auto-reply, bounce, list traffic):
    // answering it could start a mail loop.
    bool Automatic = false;
    // What made it automatic (the header and its value), for the log; empty when it is not.
    QString AutomaticReason;
    // Why Sender.Address is empty: the mail names no sender a reply could go to.
    QString NoAddressReason;
    // Its Message-ID and References ("<...>" each), to thread the reply.
    QByteArray MessageId;
    QList<QByteArray> References;
    // The topmost Authentication-Results field, unfolded, empty when there is
    // none: the receiving server writes its own above any the sender wrote.
    QByteArray AuthenticationResults;
    // The domain of the From mailbox, in ASCII; empty when From names none
    // (Sender.Address may then come from another header).
    QString FromDomain;
    // Why the mail could not be read within the reader's limits (nesting,
    // headers), empty when it was read. Such a mail is refused, never retried.
    QString Unreadable;
};
