#pragma once

#include <QString>

#include <QtGlobal>

#include <optional>

class QIODevice;

// What the server accepts from a mailbox before it refuses to read further.
// A hostile or broken mail must cost bounded memory and time; beyond these
// bounds it is set aside as unreadable rather than retried for ever.
namespace mail_limits {

// A mail larger than this is not fetched (pop3.ini can change it).
inline constexpr qint64 kTailleMailDefaut = 50LL * 1024 * 1024;
// Any answer of the server other than a fetched mail: greeting, a status line,
// a whole listing. A mailbox of 100,000 messages lists in about 3 MB.
inline constexpr qint64 kTailleReponse = 8LL * 1024 * 1024;
// A status line; RFC 1939 allows 512 octets.
inline constexpr qint64 kTailleLigneStatut = 4096;
// vmime parses nested multiparts recursively and in time that grows with the
// square of the depth; real mail rarely nests beyond five or six.
inline constexpr int kProfondeurMime = 40;
// Per header block (the mail's and each part's).
inline constexpr int kNombreEntetes = 1000;
inline constexpr qint64 kTailleEntetes = 256 * 1024;
// A multipart boundary; RFC 2046 allows 70 characters.
inline constexpr int kTailleSeparation = 200;
// Parts in the whole mail.
inline constexpr int kNombreParties = 5000;
// Decoded text kept from the body: the command lines are at its top, and the
// window shows no more than this.
inline constexpr qint64 kTailleCorps = 64 * 1024;

// Reads the mail from the device (positioned at its start) and says why it
// is beyond the limits above, or nothing when it can be parsed safely. One
// pass, constant memory. It reads header blocks and boundaries exactly as
// vmime's parser does, and refuses what the two could read differently: a
// header block with two Content-Type fields, a multipart without a boundary
// parameter or without any boundary line, a boundary line with more after it.
std::optional<QString> depassement(QIODevice &mail);

// The header block of the mail at the device's start, blank line included;
// nothing when it is beyond kTailleEntetes or kNombreEntetes.
std::optional<QByteArray> entete(QIODevice &mail);

} // namespace mail_limits
