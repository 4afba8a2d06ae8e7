// `kadenza --send-now`: the send job once, from a terminal, without the tray or a window.
#pragma once

// The exit statuses, in the spirit of sysexits.h: 0 sent; 1 a permanent failure (also no
// settings file, so that a script sees that nothing was sent); 75 (EX_TEMPFAIL) a temporary
// failure before any of the message's data went out, which a later try may get past.
inline constexpr int kSendNowSent = 0;
inline constexpr int kSendNowFailed = 1;
inline constexpr int kSendNowTryLater = 75;

// SendNow makes one attempt with the send job. It prints the success notice, or the error on
// standard error, and answers one of the statuses above.
int SendNow();
