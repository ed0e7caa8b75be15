#include "engine/codec_win.h"
#include "trace.h"

#include <fcntl.h>
#include <io.h>

int main()
{
    // Bytes in and out as they are: no CR LF translation.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    traceScriptOutput(stdin, stdout, windowsCodec);
    return 0;
}
