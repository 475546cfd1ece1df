/* kestrav3lib: code a file into a .archi file, restore it with per-block MD5
 * checks, and read the metadata a coded file carries.
 *
 * Texts are NUL-terminated 8-bit strings owned by the caller. The report flag
 * asks, when it is 1, for the console progress line and the framed message of
 * a failure. Results are 0 on success and a negative error code otherwise
 * (kestrav3test and the restores also return a positive count, see there).
 * Calls must not overlap: the library keeps its working state process-wide.
 */
#ifndef KESTRAV3LIB_H
#define KESTRAV3LIB_H

#if defined(_WIN32)
#if defined(KESTRAV3LIB_BUILD)
#define KESTRAV3_API __declspec(dllexport)
#else
#define KESTRAV3_API __declspec(dllimport)
#endif
#else
#define KESTRAV3_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The share of a recovery set, in percent of the coded file's slices: from
 * 1 to KESTRAV3_RECOVERY_MAX; a set added without a share asked for takes
 * KESTRAV3_RECOVERY_DEFAULT. */
#define KESTRAV3_RECOVERY_DEFAULT 5
#define KESTRAV3_RECOVERY_MAX 100

/* Codes file into <name>.archi beside it; the _g form also feeds the progress window. */
KESTRAV3_API int kestrav3code(const char* file, const char* key, int report);
KESTRAV3_API int kestrav3code_g(const char* file, const char* key, int report);

/* Restores the plain file from a coded file into the coded file's folder.
 * Returns 0 when every block checks out, or a negative error code, or a
 * positive count: the blocks that failed their check and those the coded
 * file ends before (written as zeros; both logged in <name>.err), one more
 * for bytes after the last group, and one more when both header copies are
 * lost (the layout then follows from the file's size). A restore with such
 * damage never replaces a file: under a taken name it is written to
 * <name>.damaged (or .damaged.1 and on). With report 1 it prints the
 * restored name, and the damage. */
KESTRAV3_API int kestrav3decode(const char* file, const char* key, int report);
KESTRAV3_API int kestrav3decode_g(const char* file, const char* key, int report);

/* Fills text (at least 3000 bytes) with the metadata of a coded file.
 * Returns 0, 1 when the two header copies give different metadata (text is
 * still filled, from copy 1 unless its record is broken), or a negative
 * error code. With report 1, header copies that differ are noted on
 * standard error. */
KESTRAV3_API int kestrav3desc(const char* file, const char* key, char* text, int report);

/* Checks every block of a coded file against its digest without restoring
 * it; writes no file. Returns 0 when the file is intact, a negative error
 * code when it cannot be read, or a positive count: the damaged and missing
 * blocks, plus one when bytes follow the last group, plus one when the two
 * header copies differ. With report 1 it shows
 * the progress line and prints a report (or the framed message of a failure). */
KESTRAV3_API int kestrav3test(const char* file, const char* key, int report);

/* The operations of kestrav3run and kestrav3target. */
enum {
    KESTRAV3_CODE = 1,    /* as kestrav3code (-c, -cg) */
    KESTRAV3_DECODE = 2,  /* as kestrav3decode (-d, -dg) */
    KESTRAV3_TEST = 3,    /* as kestrav3test (-t) */
    KESTRAV3_DESCRIBE = 4 /* as kestrav3desc (-m) */
};

/* How kestrav3run runs. Zero everywhere is the quiet default. */
struct kestrav3_options {
    int window;             /* 1: coding and restoring feed the progress window */
    int progress;           /* 1: show the console progress line on standard output */
    int force;              /* 1: replace what a run otherwise refuses to replace */
    int remove_input;       /* 1, coding only: remove the input once its coded
                               file is complete and flushed to the device */
    const char* output_dir; /* NULL or "": write beside the input; else into this folder */
    int recovery;           /* coding only: 0, or the percent (1 to 100) of recovery slices of the
                               PAR 2.0 set written beside the coded file, as kestrav3code_recovery */
    int refuse_existing;    /* 1, restoring: an existing file under the restored name is refused
                               (ERR -16), whatever coded file it came from; force does not
                               overrule it, the caller leaves it 0 to replace */
    /* With input_inode not 0, the input is opened without following a link
       and must be this file (the device and inode a folder walk saw): a name
       swapped since is refused. Windows takes the volume serial and file index. */
    unsigned long long input_device;
    unsigned long long input_inode;
};

/* What kestrav3run found; every text is NUL-terminated, "" when it has none.
 * A list too long for its buffer ends in " ...". */
struct kestrav3_result {
    int code;                 /* the result, as the matching export returns it */
    char message[160];        /* a failure's message line, without framing or leading space */
    char detail[512];         /* a failure's added explanation, when the library has one */
    char written[4096];       /* -c, -d: the path of the file written; also when -c put the
                                 coded file in place but its recovery set failed (code < 0) */
    long long damaged_count;  /* -t, -d: blocks whose digest differs */
    long long missing_count;  /* -t: blocks the coded file ends before */
    long long trailing_bytes; /* -t: bytes after the last group */
    char damaged[1024];       /* -t, -d: the damaged blocks as in the report's " Damaged:" line */
    char missing[1024];       /* -t: the missing blocks, in the same form */
    char metadata[3000];      /* -m: the metadata text */
    int removed;              /* 1 when remove_input removed the input */
    int old_set_removed;      /* -c without a set: 1 when the recovery set beside the coded
                                 file it replaced was removed, as it described the old bytes */
    int repairable;           /* -t, -d with damage: 1 when the recovery set beside the coded
                                 file can rebuild it (kestrav3repair) */
    char header[64];          /* -t, -d, -m: "" when the two header copies agree; else the
                                 damaged one: "header copy 1", "header copy 2", "header
                                 copies 1 and 2" (both lost), "a header copy" (they differ,
                                 and neither can be blamed) */
};

/* Runs one operation on one file, printing nothing but the progress line
 * (when asked): no summary lines, no framed message. An empty file is coded
 * into a coded file of its two header copies alone (NBLOCKS 0, REST 0),
 * which restores to an empty file. Fills result and
 * returns result->code. With remove_input, a coding run that succeeded but
 * could not flush or remove the input returns -4 or -1. */
KESTRAV3_API int kestrav3run(int operation, const char* file, const char* key, const struct kestrav3_options* options,
                             struct kestrav3_result* result);

/* Writes into path (size bytes) the path that kestrav3run with the same
 * operation, key and output_dir would write: 0, or a negative error code
 * (a restore's header cannot be read, or path is too small). Writes and
 * prints nothing. Operations that write nothing give "". */
KESTRAV3_API int kestrav3target(int operation, const char* file, const char* key, const char* output_dir, char* path,
                                int size);
/* Codes file as kestrav3code does and writes a PAR 2.0 recovery set beside
 * the coded file: <name>.archi.par2 and <name>.archi.vol<first>+<count>.par2,
 * recovery percent (1 to 100) of its slices, computed from the coded bytes as
 * they are written. recovery 0 writes no set; outside 0 to 100 gives the
 * conversion error. A coding that fails writes no recovery file. */
KESTRAV3_API int kestrav3code_recovery(const char* file, const char* key, int recovery, int report);

/* Adds (or replaces) the PAR 2.0 recovery set of an existing coded file,
 * recovery percent (1 to 100) of its slices. Needs no key: the set covers
 * the coded bytes, which reveal nothing of the plain file. With report 1 it
 * prints what it wrote. */
KESTRAV3_API int kestrav3protect(const char* file, int recovery, int report);

/* Repairs a coded file from the recovery set beside it; needs no key. Every
 * slice is checked against its MD5, the damaged and missing ones rebuilt and
 * checked against theirs, and only then is the file replaced (through a
 * hidden file and a rename). Returns 0 when the file is intact or was repaired, a
 * positive count when the damage is beyond the set (the recovery slices it
 * would need more; the file is left as it was), or a negative error code
 * when the file or the set cannot be read. With report 1 it prints what it
 * found and did. */
KESTRAV3_API int kestrav3repair(const char* file, int report);

/* Prints the program version for "-v", the noise generator version for "-vg". */
KESTRAV3_API void kestrav3ver(const char* option);

/* Prints the command-line help. */
KESTRAV3_API void print_help(void);

/* Writes into shown (size bytes) text with every control character but line
 * feed, tab and carriage return, with DEL and with the UTF-8 C1 controls
 * (U+0080 to U+009F) in a visible escaped form, "\x1B" for the byte 1B and
 * "\u009B" for U+009B, as the library shows stored names and metadata on a
 * terminal; everything else, a backslash included, is kept. Returns the
 * length of the escaped text (-1 when an int cannot hold it); shown holds the
 * text only when size is greater than that, else "" (when size is above 0). */
KESTRAV3_API int kestrav3visible(const char* text, char* shown, int size);

/* 1 turns conversion of names and metadata to and from UTF-8 on; anything else off. */
KESTRAV3_API void switch_utf_converting(int value);

#ifdef __cplusplus
}
#endif

#endif
