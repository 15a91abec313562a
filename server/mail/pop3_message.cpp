#include "server/mail/pop3_message.h"

#include <QSaveFile>

bool Pop3Message::SaveAs(const QString &path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // A mail can hold a code still valid.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(raw) != raw.size())
        return false;
    return file.commit();
}
