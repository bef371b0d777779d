// Entry of the Windows test programs that have no child role of their own.
#include "run_tests.h"

int main(int argc, char **argv)
{
    return fnRunTests(&argc, argv);
}
