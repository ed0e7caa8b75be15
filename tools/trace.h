#pragma once
// orvan-trace: reads a script's raw output and prints, one line each, the message the installer
// would post for it.

#include "engine/protocol.h"

#include <cstdio>
#include <string>

// One message as text: PROGRESS 42, STATUS "text", LOG "text", DONE "path", ERROR "text".
// Quotes and backslashes are escaped with a backslash, every other code unit outside printable
// ASCII as \uXXXX.
std::string describeScriptMessage(const ScriptMessage& message);

// Frames `in` exactly as the installer's worker does and writes one line per message to `out`.
// Returns the number of messages.
long traceScriptOutput(std::FILE* in, std::FILE* out, const LineCodec& codec);
