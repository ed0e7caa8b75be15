#pragma once
// The line protocol's text conversion as the installer does it on Windows.

#include "protocol.h"

#include <string>

// MultiByteToWideChar(CP_UTF8, 0, ...) on a NUL-terminated line; a failed conversion gives "".
std::wstring decodeUtf8Win(const char* nulTerminated);

// decodeUtf8Win and the runtime's _wtoi.
extern const LineCodec windowsCodec;
