// The variable list: the environment in memory, one record per variable, in block order.
#ifndef DEVICE_NAND_ENV_VAR_H
#define DEVICE_NAND_ENV_VAR_H

#include <stddef.h>

// The head record belongs to the running command (it lives on its stack); every further record is
// allocated one by one and owned through the next link of its predecessor. An environment without
// variables is a head record with neither name nor value.
struct EnvVar {
  char* name;
  char* value;
  EnvVar* next;
  EnvVar* prev;
};

// Sets every field to none; a command starts from such a head record.
void EnvVarClear(EnvVar* record);

// A fresh, cleared record on the heap, or 0 when memory is short.
EnvVar* EnvVarNew();

// Gives the record fresh copies of both texts (releasing the old ones). False when memory is short;
// the record then keeps its old texts.
bool EnvVarAssign(EnvVar* record, const char* name, const char* value);
bool EnvVarAssignBytes(EnvVar* record, const char* name, size_t nameLength, const char* value,
                       size_t valueLength);

// Links newRecord after the last record of the list that record belongs to.
void EnvVarAppend(EnvVar* record, EnvVar* newRecord);

// Releases the record's texts and every record after it, and clears its predecessor's next link.
// The record itself is not released: it may be a head record.
void EnvVarDestroy(EnvVar* record);

// Joins the record's neighbours and releases it; never used on a head record.
void EnvVarUnlink(EnvVar* record);

// The first record from first on whose name equals name, or 0.
EnvVar* EnvVarFind(EnvVar* first, const char* name);

#endif  // DEVICE_NAND_ENV_VAR_H
