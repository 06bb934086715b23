#ifndef ATOMICFILE_H
#define ATOMICFILE_H

#include <QFile>
#include <QString>

// An output file that appears whole under its name or not at all. The data
// goes to a hidden file with a short name in the same folder, renamed over the
// target on commit. As with QSaveFile, a link is followed and a file replaced
// keeps its permissions. Unlike QSaveFile nothing waits for the disk: a
// run writes many files, and a sync each costs more than drawing a page; a
// stopped or failed write still leaves nothing behind, only a crash of the
// whole system may.
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
    QFile &device() { return file; }

    // Closes the temporary file and puts it in place of the target.
    bool commit();
    void discard();

    QString errorString() const { return error; }

private:
    QString target;
    QFile file;
    QString error;
};

#endif // ATOMICFILE_H
