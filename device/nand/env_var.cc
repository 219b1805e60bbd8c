#include "device/nand/env_var.h"

#include <stdlib.h>
#include <string.h>

namespace {

char* CopyText(const char* text, size_t length) {
  char* copy = static_cast<char*>(malloc(length + 1));
  if (copy == 0) return 0;
  memcpy(copy, text, length);
  copy[length] = '\0';
  return copy;
}

}  // namespace

void EnvVarClear(EnvVar* record) {
  record->name = 0;
  record->value = 0;
  record->next = 0;
  record->prev = 0;
}

EnvVar* EnvVarNew() {
  EnvVar* record = static_cast<EnvVar*>(malloc(sizeof(EnvVar)));
  if (record != 0) EnvVarClear(record);
  return record;
}

bool EnvVarAssignBytes(EnvVar* record, const char* name, size_t nameLength, const char* value,
                       size_t valueLength) {
  char* newName = CopyText(name, nameLength);
  char* newValue = CopyText(value, valueLength);
  if (newName == 0 || newValue == 0) {
    free(newName);
    free(newValue);
    return false;
  }
  free(record->name);
  free(record->value);
  record->name = newName;
  record->value = newValue;
  return true;
}

bool EnvVarAssign(EnvVar* record, const char* name, const char* value) {
  return EnvVarAssignBytes(record, name, strlen(name), value, strlen(value));
}

void EnvVarAppend(EnvVar* record, EnvVar* newRecord) {
  EnvVar* last = record;
  while (last->next != 0) last = last->next;
  last->next = newRecord;
  newRecord->prev = last;
}

void EnvVarDestroy(EnvVar* record) {
  free(record->name);
  free(record->value);
  record->name = 0;
  record->value = 0;
  // Iteratively, so that a device with many thousands of variables cannot exhaust the stack.
  EnvVar* rest = record->next;
  while (rest != 0) {
    EnvVar* following = rest->next;
    free(rest->name);
    free(rest->value);
    free(rest);
    rest = following;
  }
  record->next = 0;
  if (record->prev != 0) record->prev->next = 0;
}

void EnvVarUnlink(EnvVar* record) {
  if (record->prev != 0) record->prev->next = record->next;
  if (record->next != 0) record->next->prev = record->prev;
  record->next = 0;
  record->prev = 0;
  EnvVarDestroy(record);
  free(record);
}

EnvVar* EnvVarFind(EnvVar* first, const char* name) {
  for (EnvVar* record = first; record != 0; record = record->next) {
    if (record->name != 0 && strcmp(record->name, name) == 0) return record;
  }
  return 0;
}
