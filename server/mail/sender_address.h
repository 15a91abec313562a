#pragma once

#include <QByteArray>
#include <QString>

// The one address a reply may go to, read from a From, Sender or Return-Path
// header as received. A reply goes to exactly that mailbox or to nobody: a
// header that yields no valid mailbox must never produce a guessed recipient.
struct SenderAddress {
    // The addr-spec for the envelope and the To header: local part quoted
    // where its characters need it, domain in ASCII. Empty when there is none.
    QString address;
    // Why there is none, for the message log and the journal.
    QString raison;

    bool isValid() const { return !address.isEmpty(); }
};

// The first mailbox of the header value (unfolded, raw bytes): the one in
// angle brackets when there are some, comments dropped. Never throws.
SenderAddress sender_address(const QByteArray &headerValue);

// An addr-spec as sender_address() gives it, taken apart again: the local
// part as its owner means it (quotes and quoted pairs undone) and the domain.
// Whatever writes an envelope from the parts must quote the local part once
// more where its syntax needs it, and only there.
struct AddrSpecParts {
    QString localPart;
    QString domain;
};
AddrSpecParts split_addr_spec(const QString &addrSpec);
