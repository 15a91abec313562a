#include "common/durable_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

QString texte_errno(int code) { return qt_error_string(code); }

mode_t mode_de(QFileDevice::Permissions p)
{
    static constexpr std::pair<QFileDevice::Permission, mode_t> kBits[] = {
        {QFileDevice::ReadOwner, S_IRUSR},  {QFileDevice::WriteOwner, S_IWUSR},
        {QFileDevice::ExeOwner, S_IXUSR},   {QFileDevice::ReadGroup, S_IRGRP},
        {QFileDevice::WriteGroup, S_IWGRP}, {QFileDevice::ExeGroup, S_IXGRP},
        {QFileDevice::ReadOther, S_IROTH},  {QFileDevice::WriteOther, S_IWOTH},
        {QFileDevice::ExeOther, S_IXOTH}};
    mode_t mode = 0;
    for (const auto &[bit, m] : kBits)
        if (p.testFlag(bit))
            mode |= m;
    return mode;
}

// The file a write replaces: a symbolic link's target, as the operator set it.
QString cible(const QString &path)
{
    const QFileInfo info(path);
    return info.isSymLink() ? info.symLinkTarget() : path;
}

// A new file beside target, made readable by its owner only from its creation
// (mkostemp: O_CREAT|O_EXCL, mode 0600), whatever the process umask, and
// opened on file. False, with error set, when it cannot be made.
bool creer_temporaire(const QString &target, QString &temp, QFile &file, QString *error)
{
    const QFileInfo existing(target);
    if (existing.exists() && !existing.isWritable())
        return fail(error, target, QStringLiteral("fichier protégé en écriture"));
    QByteArray modele = QFile::encodeName(target) + ".XXXXXX";
    const int fd = ::mkostemp(modele.data(), O_CLOEXEC);
    if (fd < 0)
        return fail(error, target, texte_errno(errno));
    temp = QFile::decodeName(modele);
    if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        ::unlink(modele.constData());
        return fail(error, target, file.errorString());
    }
    return true;
}

// Writes the whole of the temporary file to the disk, gives it its mode and
// puts it in the target's place; on any failure it is removed and the target
// stays as it was.
bool mettre_en_place(QFile &file, const QString &temp, const QString &target, qint64 taille,
                     QFileDevice::Permissions permissions, QString *error)
{
    const auto abandon = [&](const QString &why) {
        file.close();
        ::unlink(QFile::encodeName(temp).constData());
        return fail(error, target, why);
    };
    if (!file.flush())
        return abandon(file.errorString());
    struct stat st {
    };
    if (::fstat(file.handle(), &st) != 0 || st.st_size != taille || !syncHandle(file.handle()))
        return abandon(QStringLiteral("le fichier écrit est incomplet"));
    if (permissions != kProprietaireSeul && ::fchmod(file.handle(), mode_de(permissions)) != 0)
        return abandon(texte_errno(errno));
    file.close();
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(target).constData()) != 0) {
        const int code = errno;
        ::unlink(QFile::encodeName(temp).constData());
        return fail(error, target, texte_errno(code));
    }
    synchroniser_dossier(target);
    return true;
}

} // namespace

void synchroniser_dossier(const QString &path)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

Ecriture::Ecriture(const QString &path) : m_path(path) {}

Ecriture::~Ecriture()
{
    // Left unfinished: nothing stays behind.
    if (m_file.isOpen()) {
        m_file.close();
        ::unlink(QFile::encodeName(m_temp).constData());
    }
}

bool Ecriture::ouvrir(QString *error)
{
    // Nobody else may read it while it is written, nor after.
    return creer_temporaire(cible(m_path), m_temp, m_file, error);
}

bool Ecriture::terminer(qint64 taille, QString *error)
{
    if (!m_file.isOpen())
        return fail(error, m_path, QStringLiteral("fichier non ouvert"));
    return mettre_en_place(m_file, m_temp, cible(m_path), taille, kProprietaireSeul, error);
}

bool remplacer(const QString &path, const QByteArray &content, QString *error,
               std::optional<QFileDevice::Permissions> permissions)
{
    const QString target = cible(path);
    if (!permissions && QFileInfo::exists(target))
        permissions = QFile::permissions(target);
    QFile out;
    QString temp;
    if (!creer_temporaire(target, temp, out, error))
        return false;
    if (out.write(content) != content.size()) {
        const QString why = out.errorString();
        out.close();
        ::unlink(QFile::encodeName(temp).constData());
        return fail(error, path, why);
    }
    return mettre_en_place(out, temp, target, content.size(),
                           permissions.value_or(kProprietaireSeul), error);
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
