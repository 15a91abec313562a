#pragma once

#include <QString>
#include <QTemporaryDir>

// A folder on a file system that a test can fill up. As root, a 256 KB tmpfs
// mounted in the test process's own mount namespace (nothing outside sees it,
// and it goes with the process); elsewhere, a limit on the size of the files
// this process writes (RLIMIT_FSIZE), under which every write that would grow
// a file fails as it would on a full disk. Both are faults of the real system
// calls: the code under test runs unchanged.
class SmallDisk
{
public:
    SmallDisk();
    ~SmallDisk();
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    // Call before the test starts any thread. False when neither way works.
    bool monter();
    // "tmpfs" or "RLIMIT_FSIZE": which of the two ran, for the test's log.
    QString mode() const
    {
        return m_tmpfs ? QStringLiteral("tmpfs") : QStringLiteral("RLIMIT_FSIZE");
    }
    // The folder, with its separator.
    QString path() const { return m_dir.path() + u'/'; }

    // No more room: every write that needs space fails.
    bool remplir();
    // Room again.
    void vider();

private:
    QTemporaryDir m_dir;
    bool m_tmpfs = false;
    bool m_monte = false;
};
