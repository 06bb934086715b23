#ifndef ATOMICFILE_H
#define ATOMICFILE_H

#include <QIODevice>
#include <QString>

#include <functional>
#include <memory>

// An output file that appears whole under its name or not at all. The data
// goes to a hidden file in the same folder (.vl<random>.tmp, made with
// O_EXCL, another name tried when one is taken), renamed over the target on
// commit. As with QSaveFile, a link is followed and a file replaced keeps its
// permissions. When asked (setSynced()), the data is flushed to the disk
// before the rename and the folder after it, so that a power cut never leaves
// an empty or partial file under the final name.
//
// Every failure keeps the system's own reason (errno of the call that failed:
// "No space left on device"), which QFile loses on a short write.
class AtomicFile
{
public:
    explicit AtomicFile(const QString &path);
    ~AtomicFile(); // removes the temporary file unless committed

    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    // readable: for writers that read back what they wrote (a TIFF of many
    // pages links each page to the one before).
    bool open(bool readable = false);
    QIODevice &device();

    // Closes the temporary file and puts it in place of the target.
    bool commit();
    void discard();

    // Closes the temporary file and leaves it whole under its temporary
    // name, for whoever asked for the file to put it in place later (place())
    // or remove it; returns that name, empty with the reason on a failure.
    QString hold();
    // Gives a file another process held for target a temporary name of this
    // process's, so that the removal of the other process's leftovers passes
    // it over. The other process is not trusted: a name that is not one of
    // this class's temporary files beside target is refused. The new name,
    // empty with the reason in *why when it cannot.
    static QString adopt(const QString &temporaryPath, const QString &target, QString *why);
    // Puts a held file in place of target, as commit() does (a link is
    // followed); false with the reason in *why, the held file removed.
    static bool place(const QString &temporaryPath, const QString &target, QString *why);

    QString errorString() const { return error; }

    // fdatasync before the rename and fsync of the folder after. Off by
    // default: bench/bench_sync.sh measured it at 6 to 17 per cent of a run's
    // time (once 1.7 times, on one thread), for files that a run started
    // again writes anew anyway. Runs that count existing files as done ask for it.
    void setSynced(bool synced) { this->synced = synced; }

    // The temporary files' names: this prefix, something unique, ".tmp".
    static constexpr char temporaryPrefix[] = ".vl";
    // Where the process's temporary names come from, for every AtomicFile of
    // the process from then on. A velloran-cli worker marks its temporaries
    // with its own token this way (temporaryPrefix, the token, something
    // random, ".tmp"), so that the converter can find and remove the one a
    // killed or crashed worker leaves. The source must give names of that
    // form, a different one on each call (a name taken is passed over and
    // the next asked for); an empty function restores the random ones.
    using NameSource = std::function<QString()>;
    static void setNameSource(NameSource source);

    // A worker process puts its mark (letters and digits, then '-') into
    // every temporary name it makes, so that whoever started it can find and
    // remove what it leaves when it is killed or crashes.
    static void setTemporaryMark(const QString &mark);
    // Removes the temporary files of that mark in folder; returns how many went.
    static int removeMarkedTemporaries(const QString &folder, const QString &mark);

    // Removes this class's temporary files (.vl*.tmp, regular files only) in
    // folder whose last change is more than maxAgeSeconds ago; returns how
    // many went. A temporary file is only ever written by the page that made
    // it, so one untouched for longer than any page may take is a leftover of
    // a run that was killed.
    static int removeStaleTemporaries(const QString &folder, qint64 maxAgeSeconds);

private:
    class Device;
    bool closeWhole();

    QString target;
    QString temporaryPath;
    std::unique_ptr<Device> file;
    QString error;
    bool synced = false;
};

#endif // ATOMICFILE_H
