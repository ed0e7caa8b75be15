// Random byte streams, cut at random places, through the framing and dispatch. Seeded, so a
// failure repeats; the invariants hold for any input.
#include "engine/messages.h"
#include "engine/protocol.h"
#include "tools/trace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

struct FramedStream {
    std::vector<std::string> messages;
    std::size_t lines = 0;
};

FramedStream frame(const std::string& stream, std::mt19937& random, bool oneChunk)
{
    FramedStream run;
    LineFramer framer;
    auto onLine = [&](std::string_view line) {
        ++run.lines;
        ScriptMessage message;
        if (!interpretScriptLine(line, portableCodec, message))
            return;
        run.messages.push_back(describeScriptMessage(message));
    };
    std::size_t at = 0;
    while (at < stream.size()) {
        std::size_t n = oneChunk ? stream.size() : std::uniform_int_distribution<std::size_t>(0, 600)(random);
        n = std::min(n, stream.size() - at);
        feedScriptBytes(framer, stream.data() + at, n, onLine);
        at += n;
    }
    discardCarry(framer);
    return run;
}

// Streams built from pieces that matter to the protocol, plus random bytes.
std::string randomStream(std::mt19937& random)
{
    static const char* const pieces[] = {"@P ", "@S ", "@DONE ", "@ERR ", "@", " ", "\r", "\n", "\r\n", "\t",
                                         "\xC3\xBC", "\xE2\x82", "\xF0\x9F\x98\x80", "\x81", "\xED\xA0\x80", "42",
                                         "-7", "x"};
    std::string stream;
    int count = std::uniform_int_distribution<int>(0, 80)(random);
    for (int i = 0; i < count; ++i) {
        if (random() % 4 == 0)
            stream.push_back(static_cast<char>(random() & 0xFF)); // NUL included
        else
            stream += pieces[random() % std::size(pieces)];
    }
    return stream;
}

TEST(FramingFuzz, InvariantsHoldForRandomChunkedStreams)
{
    std::mt19937 random(20261208);
    for (int iteration = 0; iteration < 20000; ++iteration) {
        std::string stream = randomStream(random);
        FramedStream whole = frame(stream, random, true);
        FramedStream cut = frame(stream, random, false);
        std::size_t feeds = static_cast<std::size_t>(std::count(stream.begin(), stream.end(), '\n'));

        ASSERT_EQ(cut.messages, whole.messages) << "iteration " << iteration;
        ASSERT_EQ(whole.lines, feeds) << "one line per line feed";
        ASSERT_LE(whole.messages.size(), feeds) << "at most one message per line feed";

        // Lines made only of blanks and carriage returns post nothing.
        std::size_t blankOnly = 0;
        std::size_t start = 0;
        for (std::size_t i = 0; i < stream.size(); ++i) {
            if (stream[i] != '\n')
                continue;
            std::string_view line(stream.data() + start, i - start);
            if (line.find_first_not_of(" \r") == std::string_view::npos)
                ++blankOnly;
            start = i + 1;
        }
        ASSERT_EQ(whole.messages.size(), feeds - blankOnly) << "iteration " << iteration;
    }
}

} // namespace
