#include "publish.h"

#include <curl/curl.h>

int main(int argc, char** argv)
{
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int status = runPublishCommand(argc, argv, stdout, stderr);
    curl_global_cleanup();
    return status;
}
