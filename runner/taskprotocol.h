#ifndef TASKPROTOCOL_H
#define TASKPROTOCOL_H

#include "runner/pagetask.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// The messages between a program and its worker processes. Each is a frame:
// its length in four bytes, then a QDataStream of the protocol's version, the
// message's type and its fields, written and read from one list a message
// (runner/taskfields.h). Paths travel as their own bytes.
namespace TaskProtocol {

constexpr quint32 version = 9;

// Sent first to a new worker: what it is to be confined to and how much it may use.
struct Setup
{
    QString mark;          // in its temporary files' names (AtomicFile::setTemporaryMark)
    qint64 maxMemory = 0;  // bytes of memory it may hold; 0: no ceiling
    int memoryShare = 1;   // workers sharing the machine's memory for bitmaps
    QStringList inputs;    // the files it may read
    QStringList outputFolders; // the folders it may write in
};

// The worker's answer, once it is set up: why it could not be confined (empty when it is).
struct Ready
{
    QString unconfinedBecause;
};

// Pages that share a descriptor (PageTask::inTurn) are written in the order
// of their tasks, each whole, while the workers draw side by side: a worker
// whose page is drawn, or holds as much of it as it may, asks for its turn...
struct TurnWanted
{
    int page = 0; // the page in hand
};
// ...and its program answers once every page before it is in: write now, or
// never (a page before it was not written whole, or the run stopped).
struct TurnGiven
{
    bool write = false;
};

QByteArray frame(const Setup &setup);
QByteArray frame(const Ready &ready);
QByteArray frame(const TurnWanted &wanted);
QByteArray frame(const TurnGiven &given);
QByteArray frame(const PageTask &task);
QByteArray frame(const TaskResult &result);

// A frame's body (without its length) read back; nothing when it is not a
// message of that type in this version, or holds a value out of range, and
// then why in *why, in a few words ("protocol version 3, not 2", "field
// options.box: value 7 out of range"). What a worker sends is read as
// untrusted input: a program that takes a message it does not expect ends
// that worker. A task of this version that is refused all the same leaves
// what could be read of it in *unreadable, for the worker to answer for.
std::optional<Setup> readSetup(const QByteArray &body, QString *why = nullptr);
std::optional<Ready> readReady(const QByteArray &body, QString *why = nullptr);
std::optional<PageTask> readTask(const QByteArray &body, QString *why = nullptr,
                                 std::optional<PageTask> *unreadable = nullptr);
std::optional<TaskResult> readResult(const QByteArray &body, QString *why = nullptr);
std::optional<TurnWanted> readTurnWanted(const QByteArray &body, QString *why = nullptr);
std::optional<TurnGiven> readTurnGiven(const QByteArray &body, QString *why = nullptr);
// Whether a body of this version says it is a TurnWanted, before it is read.
bool isTurnWanted(const QByteArray &body);

// The fields that decide how a task's document is opened and drawn
// (TaskFields::opening), as they travel: tasks with the same bytes can share
// an open document.
QByteArray opening(const PageTask &task);

// Writes all of bytes to the socket fd; false when the other side has gone.
// MSG_NOSIGNAL: a write to a worker that has died fails with EPIPE instead of
// sending SIGPIPE, which would end a program (the window) that does not ignore it.
bool sendAll(int fd, const QByteArray &bytes);

// Gathers bytes read from a pipe and hands out whole frames' bodies.
class FrameReader
{
public:
    void append(const char *bytes, qsizetype size) { pending.append(bytes, size); }
    // The next whole body; nothing while it is not all there.
    std::optional<QByteArray> next();
    // A length no message can have: the other side is not speaking this protocol.
    bool broken() const { return corrupt; }
    // Bytes read that are not yet a whole frame.
    bool holdsPart() const { return !pending.isEmpty(); }

private:
    QByteArray pending;
    bool corrupt = false;
};

// The largest body either side accepts: a preview of a page's whole bitmap fits.
constexpr quint32 maxBodyBytes = quint32(1) << 30;

} // namespace TaskProtocol

#endif // TASKPROTOCOL_H
