// Prints the offset of each beep of the sync source from its flash in a recorded file, the
// mean and largest offset of every five minutes, and a summary: the mean offset over the
// first and the last five pairs.
//
//   av-sync-check FILE
// Exit status 1 when the file cannot be read or holds no flash with its beep.

#include "bench-av-sync.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    QString error;
    const auto offsets = BenchAvSync::measure(QString::fromLocal8Bit(argv[1]), &error);
    if (offsets.empty()) {
        std::fprintf(stderr, "%s: %s\n", argv[1],
                     error.isEmpty() ? "no flash with its beep found" : qPrintable(error));
        return 1;
    }
    for (const auto &o : offsets)
        std::printf("flash at %8.3f s: sound %+7.1f ms\n", o.at, o.seconds * 1000.0);

    for (const auto &span : BenchAvSync::spans(offsets, 300.0))
        std::printf("minutes %3.0f-%3.0f: %4d pairs, mean %+6.1f ms, largest %+6.1f ms\n",
                    span.from / 60.0, span.to / 60.0, span.pairs, span.mean * 1000.0,
                    span.largest * 1000.0);

    const size_t n = std::min<size_t>(5, offsets.size());
    double first = 0.0;
    double last = 0.0;
    double low = offsets.front().seconds;
    double high = low;
    for (size_t i = 0; i < n; ++i) {
        first += offsets[i].seconds / n;
        last += offsets[offsets.size() - 1 - i].seconds / n;
    }
    for (const auto &o : offsets) {
        low = std::min(low, o.seconds);
        high = std::max(high, o.seconds);
    }
    std::printf("pairs %zu, start %+.1f ms, end %+.1f ms, min %+.1f ms, max %+.1f ms\n",
                offsets.size(), first * 1000.0, last * 1000.0, low * 1000.0, high * 1000.0);
    return 0;
}
