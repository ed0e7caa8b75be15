// orvan-e2e-drive: the end-to-end harness's eyes and hands for shell scripts (the demo). Works on
// the installer window on $DISPLAY at the usual place (client area at 643,332 on 1920 x 1080).
//   orvan-e2e-drive state                   prints Ready, Installing, Failed, Finished or unknown
//   orvan-e2e-drive wait STATE SECONDS      until the screen shows STATE; exit 1 on time-out
//   orvan-e2e-drive shot FILE.png           the client area as a picture
//   orvan-e2e-drive click                   a click on the button
//   orvan-e2e-drive close                   Alt+F4 on the window
//   orvan-e2e-drive answer TITLE SECONDS    Return in the dialog of that title once it shows
// Starting the installer is the script's part: copy orvan-setup.exe of the windows-e2e build into a
// folder below the Wine drive of a session with the engine (scripts/lib/wine-engine.sh) and run
// wine there (see scripts/demo).
#include "e2e_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace e2e;

namespace {

int usage()
{
    std::fprintf(stderr, "usage: orvan-e2e-drive state | wait STATE SECONDS | shot FILE.png | click | close | answer TITLE SECONDS\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2)
        return usage();
    std::string command = argv[1];
    Shot shot;
    if (command == "state" && argc == 2) {
        if (!captureClient(shot))
            return 1;
        std::printf("%s\n", screenName(classify(shot)));
        return 0;
    }
    if (command == "wait" && argc == 4) {
        for (Screen screen : {Screen::Ready, Screen::Installing, Screen::Failed, Screen::Finished})
            if (std::strcmp(argv[2], screenName(screen)) == 0)
                return waitForScreen(screen, std::atoi(argv[3]) * 1000, shot) ? 0 : 1;
        return usage();
    }
    if (command == "shot" && argc == 3)
        return captureClient(shot, argv[2]) ? 0 : 1;
    if (command == "click" && argc == 2) {
        pressButton();
        return 0;
    }
    if (command == "answer" && argc == 4)
        return answerDialog(argv[2], std::atoi(argv[3]) * 1000) ? 0 : 1;
    if (command == "close" && argc == 2) {
        closeWindow();
        return 0;
    }
    return usage();
}
