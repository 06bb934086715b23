#include "runner/worker/confinement.h"

#include "engine/helperfolder.h"
#include "engine/nativepath.h"
#include "engine/render/rendererbackend.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/landlock.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
}

// Adds path with the rights it can hold: a file only those for files. A path
// that does not exist is passed over.
bool allow(int ruleset, const QString &path, __u64 rights, QString *why)
{
    const int fd = ::open(nativePath(path).constData(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return true;
    struct stat status = {};
    if (::fstat(fd, &status) == 0 && !S_ISDIR(status.st_mode))
        rights &= LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_EXECUTE;
    landlock_path_beneath_attr beneath = {};
    beneath.allowed_access = rights;
    beneath.parent_fd = fd;
    const long added = syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &beneath, 0);
    if (added != 0)
        *why = systemError("landlock_add_rule");
    ::close(fd);
    return added == 0;
}

} // namespace

QString confineToFiles(const QStringList &inputs, const QStringList &outputFolders)
{
    const long abi = syscall(SYS_landlock_create_ruleset, nullptr, 0, LANDLOCK_CREATE_RULESET_VERSION);
    if (abi < 1)
        return errno == ENOSYS || errno == EOPNOTSUPP ? QStringLiteral("Landlock is not available in this kernel")
                                                      : systemError("landlock_create_ruleset");
    constexpr __u64 read = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
    constexpr __u64 execute = LANDLOCK_ACCESS_FS_EXECUTE;
    constexpr __u64 write = LANDLOCK_ACCESS_FS_WRITE_FILE | LANDLOCK_ACCESS_FS_MAKE_REG
                            | LANDLOCK_ACCESS_FS_REMOVE_FILE;
    __u64 handled = read | execute | write | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_MAKE_CHAR
                    | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO
                    | LANDLOCK_ACCESS_FS_MAKE_BLOCK | LANDLOCK_ACCESS_FS_MAKE_SYM;
    if (abi >= 2)
        handled |= LANDLOCK_ACCESS_FS_REFER; // renames across folders; ours stay in one
    landlock_ruleset_attr attributes = {};
    attributes.handled_access_fs = handled;
    const int ruleset = int(syscall(SYS_landlock_create_ruleset, &attributes, sizeof attributes, 0));
    if (ruleset < 0)
        return systemError("landlock_create_ruleset");

    QString why;
    bool added = true;
    // What the libraries read as they draw: fonts and their configuration
    // and caches, locale data, the system's own files under /proc and /sys.
    const QString home = QDir::homePath();
    const QString cache = qEnvironmentVariable("XDG_CACHE_HOME", home + QStringLiteral("/.cache"));
    const QString data = qEnvironmentVariable("XDG_DATA_HOME", home + QStringLiteral("/.local/share"));
    for (const QString &tree : {QStringLiteral("/usr"), QStringLiteral("/etc"), QStringLiteral("/lib"),
                                QStringLiteral("/lib64"), QStringLiteral("/opt"), QStringLiteral("/proc"),
                                QStringLiteral("/sys"), QStringLiteral("/dev"), QStringLiteral("/var/cache/fontconfig"),
                                QStringLiteral("/var/lib"), home + QStringLiteral("/.fonts"), data + QStringLiteral("/fonts"),
                                cache + QStringLiteral("/fontconfig")})
        added = added && allow(ruleset, tree, read | execute, &why);
    // The back-ends' modules, loaded after this with the first document
    // each opens: these files alone of the folder they are in (a build tree,
    // when not installed under /usr).
    for (const RendererBackEnd *backEnd : rendererBackEnds())
        if (backEnd->module)
            added = added && allow(ruleset, helperFolder().joined(backEnd->module).escaped(), read, &why);
    for (const QString &input : inputs)
        added = added && allow(ruleset, input, read, &why);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    // A sanitizer reads its suppressions file at exit, long after this.
    for (const char *variable : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"})
        for (const QString &option : qEnvironmentVariable(variable).split(QLatin1Char(':')))
            if (option.startsWith(QStringLiteral("suppressions=")))
                added = added && allow(ruleset, option.section(QLatin1Char('='), 1), read, &why);
#endif
    for (const QString &folder : outputFolders)
        added = added && allow(ruleset, folder, read | write, &why);
    if (!added) {
        ::close(ruleset);
        return why;
    }
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        why = systemError("PR_SET_NO_NEW_PRIVS");
    } else if (syscall(SYS_landlock_restrict_self, ruleset, 0) != 0) {
        why = systemError("landlock_restrict_self");
    }
    ::close(ruleset);
    return why;
}
