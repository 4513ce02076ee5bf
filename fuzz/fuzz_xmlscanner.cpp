// libFuzzer target: the same bytes through expat and through XmlScanner, in
// one read and in short reads. A different decision, different events for an
// accepted document or a refusal without expat's reason aborts, with the
// document printed.
#include "exchange/xlsx/expatparser.h"
#include "exchange/xlsx/xmlscanner.h"
#include "support/xmlrecording.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace XmlRecording;
    const QByteArray document(reinterpret_cast<const char *>(data), qsizetype(size));
    const Outcome reference = parseWith<ExpatParser>(document, Reads{});
    // Reads of up to 16 bytes put every token on a read boundary somewhere; a
    // document of more than 64 KiB gets reads of up to 64 KiB instead, which
    // still cut its long pieces, as reads of a few bytes each would hold an
    // unfinished tag of a megabyte for minutes.
    const quint32 longestRead = size > 65536 ? 65536 : 16;
    for (const Reads &reads : {Reads{}, Reads{0, longestRead, quint32(size)}}) {
        const QString problem =
            difference(document, reference, parseWith<XmlScanner>(document, reads),
                       QStringLiteral("the scanner (%1)").arg(reads.describe()));
        if (!problem.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(problem));
            std::abort();
        }
    }
    return 0;
}
