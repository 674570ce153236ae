// The rules file on disk, and asking udev to apply it.
#pragma once

#include <string>

#include "tools/serial-discovery/disc_rules.h"

// $RAVELIN_COM_RULES when set, else /etc/udev/rules.d/61-ravelin-com.rules (after the system's
// serial rules, which give ID_PATH and the by-path links).
std::string disc_RulesPath();

// Reads the file; a missing file is an empty set of rules. False (with the reason) when it exists
// but cannot be read.
bool disc_ReadRules(const std::string &path, DiscRules *pRules, std::string *pError);
// Replaces the file at once: a new file beside it, flushed, renamed over the old one, so a reader
// (udev) never sees half a file. False with the reason; the old file is then as it was.
bool disc_WriteRules(const std::string &path, const DiscRules &rules, std::string *pError);

// Asks udev to read the rules again and to apply them to every tty device now:
// "udevadm control --reload", then "udevadm trigger --action=add --subsystem-match=tty" ($RAVELIN_UDEVADM
// names another program). False when that cannot be done (not root, no udevadm, udevadm failed), with
// the reason and what to run in *pHint.
bool disc_ApplyRules(std::string *pHint);
