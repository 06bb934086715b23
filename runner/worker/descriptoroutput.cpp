#include "runner/worker/descriptoroutput.h"

#include "engine/image/rowencoder.h"

#include <QBuffer>

#include <cerrno>
#include <system_error>

#include <unistd.h>

namespace {

// The descriptor written straight through write(2), so that a failure says
// why: QFile on a descriptor answers a broken pipe with "Unknown error" once
// its buffer is flushed. SIGPIPE is ignored (interruptflag), so a reader that
// went away shows as EPIPE.
class DescriptorDevice : public QIODevice
{
public:
    explicit DescriptorDevice(int descriptor)
        : descriptor(descriptor)
    {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        qint64 done = 0;
        while (done < size) {
            const ssize_t n = ::write(descriptor, data + done, size_t(size - done));
            if (n > 0) {
                done += n;
            } else if (n < 0 && errno != EINTR) {
                setErrorString(errno == EPIPE ? QStringLiteral("it was closed by the program reading it, "
                                                               "before the page was whole")
                                              : QString::fromStdString(
                                                    std::error_code(errno, std::generic_category()).message()));
                return -1;
            }
        }
        return done;
    }

private:
    const int descriptor;
};

// A page's bytes held until its turn comes, then passed straight on to the
// descriptor: the turn is waited for once the page is written whole, holds
// its bound, or hands on a piece too large to be worth copying.
class InTurnDevice : public QIODevice
{
public:
    InTurnDevice(QIODevice &out, const WaitForTurn &waitForTurn, qint64 holdAtMost)
        : out(out)
        , waitForTurn(waitForTurn)
        , holdAtMost(holdAtMost)
    {
        open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        // Kept from page to page, reserved whole: the pages of a run would
        // otherwise each fault in fresh memory and copy it as it grows.
        held.resize(0);
        if (held.capacity() < holdAtMost)
            held.reserve(holdAtMost);
    }
    bool isSequential() const override { return true; }
    bool refused() const { return turnRefused; }
    // Writes what is held once its turn comes; false when it did not or the write failed.
    bool finish() { return takeTurn(); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override
    {
        // Rows handed on in one large piece (a netpbm page drawn whole) wait
        // for the turn where they are: held, they would be copied for nothing,
        // as the worker has nothing else to do meanwhile. Small pieces (a
        // compressor's output) are held, so that the page is finished first.
        if (!hasTurn && size < directBytes && held.size() + size < holdAtMost) {
            held.append(data, size);
            return size;
        }
        if (!takeTurn())
            return -1;
        if (out.write(data, size) != size) {
            setErrorString(out.errorString());
            return -1;
        }
        return size;
    }

private:
    bool takeTurn()
    {
        if (hasTurn)
            return true;
        if (turnRefused || !waitForTurn()) {
            turnRefused = true;
            setErrorString(QStringLiteral("not written: a page before it was not"));
            return false;
        }
        hasTurn = true;
        const bool whole = out.write(held) == held.size();
        held.resize(0);
        if (!whole)
            setErrorString(out.errorString());
        return whole;
    }

    static constexpr qint64 directBytes = qint64(1) << 20;
    QIODevice &out;
    const WaitForTurn &waitForTurn;
    const qint64 holdAtMost;
    static inline QByteArray held;
    bool hasTurn = false;
    bool turnRefused = false;
};

PageOutcome &writeFailed(PageOutcome &outcome, const QString &why)
{
    outcome.result = PageOutcome::WriteFailed;
    outcome.detail = why;
    return outcome;
}

PageOutcome &notInTurn(PageOutcome &outcome)
{
    outcome.result = PageOutcome::Stopped;
    outcome.detail = QStringLiteral("not written: a page before it was not");
    return outcome;
}

} // namespace

PageOutcome convertPageToDescriptor(const RenderDocument &document, const PageJob &job, int descriptor,
                                    const std::atomic<bool> &stop, const WaitForTurn &waitForTurn, qint64 holdAtMost)
{
    DescriptorDevice out(descriptor);
    const std::unique_ptr<RowEncoder> encoder = makeEncoder(job.format);
    PageOutcome outcome;
    if (!formatFacts(job.format).streams) {
        QBuffer memory;
        memory.open(QIODevice::ReadWrite);
        outcome = appendPage(document, job, *encoder, memory, stop);
        if (outcome.result != PageOutcome::Written)
            return outcome;
        if (waitForTurn && !waitForTurn())
            return notInTurn(outcome);
        if (out.write(memory.data()) != memory.data().size())
            return writeFailed(outcome, out.errorString());
    } else if (waitForTurn) {
        InTurnDevice inTurn(out, waitForTurn, holdAtMost);
        outcome = appendPage(document, job, *encoder, inTurn, stop);
        if (inTurn.refused())
            return notInTurn(outcome);
        if (outcome.result == PageOutcome::Written && !inTurn.finish())
            return inTurn.refused() ? notInTurn(outcome) : writeFailed(outcome, inTurn.errorString());
    } else {
        outcome = appendPage(document, job, *encoder, out, stop);
    }
    return outcome;
}
