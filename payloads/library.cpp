// The code of the sample new product libraries. What the update works with is each file as a
// whole and its version resource; the code only has to make a well-formed library.
extern "C" unsigned ComponentBuild() {
    return 11140;
}
