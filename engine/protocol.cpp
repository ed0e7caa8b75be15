#include "protocol.h"

#include "messages.h"
#include "text.h"

const LineCodec portableCodec = {decodeUtf8Portable, parseIntPortable};

std::string_view trimScriptLine(std::string_view line)
{
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

namespace {

struct LineTag {
    std::wstring_view tag;
    unsigned message;
};

// Tested in this order; they differ in their second character, so at most one matches.
constexpr LineTag kLineTags[] = {
    {L"@P ", WM_INSTALL_PROGRESS},
    {L"@S ", WM_INSTALL_LINE},
    {L"@DONE ", WM_INSTALL_DONE},
    {L"@ERR ", WM_INSTALL_ERROR},
};

// Before the decoding: the names are ASCII, and what follows the tag is matched as bytes.
constexpr std::string_view kClassTag = "@KLASSE ";

struct ClassName {
    std::string_view name;
    FailureClass failure;
};

constexpr ClassName kClassNames[] = {
    {"netz", FailureClass::network},
    {"belegt", FailureClass::inUse},
    {"speicher", FailureClass::diskFull},
    {"pruefung", FailureClass::check},
    {"laeuft", FailureClass::running},
};

} // namespace

FailureClass failureClassNamed(std::string_view name)
{
    for (const ClassName& known : kClassNames)
        if (known.name == name)
            return known.failure;
    return FailureClass::other;
}

bool interpretScriptLine(std::string_view line, const LineCodec& codec, ScriptMessage& out)
{
    FailureClass ignored = FailureClass::other;
    return interpretScriptLine(line, codec, out, ignored);
}

bool interpretScriptLine(std::string_view line, const LineCodec& codec, ScriptMessage& out, FailureClass& failure)
{
    line = trimScriptLine(line);
    if (line.empty())
        return false;
    if (line.substr(0, kClassTag.size()) == kClassTag) {
        failure = failureClassNamed(line.substr(kClassTag.size()));
        return false;
    }

    // Decoding stops at a NUL inside the line, as the platform's conversion of a C string does.
    std::string nulTerminated(line);
    std::wstring decoded = codec.decode(nulTerminated.c_str());
    std::wstring_view view(decoded);

    for (const LineTag& tag : kLineTags) {
        if (view.substr(0, tag.tag.size()) != tag.tag)
            continue;
        out.message = tag.message;
        if (tag.message == WM_INSTALL_PROGRESS) {
            out.wParam = codec.toInt(decoded.c_str() + tag.tag.size());
            out.text.clear();
        } else {
            out.wParam = tag.message == WM_INSTALL_ERROR ? static_cast<std::intptr_t>(failure) : 0;
            out.text.assign(view.substr(tag.tag.size()));
        }
        return true;
    }
    out.message = WM_INSTALL_LINE;
    out.wParam = 1;
    out.text = std::move(decoded);
    return true;
}
