// System.h is header-only; this unit keeps the library non-empty.
#include "rtl/System.h"
