#include "tests/support/small_disk.h"

#include <QDir>
#include <QFile>

#include <csignal>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>

namespace {
// In a folder of its own, out of the way of the test's listings.
const QString kRemplissage = QStringLiteral("plein/remplissage");
} // namespace

SmallDisk::SmallDisk() = default;

SmallDisk::~SmallDisk()
{
    vider();
    if (m_tmpfs)
        ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
}

bool SmallDisk::monter()
{
    if (!m_dir.isValid())
        return false;
    m_monte = true;
    const QByteArray target = QFile::encodeName(m_dir.path());
    // A private namespace first, so that the mount never shows outside this process.
    if (::unshare(CLONE_NEWNS) == 0 &&
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
        ::mount("tmpfs", target.constData(), "tmpfs", 0, "size=256k,mode=0700") == 0) {
        m_tmpfs = true;
        return true;
    }
    // A file grown past the limit raises SIGXFSZ; ignored, the write fails with EFBIG.
    std::signal(SIGXFSZ, SIG_IGN);
    return true;
}

bool SmallDisk::remplir()
{
    if (!m_tmpfs) {
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 0;
        return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    QDir().mkpath(path() + QStringLiteral("plein"));
    QFile filler(path() + kRemplissage);
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return false;
    const QByteArray page(4096, 'x');
    while (filler.write(page) == page.size()) {
    }
    // The last partial page too: not one byte is left.
    while (filler.write("x", 1) == 1) {
    }
    return true;
}

void SmallDisk::vider()
{
    if (!m_monte)
        return;
    if (m_tmpfs) {
        QFile::remove(path() + kRemplissage);
        return;
    }
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_FSIZE, &limit);
}
