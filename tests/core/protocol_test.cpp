#include "engine/messages.h"
#include "engine/protocol.h"
#include "tools/trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The messages a stream posts when it arrives in pieces of `chunk` bytes, as trace lines.
std::vector<std::string> post(const std::string& stream, std::size_t chunk = 512)
{
    std::vector<std::string> out;
    LineFramer framer;
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
        std::size_t n = std::min(chunk, stream.size() - at);
        feedScriptBytes(framer, stream.data() + at, n, [&](std::string_view line) {
            ScriptMessage message;
            if (interpretScriptLine(line, portableCodec, message))
                out.push_back(describeScriptMessage(message));
        });
    }
    discardCarry(framer);
    return out;
}

using Lines = std::vector<std::string>;

TEST(LineProtocol, ProgressNumberForms)
{
    EXPECT_EQ(post("@P 42\n@P  7\n@P 12abc\n@P abc\n@P -5\n@P 250\n@P \t3\n"),
              (Lines{"PROGRESS 42", "PROGRESS 7", "PROGRESS 12", "PROGRESS 0", "PROGRESS -5", "PROGRESS 250",
                     "PROGRESS 3"}));
}

TEST(LineProtocol, ProgressIsSignExtendedIntoWParam)
{
    ScriptMessage message;
    ASSERT_TRUE(interpretScriptLine("@P -1", portableCodec, message));
    EXPECT_EQ(message.message, WM_INSTALL_PROGRESS);
    EXPECT_EQ(message.wParam, -1);
    EXPECT_TRUE(message.text.empty());
}

TEST(LineProtocol, TagsAndPayloads)
{
    EXPECT_EQ(post("@S Verbinde mit x\r\n@DONE C:\\Program Files\\a b.exe  \n@ERR Paket beschaedigt\n"),
              (Lines{"STATUS \"Verbinde mit x\"", "DONE \"C:\\\\Program Files\\\\a b.exe\"",
                     "ERROR \"Paket beschaedigt\""}));
    // Leading blanks of a payload are kept; only the end is trimmed.
    EXPECT_EQ(post("@S   eingerueckt \r \n"), (Lines{"STATUS \"  eingerueckt\""}));
}

TEST(LineProtocol, TagsWithoutTheirBlankOrMisspeltAreLogLines)
{
    EXPECT_EQ(post("@S \n@ERR \n@P \n@DONE    \r\n"),
              (Lines{"LOG \"@S\"", "LOG \"@ERR\"", "LOG \"@P\"", "LOG \"@DONE\""}));
    EXPECT_EQ(post(" @S x\n@s x\n@Sx\n@ERRx\n@p 5\n"),
              (Lines{"LOG \" @S x\"", "LOG \"@s x\"", "LOG \"@Sx\"", "LOG \"@ERRx\"", "LOG \"@p 5\""}));
}

TEST(LineProtocol, BlankLinesPostNothingOtherWhiteSpaceStays)
{
    EXPECT_EQ(post("\n\n   \n\r\n \r \r\r\n"), Lines{});
    EXPECT_EQ(post("a\t\n"), (Lines{"LOG \"a\\u0009\""}));
    EXPECT_EQ(post("a\rb\n"), (Lines{"LOG \"a\\u000Db\""}));
    EXPECT_EQ(post("\t\n"), (Lines{"LOG \"\\u0009\""}));
}

TEST(LineProtocol, NulCutsTheLine)
{
    EXPECT_EQ(post(std::string("@S ab\0cd\n", 9)), (Lines{"STATUS \"ab\""}));
    EXPECT_EQ(post(std::string("\0@S x\n", 6)), (Lines{"LOG \"\""}));
}

TEST(LineProtocol, MalformedUtf8BecomesReplacementCharacters)
{
    EXPECT_EQ(post("@S a\x81z\n"), (Lines{"STATUS \"a\\uFFFDz\""}));
    // A byte-order mark hides the tag: the line is only a log line.
    EXPECT_EQ(post("\xEF\xBB\xBF@S x\n"), (Lines{"LOG \"\\uFEFF@S x\""}));
}

TEST(LineProtocol, UnterminatedLastLineIsDiscarded)
{
    EXPECT_EQ(post("@S eins\n@DONE C:\\x.exe"), (Lines{"STATUS \"eins\""}));
    EXPECT_EQ(post("ohne Zeilenende"), Lines{});
}

TEST(LineProtocol, ChunkBoundariesChangeNothing)
{
    // Boundaries inside tags, inside CR LF, inside two- and four-byte characters, at line feeds.
    const std::string stream = "@P 3\r\n@S Verbinde mit h\xC3\xB6st\r\n@P 6\n\xF0\x9F\x98\x80 log\n"
                               "@DONE C:\\Users\\J\xC3\xBCrgen\\ORVAN Launcher\\ORVAN Launcher.exe\r\nrest";
    const Lines whole = post(stream, stream.size());
    ASSERT_EQ(whole.size(), 5u);
    EXPECT_EQ(whole[1], "STATUS \"Verbinde mit h\\u00F6st\"");
    EXPECT_EQ(whole[3], "LOG \"\\uD83D\\uDE00 log\"");
    for (std::size_t chunk = 1; chunk < stream.size(); ++chunk)
        EXPECT_EQ(post(stream, chunk), whole) << "chunk size " << chunk;
    // Every single split point, with the rest in one piece.
    for (std::size_t split = 1; split < stream.size(); ++split) {
        Lines got;
        LineFramer framer;
        auto onLine = [&](std::string_view line) {
            ScriptMessage message;
            if (interpretScriptLine(line, portableCodec, message))
                got.push_back(describeScriptMessage(message));
        };
        feedScriptBytes(framer, stream.data(), split, onLine);
        feedScriptBytes(framer, stream.data() + split, stream.size() - split, onLine);
        EXPECT_EQ(got, whole) << "split at " << split;
    }
}

TEST(LineProtocol, EachLineIsDispatchedAsSoonAsItsLineFeedArrives)
{
    LineFramer framer;
    std::vector<std::string> lines;
    auto onLine = [&](std::string_view line) { lines.emplace_back(line); };
    feedScriptBytes(framer, "@S a\n@S", 7, onLine);
    EXPECT_EQ(lines, (std::vector<std::string>{"@S a"}));
    feedScriptBytes(framer, " b", 2, onLine);
    EXPECT_EQ(lines.size(), 1u); // no line feed, no line
    feedScriptBytes(framer, "\n\n", 2, onLine);
    EXPECT_EQ(lines, (std::vector<std::string>{"@S a", "@S b", ""}));
}

} // namespace

// The class line posts nothing and goes with the "@ERR" after it; without one, or with a name it
// does not know, the failure is `other`.
TEST(LineProtocol, FailureClassLineGoesWithTheErrorAfterIt)
{
    struct Case {
        std::string stream;
        FailureClass failure;
        Lines posted;
    };
    const Case cases[] = {
        {"@KLASSE netz\n@ERR Keine Verbindung\n", FailureClass::network, {"ERROR \"Keine Verbindung\""}},
        {"@S a\n@KLASSE belegt \r\n@ERR x\n", FailureClass::inUse, {"STATUS \"a\"", "ERROR \"x\""}},
        {"@KLASSE speicher\n@ERR x\n", FailureClass::diskFull, {"ERROR \"x\""}},
        {"@KLASSE pruefung\n@ERR x\n", FailureClass::check, {"ERROR \"x\""}},
        {"@KLASSE laeuft\n@ERR x\n", FailureClass::running, {"ERROR \"x\""}},
        {"@KLASSE sonst\n@ERR x\n", FailureClass::other, {"ERROR \"x\""}},
        {"@KLASSE Netz\n@ERR x\n", FailureClass::other, {"ERROR \"x\""}},
        {"@KLASSE \n@KLASSEnetz\n@klasse netz\n@ERR x\n", FailureClass::other,
         {"LOG \"@KLASSE\"", "LOG \"@KLASSEnetz\"", "LOG \"@klasse netz\"", "ERROR \"x\""}},
        {"@ERR x\n", FailureClass::other, {"ERROR \"x\""}},
    };
    for (const Case& c : cases) {
        Lines posted;
        std::intptr_t errorWParam = -1;
        FailureClass failure = FailureClass::other;
        LineFramer framer;
        feedScriptBytes(framer, c.stream.data(), c.stream.size(), [&](std::string_view line) {
            ScriptMessage message;
            if (!interpretScriptLine(line, portableCodec, message, failure))
                return;
            posted.push_back(describeScriptMessage(message));
            if (message.message == WM_INSTALL_ERROR)
                errorWParam = message.wParam;
        });
        EXPECT_EQ(posted, c.posted) << c.stream;
        EXPECT_EQ(errorWParam, static_cast<std::intptr_t>(c.failure)) << c.stream;
        // A reader that keeps no class sees the same lines, the class line among none of them.
        EXPECT_EQ(post(c.stream), c.posted) << c.stream;
    }
}
