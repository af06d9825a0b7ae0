#include "JetReader.h"

#include <glib.h>
#include <mdbtools.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* Texts and memos up to this many bytes are read whole. */
#define JET_BIND_SIZE (1 << 20)
#define JET_OLE_CHUNK (1 << 16)

struct JetFile {
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

JetFile* jet_open(const char* path, char* error, size_t error_size) {
    MdbHandle* mdb = mdb_open(path, MDB_NOFLAGS);
    if (!mdb) {
        snprintf(error, error_size, "not a readable Jet database");
        return NULL;
    }
    if (!mdb_read_catalog(mdb, MDB_TABLE)) {
        snprintf(error, error_size, "the table catalog cannot be read");
        mdb_close(mdb);
        return NULL;
    }
    mdb_set_bind_size(mdb, JET_BIND_SIZE);
    mdb_set_boolean_fmt_numbers(mdb);
    JetFile* file = calloc(1, sizeof *file);
    file->mdb = mdb;
    file->tables = g_ptr_array_new();
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        MdbCatalogEntry* entry = g_ptr_array_index(mdb->catalog, i);
        if (entry->object_type == MDB_TABLE && mdb_is_user_table(entry))
            g_ptr_array_add(file->tables, entry);
    }
    return file;
}

void jet_close(JetFile* file) {
    if (!file)
        return;
    release_table(file);
    g_ptr_array_free(file->tables, TRUE);
    free(file->ole);
    mdb_close(file->mdb);
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

int jet_table_count(const JetFile* file) { return (int)file->tables->len; }

const char* jet_table_name(const JetFile* file, int table) {
    return ((MdbCatalogEntry*)g_ptr_array_index(file->tables, table))->object_name;
}

int jet_use_table(JetFile* file, int table) {
    release_table(file);
    MdbTableDef* def = mdb_read_table(g_ptr_array_index(file->tables, table));
    if (!def || !mdb_read_columns(def))
        return 0;
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

int jet_column_count(const JetFile* file) { return (int)file->columns; }
const char* jet_column_name(const JetFile* file, int column) { return column_at(file, column)->name; }
int jet_column_type(const JetFile* file, int column) { return column_at(file, column)->col_type; }
int jet_column_size(const JetFile* file, int column) { return column_at(file, column)->col_size; }
int jet_column_precision(const JetFile* file, int column) { return column_at(file, column)->col_prec; }
int jet_column_scale(const JetFile* file, int column) { return column_at(file, column)->col_scale; }
long jet_row_count(const JetFile* file) { return (long)file->table->num_rows; }

int jet_next_row(JetFile* file) { return mdb_fetch_row(file->table) ? 1 : 0; }

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

int jet_value(JetFile* file, int column, JetValue* value) {
    MdbColumn* col = column_at(file, column);
    const char* bound = file->bound[column];
    const int length = file->lengths[column];
    memset(value, 0, sizeof *value);
    if (col->col_type == MDB_BOOL) {
        value->kind = JETV_WHOLE;
        value->whole = bound[0] == '1' ? 1 : 0;
        return 1;
    }
    if (length == 0 && col->cur_value_len == 0) {
        value->kind = JETV_NULL;
        return 1;
    }
    const unsigned char* p = NULL;
    switch (col->col_type) {
    case MDB_BYTE:
        if (!(p = raw(file, col, 1)))
            return 0;
        value->kind = JETV_WHOLE;
        value->whole = p[0];
        return 1;
    case MDB_INT:
        if (!(p = raw(file, col, 2)))
            return 0;
        value->kind = JETV_WHOLE;
        value->whole = (int16_t)(p[0] | (p[1] << 8));
        return 1;
    case MDB_LONGINT: {
        if (!(p = raw(file, col, 4)))
            return 0;
        int32_t v;
        memcpy(&v, p, 4);
        value->kind = JETV_WHOLE;
        value->whole = v;
        return 1;
    }
    case MDB_MONEY: {
        if (!(p = raw(file, col, 8)))
            return 0;
        int64_t v;
        memcpy(&v, p, 8);
        value->kind = JETV_NUMBER;
        value->number = (double)v / 10000.0;
        return 1;
    }
    case MDB_FLOAT: {
        if (!(p = raw(file, col, 4)))
            return 0;
        float v;
        memcpy(&v, p, 4);
        value->kind = JETV_NUMBER;
        value->number = v;
        return 1;
    }
    case MDB_DOUBLE:
    case MDB_DATETIME: {
        if (!(p = raw(file, col, 8)))
            return 0;
        double v;
        memcpy(&v, p, 8);
        value->kind = col->col_type == MDB_DATETIME ? JETV_DATE : JETV_NUMBER;
        value->number = v;
        return 1;
    }
    case MDB_OLE:
    case MDB_BINARY:
        if (col->col_type == MDB_OLE)
            return read_ole(file, col, value);
        value->kind = JETV_BLOB;
        value->text = bound;
        value->length = (size_t)length;
        return 1;
    default:
        /* Texts, memos, replication ids and decimals: the library's own text. */
        if (length >= JET_BIND_SIZE - 1)
            return 0;
        value->kind = JETV_TEXT;
        value->text = bound;
        value->length = strlen(bound);
        return 1;
    }
}
