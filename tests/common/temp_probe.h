/* temp_probe.h - what the platform-layer tests share: heap strings taken from the layer, file
 * identities, and platform_probe runs whose temporary names are shown relative to their directory. */
#ifndef KVQ_TEMP_PROBE_H
#define KVQ_TEMP_PROBE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <vector>

#include "osdep.h"
#include "test_util.h"

/* Takes a heap string from the layer: its text, or "(null)". */
inline std::string take(char *heap)
{
    std::string text = heap ? heap : "(null)";
    free(heap);
    return text;
}

/* The identity of the file `path` names, read from the file opened. */
inline os_file_identity id_of(const std::string &path)
{
    os_file_identity id = {};
    FILE *f = fopen(path.c_str(), "r");
    EXPECT_TRUE(f && os_stream_id(f, &id)) << path;
    if (f) fclose(f);
    return id;
}

/* Runs platform_probe with `actions`, TEMP=base, TMP and TMPDIR unset, then `env`: its output with the
 * temporary directory (that of the first temporary name) as "D", and that directory. */
struct temp_run {
    tu_result r;
    std::string dir;
};

inline temp_run run_probe(std::vector<std::string> actions, const std::string &base, std::vector<std::string> env = {},
                          const std::string &cwd = "")
{
    actions.insert(actions.begin(), tu_helper("platform_probe"));
    env.insert(env.begin(), {"TEMP=" + base, "TMP", "TMPDIR"});
    temp_run run = {tu_run(actions, env, cwd), ""};
    std::smatch m;
    std::string sep = TU_SEP == '\\' ? "\\\\" : "/";
    if (std::regex_search(run.r.out, m, std::regex("(.*)" + sep + "kvq_tmp_"))) run.dir = m[1];
    for (size_t at; !run.dir.empty() && (at = run.r.out.find(run.dir + TU_SEP)) != std::string::npos;)
        run.r.out.replace(at, run.dir.size(), "D");
    return run;
}

#endif /* KVQ_TEMP_PROBE_H */
