/* platform_probe.h - what the platform parts of platform_probe (platform_probe_<platform>.cpp)
 * share with its main file: the row of an action table. */
#ifndef KVQ_PLATFORM_PROBE_H
#define KVQ_PLATFORM_PROBE_H

struct probe_action {
    const char *verb;             /* NULL ends a table */
    void (*run)(const char *arg); /* given the text after the verb's ':' */
};

/* The actions of this platform (platform_probe_<platform>.cpp). */
extern const probe_action PLATFORM_ACTIONS[];

#endif /* KVQ_PLATFORM_PROBE_H */
