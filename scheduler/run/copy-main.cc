// vorn-copy: the copy process of a job whose document needs no filter on a
// printer writing to a file. A program of its own so that starting one
// costs little: the scheduler's program would load all of its libraries.
#include "scheduler/run/copy-loop.h"

int main() { vorn::copy::run(); }
