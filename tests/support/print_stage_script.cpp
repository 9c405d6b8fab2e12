// Prints the stage script of the sample product the demo installs: Orlin Reelwright 4.2
// with every file the patch table names at 4.2.0.500.
#include <iostream>

#include "product_state.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: print_stage_script FIXTURE_FOLDER\n";
        return 2;
    }
    std::cout << staging::StageScript(staging::ProductState::WithAllFilesAt("4.2.0.500"),
                                      staging::WindowsPathOf(argv[1]));
    return 0;
}
