/*
 * fuzz_msgfile.cpp - the message-file parser (load_edf) on arbitrary bytes as
 * a message file.  Malformed lines are messages: nothing may end the process.
 */
#include <cstdlib>
#include <cstring>
#include <vector>

#include <sanitizer/allocator_interface.h>

#include "fuzz_util.h"
#include "msgcat.h"
#include "vector.h"

static std::vector<const char *> embedded; /* texts by number; NULL: none */
static vector *previous;

/* A catalogue has no release operation; lest a long run grow without bound,
 * this frees its vector and each entry that begins a heap block. */
static void free_catalogue(vector *catalogue)
{
    for (uint32_t i = 0; i < vec_size(catalogue); i++) {
        void *entry = vec_get(catalogue, i);
        if (entry && __sanitizer_get_ownership(entry)) free(entry);
    }
    vec_free(catalogue);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    previous = load_edf(MSGCAT_BUILTIN_NAME);
    for (uint32_t n = 0; n < vec_size(previous); n++) {
        const alert_entry *e = (const alert_entry *)vec_get(previous, n);
        embedded.push_back(e ? e->text : nullptr);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fz_enter_scratch();
    fz_write_file("fuzz_en.msgs", data, size);
    vector *installed = load_edf("fuzz_en.msgs");
    fz_leave_scratch();
    fz_check(installed != nullptr, "a readable message file installs a catalogue");
    free_catalogue(previous);
    previous = installed;
    for (uint32_t n = 0; n < vec_size(installed) || n < embedded.size(); n++) {
        const alert_entry *e = (const alert_entry *)vec_get(installed, n);
        fz_check(!e == !(n < embedded.size() && embedded[n]), "the numbers of the embedded catalogue, no others");
        if (!e) continue;
        fz_check(e->number == n && e->type <= ALERT_WARNING && (e->type == ALERT_WARNING || e->level == 0),
                 "the entry's own number, a known type, a level only for a warning");
        fz_check(e->text && strlen(e->text) <= 255 && !strchr(e->text, '\n'), "a text of one piece, no LF");
        fz_check(e->text == embedded[n] || memmem(data, size, e->text, strlen(e->text)), "a new text is the file's");
    }
    return 0;
}
