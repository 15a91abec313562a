// tramelon-analyse FILE: reads one archived mail as the server does and writes
// what it read to its standard output. The server runs it under limits of time
// and memory, so that no mail can hold the server or take it down.
#include "server/vmime/bounded_mail_reader.h"
#include "server/vmime/mail_file_reader.h"

#include <QString>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fputs("usage: tramelon-analyse FICHIER\n", stderr);
        return 2;
    }
    const std::optional<Pop3Message> mail = read_mail_file(QString::fromLocal8Bit(argv[1]));
    if (!mail)
        return 3;
    const QByteArray sortie = lecture_bornee::encoder(*mail);
    if (std::fwrite(sortie.constData(), 1, size_t(sortie.size()), stdout) !=
            size_t(sortie.size()) ||
        std::fflush(stdout) != 0)
        return 4;
    return 0;
}
