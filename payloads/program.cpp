// The code of the sample new main program: a GUI program that starts and ends at once, so a
// test that runs it by mistake shows nothing and leaves nothing behind.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return 0;
}
