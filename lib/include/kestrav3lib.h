/* kestrav3lib: code a file into a .archi file, restore it with per-block MD5
 * checks, and read the metadata a coded file carries.
 *
 * Texts are NUL-terminated 8-bit strings owned by the caller. The report flag
 * asks, when it is 1, for the console progress line and the framed message of
 * a failure. Results are 0 on success and a negative error code otherwise
 * (kestrav3test also returns a positive count, see there).
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

/* Codes file into <name>.archi beside it; the _g form also feeds the progress window. */
KESTRAV3_API int kestrav3code(const char* file, const char* key, int report);
KESTRAV3_API int kestrav3code_g(const char* file, const char* key, int report);

/* Restores the plain file from a coded file into the coded file's folder. */
KESTRAV3_API int kestrav3decode(const char* file, const char* key, int report);
KESTRAV3_API int kestrav3decode_g(const char* file, const char* key, int report);

/* Fills text (at least 3000 bytes) with the metadata of a coded file. */
KESTRAV3_API int kestrav3desc(const char* file, const char* key, char* text, int report);

/* Checks every block of a coded file against its digest without restoring
 * it; writes no file. Returns 0 when the file is intact, a negative error
 * code when it cannot be read, or a positive count: the damaged and missing
 * blocks, plus one when bytes follow the last group. With report 1 it shows
 * the progress line and prints a report (or the framed message of a failure). */
KESTRAV3_API int kestrav3test(const char* file, const char* key, int report);

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
 * slice is checked, the damaged and missing ones rebuilt, the whole file's
 * MD5 checked, and only then is the file replaced (through a hidden file
 * and a rename). Returns 0 when the file is intact or was repaired, a
 * positive count when the damage is beyond the set (the recovery slices it
 * would need more; the file is left as it was), or a negative error code
 * when the file or the set cannot be read. With report 1 it prints what it
 * found and did. */
KESTRAV3_API int kestrav3repair(const char* file, int report);

/* Prints the program version for "-v", the noise generator version for "-vg". */
KESTRAV3_API void kestrav3ver(const char* option);

/* Prints the command-line help. */
KESTRAV3_API void print_help(void);

/* 1 turns conversion of names and metadata to and from UTF-8 on; anything else off. */
KESTRAV3_API void switch_utf_converting(int value);

#ifdef __cplusplus
}
#endif

#endif
