/*
 * args_trace.cpp - the APP and ARGS lines: the arguments a program was
 * started with, as its debug-out file shows them.
 *
 * Invariant: the APP line is written at most once per process, before the
 * first ARGS line.
 */
#include "kvdebug.h"

#include "stringcache.h"
#include "trace.h"
#include "vector.h"

static bool app_pending = true;

/* The program whose arguments the APP line introduces. */
static const char DB_APP_NAME[] = "kvq";

void db_print_argv(int argc, char *const argv[])
{
    DB_ASSERT(argv != NULL);
    if (!gFile || !argv) return;
    vector *args = VEC_NEW_SIZED(argc > 0 ? (uint32_t)argc : 1);
    for (int i = 0; i < argc && argv[i]; i++) vec_append(args, str_save(argv[i]));
    db_print_args(args);
    vec_free(args);
}

void db_print_args(vector *args)
{
    DB_ASSERT(args != NULL);
    if (!gFile || !args) return;
    if (app_pending) {
        fprintf(gFile, "\nAPP: %s\n", str_upper(DB_APP_NAME));
        app_pending = false;
    }
    fputs("ARGS:", gFile);
    const char *arg;
    vec_for_each(args, arg) fprintf(gFile, " %s", arg ? arg : "");
    if (vec_size(args) == 0) fputs(" None", gFile);
    fputc('\n', gFile);
    fflush(gFile);
}
