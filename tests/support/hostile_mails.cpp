#include "tests/support/hostile_mails.h"

namespace hostile_mails {

namespace {
const QByteArray kHead = "From: mallory@example.org\r\nSubject: Actions\r\nMIME-Version: 1.0\r\n";
}

QByteArray nested(int depth, const QByteArray &dashGap, bool twoTypes)
{
    QByteArray mail = kHead;
    for (int i = 0; i < depth; ++i) {
        const QByteArray b = "b" + QByteArray::number(i);
        mail += "Content-Type: multipart/mixed; boundary=\"" + b + "\"\r\n";
        if (twoTypes && i == 0)
            mail += "Content-Type: text/plain\r\n";
        mail += "\r\n--" + dashGap + b + "\r\n";
    }
    mail += "Content-Type: text/plain\r\n\r\nCommande: run.bat;\r\n";
    for (int i = depth - 1; i >= 0; --i)
        mail += "--" + dashGap + "b" + QByteArray::number(i) + "--\r\n";
    return mail;
}

QByteArray unclosedSiblings(int count)
{
    QByteArray mail = kHead + "Content-Type: multipart/mixed; boundary=\"top\"\r\n\r\n";
    const QByteArray filler(1000, 'y');
    for (int i = 0; i < count; ++i) {
        const QByteArray b = "in" + QByteArray::number(i) + "x";
        mail += "--top\r\nContent-Type: multipart/mixed; boundary=\"" + b + "\"\r\n\r\n--" + b +
                "\r\nContent-Type: text/plain\r\n\r\n" + filler + "\r\n";
    }
    return mail + "--top--\r\n";
}

} // namespace hostile_mails
