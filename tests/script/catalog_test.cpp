#include "script_harness.h"
