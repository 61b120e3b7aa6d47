// Starting and stopping everything that connects the scheduler to the
// outside once the configuration is known.
#pragma once

#include "vorn/fd.h"

// The pipe that collects the standard error of CGI programs; both ends
// closed while the server is stopped. The read end is in InputSet while the
// server runs.
extern vorn::unique_fd CGIPipeRead, CGIPipeWrite;

// Loads the TLS server context, opens the listeners (StartListening) and
// creates the CGI error pipe.
void StartServer();

// Closes every client, stops listening, frees the client table and the TLS
// context, closes the CGI pipe and the log files.
void StopServer();
