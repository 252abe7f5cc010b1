/*
 * kvq.h - the compiler driver: option scan, back-end choice and execution.
 *
 * kvq reads a legacy compiler command line, consumes or translates a few
 * options, chooses the back end (torc, or torc18 for a "--chip=18..." chip;
 * either with the suffix "d" after "--bins=debug"), writes every option into a
 * command file in the process temporary directory, runs the back end with
 * "@<command file>" and exits 0 when it exited 0, else 1.
 *
 * Standard error alternates: while the driver works it points at the error
 * file named by "-E" (or at standard output when there is none); while the
 * back end runs, the back end inherits the initial standard error.
 */
#ifndef KVQ_DRIVER_KVQ_H
#define KVQ_DRIVER_KVQ_H

#include <cstdint>

struct vector;

/* Driver settings: written by the option scan, read by the execution. */
struct kvq_settings {
    const char *backend_base;    /* "torc" or "torc18" */
    const char *backend_suffix;  /* "" or "d" */
    bool chip_given;             /* an argument began with "--chip=" */
    int32_t echo_level;          /* non-zero: print the command line */
    bool two_run;                /* "--mafrlcsj" */
    bool silent_run;             /* the first run of two-run mode */
    const char *error_file;      /* "-E" target, or NULL */
    bool error_append;           /* open the error file for appending */
    const char *cmdfile_arg;     /* name after '@' of an unexpanded argument */
    bool summarydir_pending;     /* next non-option becomes --summarydir= */
    int selected_ext;            /* extension row id, 0 when none */
};

extern kvq_settings kvq_cfg;

/* The whole driver; returns the process exit status (0 or 1). */
int kvq_main(int argc, char **argv);

/* Selects the extension `name` (any case) and appends its options to
 * `options` the first time; unknown names are fatal alert 1443, a second,
 * different extension fatal alert 1444. */
void apply_extension(const char *name, vector *options);

/* (Re)points standard error at the error file, or at standard output. */
void redirect_stderr(void);

/* Runs back end `name` (resolved under the installation's tor/bin) with
 * `options` (not changed).  True when it ran and exited 0. */
bool run_backend(const char *name, vector *options);

/* args: item 0 the program path, then the options.  Writes the command file
 * (always when `force`), echoes, runs.  Exit status, or -1 when the command
 * file could not be created or the program not started, or
 * OS_SPAWN_WAIT_FAILED (errno set both times). */
int kvq_spawn(vector *args, bool force);

/* The exit hook run before a fatal alert ends the process. */
void cleanup(int status);

/* One option as written into the command file: double quotes escaped, then
 * quoted when it holds a blank, tab, LF or CR.  Cached string. */
const char *kvq_cmdfile_line(const char *option);

#endif /* KVQ_DRIVER_KVQ_H */
