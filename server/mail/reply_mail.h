#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// What one reply says, as the server composes it after processing a mail.
struct ReplyContent {
    QString from;    // the server's reply address, an addr-spec
    QString to;      // the one recipient, an addr-spec as sender_address() gives it
    QString subject; // any text; blanks kept
    QString text;    // the plain part
    QString html;    // shown escaped in the HTML part, line breaks kept
    QString charset; // of both parts; empty or unknown gives UTF-8
    // The command mail's Message-ID ("<...>") and its References, so that
    // mail programs show the reply in the command's thread. Empty when absent.
    QByteArray inReplyTo;
    QList<QByteArray> references;
    QDateTime date; // invalid gives now
};

// The reply as it goes on the wire: CR LF line ends only, no line over 998
// octets (quoted-printable bodies, folded headers), a Message-ID in the reply
// address's domain, Date, MIME-Version, In-Reply-To and References,
// "Auto-Submitted: auto-replied", a non-ASCII subject as RFC 2047 words that
// decode to the exact text.
QByteArray compose_reply(const ReplyContent &content);

// The msg-id tokens ("<left@right>") of a Message-ID, In-Reply-To or
// References header value, in order; anything else in it is dropped.
QList<QByteArray> message_ids(const QByteArray &headerValue);
