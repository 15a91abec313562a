#include "common/durable_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace durable {

namespace {

bool syncHandle(int handle)
{
#ifdef Q_OS_UNIX
    return handle < 0 || ::fsync(handle) == 0;
#else
    Q_UNUSED(handle);
    return true;
#endif
}

void cutBack(QFile &file, qint64 length)
{
    if (file.resize(length))
        return;
#ifdef Q_OS_UNIX
    if (::ftruncate(file.handle(), length) != 0)
        return; // nothing more can be done; the caller reports the failure
#endif
}

bool fail(QString *error, const QString &path, const QString &why)
{
    if (error)
        *error = QStringLiteral("écriture impossible de ") + QDir::toNativeSeparators(path) +
                 QStringLiteral(" : ") + why;
    return false;
}

} // namespace

void synchroniser_dossier(const QString &path)
{
#ifdef Q_OS_UNIX
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(path);
#endif
}

Ecriture::Ecriture(const QString &path) : m_path(path), m_file(path) {}

bool Ecriture::ouvrir(QString *error)
{
    if (!m_file.open(QIODevice::WriteOnly))
        return fail(error, m_path, m_file.errorString());
    // Nobody else may read it while it is written.
    m_file.setPermissions(kProprietaireSeul);
    return true;
}

bool Ecriture::terminer(qint64 taille, QString *error)
{
    if (!m_file.flush()) {
        const QString why = m_file.errorString();
        m_file.cancelWriting();
        return fail(error, m_path, why);
    }
    if (m_file.size() != taille || !syncHandle(m_file.handle())) {
        m_file.cancelWriting();
        return fail(error, m_path, QStringLiteral("le fichier écrit est incomplet"));
    }
    if (!m_file.commit())
        return fail(error, m_path, m_file.errorString());
    synchroniser_dossier(m_path);
    return true;
}

bool remplacer(const QString &path, const QByteArray &content, QString *error,
               std::optional<QFileDevice::Permissions> permissions)
{
    if (!permissions && QFileInfo::exists(path))
        permissions = QFile::permissions(path);
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return fail(error, path, out.errorString());
    // The temporary file takes the old file's permissions; nobody else may read
    // it while the new content goes in.
    out.setPermissions(kProprietaireSeul);
    if (out.write(content) != content.size() || !out.flush()) {
        const QString why = out.errorString();
        out.cancelWriting();
        return fail(error, path, why);
    }
    if (out.size() != content.size() || !syncHandle(out.handle())) {
        out.cancelWriting();
        return fail(error, path, QStringLiteral("le fichier écrit est incomplet"));
    }
    if (permissions && *permissions != kProprietaireSeul)
        out.setPermissions(*permissions);
    if (!out.commit())
        return fail(error, path, out.errorString());
    synchroniser_dossier(path);
    return true;
}

bool ajouter(const QString &path, const QByteArray &bytes, QString *error)
{
    QFile file(path);
    // Unbuffered: a refused write is seen here, and nothing is left in a buffer
    // to be written after the file has been cut back.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered,
                   kProprietaireSeul))
        return fail(error, path, file.errorString());
    // A file created before it was kept private is made private now.
    if (file.permissions() & ~(kProprietaireSeul | QFileDevice::ReadUser | QFileDevice::WriteUser))
        file.setPermissions(kProprietaireSeul);
    const qint64 before = file.size();
    if (file.write(bytes) != bytes.size() || !file.flush() ||
        file.size() != before + bytes.size() || !syncHandle(file.handle())) {
        const QString why = file.errorString();
        cutBack(file, before);
        return fail(error, path, why.isEmpty() ? QStringLiteral("écriture incomplète") : why);
    }
    return true;
}

} // namespace durable
