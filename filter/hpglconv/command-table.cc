// The command table: two-letter mnemonics, any case, looked up by binary
// search. Commands that change nothing on a PostScript page are listed with
// no handler so that they are known, and skipped quietly.
#include <algorithm>
#include <cstring>

#include "filter/hpglconv/hpglconv.h"

namespace {

using handler_t = void (*)(hpgl_state_t&, hpgl_params&);

struct command_t {
  char name[3];
  handler_t handler;
};

// Sorted by name.
const command_t kCommands[] = {
    {"AA", cmd_AA}, {"AC", nullptr}, {"AD", cmd_AD}, {"AR", cmd_AR}, {"AT", cmd_AT}, {"BP", nullptr},
    {"CF", cmd_CF}, {"CI", cmd_CI},  {"CP", cmd_CP}, {"CR", cmd_CR}, {"DF", cmd_DF}, {"DI", cmd_DI},
    {"DR", nullptr}, {"DT", cmd_DT}, {"DV", nullptr}, {"EA", cmd_EA}, {"EP", cmd_EP}, {"ER", cmd_ER},
    {"ES", nullptr}, {"EW", cmd_EW}, {"FP", cmd_FP}, {"FT", nullptr}, {"IN", cmd_IN}, {"IP", cmd_IP},
    {"IR", cmd_IR}, {"IW", cmd_IW},  {"LA", cmd_LA}, {"LB", cmd_LB}, {"LO", nullptr}, {"LT", cmd_LT},
    {"NP", cmd_NP}, {"PA", cmd_PA},  {"PC", cmd_PC}, {"PD", cmd_PD}, {"PE", cmd_PE}, {"PG", cmd_PG},
    {"PM", cmd_PM}, {"PR", cmd_PR},  {"PS", cmd_PS}, {"PU", cmd_PU}, {"PW", cmd_PW}, {"RA", cmd_RA},
    {"RF", nullptr}, {"RO", cmd_RO}, {"RP", nullptr}, {"RR", cmd_RR}, {"RT", cmd_RT}, {"SA", cmd_SA},
    {"SC", cmd_SC}, {"SD", cmd_SD},  {"SI", nullptr}, {"SL", nullptr}, {"SM", nullptr}, {"SP", cmd_SP},
    {"SR", nullptr}, {"SS", cmd_SS}, {"TD", nullptr}, {"UL", nullptr}, {"WG", cmd_WG}, {"WU", cmd_WU},
};

const command_t* find(const char name[2]) {
  const char key[3] = {char(name[0] & ~0x20), char(name[1] & ~0x20), 0};
  auto it = std::lower_bound(std::begin(kCommands), std::end(kCommands), key,
                             [](const command_t& c, const char* k) { return std::strcmp(c.name, k) < 0; });
  if (it == std::end(kCommands) || std::strcmp(it->name, key) != 0) return nullptr;
  return it;
}

}  // namespace

bool hpgl_known_command(const char name[2]) { return find(name) != nullptr; }

void hpgl_dispatch(hpgl_state_t& st, const char name[2], std::vector<hpgl_param_t>& params) {
  const command_t* c = find(name);
  if (c && c->handler) c->handler(st, params);
}
