/*
 * noop.c - the back end that does nothing: the child the benchmarks spawn.
 *
 * Built statically so that its own start-up is the smallest a process can
 * have; every benchmark row pays for it once, the floors and kvq alike.
 */
int main(void)
{
    return 0;
}
