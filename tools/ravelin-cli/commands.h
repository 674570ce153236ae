// Sub-commands of ravelin-cli. Each returns the process exit code.
#pragma once

int cli_Probe(int argc, char **argv);    // ravelin-cli probe [PORT ...] [--json] [--log]
int cli_SortHex(int argc, char **argv);  // ravelin-cli sort-hex [--strict] IN OUT
int cli_Flash(int argc, char **argv);    // ravelin-cli flash --port PORT --image FILE --model NAME ...
int cli_Ports(int argc, char **argv);    // ravelin-cli ports [PORT ...] [--json]
int cli_Run(int argc, char **argv);      // ravelin-cli run [SWITCHES] [--images DIR] [--ports LIST] ...
int cli_History(int argc, char **argv);  // ravelin-cli history [--port PORT] [--since DATE] [--failed] ...
int cli_Resume(int argc, char **argv);   // ravelin-cli resume [PORT ...] [--yes] [--dry-run] [--json]
