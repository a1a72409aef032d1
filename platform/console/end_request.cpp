// The end request's flag.
#include "platform/console/end_request.h"

std::atomic<bool> g_end_request{false};
