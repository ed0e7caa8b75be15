// Throughput of the line framing and dispatch, in MB/s, fed in the worker's 512-byte reads:
// a stream of short protocol lines, and one 64 MiB line without a line feed until its end.
#include "engine/protocol.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

namespace {

double feedInReads(const std::string& stream, std::size_t& messages)
{
    auto start = std::chrono::steady_clock::now();
    LineFramer framer;
    messages = 0;
    for (std::size_t at = 0; at < stream.size(); at += 512) {
        std::size_t n = std::min<std::size_t>(512, stream.size() - at);
        feedScriptBytes(framer, stream.data() + at, n, [&](std::string_view line) {
            ScriptMessage message;
            if (interpretScriptLine(line, portableCodec, message))
                ++messages;
        });
    }
    discardCarry(framer);
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    return static_cast<double>(stream.size()) / (1024.0 * 1024.0) / seconds.count();
}

void report(const char* name, const std::string& stream)
{
    double best = 0;
    std::size_t messages = 0;
    for (int round = 0; round < 5; ++round)
        best = std::max(best, feedInReads(stream, messages));
    std::printf("%-36s %8.1f MB/s  (%zu MiB, %zu messages, best of 5)\n", name, best,
                stream.size() / (1024 * 1024), messages);
}

} // namespace

int main()
{
    std::string shortLines;
    const char* const lines[] = {"@P 42\r\n", "@S Lade Teil 17 / 32\r\n", "Invoke-WebRequest : Der Remoteserver\r\n",
                                 "@S J\xC3\xBCrgen\r\n"};
    for (std::size_t i = 0; shortLines.size() < 64u * 1024 * 1024; ++i)
        shortLines += lines[i % 4];
    report("short lines (4 kinds, CR LF)", shortLines);

    std::string longLine(64u * 1024 * 1024, 'x');
    longLine.back() = '\n';
    report("one 64 MiB line in 512-byte reads", longLine);
    return 0;
}
