/*
 * main.cpp - the kvq program's entry point; the driver lives in kvq.cpp.
 */
#include "kvq.h"

int main(int argc, char **argv)
{
    return kvq_main(argc, argv);
}
