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

PageOutcome &writeFailed(PageOutcome &outcome, const QString &why)
{
    outcome.result = PageOutcome::WriteFailed;
    outcome.detail = why;
    return outcome;
}

} // namespace

PageOutcome convertPageToDescriptor(const RenderDocument &document, const PageJob &job, int descriptor,
                                    const std::atomic<bool> &stop)
{
    DescriptorDevice out(descriptor);
    const std::unique_ptr<RowEncoder> encoder = makeEncoder(job.format);
    PageOutcome outcome;
    if (!formatFacts(job.format).streams) {
        QBuffer memory;
        memory.open(QIODevice::ReadWrite);
        outcome = appendPage(document, job, *encoder, memory, stop);
        if (outcome.result == PageOutcome::Written && out.write(memory.data()) != memory.data().size())
            return writeFailed(outcome, out.errorString());
    } else {
        outcome = appendPage(document, job, *encoder, out, stop);
    }
    return outcome;
}
