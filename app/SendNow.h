// `kadenza --send-now`: the send job once, from a terminal, without the tray or a window.
#pragma once

#include <string_view>

// The success notice of a send started by hand (CR is its line break).
inline constexpr std::string_view kSentNowText =
    "Úspěšné odeslání:\r"
    "Zpráva byla odeslána.";

// The usage text of `kadenza --help`.
inline constexpr std::string_view kUsageText =
    "Použití: kadenza [--send-now | --help]\n"
    "\n"
    "Bez voleb se Kadenza usadí v oznamovací oblasti a odesílá uloženou zprávu podle\n"
    "nastaveného rozvrhu; běží-li už, otevře okno nastavení běžící kopie.\n"
    "\n"
    "  --send-now  odešle uloženou zprávu jednou hned teď, bez okna, a skončí\n"
    "              (návratový kód 0 po odeslání, 75 při dočasné chybě, kterou\n"
    "              pozdější pokus může překonat, 1 při jiné chybě)\n"
    "  --help      vypíše tuto nápovědu\n";

// The exit statuses, in the spirit of sysexits.h: 0 sent; 1 a permanent failure (also no
// settings file, so that a script sees that nothing was sent); 75 (EX_TEMPFAIL) a temporary
// failure before any of the message's data went out, which a later try may get past.
inline constexpr int kSendNowSent = 0;
inline constexpr int kSendNowFailed = 1;
inline constexpr int kSendNowTryLater = 75;

// SendNow makes one attempt with the send job. It prints the success notice, or the error on
// standard error, and answers one of the statuses above.
int SendNow();
