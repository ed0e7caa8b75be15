#include "engine/messages.h"
#include "tools/trace.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

TEST(Trace, EscapesQuotesBackslashesAndEverythingOutsidePrintableAscii)
{
    ScriptMessage message{WM_INSTALL_DONE, 0, L"C:\\J\u00FCrgen\\\"x\"\u0001"};
    EXPECT_EQ(describeScriptMessage(message), "DONE \"C:\\\\J\\u00FCrgen\\\\\\\"x\\\"\\u0001\"");
    message = {WM_INSTALL_ERROR, 0, L"Fehler ~"};
    EXPECT_EQ(describeScriptMessage(message), "ERROR \"Fehler ~\"");
    message = {WM_INSTALL_LINE, 0, L"s"};
    EXPECT_EQ(describeScriptMessage(message), "STATUS \"s\"");
    message = {WM_INSTALL_LINE, 1, L"\u007F"};
    EXPECT_EQ(describeScriptMessage(message), "LOG \"\\u007F\"");
}

TEST(Trace, ReadsAStreamLikeTheWorker)
{
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    ASSERT_TRUE(in && out);
    std::string stream = "@P 3\n@S Verbinde mit x\r\n\n" + std::string(3000, 'x') + "\n@DONE C:\\a.exe";
    std::fwrite(stream.data(), 1, stream.size(), in);
    std::rewind(in);
    EXPECT_EQ(traceScriptOutput(in, out, portableCodec), 3);
    std::rewind(out);
    char buffer[4096] = {};
    std::size_t got = std::fread(buffer, 1, sizeof buffer - 1, out);
    std::string text(buffer, got);
    EXPECT_EQ(text, "PROGRESS 3\nSTATUS \"Verbinde mit x\"\nLOG \"" + std::string(3000, 'x') + "\"\n");
    std::fclose(in);
    std::fclose(out);
}

} // namespace
