#pragma once

#include <QList>

// Descriptors a child process must not inherit. The program's own files and Qt's sockets are
// opened close-on-exec; a library that opens a socket itself (the MariaDB client's connection
// to the server) leaves it open across exec, so a child started later (the picture decoder, a
// browser) would hold the server's session: a connection the program closes would stay open
// on the server, with its transaction's locks, as long as the child runs.
namespace CloseOnExec {

// Marks every socket of the process that is not close-on-exec yet as such. Called right
// after each connect of such a library. The number of sockets marked; -1 when the process's
// descriptors could not be read.
int markSockets();

// The sockets of the process that a child would inherit now.
QList<int> inheritableSockets();

} // namespace CloseOnExec
