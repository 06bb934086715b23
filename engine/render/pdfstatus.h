#ifndef PDFSTATUS_H
#define PDFSTATUS_H

// Whether a document opened, in plain terms that every renderer reports and
// every caller reads, whichever library opened it.

enum class PdfLoadStatus {
    Loaded,
    Failed, // not a PDF, damaged, unreadable or missing
    Locked  // needs a user password that was not given (or was wrong)
};

struct PdfProbeResult
{
    PdfLoadStatus status = PdfLoadStatus::Failed;
    int pageCount = 0; // set only when Loaded
};

#endif // PDFSTATUS_H
