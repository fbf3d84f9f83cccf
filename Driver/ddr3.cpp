// Empty entry until DDR3 bring-up is built; its owner replaces this file.
#include "Driver/ddr3.h"

void mxInitDdr3() {}
