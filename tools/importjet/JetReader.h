#pragma once

/* Reading old Access (Jet 3 / Jet 4) database files through mdbtools'
 * library, kept behind this small C interface: the library's header pulls
 * in glib inside extern "C", which C++ cannot include. */

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct JetFile JetFile;

/* Column types as the Jet engine knows them. */
enum JetType {
    JET_BOOLEAN = 1,
    JET_BYTE = 2,
    JET_INTEGER = 3,
    JET_LONG = 4,
    JET_CURRENCY = 5,
    JET_SINGLE = 6,
    JET_DOUBLE = 7,
    JET_DATETIME = 8,
    JET_BINARY = 9,
    JET_TEXT = 10,
    JET_OLE = 11,
    JET_MEMO = 12,
    JET_GUID = 15,
    JET_NUMERIC = 16
};

enum JetValueKind { JETV_NULL, JETV_WHOLE, JETV_NUMBER, JETV_TEXT, JETV_BLOB, JETV_DATE };

/* One value of the current row. `text` points into the reader's buffers and
 * stays valid until the next row is read. A date is the Jet day number:
 * days since 1899-12-30, the time of day as the fraction. */
typedef struct {
    enum JetValueKind kind;
    long long whole;
    double number;
    const char* text;
    size_t length;
} JetValue;

/* Opens a Jet file for reading; NULL when it is not a Jet database the
 * library knows. Every page the library reads afterwards is checked against
 * the end of the file (see jet_cut_short). */
JetFile* jet_open(const char* path);
void jet_close(JetFile* file);

/* 1 when the file is not whole: its size is not a whole number of pages, or
 * a page read so far lies wholly or partly beyond its end. `size` is then its
 * size and `needed` the least size the whole file has. 0 otherwise. */
int jet_cut_short(const JetFile* file, long long* size, long long* needed);

/* Has `stop` called the moment the library reads a page beyond the end of
 * the file, while it is still inside the call that asked for the page: given
 * an empty page instead, the library can loop for long. `stop` may end the
 * program; when it returns, the reading goes on as before. */
void jet_on_cut_short(JetFile* file, void (*stop)(void* context), void* context);

/* Reads the table catalog; 0 when it cannot be read, the file is cut short,
 * or the catalog yields another number of objects than its definition
 * counts (`read` and `counted` then tell the numbers). */
int jet_read_catalog(JetFile* file, long* read, long* counted);

/* 3 for Jet 3, 4 for Jet 4, larger for the ACE formats. */
int jet_version(const JetFile* file);

int jet_table_count(const JetFile* file);
const char* jet_table_name(const JetFile* file, int table);

/* Makes `table` the current table; 0 on failure. */
int jet_use_table(JetFile* file, int table);
int jet_column_count(const JetFile* file);
const char* jet_column_name(const JetFile* file, int column);
int jet_column_type(const JetFile* file, int column);
/* The size as the file gives it (bytes; Jet 4 texts take two per character). */
int jet_column_size(const JetFile* file, int column);
int jet_column_precision(const JetFile* file, int column);
int jet_column_scale(const JetFile* file, int column);
long jet_row_count(const JetFile* file);

/* Reads the next row of the current table: 1 when there is one, 0 at the end
 * or when the file turns out to be cut short. */
int jet_next_row(JetFile* file);
/* The value of `column` in the current row; 0 when it cannot be read. */
int jet_value(JetFile* file, int column, JetValue* value);
/* Decodes a fixed-size number into `value` from its bytes as a row holds
 * them, little-endian: 1 for JET_BYTE, 2 for JET_INTEGER, 4 for JET_LONG and
 * JET_SINGLE, 8 for JET_CURRENCY (ten-thousandths), JET_DOUBLE and
 * JET_DATETIME; returns 1. 0, and `bytes` left unread, for any other `type`. */
int jet_decode_number(int type, const unsigned char* bytes, JetValue* value);

/* For the test of the limits on reading: allocates through glib, as the
 * library does, until the allocation fails and the program ends. */
void jet_allocate_without_bound(void);

#ifdef __cplusplus
}
#endif
