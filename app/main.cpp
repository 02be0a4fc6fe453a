// SPDX-License-Identifier: MIT
#include "startup.h"

int main(int argc, char *argv[])
{
    return runBondara(argc, argv);
}
