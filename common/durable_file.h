#pragma once

#include <QByteArray>
#include <QFile>
#include <QFileDevice>
#include <QString>

#include <optional>

// Writes that either reach the disk whole or change nothing. Every byte written
// is checked, flushed and synced before it replaces or extends anything, so a
// full disk or a crash can never leave an emptied key file or a half line.
namespace durable {

inline constexpr QFileDevice::Permissions kProprietaireSeul =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// Replaces the file with content: written beside it (readable by the owner
// only while it is written), checked for its size, synced, then renamed over
// the old one; the file written beside it is readable by its owner only from
// its creation. The new file gets the permissions given, else those the operator
// gave the old file, else it is readable by its owner only. On failure the old
// file is left whole and error (when given) says why, in French.
[[nodiscard]] bool remplacer(const QString &path, const QByteArray &content,
                             QString *error = nullptr,
                             std::optional<QFileDevice::Permissions> permissions = std::nullopt);

// Appends bytes to the file, created readable by its owner only. On failure
// the file is cut back to its former length: nothing half-written remains.
[[nodiscard]] bool ajouter(const QString &path, const QByteArray &bytes, QString *error = nullptr);

// A file written in pieces (a mail as it comes from the server) that appears
// at its path only whole and on disk: written beside it, readable by its owner
// only, then checked, synced and renamed into place, its folder synced. Left
// unfinished, it leaves nothing behind and nothing replaced.
class Ecriture
{
public:
    explicit Ecriture(const QString &path);
    ~Ecriture();
    Ecriture(const Ecriture &) = delete;
    Ecriture &operator=(const Ecriture &) = delete;

    [[nodiscard]] bool ouvrir(QString *error = nullptr);
    QIODevice &device() { return m_file; }
    // Puts the file in place once it holds exactly taille bytes; otherwise
    // the old file, if any, stays as it was.
    [[nodiscard]] bool terminer(qint64 taille, QString *error = nullptr);

private:
    QString m_path;
    QString m_temp;
    QFile m_file;
};

// A rename is durable only once the folder that holds the name is synced too:
// syncs the folder of path.
void synchroniser_dossier(const QString &path);

} // namespace durable
