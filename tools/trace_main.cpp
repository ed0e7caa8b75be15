#include "trace.h"

int main()
{
    traceScriptOutput(stdin, stdout, portableCodec);
    return 0;
}
