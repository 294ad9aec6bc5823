#pragma once

// The server address as the operator types it (the window's address field,
// db_setup_cli --server), read strictly before anything is sent: a text that
// is none of the forms below would otherwise reach another server than the
// one meant (a mistyped port left in the host name sends the logon to the
// default port).
//
// Forms, optionally behind "tcp:" (any letter case); blanks and tabs around
// the whole text and around "," and "\" are ignored:
//   host   host\instance   host,port   host\instance,port
// and, for a server on this machine reached through shared memory,
// "lpc:(local)" or "lpc:(local)\instance" ("." and "localhost" for
// "(local)"), without a port.
//
// host: "." or "(local)" (this machine); an IPv6 address (hexadecimal digits,
//   ":" and "."; at least two ":", at most one "::"); or a name or IPv4
//   address of labels joined by single dots: each label 1 to 63 characters of
//   letters, digits, "-" and "_", not beginning or ending with "-"; at most
//   253 characters in all. Labels that all begin with a digit must make a
//   dotted IPv4 address: four numbers of 0 to 255 without leading zeros
//   (resolvers read "010" as octal and "127.1" as 127.0.0.1). A single label
//   may not be a number alone.
// instance: SQL Server's rules for instance names: 1 to 16 characters, a
//   letter first, then letters, digits, "$" and "_", not ending with "_".
// port: 1 to 65535 in the digits 0-9, without sign or leading zero.
//
// A letter is A-Z, a-z, or a character outside ASCII that is not among the
// blanks, punctuation, symbols, full-width forms, private-use characters and
// emoji of the Unicode blocks listed in server_address.cpp. A full test would
// need Unicode's character tables; this one catches the separators an input
// method types by mistake (a full-width comma or backslash, an ideographic
// space) and accepts the names of other scripts.

#include <optional>
#include <string>
#include <string_view>

namespace dbsetup {

struct ServerAddressParts {
  std::string host;
  std::string instance;        // empty: none
  std::string port;            // digits, or empty: none
  bool shared_memory = false;  // "lpc:"
};

// What is wrong with `address`, as a Chinese sentence that names it; empty
// when it is one of the forms.
std::string server_address_problem(std::string_view address);

// The parts of `address`, blanks removed; nullopt when it is none of the forms.
std::optional<ServerAddressParts> split_server_address(std::string_view address);

}  // namespace dbsetup
