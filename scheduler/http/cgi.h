// CGI programs: the built-in ones under ServerBin/cgi-bin and the scripts
// below DocumentRoot. A program runs as a child of the scheduler with the
// request file (or /dev/null) as standard input, a pipe to the scheduler as
// standard output and the shared CGI error pipe as standard error; its
// output reaches the client through WriteClient (cgi-output.cc), its error
// lines the error log (UpdateCGI).
//
// Files: cgi-args.cc (argument vector and environment, pure), cgi-run.cc
// (starting programs, their end, the error pipe), cgi-output.cc (relaying
// the output).
#pragma once

#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

struct client_t;

// Limits of the argument vector built from an options text.
constexpr size_t kMaxCGIOptions = 10239;  // characters of the options text looked at
constexpr size_t kMaxCGIArgs = 98;        // arguments, argv[0] included

// The arguments of a CGI program from its options text: only the first
// kMaxCGIOptions characters, up to a NUL, count; words are split at blanks
// (a run of blanks is one split) and at each "+", "%" and two hexadecimal
// digits stand for that byte ("%00" is kept as it is: an argument cannot
// hold a NUL), and splitting stops at "?" or once kMaxCGIArgs words are
// taken. An empty first word becomes the file name of `command` without its
// directory.
std::vector<std::string> CGIArguments(std::string_view command, std::string_view options);

// The environment of the CGI program serving `con`, in order (see the body).
std::vector<std::string> CGIEnvironment(const client_t* con);

// Starts `command` for `con` with `infd` as standard input; stores the read
// end of its output pipe (non-blocking, close-on-exec) in `*outfd`. A local
// certificate is made for the child's pid and the client's user before any
// SIGCHLD can be handled. The pid, or 0 when the program cannot be started
// (logged).
pid_t pipe_command(client_t* con, int infd, int* outfd, const std::string& command, const std::string& options);

// The reaper saw `pid` end: a client whose CGI program it was forgets the
// pid, so that no signal is ever sent to it afterwards (the number may
// already belong to another process).
void CGIExited(pid_t pid);

// Reads what the CGI error pipe has (call when it is readable) and logs each
// complete line as "[CGI] text" at the level its prefix names.
void UpdateCGI();

// The level and text of one error line of a CGI program: "EMERG:",
// "ALERT:", "CRIT:", "ERROR:", "WARNING:", "NOTICE:", "INFO:", "DEBUG:" and
// "DEBUG2:" give their level, the prefix and the white space after it
// removed; a line without a known prefix is debug and kept whole. False for
// "PAGE:" lines, which are not logged.
bool CGILogLine(std::string_view line, int* level, std::string_view* text);

// ---- The output relay (cgi-output.cc) ----

// Appends `data`, bytes of the program's output, to the client's output.
// The program's header lines, up to the first empty one, are held until
// that line: then the status line with the scheduler's own header lines
// (FormatHeader, and "Transfer-Encoding: chunked" when the connection uses
// chunked encoding) goes out, followed by the program's lines, each ended
// by "\r\n". A header line longer than kMaxCGIHeaderLine is cut; lines
// beyond kMaxCGIHeaderBlock bytes in all are dropped.
//
// The status is the one of the program's "Status: NNN reason" line (not
// relayed; 200 to 599, the reason text kept when plain), else 302 when
// it gave a "Location:" line, else 200. A malformed or out-of-range status
// keeps 200 and is logged at debug. After a 204 or 304 status the body is
// dropped and nothing is chunked. The body follows as chunks when the
// connection uses chunked encoding.
constexpr size_t kMaxCGIHeaderLine = 8192;
constexpr size_t kMaxCGIHeaderBlock = 65536;
void RelayCGIOutput(client_t* con, std::string_view data);

// The program's output has ended: a header it left unfinished is ended, so
// the client still gets a well-formed answer.
void EndCGIOutput(client_t* con);
