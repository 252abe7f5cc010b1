/*
 * touch_pages.c - the price of a page fault on this machine: maps N fresh
 * pages of 4 KiB and writes one byte to each, so that each is one minor
 * fault.  bench/run.sh compares "touch_pages N" with "touch_pages 0" to
 * state what a fault costs, since the intake rows differ in faults as well
 * as in work.
 */
#include <stdlib.h>
#include <sys/mman.h>

int main(int argc, char **argv)
{
    size_t pages = argc > 1 ? strtoul(argv[1], NULL, 10) : 0;
    if (pages == 0) return 0;
    volatile char *block = mmap(NULL, pages * 4096, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (block == MAP_FAILED) return 1;
    for (size_t i = 0; i < pages; i++) block[i * 4096] = 1;
    return 0;
}
