// Typing at U-Boot's prompt at the pace of its echo. U-Boot's line editor echoes each character as
// it takes it from a UART whose receive FIFO holds 16 characters, and it reads that UART only while
// it waits for a line. So no more than 16 typed characters are ever on their way unechoed, and each
// one is compared with what comes back: the line can never overrun the FIFO, and a character lost,
// doubled or changed on the line shows at once. The Enter goes once its line came back whole;
// U-Boot echoes it as CR LF (a serial driver that puts a CR before every LF makes that CR CR LF).
// An echo that differs or does not come clears the line with Ctrl-C; once the prompt is back the
// command is typed again, up to three times.
#pragma once

#include <string>

class RS232;

// Types command (which never begins with a blank) and its Enter at U-Boot's prompt as above. First
// reads what the board still prints up to its prompt, unless the prompt is what it printed last,
// or the port was opened just now and nothing is waiting on it. The board's text is shown and
// logged line by line as the waits show it. True once U-Boot echoed the line and its Enter as
// typed; false when it did not in four tries or its prompt did not come (the reason printed and
// logged), or when the line failed.
bool TypeCommandAtEcho(RS232* port, const std::string& command);
