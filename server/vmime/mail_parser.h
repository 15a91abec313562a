#pragma once

#include "server/mail/pop3_message.h"

#include <QByteArray>
#include <QString>

// Reads a fetched mail as the server processes it. Never throws: a mail that
// is partly malformed gives whatever could be read from it.
//
// Subject: RFC 2047 words decoded from any charset, raw 8-bit text read as
// UTF-8 when valid, else as Latin-1; the blank that follows "Subject:" is
// dropped, every other blank is kept as received.
// Sender.Address: the valid mailbox of From, else Sender, else Return-Path
// (see sender_address), with raison_sans_adresse saying why there is none.
// MessageId, References: the msg-ids of those headers.
// Body: the first text/plain part that is not an attachment (depth first
// through nested multiparts), else the text of the first text/html part;
// transfer encoding undone, charset converted, lines ended by CR LF.
// automatique: the mail was sent by a machine, with raison_automatique naming
// the header: Auto-Submitted other than "no", Precedence bulk/junk/list, an
// empty Return-Path, List-Id, List-Unsubscribe, X-Autoreply, X-Autorespond,
// X-Auto-Response-Suppress All/AutoReply/OOF, a sender MAILER-DAEMON or
// postmaster, or a multipart/report (bounces, read receipts).
// raw: the bytes given.
// Body: at most mail_limits::kTailleCorps octets of decoded text.
Pop3Message parse_mail(const QByteArray &raw);

// The same from a mail file whose header block is head; the bodies stay in the
// file (raw is left empty). The caller checks the limits first.
Pop3Message parse_mail_file(const QString &path, const QByteArray &head);

// What a header block alone says (no body), read without vmime's message
// parser: only the first Content-Type field goes through vmime. For a mail
// that is not to be parsed, or whose parse did not end.
Pop3Message parse_mail_head(const QByteArray &head);

// The decoded text of the first text/html part, empty when there is none.
QString mail_html_part(const QByteArray &raw);
