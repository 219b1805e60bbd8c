// The operator's console: text colour, and the answers read from the keyboard.
// Output goes to std::cout; callers flush it at every line, prompt and progress redraw, also when
// standard output is a pipe, so that scripts and logging terminals read it live.
#pragma once

#include <cstddef>
#include <string>

// Windows console text attributes the program uses.
constexpr int kColourHighlight = 14;  // yellow: banner, log name, identity, prompts, detection
constexpr int kColourNormal = 7;      // grey: everything else

// Sets the text colour of standard output: the console attribute on Windows; on POSIX the nearest
// ANSI colour, and only when standard output is a terminal.
void SetConsoleColour(int attribute);

// The full cell of the progress bar: 0xDB of code page 437 on the Windows console, "█" elsewhere.
const char* ProgressFullBlock();

// Where the operator's answers come from. The platform's own reads the process's standard input;
// tests install a scripted one.
class ConsoleInput {
 public:
  virtual ~ConsoleInput() = default;
  // One key without echo and without Enter (_getch; termios raw mode on a POSIX terminal; the
  // next byte when standard input is not a terminal). -1 at end of input, which callers take as
  // a key that is not "r".
  virtual int GetKey() = 0;
  // Throws away what the operator has typed ahead.
  virtual void DiscardTypeAhead() = 0;
  // One character of line-buffered input (the rest of the line stays for later reads); -1 at end.
  virtual int GetChar() = 0;
  // One whitespace-delimited word of at most maxLength characters; false at end of input.
  virtual bool ReadWord(std::string* word, size_t maxLength) = 0;
  // Like ReadWord, without echo when standard input is a terminal (passwords).
  virtual bool ReadSecretWord(std::string* word, size_t maxLength) = 0;
  // One line of at most maxLength characters, its line end kept when it fits (like fgets); false
  // at end of input with nothing read.
  virtual bool ReadLine(std::string* line, size_t maxLength) = 0;
};

// The console input in force: the platform's unless a test installed another one.
ConsoleInput& HostConsoleInput();
void SetConsoleInput(ConsoleInput* input);
