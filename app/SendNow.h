// `kadenza --send-now`: the send job once, from a terminal, without the tray or a window.
#pragma once

// SendNow sends the stored message with the send job. It prints the success notice and
// returns 0, or prints the error on standard error and returns 1 (also when there is no
// settings file, so that a script sees that nothing was sent).
int SendNow();
