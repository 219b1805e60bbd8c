// Typing a command at U-Boot's prompt with its echo checked. U-Boot's line editor echoes each
// character as it takes it from a UART whose receive FIFO holds 16 characters, and it reads that
// UART only while it waits for a line. So no more than 16 typed characters are ever let be on their
// way unechoed, and each one is compared with what comes back: a character lost, doubled or changed
// on the line shows at once.
//
// The Enter runs the line as U-Boot holds it, so it goes only once the command came back whole and
// the line then stayed quiet for the time of two characters plus the echo's jitter measured on this
// port (at least 5 ms, at most 50 ms): a character doubled at the end of the command echoes right
// behind the last one, and a line run with it would do harm (an erase twenty times as long). U-Boot
// echoes the Enter as CR LF (a serial driver that puts a CR before every LF makes that CR CR LF).
// An echo that differs, has more or does not come clears the line with Ctrl-C (the command never
// ran); once the prompt is back the command is typed again, up to three times.
//
// The first command typed on a port opened just now begins with Ctrl-C and a fresh prompt: what a
// board left in its line buffer (a Ctrl-C lost on the line) would otherwise run in front of it.
#pragma once

#include <string>

class RS232;

// How commands go out. Paced: as the port is set (pacedWrite: one character every 10 ms, the echo
// read in the pauses), for consoles that need a pause after each character and servers that hold
// the echo back. Echo: at the pace of the echo, up to the FIFO's 16 characters ahead of it.
enum class UBootTyping { kPaced, kEcho };

// Types command (which never begins with a blank) and its Enter at U-Boot's prompt as above. First
// reads what the board still prints up to its prompt, unless the prompt is what it printed last,
// or the port was opened just now and nothing is waiting on it. The board's text is shown and
// logged line by line as the waits show it. True once U-Boot echoed the line and its Enter as
// typed; false when it did not in four tries or its prompt did not come (the reason printed and
// logged), or when the line failed.
bool TypeCheckedCommand(RS232* port, const std::string& command, UBootTyping typing);
