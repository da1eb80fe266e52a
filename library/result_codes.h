#pragma once
// Moved to results/; kept only until the exports include it from there.
#include "results/result_codes.h"
