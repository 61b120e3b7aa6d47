// printers.cgi: the printers, and one printer's page with its jobs.
#include "dest-pages.h"

int main(int argc, char** argv) { return vorn::cgi::DestMain(argc, argv, false); }
