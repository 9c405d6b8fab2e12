// A program that does nothing until it is ended: started under a product's program name,
// it is a running program as the update's checks see one.
#include <windows.h>

int wmain() {
    Sleep(INFINITE);
    return 0;
}
