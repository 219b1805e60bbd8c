// set: one variable changed in place, or every variable anew from standard input.
#include <stdlib.h>
#include <string.h>

#include "device/nand/commands.h"
#include "device/nand/env_block.h"
#include "device/nand/env_var.h"
#include "device/nand/flash.h"

namespace {

// Network and identity are set through the device's UCI utility only.
const char* const kProtectedNames[] = {"ipaddr", "netmask", "gateway", "ethaddr", "serialno"};

bool IsProtected(const char* name) {
  for (size_t i = 0; i < sizeof kProtectedNames / sizeof kProtectedNames[0]; ++i) {
    if (strcmp(name, kProtectedNames[i]) == 0) return true;
  }
  return false;
}

// One input line of the rewrite form, kept up to one character more than an entry may hold.
struct InputLine {
  char text[kEnvEntryLimit + 2];
  size_t length;
  bool tooLong;  // the entry it makes exceeds kEnvEntryLimit
};

// Reads a whole line (a long bootargs is one variable, however long). The text ends at the line's
// first newline or NUL. False at the end of input, or when a line begins with NUL (a read that
// yields no text ends the input as well).
bool ReadInputLine(FILE* in, InputLine* line) {
  line->length = 0;
  line->tooLong = false;
  bool ended = false;  // a NUL ended the text; the rest of the line is passed over
  int c = getc(in);
  if (c == EOF || c == '\0') return false;
  for (; c != EOF && c != '\n'; c = getc(in)) {
    if (ended) continue;
    if (c == '\0') {
      ended = true;
    } else if (line->length < sizeof line->text - 1) {
      line->text[line->length++] = static_cast<char>(c);
    } else {
      line->tooLong = true;
    }
  }
  line->text[line->length] = '\0';
  // The entry is the line itself, or the line and '=' when it has none.
  const size_t entryLength = line->length + (strchr(line->text, '=') != 0 ? 0 : 1);
  if (entryLength > kEnvEntryLimit) line->tooLong = true;
  return true;
}

enum ReadResult { kLinesRead, kNoLines, kLineTooLong, kReadOutOfMemory };

// Every line becomes a record, in input order, the first one in the head record.
ReadResult ReadAllVariables(FILE* in, FILE* err, EnvVar* head) {
  InputLine line;
  EnvVar* last = 0;
  while (ReadInputLine(in, &line)) {
    if (line.tooLong) {
      PrintEntryTooLong(err, line.text);
      return kLineTooLong;
    }
    const char* separator = strchr(line.text, '=');
    const size_t nameLength = separator != 0 ? static_cast<size_t>(separator - line.text) : line.length;
    const char* value = separator != 0 ? separator + 1 : "";
    EnvVar* record = last == 0 ? head : EnvVarNew();
    if (record == 0) return kReadOutOfMemory;
    if (last != 0) EnvVarAppend(last, record);
    if (!EnvVarAssignBytes(record, line.text, nameLength, value, strlen(value))) return kReadOutOfMemory;
    last = record;
  }
  return last == 0 ? kNoLines : kLinesRead;
}

}  // namespace

int CmdSet(const RunSettings& settings, const ToolIo& io, const char* name, const char* value) {
  if (IsProtected(name)) {
    fputs("Usage of uboot utility to set network parameters is prohibited. Please use UCI utility.\n",
          io.err);
    return 1;
  }
  // U-Boot's entry buffer holds 1023 characters; a cut entry would store a different variable.
  if (strlen(name) + 1 + strlen(value) > kEnvEntryLimit) {
    PrintEntryTooLong(io.err, name);
    return 1;
  }
  // The lock covers the whole read-modify-write, so that a concurrent set is not lost.
  int lockFd = EnvLock(io, settings.envPath, true);
  if (lockFd == -2) return 1;
  EnvVar head;
  EnvVarClear(&head);
  int status = 1;
  if (!EnvLoad(io, &head, settings.envPath)) {
    fprintf(io.err, "Error: cannot read file \"%s\"\n", settings.envPath);
  } else {
    EnvVar* first = &head;
    EnvVar* found = EnvVarFind(&head, name);
    bool changed = true;
    if (value[0] != '\0') {
      if (found != 0) {
        changed = EnvVarAssign(found, name, value);
      } else {
        EnvVar* record = EnvVarNew();
        changed = record != 0 && EnvVarAssign(record, name, value);
        if (record != 0) EnvVarAppend(&head, record);
      }
    } else if (found == &head) {
      first = head.next;  // the head record is the command's own: the list to store starts after it
    } else if (found != 0) {
      EnvVarUnlink(found);
    }
    if (changed && EnvStore(io, first, settings.envPath)) {
      status = 0;
    } else {
      fprintf(io.err, "Error: cannot write file \"%s\"\n", settings.envPath);
    }
  }
  EnvVarDestroy(&head);
  EnvUnlock(io, lockFd);
  return status;
}

int CmdSetAll(const RunSettings& settings, const ToolIo& io) {
  if (!settings.forceWrite) {
    fputs("Error: you try to rewrite all vars. You '-y' flag\n", io.err);
    return 1;
  }
  EnvVar head;
  EnvVarClear(&head);
  int status = 1;
  switch (ReadAllVariables(io.in, io.err, &head)) {
    case kNoLines:
      fputs("Error: nothing to write\n", io.err);
      break;
    case kLineTooLong:
      break;
    case kReadOutOfMemory:
      fprintf(io.err, "Error: cannot write to file \"%s\"\n", settings.envPath);
      break;
    case kLinesRead: {
      // The block is not read, but a concurrent set must not write its old copy over this one.
      int lockFd = EnvLock(io, settings.envPath, true);
      if (lockFd != -2 && EnvStore(io, &head, settings.envPath)) {
        status = 0;
      } else {
        fprintf(io.err, "Error: cannot write to file \"%s\"\n", settings.envPath);
      }
      EnvUnlock(io, lockFd);
      break;
    }
  }
  EnvVarDestroy(&head);
  return status;
}
