/* alert_probe.h - what the platform parts of alert_probe (alert_probe_<platform>.cpp) share with
 * its main file: the words of an action and the action table's rows. */
#ifndef KVQ_ALERT_PROBE_H
#define KVQ_ALERT_PROBE_H

#include <string>
#include <vector>

typedef std::vector<std::string> words;

/* Word i of an action as a number (0 when missing) or as text ("" when missing). */
int arg_int(const words &w, size_t i);
const char *arg_str(const words &w, size_t i);

struct probe_action {
    const char *verb;               /* NULL ends a table */
    void (*run)(const words &w);
};

/* The actions of this platform (alert_probe_<platform>.cpp). */
extern const probe_action PLATFORM_ACTIONS[];

#endif /* KVQ_ALERT_PROBE_H */
