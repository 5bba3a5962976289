#include "search/shared_state.h"

int32_t moveDeadline = 0;
