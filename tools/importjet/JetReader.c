#define _GNU_SOURCE /* fopencookie */
#include "JetReader.h"

#include <glib.h>
#include <mdbtools.h>

#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* Texts and memos up to this many bytes are read whole. */
#define JET_BIND_SIZE (1 << 20)
#define JET_OLE_CHUNK (1 << 16)

/* The file as the library reads it. The library zero-fills a page that ends
 * beyond the end of the file and, when asked for a page that starts right at
 * the end, reads it as an empty page; a cut-short file would so read as a
 * smaller, whole one. Every read passes here instead, and a read past the end
 * is recorded. */
typedef struct {
    int fd;
    off64_t position;
    long long size;
    long long needed; /* the least size the reads so far show the whole file has */
    void (*stop)(void* context);
    void* context;
    char buffer[MDB_PGSIZE];
} JetSource;

/* The library checks a page's offset against the end it finds by seeking
 * there. Reporting the end as this far away sends every read to
 * source_read, which knows the true end. */
#define JET_FAR_END ((off64_t)1 << 62)

static ssize_t source_read(void* cookie, char* buffer, size_t size) {
    JetSource* source = cookie;
    const long long end = (long long)source->position + (long long)size;
    if (end > source->size && end > source->needed) {
        const int first = source->needed <= source->size;
        source->needed = end;
        if (first && source->stop)
            source->stop(source->context);
    }
    ssize_t n = 0;
    if (source->position < source->size)
        n = pread(source->fd, buffer, size, source->position);
    if (n < 0)
        return -1;
    source->position += n;
    return n;
}

static int source_seek(void* cookie, off64_t* offset, int whence) {
    JetSource* source = cookie;
    const off64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? source->position : JET_FAR_END;
    if (*offset < -base || *offset > JET_FAR_END)
        return -1;
    source->position = base + *offset;
    *offset = source->position;
    return 0;
}

static int source_close(void* cookie) {
    return close(((JetSource*)cookie)->fd);
}

/* Puts `source` between the library and the file it opened; 0 on failure.
 * `source` must outlive the library's handle. */
static int take_over_reading(MdbHandle* mdb, JetSource* source) {
    source->fd = fcntl(fileno(mdb->f->stream), F_DUPFD_CLOEXEC, 0);
    struct stat st;
    if (source->fd < 0)
        return 0;
    const cookie_io_functions_t io = {source_read, NULL, source_seek, source_close};
    FILE* stream = NULL;
    if (fstat(source->fd, &st) != 0 || !(stream = fopencookie(source, "r", io))) {
        close(source->fd);
        return 0;
    }
    source->size = st.st_size;
    /* A buffer of one page, so that each page the library reads reaches
     * source_read as one read of that page. */
    setvbuf(stream, source->buffer, _IOFBF, (size_t)mdb->fmt->pg_size);
    fclose(mdb->f->stream);
    mdb->f->stream = stream;
    return 1;
}

struct JetFile {
    JetSource* source;
    MdbHandle* mdb;
    GPtrArray* tables; /* MdbCatalogEntry* of the user tables */
    MdbTableDef* table;
    char** bound;
    int* lengths;
    unsigned columns;
    char* ole;
    size_t ole_size;
};

static void release_table(JetFile* file) {
    if (!file->table)
        return;
    for (unsigned c = 0; c < file->columns; ++c)
        g_free(file->bound[c]);
    g_free(file->bound);
    g_free(file->lengths);
    mdb_free_tabledef(file->table);
    file->table = NULL;
    file->bound = NULL;
    file->lengths = NULL;
    file->columns = 0;
}

JetFile* jet_open(const char* path) {
    MdbHandle* mdb = mdb_open(path, MDB_NOFLAGS);
    if (!mdb)
        return NULL;
    JetSource* source = calloc(1, sizeof *source);
    if (!take_over_reading(mdb, source)) {
        free(source);
        mdb_close(mdb);
        return NULL;
    }
    const long long page = mdb->fmt->pg_size;
    if (source->size < page || source->size % page != 0)
        source->needed = (source->size / page + 1) * page;
    mdb_set_boolean_fmt_numbers(mdb);
    JetFile* file = calloc(1, sizeof *file);
    file->source = source;
    file->mdb = mdb;
    file->tables = g_ptr_array_new();
    return file;
}

int jet_cut_short(const JetFile* file, long long* size, long long* needed) {
    *size = file->source->size;
    *needed = file->source->needed;
    return file->source->needed > file->source->size;
}

void jet_on_cut_short(JetFile* file, void (*stop)(void* context), void* context) {
    file->source->stop = stop;
    file->source->context = context;
}

static int cut_short(const JetFile* file) {
    return file->source->needed > file->source->size;
}

/* Reads every row of the object catalog (its table definition is on page 2)
 * and compares their number with the one the definition counts. */
static int catalog_is_whole(JetFile* file, long* read, long* counted) {
    MdbCatalogEntry entry;
    memset(&entry, 0, sizeof entry);
    entry.mdb = file->mdb;
    entry.object_type = MDB_TABLE;
    entry.table_pg = 2;
    snprintf(entry.object_name, sizeof entry.object_name, "MSysObjects");
    MdbTableDef* def = mdb_read_table(&entry);
    if (!def)
        return 0;
    int whole = mdb_read_columns(def) != NULL;
    if (whole) {
        mdb_rewind_table(def);
        *read = 0;
        while (!cut_short(file) && mdb_fetch_row(def))
            ++*read;
        *counted = (long)def->num_rows;
        whole = !cut_short(file) && *read == *counted;
    }
    mdb_free_tabledef(def);
    return whole;
}

int jet_read_catalog(JetFile* file, long* read, long* counted) {
    *read = *counted = 0;
    if (cut_short(file) || !catalog_is_whole(file, read, counted))
        return 0;
    if (!mdb_read_catalog(file->mdb, MDB_TABLE) || cut_short(file))
        return 0;
    /* Only now: the library allocates a buffer of this size for every value it reads. */
    mdb_set_bind_size(file->mdb, JET_BIND_SIZE);
    for (unsigned i = 0; i < file->mdb->num_catalog; ++i) {
        MdbCatalogEntry* entry = g_ptr_array_index(file->mdb->catalog, i);
        if (entry->object_type == MDB_TABLE && mdb_is_user_table(entry))
            g_ptr_array_add(file->tables, entry);
    }
    return 1;
}

void jet_close(JetFile* file) {
    if (!file)
        return;
    release_table(file);
    g_ptr_array_free(file->tables, TRUE);
    free(file->ole);
    mdb_close(file->mdb);
    free(file->source);
    free(file);
}

int jet_version(const JetFile* file) {
    switch (file->mdb->f->jet_version) {
    case MDB_VER_JET3:
        return 3;
    case MDB_VER_JET4:
        return 4;
    default:
        return 5;
    }
}

int jet_table_count(const JetFile* file) {
    return (int)file->tables->len;
}

const char* jet_table_name(const JetFile* file, int table) {
    return ((MdbCatalogEntry*)g_ptr_array_index(file->tables, table))->object_name;
}

int jet_use_table(JetFile* file, int table) {
    release_table(file);
    MdbTableDef* def = mdb_read_table(g_ptr_array_index(file->tables, table));
    if (!def)
        return 0;
    if (!mdb_read_columns(def)) {
        mdb_free_tabledef(def);
        return 0;
    }
    file->table = def;
    file->columns = def->num_cols;
    file->bound = g_new0(char*, file->columns);
    file->lengths = g_new0(int, file->columns);
    for (unsigned c = 0; c < file->columns; ++c) {
        file->bound[c] = g_malloc0(JET_BIND_SIZE);
        mdb_bind_column(def, (int)c + 1, file->bound[c], &file->lengths[c]);
    }
    mdb_rewind_table(def);
    return 1;
}

static MdbColumn* column_at(const JetFile* file, int column) {
    return g_ptr_array_index(file->table->columns, column);
}

int jet_column_count(const JetFile* file) {
    return (int)file->columns;
}
const char* jet_column_name(const JetFile* file, int column) {
    return column_at(file, column)->name;
}
int jet_column_type(const JetFile* file, int column) {
    return column_at(file, column)->col_type;
}
int jet_column_size(const JetFile* file, int column) {
    return column_at(file, column)->col_size;
}
int jet_column_precision(const JetFile* file, int column) {
    return column_at(file, column)->col_prec;
}
int jet_column_scale(const JetFile* file, int column) {
    return column_at(file, column)->col_scale;
}
long jet_row_count(const JetFile* file) {
    return (long)file->table->num_rows;
}

int jet_next_row(JetFile* file) {
    return !cut_short(file) && mdb_fetch_row(file->table) && !cut_short(file);
}

/* The raw bytes of a fixed-size value of the current row, little-endian. */
static const unsigned char* raw(const JetFile* file, const MdbColumn* col, int size) {
    if (col->cur_value_len != size)
        return NULL;
    return (const unsigned char*)file->mdb->pg_buf + col->cur_value_start;
}

static int read_ole(JetFile* file, MdbColumn* col, JetValue* value) {
    char header[MDB_MEMO_OVERHEAD];
    memcpy(header, col->bind_ptr, MDB_MEMO_OVERHEAD);
    size_t used = 0;
    size_t length = mdb_ole_read(file->mdb, col, header, JET_OLE_CHUNK);
    while (length > 0) {
        if (used + length > file->ole_size) {
            file->ole_size = (used + length) * 2;
            file->ole = realloc(file->ole, file->ole_size);
        }
        memcpy(file->ole + used, col->bind_ptr, length);
        used += length;
        length = mdb_ole_read_next(file->mdb, col, header);
    }
    value->kind = JETV_BLOB;
    value->text = file->ole ? file->ole : "";
    value->length = used;
    return 1;
}

static int set_whole(JetValue* value, long long whole) {
    value->kind = JETV_WHOLE;
    value->whole = whole;
    return 1;
}

static int set_number(JetValue* value, enum JetValueKind kind, double number) {
    value->kind = kind;
    value->number = number;
    return 1;
}

int jet_decode_number(int type, const unsigned char* bytes, JetValue* value) {
    memset(value, 0, sizeof *value);
    switch (type) {
    case MDB_BYTE:
        return set_whole(value, bytes[0]);
    case MDB_INT:
        return set_whole(value, (int16_t)(bytes[0] | (bytes[1] << 8)));
    case MDB_LONGINT: {
        int32_t v;
        memcpy(&v, bytes, 4);
        return set_whole(value, v);
    }
    case MDB_MONEY: {
        int64_t v;
        memcpy(&v, bytes, 8);
        return set_number(value, JETV_NUMBER, (double)v / 10000.0);
    }
    case MDB_FLOAT: {
        float v;
        memcpy(&v, bytes, 4);
        return set_number(value, JETV_NUMBER, v);
    }
    case MDB_DOUBLE:
    case MDB_DATETIME: {
        double v;
        memcpy(&v, bytes, 8);
        return set_number(value, type == MDB_DATETIME ? JETV_DATE : JETV_NUMBER, v);
    }
    default:
        return 0;
    }
}

/* The bytes a fixed-size number of the column type `type` takes in a row; 0
 * when `type` is no such number. */
static int number_size(int type) {
    switch (type) {
    case MDB_BYTE:
        return 1;
    case MDB_INT:
        return 2;
    case MDB_LONGINT:
    case MDB_FLOAT:
        return 4;
    case MDB_MONEY:
    case MDB_DOUBLE:
    case MDB_DATETIME:
        return 8;
    default:
        return 0;
    }
}

/* A fixed-size number; 0 when the row holds another number of bytes. */
static int read_number(const JetFile* file, const MdbColumn* col, JetValue* value) {
    const unsigned char* bytes = raw(file, col, number_size(col->col_type));
    return bytes && jet_decode_number(col->col_type, bytes, value);
}

/* A binary value: the `length` bytes the library bound. */
static int read_binary(const char* bound, int length, JetValue* value) {
    value->kind = JETV_BLOB;
    value->text = bound;
    value->length = (size_t)length;
    return 1;
}

/* Texts, memos, replication ids and decimals: the library's own text; 0
 * when it fills the bound buffer and so may have been cut off. */
static int read_text(const char* bound, int length, JetValue* value) {
    if (length >= JET_BIND_SIZE - 1)
        return 0;
    value->kind = JETV_TEXT;
    value->text = bound;
    value->length = strlen(bound);
    return 1;
}

/* The value of `column` in the current row; 0 when it cannot be read. */
static int read_value(JetFile* file, int column, JetValue* value) {
    MdbColumn* col = column_at(file, column);
    const char* bound = file->bound[column];
    const int length = file->lengths[column];
    memset(value, 0, sizeof *value);
    if (col->col_type == MDB_BOOL) /* bound as the text "1" or "0" */
        return set_whole(value, bound[0] == '1' ? 1 : 0);
    if (length == 0 && col->cur_value_len == 0) {
        value->kind = JETV_NULL;
        return 1;
    }
    if (number_size(col->col_type) > 0)
        return read_number(file, col, value);
    switch (col->col_type) {
    case MDB_OLE:
        return read_ole(file, col, value);
    case MDB_BINARY:
        return read_binary(bound, length, value);
    default:
        return read_text(bound, length, value);
    }
}

int jet_value(JetFile* file, int column, JetValue* value) {
    /* Memos and OLE objects longer than a row are read from pages of their own. */
    return read_value(file, column, value) && !cut_short(file);
}

void jet_allocate_without_bound(void) {
    GPtrArray* held = g_ptr_array_new();
    for (;;)
        g_ptr_array_add(held, g_malloc(64 << 20));
}
