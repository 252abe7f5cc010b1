/*
 * package.cpp - the package zip: evidence files collected into one archive
 * named by the "zip" item.
 *
 * Every call opens the archive (creating it when missing), adds one deflated
 * entry, and closes it again, so the zip on disk is complete after each added
 * file and the programs of a chain can take turns extending it.  Adding a
 * name twice stores two entries.
 *
 * Archive names carry no root and no backslash: an absolute path is stored
 * under "SYSTEM_ROOT/" without its root ("/" on POSIX; "C:\" or the first
 * three characters of a network path on Windows), and backslashes become
 * slashes.  A name or comment the zip format cannot hold is refused, never
 * passed on to the zip library.
 *
 * All calls into the zip library sit in pkg_zip_add, so the library can be
 * swapped without touching the rules above.  Problems are KVDEBUG warnings.
 */
#include "kvdebug.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include <minizip/unzip.h>
#include <minizip/zip.h>

#include "kvdebug_state.h"
#include "osdep.h"
#include "stringcache.h"
#include "trace.h"

/* The steps of adding one file; pkg_zip_add returns the failed ones. */
enum pkg_step : unsigned {
    PKG_OPEN = 1,      /* open the existing archive for reading */
    PKG_CONVERT = 2,   /* reopen it for adding entries */
    PKG_INIT = 4,      /* create a new archive */
    PKG_ADD = 8,       /* store the file's data */
    PKG_FINALIZE = 16, /* complete the entry */
    PKG_END = 32,      /* write the directory and close the archive */
};

/* Compression level of the entries: zlib's default balance of size and
 * speed. */
static const int PKG_DEFLATE_LEVEL = 6;

/* Names, comments and extra fields of entries are stored with 16-bit
 * lengths.  The zip library does not check them (a longer one overruns its
 * header buffer), so the writer refuses a longer name or comment itself; it
 * passes no extra fields. */
static const size_t PKG_FIELD_MAX = 0xFFFF;

static zip_fileinfo pkg_entry_info(void)
{
    zip_fileinfo info;
    memset(&info, 0, sizeof info);
    time_t now = time(NULL);
    if (const struct tm *t = localtime(&now)) {
        info.tmz_date.tm_sec = (uInt)t->tm_sec;
        info.tmz_date.tm_min = (uInt)t->tm_min;
        info.tmz_date.tm_hour = (uInt)t->tm_hour;
        info.tmz_date.tm_mday = (uInt)t->tm_mday;
        info.tmz_date.tm_mon = (uInt)t->tm_mon;
        info.tmz_date.tm_year = (uInt)t->tm_year + 1900;
    }
    return info;
}

/* Copies the whole of `in` into the open entry; false on a read or write
 * error. */
static bool pkg_copy_data(zipFile zf, FILE *in)
{
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, in)) > 0) {
        if (zipWriteInFileInZip(zf, buf, (unsigned)n) != ZIP_OK) return false;
    }
    return !ferror(in);
}

/* Stores `file` under `name` with `comment` (may be NULL), deflated, in the
 * archive `zip`: extended when `append`, else created.  Once the archive is
 * open for writing every later step is tried, whatever failed before; an
 * entry that could not be opened (the file unreadable, the name or comment
 * too long) has nothing to complete.  Returns the failed steps (0 on
 * success). */
static unsigned pkg_zip_add(const char *zip, bool append, const char *name, const char *file,
                            const char *comment)
{
    unsigned failed = 0;
    zipFile zf;
    if (append) {
        unzFile check = unzOpen64(zip);
        if (!check) return PKG_OPEN;
        unzClose(check);
        zf = zipOpen64(zip, APPEND_STATUS_ADDINZIP);
        if (!zf) failed |= PKG_CONVERT;
    } else {
        zf = zipOpen64(zip, APPEND_STATUS_CREATE);
        if (!zf) return PKG_INIT;
    }
    FILE *in = fopen(file, "rb");
    uint64_t size = 0;
    bool large = os_file_size(file, &size) && size >= 0xFFFFFFFFu;
    bool fits = strlen(name) <= PKG_FIELD_MAX && (!comment || strlen(comment) <= PKG_FIELD_MAX);
    zip_fileinfo info = pkg_entry_info();
    bool opened = zf && in && fits &&
                  zipOpenNewFileInZip64(zf, name, &info, NULL, 0, NULL, 0, comment, Z_DEFLATED,
                                        PKG_DEFLATE_LEVEL, large) == ZIP_OK;
    if (!opened || !pkg_copy_data(zf, in)) failed |= PKG_ADD;
    if (in) fclose(in);
    if (!zf || (opened && zipCloseFileInZip(zf) != ZIP_OK)) failed |= PKG_FINALIZE;
    if (!zf || zipClose(zf, NULL) != ZIP_OK) failed |= PKG_END;
    return failed;
}

/* step, warning: the zip path and the file, except for PKG_ADD, which names
 * the archive name, the file and the zip path */
struct pkg_warning {
    unsigned pw_step;
    const char *pw_format;
};
static constexpr pkg_warning pkg_warnings[] = {
    {PKG_OPEN, "Unable to open package zip file (%s) for reading to append \"%s\""},
    {PKG_CONVERT, "Unable to covert package zip file (%s) reader to a writer to append \"%s\""},
    {PKG_INIT, "Unable to init package zip file (%s) to add \"%s\""},
    {PKG_ADD, "Unable to add archive \"%s\" (from \"%s\") to package zip (%s)"},
    {PKG_FINALIZE, "Unable to finalize package zip (%s) after adding \"%s\""},
    {PKG_END, "Unable to end package zip (%s) after adding \"%s\""},
};

/* The name `file` gets inside the archive. */
static const char *pkg_archive_name(const char *file)
{
    const char *name = file;
    if (os_is_absolute(file)) {
        size_t len = strlen(file);
        name = str_path_join("SYSTEM_ROOT", file + (len < OS_ROOT_LEN ? len : OS_ROOT_LEN));
    }
    return str_translate(name, "\\", "/");
}

void db_package_add(const char *file, const char *comment)
{
    if (!gZipPath) return;
    DB_ASSERT(file != NULL);
    if (!file || !os_exists(file)) return;
    /* The comment's length is taken modulo 2^16, as the format stores it. */
    size_t comment_len = comment ? strlen(comment) : 0;
    if (comment_len > PKG_FIELD_MAX) comment = str_nsave(comment, comment_len & PKG_FIELD_MAX);
    db_package_store(file, pkg_archive_name(file), comment);
}

void db_package_store(const char *file, const char *name, const char *comment)
{
    if (!gZipPath || !os_exists(file)) return;
    unsigned failed = pkg_zip_add(gZipPath, os_exists(gZipPath), name, file, comment);
    for (const pkg_warning &w : pkg_warnings) {
        if (!(failed & w.pw_step)) continue;
        if (w.pw_step == PKG_ADD) db_warning(w.pw_format, name, file, gZipPath);
        else db_warning(w.pw_format, gZipPath, file);
    }
}
