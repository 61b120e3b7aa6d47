// The keywords pretty-printing shows in bold, one sorted list per language.
#include <algorithm>
#include <cstring>

#include "filter/textconv/textconv.h"

namespace {

const char* const kC[] = {
    "and", "and_eq", "asm", "auto", "bitand", "bitor", "bool", "break", "case", "catch", "char", "class",
    "compl", "const", "const_cast", "continue", "default", "delete", "do", "double", "dynamic_cast", "else",
    "enum", "explicit", "extern", "false", "float", "for", "friend", "goto", "if", "inline", "int", "long",
    "mutable", "namespace", "new", "not", "not_eq", "operator", "or", "or_eq", "private", "protected",
    "public", "register", "return", "short", "signed", "sizeof", "static", "static_cast", "struct", "switch",
    "template", "this", "throw", "true", "try", "typedef", "typename", "union", "unsigned", "virtual", "void",
    "volatile", "while", "xor", "xor_eq",
};

const char* const kSh[] = {
    "alias", "bg", "break", "case", "cd", "command", "continue", "do", "done", "echo", "elif", "else", "esac",
    "eval", "exec", "exit", "export", "fc", "fg", "fi", "for", "function", "getopts", "if", "in", "jobs",
    "kill", "let", "limit", "newgrp", "print", "pwd", "read", "readonly", "return", "select", "set", "shift",
    "test", "then", "time", "times", "trap", "typeset", "ulimit", "umask", "unalias", "unlimit", "unset",
    "until", "wait", "whencewhile",
};

const char* const kCsh[] = {
    "alias", "aliases", "bg", "bindkey", "break", "breaksw", "builtins", "case", "cd", "chdir", "complete",
    "continue", "default", "dirs", "echo", "echotc", "else", "end", "endif", "eval", "exec", "exit", "fg",
    "foreach", "glob", "goto", "history", "if", "jobs", "kill", "limit", "login", "logout", "ls", "nice",
    "nohup", "notify", "onintr", "popd", "pushd", "pwd", "rehash", "repeat", "set", "setenv", "settc",
    "shift", "source", "stop", "suspend", "switch", "telltc", "then", "time", "umask", "unalias", "unbindkey",
    "unhash", "unlimit", "unset", "unsetenv", "wait", "where", "which", "while",
};

const char* const kPerl[] = {
    "abs", "accept", "alarm", "and", "atan2", "bind", "binmode", "bless", "caller", "chdir", "chmod", "chomp",
    "chop", "chown", "chr", "chroot", "closdir", "close", "connect", "continue", "cos", "crypt", "dbmclose",
    "dbmopen", "defined", "delete", "die", "do", "dump", "each", "else", "elsif", "endgrent", "endhostent",
    "endnetent", "endprotoent", "endpwent", "endservent", "eof", "eval", "exec", "exists", "exit", "exp",
    "fcntl", "fileno", "flock", "for", "foreach", "fork", "format", "formline", "getc", "getgrent",
    "getgrgid", "getgrnam", "gethostbyaddr", "gethostbyname", "gethostent", "getlogin", "getnetbyaddr",
    "getnetbyname", "getnetent", "getpeername", "getpgrp", "getppid", "getpriority", "getprotobyname",
    "getprotobynumber", "getprotoent", "getpwent", "getpwnam", "getpwuid", "getservbyname", "getservbyport",
    "getservent", "getsockname", "getsockopt", "glob", "gmtime", "goto", "grep", "hex", "if", "import",
    "index", "int", "ioctl", "join", "keys", "kill", "last", "lc", "lcfirst", "length", "link", "listen",
    "local", "localtime", "log", "lstat", "map", "mkdir", "msgctl", "msgget", "msgrcv", "msgsend", "my",
    "next", "no", "not", "oct", "open", "opendir", "or", "ord", "pack", "package", "pipe", "pop", "pos",
    "print", "printf", "push", "quotemeta", "rand", "read", "readdir", "readlink", "recv", "redo", "ref",
    "rename", "require", "reset", "return", "reverse", "rewinddir", "rindex", "rmdir", "scalar", "seek",
    "seekdir", "select", "semctl", "semget", "semop", "send", "setgrent", "sethostent", "setnetent",
    "setpgrp", "setpriority", "setprotoent", "setpwent", "setservent", "setsockopt", "shift", "shmctl",
    "shmget", "shmread", "shmwrite", "shutdown", "sin", "sleep", "socket", "socketpair", "sort", "splice",
    "split", "sprintf", "sqrt", "srand", "stat", "study", "sub", "substr", "symlink", "syscall", "sysread",
    "sysseek", "system", "syswrite", "tell", "telldir", "tie", "tied", "time", "timestimes", "truncate", "uc",
    "ucfirst", "umask", "undef", "unless", "unlink", "unpack", "unshift", "untie", "until", "use", "utime",
    "values", "vec", "wait", "waitpid", "wantarray", "warn", "while", "write",
};

}  // namespace

keyword_list_t keywords_for(int pretty_mode, bool csh) {
  switch (pretty_mode) {
    case 1: return {kC, std::size(kC)};
    case 2: return csh ? keyword_list_t{kCsh, std::size(kCsh)} : keyword_list_t{kSh, std::size(kSh)};
    case 3: return {kPerl, std::size(kPerl)};
    default: return {nullptr, 0};
  }
}

bool is_keyword(const keyword_list_t& list, std::string_view word) {
  if (!list.count) return false;
  return std::binary_search(list.words, list.words + list.count, word,
                            [](std::string_view a, std::string_view b) { return a < b; });
}
