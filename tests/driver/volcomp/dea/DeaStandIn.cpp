// Stand-in DEA correction library (tests only). DEA_STANDIN_OLD_FORM builds the older
// two-argument InitCompens; DEA_STANDIN_INIT_ONLY leaves out SetCompensMode and COMPENSA.

#include <cstdarg>
#include <cstdio>
#include <string>
#include <type_traits>

#include "driver/volcomp/dea/DeaLibraryApi.h"
#include "tests/driver/volcomp/dea/DeaStandIn.h"

namespace {

std::string journal;
int initResult = 0;
int modeResult = 0;

void Record(const char* format, ...) __attribute__((format(printf, 1, 2)));

void Record(const char* format, ...) {
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    journal += line;
    journal += '\n';
}

std::string Quoted(const char* text) {
    return text ? "\"" + std::string(text) + "\"" : std::string("null");
}

}  // namespace

extern "C" {

#ifdef DEA_STANDIN_OLD_FORM
int InitCompens(const char* fileName, int arm) {
    Record("InitCompens(%s, %d)", Quoted(fileName).c_str(), arm);
    return initResult;
}
static_assert(std::is_same_v<decltype(&InitCompens), DeaInitCompensOldFn>);
#else
int InitCompens(int reserved, const char* fileName, int arm) {
    Record("InitCompens(%d, %s, %d)", reserved, Quoted(fileName).c_str(), arm);
    return initResult;
}
static_assert(std::is_same_v<decltype(&InitCompens), DeaInitCompensNewFn>);
#endif

#ifndef DEA_STANDIN_INIT_ONLY
int SetCompensMode(int mode, double* values) {
    Record("SetCompensMode(%d, %g %g %g)", mode, values[0], values[1], values[2]);
    return modeResult;
}
static_assert(std::is_same_v<decltype(&SetCompensMode), DeaSetCompensModeFn>);

int COMPENSA(int direction, double* tip, double* point) {
    Record("COMPENSA(%d, tip %g %g %g, point %g %g %g)", direction, tip[0], tip[1], tip[2],
           point[0], point[1], point[2]);
    const double sign = direction == dealib::kFromMachine ? 1.0 : -1.0;
    for (int i = 0; i < 3; ++i)
        point[i] += sign * (deastandin::kShift[i] + deastandin::kTipFactor * tip[i]);
    return 0;
}
static_assert(std::is_same_v<decltype(&COMPENSA), DeaCompensaFn>);
#endif

const char* DeaStandInJournal() {
    return journal.c_str();
}

void DeaStandInReset(int init, int mode) {
    journal.clear();
    initResult = init;
    modeResult = mode;
}
}
